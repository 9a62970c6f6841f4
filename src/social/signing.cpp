#include "social/signing.h"

#include <windows.h>
#include <bcrypt.h>
#include <dpapi.h>
#include <stdlib.h>
#include <string.h>

#include "base/file_replace.h"

#ifndef BCRYPT_ECDSA_PUBLIC_P256_MAGIC
#define BCRYPT_ECDSA_PUBLIC_P256_MAGIC 0x31534345
#endif
#ifndef BCRYPT_ECDSA_PRIVATE_P256_MAGIC
#define BCRYPT_ECDSA_PRIVATE_P256_MAGIC 0x32534345
#endif

//~ Base64url

static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int base64url_encode(const unsigned char* bytes, int length, char* out, int capacity) {
    int needed = (length * 4 + 2) / 3;
    if (!out || length < 0 || capacity < needed + 1) return -1;
    int n = 0;
    unsigned acc = 0;
    int bits = 0;
    for (int i = 0; i < length; i++) {
        acc = (acc << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out[n++] = ALPHABET[(acc >> bits) & 63];
        }
    }
    if (bits > 0) out[n++] = ALPHABET[(acc << (6 - bits)) & 63];
    out[n] = 0;
    return n;
}

static int alphabet_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '-') return 62;
    if (c == '_') return 63;
    return -1;
}

int base64url_decode(const char* text, int length, unsigned char* out, int capacity) {
    if (!text || length < 0 || length % 4 == 1) return -1;
    int bytes = length * 3 / 4;
    if (bytes > capacity) return -1;
    unsigned acc = 0;
    int bits = 0, n = 0;
    for (int i = 0; i < length; i++) {
        int v = alphabet_value(text[i]);
        if (v < 0) return -1;
        acc = (acc << 6) | (unsigned)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = (unsigned char)(acc >> bits);
        }
    }
    // The bits left over are padding and must be zero, so that one key has one spelling.
    if (bits > 0 && (acc & ((1u << bits) - 1))) return -1;
    return n;
}

//~ The own key

struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    unsigned char xyd[96];  // X, Y and the private scalar
};

static struct {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_ALG_HANDLE sha256;
    BCRYPT_KEY_HANDLE key;
    char public_text[SIGNING_TEXT_CAPACITY];
} g_own;

static int providers_ready(void) {
    if (!g_own.algorithm && BCryptOpenAlgorithmProvider(&g_own.algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0)
        g_own.algorithm = nullptr;
    if (!g_own.sha256 && BCryptOpenAlgorithmProvider(&g_own.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        g_own.sha256 = nullptr;
    return g_own.algorithm && g_own.sha256;
}

static int sha256(const char* data, int length, unsigned char digest[32]) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(g_own.sha256, &hash, nullptr, 0, nullptr, 0, 0) != 0) return 0;
    int ok = BCryptHashData(hash, (PUCHAR)data, (ULONG)length, 0) == 0 && BCryptFinishHash(hash, digest, 32, 0) == 0;
    BCryptDestroyHash(hash);
    return ok;
}

int signing_digest(const char* data, int length, unsigned char digest[32]) {
    return providers_ready() && sha256(data, length, digest);
}

static int read_whole(const wchar_t* path, unsigned char* buffer, int capacity) {
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -1;
    DWORD got = 0;
    BOOL ok = ReadFile(f, buffer, (DWORD)capacity, &got, nullptr);
    CloseHandle(f);
    return ok ? (int)got : -1;
}

static int import_private(const PrivateBlob* blob) {
    if (blob->header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || blob->header.cbKey != 32) return 0;
    return BCryptImportKeyPair(g_own.algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &g_own.key, (PUCHAR)blob,
                               sizeof *blob, 0) == 0;
}

// The kept key: the private blob, unprotected for this user.
static int load_key(const wchar_t* path, int* absent) {
    unsigned char stored[1024];
    int length = read_whole(path, stored, sizeof stored);
    *absent = length < 0 && GetLastError() == ERROR_FILE_NOT_FOUND;
    if (length <= 0) return 0;
    DATA_BLOB in = {(DWORD)length, stored}, out = {0, nullptr};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return 0;
    int ok = out.cbData == sizeof(PrivateBlob) && import_private((const PrivateBlob*)out.pbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return ok;
}

static int make_key(const wchar_t* path) {
    BCRYPT_KEY_HANDLE key = nullptr;
    if (BCryptGenerateKeyPair(g_own.algorithm, &key, 256, 0) != 0) return 0;
    if (BCryptFinalizeKeyPair(key, 0) != 0) {
        BCryptDestroyKey(key);
        return 0;
    }
    PrivateBlob blob;
    ULONG got = 0;
    int ok = BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, (PUCHAR)&blob, sizeof blob, &got, 0) == 0 &&
             got == sizeof blob;
    DATA_BLOB in = {sizeof blob, (BYTE*)&blob}, out = {0, nullptr};
    // Protected for this user on this machine: a copied folder gives another user nothing.
    if (ok) ok = CryptProtectData(&in, L"Nelvo", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out);
    SecureZeroMemory(&blob, sizeof blob);
    if (ok) {
        ok = file_replace_contents(path, (const char*)out.pbData, (int)out.cbData);
        LocalFree(out.pbData);
    }
    if (!ok) {
        BCryptDestroyKey(key);
        return 0;
    }
    g_own.key = key;
    return 1;
}

int signing_key_open(const wchar_t* path) {
    signing_key_close();
    if (!path || !path[0] || !providers_ready()) return 0;
    int absent = 0;
    if (!load_key(path, &absent)) {
        // A kept key that cannot be read (another user's, a damaged file) is not replaced:
        // friends pinned it, and a new one would show them a changed key.
        if (!absent || !make_key(path)) return 0;
    }
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char xy[SIGNING_KEY_BYTES];
    } pub;
    ULONG got = 0;
    if (BCryptExportKey(g_own.key, nullptr, BCRYPT_ECCPUBLIC_BLOB, (PUCHAR)&pub, sizeof pub, &got, 0) != 0 ||
        got != sizeof pub || base64url_encode(pub.xy, SIGNING_KEY_BYTES, g_own.public_text, SIGNING_TEXT_CAPACITY) < 0) {
        signing_key_close();
        return 0;
    }
    return 1;
}

void signing_key_close(void) {
    if (g_own.key) BCryptDestroyKey(g_own.key);
    g_own.key = nullptr;
    g_own.public_text[0] = 0;
}

const char* signing_public_key_text(void) {
    return g_own.public_text;
}

int signing_sign(const char* data, int length, unsigned char signature[SIGNATURE_BYTES]) {
    unsigned char digest[32];
    if (!g_own.key || !sha256(data, length, digest)) return 0;
    ULONG got = 0;
    return BCryptSignHash(g_own.key, nullptr, digest, 32, signature, SIGNATURE_BYTES, &got, 0) == 0 &&
           got == SIGNATURE_BYTES;
}

//~ Friends' keys

// Imported keys by their text: a friend's every message is checked with the same key, and
// importing costs more than verifying.
enum { KEY_CACHE_SIZE = 40 };
static struct {
    char text[SIGNING_TEXT_CAPACITY];
    BCRYPT_KEY_HANDLE key;
    unsigned used;
} g_keys[KEY_CACHE_SIZE];
static unsigned g_key_uses;

static BCRYPT_KEY_HANDLE friend_key(const char* key_text) {
    int oldest = 0;
    for (int i = 0; i < KEY_CACHE_SIZE; i++) {
        if (g_keys[i].key && !strcmp(g_keys[i].text, key_text)) {
            g_keys[i].used = ++g_key_uses;
            return g_keys[i].key;
        }
        if (g_keys[i].used < g_keys[oldest].used) oldest = i;
    }
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char xy[SIGNING_KEY_BYTES];
    } pub;
    if (strlen(key_text) >= SIGNING_TEXT_CAPACITY ||
        base64url_decode(key_text, (int)strlen(key_text), pub.xy, SIGNING_KEY_BYTES) != SIGNING_KEY_BYTES)
        return nullptr;
    pub.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    pub.header.cbKey = 32;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (BCryptImportKeyPair(g_own.algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, (PUCHAR)&pub, sizeof pub, 0) != 0)
        return nullptr;  // not a point of the curve
    if (g_keys[oldest].key) BCryptDestroyKey(g_keys[oldest].key);
    memcpy(g_keys[oldest].text, key_text, strlen(key_text) + 1);  // its length was checked above
    g_keys[oldest].key = key;
    g_keys[oldest].used = ++g_key_uses;
    return key;
}

int signing_verify(const char* key_text, const char* data, int length, const unsigned char signature[SIGNATURE_BYTES]) {
    if (!key_text || !key_text[0] || !providers_ready()) return 0;
    BCRYPT_KEY_HANDLE key = friend_key(key_text);
    unsigned char digest[32];
    if (!key || !sha256(data, length, digest)) return 0;
    return BCryptVerifySignature(key, nullptr, digest, 32, (PUCHAR)signature, SIGNATURE_BYTES, 0) == 0;
}
