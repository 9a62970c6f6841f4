#include "update/update_signature.h"

#include <bcrypt.h>
#include <stdlib.h>
#include <string.h>

#ifndef BCRYPT_ECDSA_PUBLIC_P256_MAGIC
#define BCRYPT_ECDSA_PUBLIC_P256_MAGIC 0x31534345
#endif

//~ Decisions

// Everything of a P-256 SubjectPublicKeyInfo before the point: SEQUENCE { SEQUENCE { OID
// ecPublicKey, OID prime256v1 }, BIT STRING (no unused bits) }, then 0x04 for uncompressed.
static const unsigned char SPKI_P256_PREFIX[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE,
                                                 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D,
                                                 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

int update_key_from_spki(const unsigned char* der, int length, unsigned char key[UPDATE_KEY_BYTES]) {
    if (!der || length != (int)sizeof SPKI_P256_PREFIX + UPDATE_KEY_BYTES) return 0;
    if (memcmp(der, SPKI_P256_PREFIX, sizeof SPKI_P256_PREFIX) != 0) return 0;
    memcpy(key, der + sizeof SPKI_P256_PREFIX, UPDATE_KEY_BYTES);
    return 1;
}

static int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int update_key_from_pem(const char* text, unsigned char key[UPDATE_KEY_BYTES]) {
    static const char BEGIN[] = "-----BEGIN PUBLIC KEY-----", END[] = "-----END PUBLIC KEY-----";
    if (!text) return 0;
    const char* start = strstr(text, BEGIN);
    if (!start) return 0;
    start += sizeof BEGIN - 1;
    const char* end = strstr(start, END);
    if (!end) return 0;
    // A P-256 key is 91 bytes; room for a few more so that a longer key is refused by its
    // structure rather than cut to fit.
    unsigned char der[128];
    int length = 0, bits = 0, padding = 0;
    unsigned acc = 0;
    for (const char* p = start; p < end; p++) {
        if (*p == '\r' || *p == '\n' || *p == ' ' || *p == '\t') continue;
        if (*p == '=') {
            padding++;
            continue;
        }
        int v = base64_value(*p);
        if (v < 0 || padding) return 0;  // nothing but padding after padding
        acc = (acc << 6) | (unsigned)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (length == (int)sizeof der) return 0;
            der[length++] = (unsigned char)(acc >> bits);
        }
    }
    return padding <= 2 && update_key_from_spki(der, length, key);
}

// One DER INTEGER at *p (within end) into a 32-byte big-endian field; positive and minimally
// encoded, as a signature's r and s are.
static int read_integer(const unsigned char** p, const unsigned char* end, unsigned char out[32]) {
    if (end - *p < 2 || (*p)[0] != 0x02) return 0;
    int n = (*p)[1];
    const unsigned char* v = *p + 2;
    if (n < 1 || n > 33 || end - v < n) return 0;
    if (v[0] & 0x80) return 0;                        // negative
    if (n > 1 && v[0] == 0 && !(v[1] & 0x80)) return 0;  // a zero byte it did not need
    if (v[0] == 0 && n > 1) {
        v++;
        n--;
    }
    if (n > 32) return 0;
    memset(out, 0, 32);
    memcpy(out + 32 - n, v, n);
    *p = v + n;
    return 1;
}

int update_signature_decode(const unsigned char* bytes, int length, unsigned char rs[UPDATE_SIGNATURE_BYTES]) {
    if (!bytes || length <= 0) return 0;
    if (length >= 8 && bytes[0] == 0x30 && bytes[1] < 0x80 && bytes[1] == length - 2) {
        const unsigned char* p = bytes + 2;
        const unsigned char* end = bytes + length;
        if (read_integer(&p, end, rs) && read_integer(&p, end, rs + 32) && p == end) return 1;
    }
    if (length != UPDATE_SIGNATURE_BYTES) return 0;
    memcpy(rs, bytes, UPDATE_SIGNATURE_BYTES);
    return 1;
}

//~ The system's side

int update_file_sha256(const wchar_t* path, unsigned char digest[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    enum { BLOCK = 64 * 1024 };
    unsigned char* block = (unsigned char*)malloc(BLOCK);  // not on a worker's small stack
    int ok = 0;
    DWORD got = 0;
    if (!block) goto done;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) goto done;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) goto done;
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) goto done;
    for (;;) {
        if (!ReadFile(file, block, BLOCK, &got, nullptr)) goto done;
        if (got == 0) break;
        if (BCryptHashData(hash, block, got, 0) != 0) goto done;
    }
    ok = BCryptFinishHash(hash, digest, 32, 0) == 0;
done:
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    free(block);
    return ok;
}

int update_bytes_sha256(const void* bytes, int length, unsigned char digest[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    int ok = 0;
    if (length < 0 || BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) goto done;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) goto done;
    if (length > 0 && BCryptHashData(hash, (PUCHAR)bytes, (ULONG)length, 0) != 0) goto done;
    ok = BCryptFinishHash(hash, digest, 32, 0) == 0;
done:
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

// Whether rs is key's signature of a SHA-256 digest.
static int verify_digest(const unsigned char key[UPDATE_KEY_BYTES], const unsigned char digest[32],
                         const unsigned char rs[UPDATE_SIGNATURE_BYTES]) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char xy[UPDATE_KEY_BYTES];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    memcpy(blob.xy, key, UPDATE_KEY_BYTES);
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE handle = nullptr;
    int ok = 0;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) goto done;
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, (PUCHAR)&blob, sizeof blob, 0) != 0)
        goto done;
    ok = BCryptVerifySignature(handle, nullptr, (PUCHAR)digest, 32, (PUCHAR)rs, UPDATE_SIGNATURE_BYTES, 0) == 0;
done:
    if (handle) BCryptDestroyKey(handle);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

int update_signature_verify_file(const unsigned char key[UPDATE_KEY_BYTES], const wchar_t* path,
                                 const unsigned char rs[UPDATE_SIGNATURE_BYTES]) {
    unsigned char digest[32];
    return update_file_sha256(path, digest) && verify_digest(key, digest, rs);
}

int update_signature_verify_bytes(const unsigned char key[UPDATE_KEY_BYTES], const void* bytes, int length,
                                  const unsigned char rs[UPDATE_SIGNATURE_BYTES]) {
    unsigned char digest[32];
    return update_bytes_sha256(bytes, length, digest) && verify_digest(key, digest, rs);
}
