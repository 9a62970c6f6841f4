#include "update/update_manifest.h"

#include <string.h>

#include "base/wstr.h"

// The longest line a publisher's tools write is the signature's (a DER signature of at most
// 72 bytes is 96 base64 characters); anything much longer is not ours.
enum { LINE_MAX_BYTES = 200, VERSION_PART_DIGITS = 9 };

static const char FORMAT_LINE[] = "nelvo-update-manifest 1";

static int is_digit(char c) { return c >= '0' && c <= '9'; }

static int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (is_digit(c)) return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64 (groups of four, "=" only at the end): the byte count, or -1.
static int base64_decode(const char* text, int length, unsigned char* out, int capacity) {
    if (length == 0 || length % 4 != 0) return -1;
    int n = 0;
    for (int i = 0; i < length; i += 4) {
        int pad = 0, v[4];
        for (int j = 0; j < 4; j++) {
            char c = text[i + j];
            if (c == '=' && i + 4 == length && j >= 2) {
                pad++;
                v[j] = 0;
                continue;
            }
            if (pad) return -1;  // a character after padding
            v[j] = base64_value(c);
            if (v[j] < 0) return -1;
        }
        unsigned group = ((unsigned)v[0] << 18) | ((unsigned)v[1] << 12) | ((unsigned)v[2] << 6) | (unsigned)v[3];
        unsigned char bytes[3] = {(unsigned char)(group >> 16), (unsigned char)(group >> 8), (unsigned char)group};
        for (int j = 0; j < 3 - pad; j++) {
            if (n == capacity) return -1;
            out[n++] = bytes[j];
        }
    }
    return n;
}

// "major.minor.patch", each part 1 to 9 digits, into out.
static int read_version(const char* text, int length, wchar_t* out) {
    int parts = 1, digits = 0;
    for (int i = 0; i < length; i++) {
        if (is_digit(text[i])) {
            if (++digits > VERSION_PART_DIGITS) return 0;
        } else if (text[i] == '.' && digits > 0 && parts < 3) {
            parts++;
            digits = 0;
        } else {
            return 0;
        }
    }
    if (parts != 3 || digits == 0) return 0;
    for (int i = 0; i < length; i++) out[i] = (wchar_t)text[i];
    out[length] = 0;
    return 1;
}

static int read_digest(const char* text, int length, unsigned char out[UPDATE_DIGEST_BYTES]) {
    if (length != 2 * UPDATE_DIGEST_BYTES) return 0;
    for (int i = 0; i < UPDATE_DIGEST_BYTES; i++) {
        int high = hex_value(text[2 * i]), low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return 0;
        out[i] = (unsigned char)(high << 4 | low);
    }
    return 1;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
static long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = (unsigned)(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

static int number(const char* text, int digits) {
    int v = 0;
    for (int i = 0; i < digits; i++) {
        if (!is_digit(text[i])) return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

long long update_utc_seconds(const char* text, int length) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (!text || length != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return -1;
    int year = number(text, 4), month = number(text + 5, 2), day = number(text + 8, 2);
    int hour = number(text + 11, 2), minute = number(text + 14, 2), second = number(text + 17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return -1;
    static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > DAYS[month - 1] + (month == 2 && leap)) return -1;
    return days_from_civil(year, (unsigned)month, (unsigned)day) * 86400 + hour * 3600 + minute * 60 + second;
}

static int field_is(const char* line, int name_length, const char* name) {
    return name_length == (int)strlen(name) && memcmp(line, name, name_length) == 0;
}

int update_manifest_parse(const char* bytes, int length, UpdateManifest* out) {
    if (!bytes || length <= 0 || length > UPDATE_MANIFEST_MAX) return 0;
    UpdateManifest m = {};
    int have_version = 0, have_digest = 0, have_expires = 0, at = 0;
    for (int index = 0; at < length; index++) {
        const char* line = bytes + at;
        int n = 0;
        while (at + n < length && bytes[at + n] != '\n') n++;
        if (n > LINE_MAX_BYTES) return 0;
        int next = at + n + (at + n < length);  // past the LF, when there is one
        for (int i = 0; i < n; i++)
            if (line[i] < 0x21 && line[i] != ' ') return 0;  // control characters, CR included
        if (index == 0) {
            if (n != (int)sizeof FORMAT_LINE - 1 || memcmp(line, FORMAT_LINE, n) != 0 || next == n) return 0;
            at = next;
            continue;
        }
        int name = 0;
        while (name < n && line[name] != ' ') name++;
        if (name == 0 || name + 1 >= n) return 0;  // "name value", both there
        const char* value = line + name + 1;
        int value_length = n - name - 1;
        if (field_is(line, name, "signature")) {
            // The last line: an LF after it may end the file, nothing else.
            if (next != length || !have_version || !have_digest) return 0;
            unsigned char der[UPDATE_SIGNATURE_MAX];
            int der_length = base64_decode(value, value_length, der, UPDATE_SIGNATURE_MAX);
            if (der_length < 0 || !update_signature_decode(der, der_length, m.rs)) return 0;
            m.signed_length = at;
            *out = m;
            return 1;
        }
        if (next == at + n) return 0;  // a field without its LF: the file was cut
        if (field_is(line, name, "version")) {
            if (have_version++ || !read_version(value, value_length, m.version)) return 0;
        } else if (field_is(line, name, "sha256")) {
            if (have_digest++ || !read_digest(value, value_length, m.sha256)) return 0;
        } else if (field_is(line, name, "expires")) {
            if (have_expires++) return 0;
            m.expires = update_utc_seconds(value, value_length);
            if (m.expires <= 0) return 0;
        } else {
            for (int i = 0; i < name; i++) {
                char c = line[i];
                if (!(c >= 'a' && c <= 'z') && !is_digit(c) && c != '-') return 0;
            }
        }
        at = next;
    }
    return 0;  // no signature line
}

int update_manifest_verdict(const UpdateManifest* manifest, const unsigned char* digest, long long now) {
    if (manifest->expires && now >= manifest->expires) return UPDATE_STALE;
    if (version_compare(manifest->version, NELVO_VERSION) <= 0) return UPDATE_NOT_NEWER;
    if (digest && memcmp(digest, manifest->sha256, UPDATE_DIGEST_BYTES) != 0) return UPDATE_UNVERIFIED;
    return 0;
}

void update_check_decide(UpdateInfo* info, int signed_build, const UpdateManifest* manifest, long long now) {
    int announced = info->reached && version_compare(info->version, NELVO_VERSION) > 0;
    info->available = 0;
    info->refused = 0;
    if (!signed_build) {
        info->available = announced;
        return;
    }
    if (!info->reached) return;
    int verdict = manifest ? update_manifest_verdict(manifest, nullptr, now) : UPDATE_UNVERIFIED;
    if (manifest) wstr_copy(info->signed_version, manifest->version);
    if (verdict == 0) {
        info->available = 1;
        wstr_copy(info->version, manifest->version);
    } else if (verdict == UPDATE_STALE || announced || info->manual) {
        // Nothing newer announced and an older version signed: simply up to date. A manual
        // check without a verified manifest says so, though: in a signed build only the
        // signed statement can tell that nothing is newer.
        info->refused = verdict == UPDATE_NOT_NEWER && !announced ? 0 : verdict;
    }
}
