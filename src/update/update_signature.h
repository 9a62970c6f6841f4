#pragma once
// Whether a downloaded program comes from whoever holds the private half of the update key:
// an ECDSA P-256 signature over the SHA-256 of the whole file. The key and the signature
// come as the publisher's tools (openssl) write them, and are turned here into the forms the
// system's cryptography (CNG) takes; the check itself is CNG's.
#include <windows.h>

enum {
    UPDATE_KEY_BYTES = 64,        // X then Y, 32 bytes each
    UPDATE_SIGNATURE_BYTES = 64,  // r then s, 32 bytes each
    UPDATE_SIGNATURE_MAX = 256,   // more than any signature file of ours can hold
};

//~ Decisions

// The point of a PEM "PUBLIC KEY" (a SubjectPublicKeyInfo of an ecPublicKey on prime256v1,
// uncompressed) as X‖Y. 1 when text is exactly such a key.
int update_key_from_pem(const char* text, unsigned char key[UPDATE_KEY_BYTES]);
// The same from the SubjectPublicKeyInfo's DER bytes.
int update_key_from_spki(const unsigned char* der, int length, unsigned char key[UPDATE_KEY_BYTES]);

// A signature as r‖s: from DER (SEQUENCE of two positive INTEGERs, as openssl writes it)
// or already 64 bytes of r‖s. 1 when bytes are exactly one of the two.
int update_signature_decode(const unsigned char* bytes, int length, unsigned char rs[UPDATE_SIGNATURE_BYTES]);

//~ The system's side

// The SHA-256 of the file at path (read in blocks), or of length bytes. 1 when made.
int update_file_sha256(const wchar_t* path, unsigned char digest[32]);
int update_bytes_sha256(const void* bytes, int length, unsigned char digest[32]);

// 1 when rs is key's signature of the SHA-256 of the file at path, or of length bytes.
int update_signature_verify_file(const unsigned char key[UPDATE_KEY_BYTES], const wchar_t* path,
                                 const unsigned char rs[UPDATE_SIGNATURE_BYTES]);
int update_signature_verify_bytes(const unsigned char key[UPDATE_KEY_BYTES], const void* bytes, int length,
                                  const unsigned char rs[UPDATE_SIGNATURE_BYTES]);
