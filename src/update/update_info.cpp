#include "update/update_info.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "base/wstr.h"

enum { VERSION_FILE_MAX = 4095, NOTES_LIMIT = 1020, MIN_PROGRAM_BYTES = 50000 };

static int is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The line from *p to the next CR or LF, trimmed when asked; *p moves past it and the
// line breaks after it. Returns the line's length in out.
static int next_line(const wchar_t** p, wchar_t* out, int capacity, int trim) {
    const wchar_t* start = *p;
    const wchar_t* end = start;
    while (*end && *end != L'\r' && *end != L'\n') end++;
    *p = end;
    while (**p == L'\r' || **p == L'\n') (*p)++;
    if (trim) {
        while (start < end && is_blank(*start)) start++;
        while (end > start && is_blank(end[-1])) end--;
    }
    int n = (int)(end - start) < capacity - 1 ? (int)(end - start) : capacity - 1;
    wmemcpy(out, start, n);
    out[n] = 0;
    return n;
}

static void add_note(UpdateInfo* out, const wchar_t* line) {
    int have = (int)wcslen(out->notes), n = (int)wcslen(line);
    if (have + n + 2 >= NOTES_LIMIT) return;
    wmemcpy(out->notes + have, line, n);
    out->notes[have + n] = L'\n';
    out->notes[have + n + 1] = 0;
}

void version_file_parse(const char* bytes, int length, UpdateInfo* out) {
    out->version[0] = out->url[0] = out->notes[0] = 0;
    if (!bytes || length <= 0) return;
    if (length > VERSION_FILE_MAX) length = VERSION_FILE_MAX;
    if (length >= 3 && (unsigned char)bytes[0] == 0xEF && (unsigned char)bytes[1] == 0xBB &&
        (unsigned char)bytes[2] == 0xBF) {
        bytes += 3;
        length -= 3;
    }
    wchar_t text[VERSION_FILE_MAX + 1];
    int n = length > 0 ? MultiByteToWideChar(CP_UTF8, 0, bytes, length, text, VERSION_FILE_MAX) : 0;
    text[n > 0 ? n : 0] = 0;
    const wchar_t* p = text;
    while (*p == L'\r' || *p == L'\n') p++;
    if (!*p) return;
    next_line(&p, out->version, UPDATE_VERSION_CAPACITY, 1);
    wchar_t line[UPDATE_URL_CAPACITY];
    if (!*p) return;
    next_line(&p, line, UPDATE_URL_CAPACITY, 1);
    if (wcsncmp(line, L"http", 4) == 0) wstr_copy(out->url, line);
    else add_note(out, line);
    while (*p) {
        next_line(&p, line, UPDATE_URL_CAPACITY, 0);
        add_note(out, line);
    }
}

static void version_parts(const wchar_t* text, int parts[3]) {
    parts[0] = parts[1] = parts[2] = 0;
    swscanf(text ? text : L"", L"%d.%d.%d", &parts[0], &parts[1], &parts[2]);
}

int version_compare(const wchar_t* a, const wchar_t* b) {
    int x[3], y[3];
    version_parts(a, x);
    version_parts(b, y);
    for (int i = 0; i < 3; i++)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

// The "scheme://host[:port]" start of an address, or 0 when it has none.
static int origin_length(const wchar_t* url) {
    const wchar_t* scheme_end = wcsstr(url, L"://");
    if (!scheme_end) return 0;
    const wchar_t* host_end = scheme_end + 3;
    while (*host_end && *host_end != L'/' && *host_end != L'?' && *host_end != L'#') host_end++;
    return host_end > scheme_end + 3 ? (int)(host_end - url) : 0;
}

void update_download_url(const wchar_t* from_file, const wchar_t* base, wchar_t* out, int capacity) {
    const wchar_t* url = from_file ? from_file : L"";
    int trusted = _wcsnicmp(url, L"https://", 8) == 0 && origin_length(url) > 8;
    int own = origin_length(base);
    if (!trusted && own && origin_length(url) == own && _wcsnicmp(url, base, own) == 0) trusted = 1;
    if (trusted && !wcsstr(url, L".apk")) wstr_copy(out, capacity, url);
    else wstr_format(out, capacity, L"%ls/Nelvo.exe", base);
}

static unsigned read_u16(const unsigned char* p) { return p[0] | (p[1] << 8); }
static unsigned read_u32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned)p[3] << 24); }

int update_image_is_program(const unsigned char* head, int head_length, long long size) {
    if (size < MIN_PROGRAM_BYTES || head_length < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    long long pe = read_u32(head + 0x3C);
    if (pe + 24 > head_length || memcmp(head + pe, "PE\0\0", 4) != 0) return 0;
    if (read_u16(head + pe + 4) != 0x8664) return 0;  // x64
    if (pe + 26 > head_length || read_u16(head + pe + 24) != 0x20B) return 0;  // a PE32+ optional header
    int sections = (int)read_u16(head + pe + 6);
    long long table = pe + 24 + read_u16(head + pe + 20);
    if (sections < 1 || table + 40LL * sections > head_length) return 0;
    for (int i = 0; i < sections; i++) {
        const unsigned char* s = head + table + 40 * i;
        long long end = (long long)read_u32(s + 20) + read_u32(s + 16);
        if (end > size) return 0;
    }
    return 1;
}

int update_file_is_program(const wchar_t* path) {
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size = {};
    unsigned char head[4096];
    DWORD got = 0;
    int ok = GetFileSizeEx(f, &size) && ReadFile(f, head, sizeof head, &got, nullptr);
    CloseHandle(f);
    return ok && update_image_is_program(head, (int)got, size.QuadPart);
}

int update_prompt(const UpdateInfo* info, wchar_t* text, int capacity, const wchar_t** caption, UINT* flags) {
    if (!info) return 0;
    if (info->available) {
        *caption = L"G\u00fcncelleme Mevcut";
        *flags = MB_ICONINFORMATION | MB_YESNO;
        if (info->notes[0]) {
            wstr_format(text, capacity,
                        L"NELVO i\u00e7in yeni bir g\u00fcncelleme mevcut!\n\nMevcut S\u00fcr\u00fcm: v%ls\nYeni S\u00fcr\u00fcm: "
                        L"v%ls\n\nYenilikler:\n%ls\n\n\u015eimdi otomatik olarak indirip g\u00fcncellemek istiyor "
                        L"musunuz?",
                        NELVO_VERSION, info->version, info->notes);
        } else {
            wstr_format(text, capacity,
                        L"NELVO i\u00e7in yeni bir g\u00fcncelleme mevcut!\n\nMevcut S\u00fcr\u00fcm: v%ls\nYeni S\u00fcr\u00fcm: "
                        L"v%ls\n\n\u015eimdi otomatik olarak indirip g\u00fcncellemek istiyor musunuz?",
                        NELVO_VERSION, info->version);
        }
        return 1;
    }
    if (info->refused) {
        *caption = L"G\u00fcncelleme Kontrol\u00fc";
        *flags = MB_ICONWARNING;
        if (info->refused == UPDATE_NOT_NEWER) {
            wstr_format(text, capacity,
                        L"Sunucu v%ls s\u00fcr\u00fcm\u00fcn\u00fc duyuruyor, ancak imzal\u0131 g\u00fcncelleme bilgisi v%ls diyor: bu, "
                        L"kulland\u0131\u011f\u0131n\u0131z v%ls s\u00fcr\u00fcm\u00fcnden yeni de\u011fil. Eski bir s\u00fcr\u00fcme d\u00f6n\u00fclmez; Nelvo de\u011fi\u015ftirilmedi.",
                        info->version, info->signed_version, NELVO_VERSION);
        } else {
            update_failure_message(info->refused, L"", L"", text, capacity);
        }
        return 1;
    }
    if (!info->manual) return 0;
    if (!info->reached) {
        // A check that never got an answer must not say that all is up to date.
        *caption = L"G\u00fcncelleme Kontrol\u00fc";
        *flags = MB_ICONWARNING;
        wstr_copy(text, capacity,
                  L"G\u00fcncelleme sunucusuna ula\u015f\u0131lamad\u0131.\nL\u00fctfen internet ba\u011flant\u0131n\u0131z\u0131 "
                  L"kontrol edip tekrar deneyin.");
        return 1;
    }
    *caption = L"G\u00fcncelleme Kontrol\u00fc";
    *flags = MB_ICONINFORMATION;
    wstr_format(text, capacity, L"Zaten en g\u00fcncel s\u00fcr\u00fcm\u00fc kullan\u0131yorsunuz.\n(Mevcut S\u00fcr\u00fcm: v%ls)",
                NELVO_VERSION);
    return 1;
}

void update_failure_message(int code, const wchar_t* old_program, const wchar_t* exe_name, wchar_t* text,
                            int capacity) {
    const wchar_t* old = old_program && old_program[0] ? old_program : L"Nelvo_old.tmp";
    switch (code) {
    case UPDATE_UNVERIFIED: wstr_copy(text, capacity, L"G\u00fcncelleme do\u011frulanamad\u0131; Nelvo de\u011fi\u015ftirilmedi."); break;
    case UPDATE_MOVE_FAILED:
        wstr_format(text, capacity, L"%ls yerinden ta\u015f\u0131namad\u0131; g\u00fcncelleme yap\u0131lmad\u0131, Nelvo de\u011fi\u015ftirilmedi.\nEski s\u00fcr\u00fcm yerinde: %ls",
                    exe_name, old);
        break;
    case UPDATE_PLACE_FAILED:
        wstr_format(text, capacity, L"Yeni s\u00fcr\u00fcm yerine konamad\u0131; g\u00fcncelleme geri al\u0131nd\u0131.\nEski s\u00fcr\u00fcm yerinde: %ls", old);
        break;
    case UPDATE_FAILED_START:
        wstr_format(text, capacity,
                    L"Yeni s\u00fcr\u00fcm ba\u015flat\u0131lamad\u0131; g\u00fcncelleme geri al\u0131nd\u0131, Nelvo eski s\u00fcr\u00fcm\u00fcyle \u00e7al\u0131\u015fmaya devam ediyor."
                    L"\nEski s\u00fcr\u00fcm yerinde: %ls",
                    old);
        break;
    case UPDATE_UNDO_FAILED:
        // The one case where the user may have to act: say which file is the old program and
        // what to do with it.
        wstr_format(text, capacity,
                    L"G\u00fcncelleme geri al\u0131namad\u0131; %ls eksik ya da yeni s\u00fcr\u00fcm olabilir.\nEski s\u00fcr\u00fcm \u015fu dosyada: %ls\n"
                    L"Nelvo a\u00e7\u0131lmazsa bu dosyan\u0131n ad\u0131n\u0131 %ls olarak de\u011fi\u015ftirin.",
                    exe_name, old, exe_name);
        break;
    case UPDATE_NOT_NEWER:
        wstr_copy(text, capacity,
                  L"Sunulan g\u00fcncelleme bu s\u00fcr\u00fcmden yeni de\u011fil; eski bir s\u00fcr\u00fcme d\u00f6n\u00fclmez. Nelvo de\u011fi\u015ftirilmedi.");
        break;
    case UPDATE_STALE:
        wstr_copy(text, capacity,
                  L"G\u00fcncelleme bilgisi eskimi\u015f: imzas\u0131n\u0131n ge\u00e7erlilik s\u00fcresi dolmu\u015f. Sunucu yeni s\u00fcr\u00fcmleri "
                  L"g\u00f6stermiyor olabilir; Nelvo de\u011fi\u015ftirilmedi.");
        break;
    default:
        wstr_copy(text, capacity,
                  L"G\u00fcncelleme dosyas\u0131 indirilemedi.\nL\u00fctfen internet ba\u011flant\u0131n\u0131z\u0131 kontrol edip tekrar deneyin.");
    }
}

#define HANDOVER_PREFIX L"--nelvo-replaces="

void update_handover_argument(DWORD process_id, wchar_t* out, int capacity) {
    wstr_format(out, capacity, HANDOVER_PREFIX L"%lu", (unsigned long)process_id);
}

int update_handover_parse(const wchar_t* command_line, DWORD* process_id) {
    const wchar_t* p = command_line ? command_line : L"";
    // The program name, quoted or not, as the system splits it.
    if (*p == L'"') {
        p = wcschr(p + 1, L'"');
        if (!p) return 0;
        p++;
    } else {
        while (*p && !is_blank(*p)) p++;
    }
    while (is_blank(*p)) p++;
    int prefix = (int)wcslen(HANDOVER_PREFIX);
    if (wcsncmp(p, HANDOVER_PREFIX, prefix) != 0) return 0;
    p += prefix;
    unsigned long long id = 0;
    int digits = 0;
    for (; *p >= L'0' && *p <= L'9' && digits < 10; p++, digits++) id = id * 10 + (unsigned)(*p - L'0');
    while (is_blank(*p)) p++;
    if (!digits || *p || id == 0 || id > 0xFFFFFFFFull) return 0;
    *process_id = (DWORD)id;
    return 1;
}

void update_ready_event_name(DWORD process_id, wchar_t* out, int capacity) {
    wstr_format(out, capacity, L"Local\\Nelvo-update-ready-%lu", (unsigned long)process_id);
}
