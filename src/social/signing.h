#pragma once
// The installation's signing key: an ECDSA P-256 pair made once, its private half kept in
// the per-user folder protected for the user, its public half published for friends to
// pin. Friends' messages are verified against the keys they pinned. Main thread.

enum {
    SIGNING_KEY_BYTES = 64,       // the public point, X then Y
    SIGNATURE_BYTES = 64,         // r then s
    SIGNING_TEXT_CAPACITY = 88,   // either of them in base64url: 86 characters and a terminator
};

// Base64url without padding. encode returns the length written (terminated), or -1 when
// capacity is too small; decode returns the byte count, or -1 for a character outside the
// alphabet, a length no encoding has, or too little room.
int base64url_encode(const unsigned char* bytes, int length, char* out, int capacity);
int base64url_decode(const char* text, int length, unsigned char* out, int capacity);

// Opens the key kept at path, or makes one and keeps it there. 1 when a key is ready; 0 when
// none could be made or a kept one could not be read (it is then left as it is and the
// installation signs nothing this run).
int signing_key_open(const wchar_t* path);
void signing_key_close(void);
// The own public key in base64url; "" while none is open.
const char* signing_public_key_text(void);
// The SHA-256 of data.
int signing_digest(const char* data, int length, unsigned char digest[32]);
// Signs data (its SHA-256) with the own key.
int signing_sign(const char* data, int length, unsigned char signature[SIGNATURE_BYTES]);
// Whether signature is the key's (base64url) signature of data.
int signing_verify(const char* key_text, const char* data, int length, const unsigned char signature[SIGNATURE_BYTES]);
