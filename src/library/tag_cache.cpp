#include "library/tag_cache.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "base/file_replace.h"
#include "base/wstr.h"
#include "library/track_list.h"

// The file, little-endian:
//   "NVTAGC02", u32 string count, u32 record count, the strings, the records, u32 check
//   string:  u16 length, UTF-16 characters
//   record:  u16 characters shared with the previous path, u16 more, those characters,
//            u64 size, u64 write time, u16 title length, title, u32 artist, u32 album,
//            u32 album artist (string numbers, 0 the empty text), i32 duration ms,
//            u16 track, u16 disc, u16 year, u64 picture offset, u32 picture length
// Paths share their folders (never part of the file's name) with the one before, so
// 100,000 records take a few MB.
static const char MAGIC[8] = {'N', 'V', 'T', 'A', 'G', 'C', '0', '2'};
enum { CACHE_MAX_BYTES = 256 * 1024 * 1024, PATH_CAPACITY = 260, RECORD_FIXED_BYTES = 4 + 16 + 2 + 12 + 4 + 6 + 12 };

//~ Growing byte buffers

struct Bytes {
    unsigned char* data;
    size_t used, capacity;
    int failed;
};

static void put(Bytes* b, const void* data, size_t n) {
    if (b->failed) return;
    if (b->used + n > b->capacity) {
        size_t grown = b->capacity ? b->capacity * 2 : 65536;
        while (grown < b->used + n) grown *= 2;
        unsigned char* data_grown = (unsigned char*)realloc(b->data, grown);
        if (!data_grown) {
            b->failed = 1;
            return;
        }
        b->data = data_grown;
        b->capacity = grown;
    }
    memcpy(b->data + b->used, data, n);
    b->used += n;
}

static void put16(Bytes* b, unsigned v) {
    unsigned char x[2] = {(unsigned char)v, (unsigned char)(v >> 8)};
    put(b, x, 2);
}
static void put32(Bytes* b, uint32_t v) {
    unsigned char x[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16), (unsigned char)(v >> 24)};
    put(b, x, 4);
}
static void put64(Bytes* b, uint64_t v) {
    put32(b, (uint32_t)v);
    put32(b, (uint32_t)(v >> 32));
}
static void put_text(Bytes* b, const wchar_t* text, int length) {
    put(b, text, (size_t)length * sizeof(wchar_t));  // little-endian UTF-16, as wchar_t is here
}

//~ Reading, every length checked against what remains

struct Reader {
    const unsigned char* at;
    const unsigned char* end;
    int bad;
};

static int have(Reader* r, size_t n) {
    if (r->bad || (size_t)(r->end - r->at) < n) {
        r->bad = 1;
        return 0;
    }
    return 1;
}
static unsigned get16(Reader* r) {
    if (!have(r, 2)) return 0;
    unsigned v = r->at[0] | (unsigned)r->at[1] << 8;
    r->at += 2;
    return v;
}
static uint32_t get32(Reader* r) {
    uint32_t lo = get16(r);
    return lo | (uint32_t)get16(r) << 16;
}
static uint64_t get64(Reader* r) {
    uint64_t lo = get32(r);
    return lo | (uint64_t)get32(r) << 32;
}
// length characters into out (capacity characters with the terminator); bad when it passes.
static void get_text(Reader* r, wchar_t* out, unsigned length, unsigned capacity) {
    if (length >= capacity || !have(r, (size_t)length * 2)) {
        r->bad = 1;
        out[0] = 0;
        return;
    }
    memcpy(out, r->at, (size_t)length * 2);  // the file's UTF-16 is little-endian, as wchar_t is here
    out[length] = 0;
    r->at += (size_t)length * 2;
}

static uint32_t check_of(const unsigned char* data, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++) {
        h ^= data[i];
        h *= 16777619u;
    }
    return h;
}

static uint64_t hash_path(const wchar_t* text, size_t length) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (size_t i = 0; i < length; i++) {
        h ^= text[i];
        h *= 1099511628211ull;
    }
    return h;
}

static uint32_t hash_text(const wchar_t* text) {
    uint32_t h = 2166136261u;
    for (; *text; text++) {
        h ^= *text;
        h *= 16777619u;
    }
    return h;
}

static size_t name_start(const wchar_t* path, size_t length) {
    size_t n = length;
    while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') n--;
    return n;
}

//~ The cache

// A loaded record is where it stands in the file's bytes, which stay loaded, and its path's
// hash: a start with 100,000 records copies no path and no text, so that listing the folder
// is what it waits for. A record is taken when the hash of the whole path and its file's
// name letter for letter agree, and its size and write time.
struct LoadedRecord {
    uint64_t hash;
    uint32_t at;  // the record's first byte in bytes
    uint16_t shared, more;
    int found;
};

struct TagCache {
    // Loaded
    unsigned char* bytes;
    size_t size;
    wchar_t* strings;       // every string, terminated, end to end
    uint32_t* string_at;
    uint32_t string_count;
    LoadedRecord* records;
    uint32_t record_count;
    uint32_t* slots;        // record + 1 by path hash
    uint32_t mask;
    int found;
    // Kept
    Bytes kept_text;        // the kept strings, terminated, end to end
    size_t* kept_at;        // string number - 1 to its place in kept_text (in characters)
    uint32_t kept_string_count, kept_at_capacity;
    uint32_t* kept_slots;   // string number by hash
    uint32_t kept_mask;
    Bytes kept_records;
    uint32_t kept_count;
    uint32_t missed;        // files kept that were not found as they were
    int writing;            // the records to write are being made
    const LoadedRecord* last_hit;  // what the last find found
    wchar_t last_path[PATH_CAPACITY];
    int failed;
};

// The fields after a record's path into out (texts included; null: only the size and write
// time); the record was checked whole when loaded.
static void read_record(const TagCache* c, const LoadedRecord* rec, uint64_t* size, uint64_t* written,
                        TrackTags* out) {
    Reader r = {c->bytes + rec->at + 4 + (size_t)rec->more * 2, c->bytes + c->size - 4, 0};
    *size = get64(&r);
    *written = get64(&r);
    if (!out) return;
    memset(out, 0, sizeof(*out));
    get_text(&r, out->title, get16(&r), TAG_TEXT_CAPACITY);
    uint32_t artist = get32(&r), album = get32(&r), album_artist = get32(&r);
    wstr_copy(out->artist, c->strings + c->string_at[artist]);
    wstr_copy(out->album, c->strings + c->string_at[album]);
    wstr_copy(out->album_artist, c->strings + c->string_at[album_artist]);
    out->duration_ms = (int)get32(&r);
    out->track = (int)get16(&r);
    out->disc = (int)get16(&r);
    out->year = (int)get16(&r);
    out->picture_offset = get64(&r);
    out->picture_length = get32(&r);
}

static int parse(TagCache* c, const unsigned char* bytes, size_t size) {
    if (size < sizeof(MAGIC) + 12 || memcmp(bytes, MAGIC, sizeof(MAGIC)) != 0) return -1;
    Reader check = {bytes + size - 4, bytes + size, 0};
    if (get32(&check) != check_of(bytes, size - 4)) return -1;
    Reader r = {bytes + sizeof(MAGIC), bytes + size - 4, 0};
    uint32_t string_count = get32(&r), record_count = get32(&r);
    // Each string takes at least 2 bytes and each record at least its fixed part: counts the
    // file cannot hold are not believed (nor allocated for).
    size_t left = (size_t)(r.end - r.at);
    if (string_count > left / 2 || record_count > left / RECORD_FIXED_BYTES || size > 0xFFFFFFFFu) return -1;
    if (!c) c = (TagCache*)calloc(1, sizeof(TagCache));  // counting only
    else c->bytes = (unsigned char*)bytes;
    TagCache* counting = c->bytes ? nullptr : c;
    int result = -1;
    uint32_t slots = 16;
    while (slots < record_count * 2 + 2) slots *= 2;
    c->string_at = (uint32_t*)malloc(((size_t)string_count + 1) * sizeof(uint32_t));
    c->strings = (wchar_t*)malloc(left + sizeof(wchar_t) * ((size_t)string_count + 2));
    c->records = (LoadedRecord*)malloc(((size_t)record_count + 1) * sizeof(LoadedRecord));
    c->slots = (uint32_t*)calloc(slots, sizeof(uint32_t));
    wchar_t path[PATH_CAPACITY];
    size_t used = 0, path_length = 0;
    if (!c->string_at || !c->strings || !c->records || !c->slots) goto done;
    c->mask = slots - 1;
    c->strings[used++] = 0;  // number 0: the empty text
    c->string_at[0] = 0;
    for (uint32_t i = 1; i <= string_count; i++) {
        unsigned length = get16(&r);
        c->string_at[i] = (uint32_t)used;
        get_text(&r, c->strings + used, length, TAG_TEXT_CAPACITY);
        if (r.bad) goto done;
        used += length + 1;
    }
    c->string_count = string_count;
    path[0] = 0;
    for (uint32_t i = 0; i < record_count; i++) {
        LoadedRecord* rec = &c->records[i];
        rec->at = (uint32_t)(r.at - bytes);
        unsigned shared = get16(&r), more = get16(&r);
        // The shared part ends where a folder does: the file's own name is always in the record.
        if (shared > path_length || shared + more >= PATH_CAPACITY || more == 0) goto done;
        if (shared > 0 && path[shared - 1] != L'\\' && path[shared - 1] != L'/') goto done;
        get_text(&r, path + shared, more, PATH_CAPACITY - shared);
        path_length = shared + more;
        if (r.bad || name_start(path, path_length) < shared) goto done;
        rec->shared = (uint16_t)shared;
        rec->more = (uint16_t)more;
        rec->found = 0;
        rec->hash = hash_path(path, path_length);
        get64(&r);
        get64(&r);
        unsigned title_length = get16(&r);
        if (title_length >= TAG_TEXT_CAPACITY || !have(&r, (size_t)title_length * 2)) goto done;
        r.at += (size_t)title_length * 2;
        uint32_t artist = get32(&r), album = get32(&r), album_artist = get32(&r);
        int32_t duration = (int32_t)get32(&r);
        if (!have(&r, 6 + 12)) goto done;
        r.at += 6 + 12;
        if (artist > string_count || album > string_count || album_artist > string_count || duration < 0) goto done;
        uint32_t at = (uint32_t)rec->hash & c->mask;
        while (c->slots[at]) at = (at + 1) & c->mask;
        c->slots[at] = i + 1;
    }
    if (r.at != r.end) goto done;
    c->record_count = record_count;
    result = (int)record_count;
done:
    if (counting) {
        counting->bytes = nullptr;
        free(counting->string_at);
        free(counting->strings);
        free(counting->records);
        free(counting->slots);
        free(counting);
    }
    return result;
}

static void forget_loaded(TagCache* c) {
    free(c->bytes);
    free(c->strings);
    free(c->string_at);
    free(c->records);
    free(c->slots);
    c->bytes = nullptr;
    c->strings = nullptr;
    c->string_at = nullptr;
    c->records = nullptr;
    c->slots = nullptr;
    c->string_count = c->record_count = 0;
}

int tag_cache_parse_count(const unsigned char* bytes, size_t size) {
    if (!bytes) return -1;
    return parse(nullptr, bytes, size);
}

TagCache* tag_cache_load(const wchar_t* file) {
    TagCache* c = (TagCache*)calloc(1, sizeof(TagCache));
    if (!c) return nullptr;
    HANDLE h = file && file[0] ? CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                               : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return c;
    LARGE_INTEGER size;
    unsigned char* bytes = nullptr;
    DWORD got = 0;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0 && size.QuadPart <= CACHE_MAX_BYTES) {
        bytes = (unsigned char*)malloc((size_t)size.QuadPart);
        if (bytes && !ReadFile(h, bytes, (DWORD)size.QuadPart, &got, nullptr)) got = 0;
    }
    CloseHandle(h);
    if (bytes && got == (DWORD)size.QuadPart && parse(c, bytes, got) >= 0) {
        c->size = got;  // the records point into the bytes, which stay
        return c;
    }
    if (!c->bytes) free(bytes);  // else it goes with the rest of what was loaded
    forget_loaded(c);
    return c;
}

// Whether the record's file name is name (length characters), letter for letter.
static int record_name_is(const TagCache* c, const LoadedRecord* rec, const wchar_t* name, size_t length) {
    const unsigned char* suffix = c->bytes + rec->at + 4;
    size_t more = rec->more;
    if (length > more) return 0;
    const unsigned char* own = suffix + (more - length) * 2;
    if (memcmp(own, name, length * 2) != 0) return 0;
    if (length == more) return rec->shared > 0;  // the name starts after the shared folders
    wchar_t before = (wchar_t)(own[-2] | own[-1] << 8);
    return before == L'\\' || before == L'/';
}

int tag_cache_find(TagCache* c, const wchar_t* path, uint64_t size, uint64_t written, TrackTags* out) {
    if (c) c->last_hit = nullptr;
    if (!c || !c->slots || !c->record_count || !path) return 0;
    size_t length = wcslen(path);
    uint64_t hash = hash_path(path, length);
    size_t name = name_start(path, length);
    for (uint32_t at = (uint32_t)hash & c->mask; c->slots[at]; at = (at + 1) & c->mask) {
        LoadedRecord* rec = &c->records[c->slots[at] - 1];
        if (rec->hash != hash || !record_name_is(c, rec, path + name, length - name)) continue;
        uint64_t record_size, record_written;
        read_record(c, rec, &record_size, &record_written, nullptr);
        if (record_size != size || record_written != written) return 0;
        read_record(c, rec, &record_size, &record_written, out);
        if (!rec->found) c->found++;
        rec->found = 1;
        c->last_hit = rec;
        return 1;
    }
    return 0;
}

static const wchar_t* kept_text_of(const TagCache* c, uint32_t n) {
    return (const wchar_t*)c->kept_text.data + c->kept_at[n - 1];
}

static int kept_slots_grow(TagCache* c) {
    uint32_t size = c->kept_slots ? (c->kept_mask + 1) * 2 : 1024;
    uint32_t* slots = (uint32_t*)calloc(size, sizeof(uint32_t));
    if (!slots) return 0;
    free(c->kept_slots);
    c->kept_slots = slots;
    c->kept_mask = size - 1;
    for (uint32_t n = 1; n <= c->kept_string_count; n++) {
        uint32_t at = hash_text(kept_text_of(c, n)) & c->kept_mask;
        while (c->kept_slots[at]) at = (at + 1) & c->kept_mask;
        c->kept_slots[at] = n;
    }
    return 1;
}

// The number of text among the kept strings, added when new; 0 for the empty text.
static uint32_t kept_string(TagCache* c, const wchar_t* text) {
    if (!text[0] || c->failed) return 0;
    if ((c->kept_string_count + 1) * 2 > (c->kept_slots ? c->kept_mask + 1 : 0) && !kept_slots_grow(c)) {
        c->failed = 1;
        return 0;
    }
    uint32_t at = hash_text(text) & c->kept_mask;
    for (; c->kept_slots[at]; at = (at + 1) & c->kept_mask)
        if (!wcscmp(kept_text_of(c, c->kept_slots[at]), text)) return c->kept_slots[at];
    if (c->kept_string_count == c->kept_at_capacity) {
        uint32_t grown = c->kept_at_capacity ? c->kept_at_capacity * 2 : 1024;
        size_t* at_grown = (size_t*)realloc(c->kept_at, grown * sizeof(size_t));
        if (!at_grown) {
            c->failed = 1;
            return 0;
        }
        c->kept_at = at_grown;
        c->kept_at_capacity = grown;
    }
    size_t place = c->kept_text.used / sizeof(wchar_t);
    put(&c->kept_text, text, (wcslen(text) + 1) * sizeof(wchar_t));
    if (c->kept_text.failed) {
        c->failed = 1;
        return 0;
    }
    c->kept_at[c->kept_string_count++] = place;
    c->kept_slots[at] = c->kept_string_count;
    return c->kept_string_count;
}

static int text_length(const wchar_t* text, int capacity) {
    int n = 0;
    while (n < capacity - 1 && text[n]) n++;
    return n;
}

// Appends a record to the ones to write.
static int append_record(TagCache* c, const wchar_t* path, uint64_t size, uint64_t written, const TrackTags* tags) {
    int path_length = (int)wcslen(path);
    if (path_length >= PATH_CAPACITY) return 1;  // no track holds it either
    // Shared up to a folder's end only: the file's name always stands in its own record.
    int shared = 0;
    while (shared < path_length && c->last_path[shared] == path[shared]) shared++;
    while (shared > 0 && path[shared - 1] != L'\\' && path[shared - 1] != L'/') shared--;
    uint32_t artist = kept_string(c, tags->artist), album = kept_string(c, tags->album),
             album_artist = kept_string(c, tags->album_artist);
    Bytes* b = &c->kept_records;
    put16(b, (unsigned)shared);
    put16(b, (unsigned)(path_length - shared));
    put_text(b, path + shared, path_length - shared);
    put64(b, size);
    put64(b, written);
    int title_length = text_length(tags->title, TAG_TEXT_CAPACITY);
    put16(b, (unsigned)title_length);
    put_text(b, tags->title, title_length);
    put32(b, artist);
    put32(b, album);
    put32(b, album_artist);
    put32(b, (uint32_t)(tags->duration_ms > 0 ? tags->duration_ms : 0));
    put16(b, (unsigned)(tags->track > 0 && tags->track < 65536 ? tags->track : 0));
    put16(b, (unsigned)(tags->disc > 0 && tags->disc < 65536 ? tags->disc : 0));
    put16(b, (unsigned)(tags->year > 0 && tags->year < 65536 ? tags->year : 0));
    put64(b, tags->picture_offset);
    put32(b, tags->picture_length);
    if (b->failed || c->failed) {
        c->failed = 1;
        return 0;
    }
    wstr_copy(c->last_path, path);
    c->kept_count++;
    return 1;
}

// Each loaded record in order, its path made again from the one before it.
template <typename Visit>
static int each_loaded(TagCache* c, Visit visit) {
    wchar_t path[PATH_CAPACITY];
    for (uint32_t i = 0; i < c->record_count; i++) {
        const LoadedRecord* rec = &c->records[i];
        memcpy(path + rec->shared, c->bytes + rec->at + 4, (size_t)rec->more * 2);
        path[rec->shared + rec->more] = 0;
        if (!visit(rec, path)) return 0;
    }
    return 1;
}

// The records found so far become records to write: from here on every file kept is
// written. Until the first file that was not found, a scan that finds every file as it was
// builds nothing.
static int start_writing(TagCache* c) {
    if (c->writing) return !c->failed;
    c->writing = 1;
    TrackTags* tags = (TrackTags*)malloc(sizeof(TrackTags));
    if (!tags) {
        c->failed = 1;
        return 0;
    }
    int ok = each_loaded(c, [&](const LoadedRecord* rec, const wchar_t* path) {
        if (!rec->found) return 1;
        uint64_t size, written;
        read_record(c, rec, &size, &written, tags);
        return append_record(c, path, size, written, tags);
    });
    free(tags);
    return ok;
}

int tag_cache_keep(TagCache* c, const wchar_t* path, uint64_t size, uint64_t written, const TrackTags* tags) {
    if (!c || !path || !tags || c->failed) return 0;
    const LoadedRecord* hit = c->last_hit;
    c->last_hit = nullptr;
    if (!c->writing && hit && hit->hash == hash_path(path, wcslen(path))) return 1;  // found as it was
    c->missed++;
    if (!start_writing(c)) return 0;
    return append_record(c, path, size, written, tags);
}

int tag_cache_changed(TagCache* c, const wchar_t* folder) {
    if (!c || c->failed) return 0;
    if (c->missed) return 1;
    // A file of the scanned folder that was not met is gone; the other folders' stay.
    int gone = 0;
    each_loaded(c, [&](const LoadedRecord* rec, const wchar_t* path) {
        if (!rec->found && (!folder || path_folder_prefix(path, folder, -1))) gone = 1;
        return !gone;
    });
    return gone;
}

// The loaded records of files outside folder, as they were: a scan of one music folder
// does not make another one's start read every file again.
static int keep_others(TagCache* c, const wchar_t* folder) {
    if (!folder || !c->records) return 1;
    TrackTags* tags = (TrackTags*)malloc(sizeof(TrackTags));
    if (!tags) return 0;
    int ok = each_loaded(c, [&](const LoadedRecord* rec, const wchar_t* path) {
        if (rec->found || path_folder_prefix(path, folder, -1)) return 1;
        uint64_t size, written;
        read_record(c, rec, &size, &written, tags);
        return append_record(c, path, size, written, tags);
    });
    free(tags);
    return ok;
}

int tag_cache_save(TagCache* c, const wchar_t* file, const wchar_t* folder) {
    if (!c || c->failed || !file || !file[0]) return 0;
    if (!start_writing(c) || !keep_others(c, folder)) return 0;
    Bytes out = {};
    put(&out, MAGIC, sizeof(MAGIC));
    put32(&out, c->kept_string_count);
    put32(&out, c->kept_count);
    for (uint32_t n = 1; n <= c->kept_string_count; n++) {
        const wchar_t* text = kept_text_of(c, n);
        int length = text_length(text, TAG_TEXT_CAPACITY);
        put16(&out, (unsigned)length);
        put_text(&out, text, length);
    }
    if (c->kept_records.used) put(&out, c->kept_records.data, c->kept_records.used);
    if (!out.failed) put32(&out, check_of(out.data, out.used));
    int ok = !out.failed && out.used <= CACHE_MAX_BYTES && file_replace_contents(file, (const char*)out.data, (int)out.used);
    free(out.data);
    return ok;
}

void tag_cache_free(TagCache* c) {
    if (!c) return;
    forget_loaded(c);
    free(c->kept_text.data);
    free(c->kept_at);
    free(c->kept_slots);
    free(c->kept_records.data);
    free(c);
}
