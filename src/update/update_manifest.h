#pragma once
// The signed statement of a release: which version it is, the SHA-256 of its program and,
// when the publisher sets one, the moment after which the statement is stale. A signed
// build installs a download only when this statement, signed with the update key, names a
// version newer than its own and exactly the bytes downloaded; a replayed statement of an
// older release is thus refused, and one kept past its expiry is reported as stale.
//
// The server serves it as "version.txt.sig" beside the version file (a file that version
// readers of old never ask for): ASCII lines, each ending in LF,
//
//     nelvo-update-manifest 1
//     version 1.5.0
//     sha256 <64 hex digits of the program's SHA-256>
//     expires 2025-09-01T12:00:00Z          (optional, UTC)
//     signature <base64 of the ECDSA P-256 signature, DER as openssl writes it>
//
// The signature covers every byte before the "signature" line, and is the last line.
#include <windows.h>

#include "update/update_info.h"
#include "update/update_signature.h"

enum {
    UPDATE_MANIFEST_MAX = 4095,  // bytes; a longer file is no manifest of ours
    UPDATE_DIGEST_BYTES = 32,
};

// One manifest, read once from the bytes served: the fields and what the signature covers.
struct UpdateManifest {
    wchar_t version[UPDATE_VERSION_CAPACITY];  // major.minor.patch, digits only
    unsigned char sha256[UPDATE_DIGEST_BYTES];
    long long expires;  // seconds since 1970-01-01 UTC; 0: never
    int signed_length;  // the first bytes of the file that the signature covers
    unsigned char rs[UPDATE_SIGNATURE_BYTES];
};

// 1 when bytes (length of them, nothing read beyond) are exactly a manifest as above; out
// is then filled. Any line out of form, a known field twice or missing, a field longer than
// a publisher writes, or anything after the signature line makes it malformed (0). Unknown
// "name value" lines before the signature are signed and skipped, for later fields.
int update_manifest_parse(const char* bytes, int length, UpdateManifest* out);

// Seconds since 1970-01-01 UTC of "YYYY-MM-DDTHH:MM:SSZ" (length characters, a real date),
// or -1.
long long update_utc_seconds(const char* text, int length);

// What a verified manifest allows for a download whose SHA-256 is digest (nullptr: not
// downloaded yet, only the offer is judged), at now (seconds since 1970, UTC): 0 to go on,
// UPDATE_STALE when its expiry has passed, UPDATE_NOT_NEWER when its version is not newer
// than this program's, UPDATE_UNVERIFIED when digest is not the one it names.
int update_manifest_verdict(const UpdateManifest* manifest, const unsigned char* digest, long long now);

// The check's decision, once the version file has been read into info: with signed 0 the
// version file alone decides (available when its version is newer). In a signed build the
// signed manifest decides (manifest: the verified one, nullptr when none could be fetched
// or verified): available only when it allows the offer, version then the signed one;
// otherwise refused says why, when the version file announced something or the check was
// manual, and always when the manifest is stale (a server that keeps answering "current"
// must not go unnoticed).
void update_check_decide(UpdateInfo* info, int signed_build, const UpdateManifest* manifest, long long now);
