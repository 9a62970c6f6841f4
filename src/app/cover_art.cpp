#include "app/cover_art.h"

#include <wincodec.h>

#include <stdint.h>
#include <stdlib.h>

#include "base/wstr.h"
#include "library/tag_file.h"

// A decoder holds the whole picture while the scaler reads it: a small PNG may claim
// 30000 x 30000 pixels, which is refused before anything is allocated for it.
static const uint64_t COVER_PIXELS_MAX = 40u * 1000 * 1000;

int cover_art_sources(const wchar_t* track_path, CoverSource* out, int capacity) {
    if (!track_path || !out || capacity <= 0) return 0;
    int count = 0;
    // The first prefix characters of the track's path, then suffix.
    auto add = [&](int kind, int prefix, const wchar_t* suffix) {
        if (count >= capacity) return;
        CoverSource* s = &out[count];
        s->kind = kind;
        if (wstr_copy_n(s->path, MAX_PATH, track_path, prefix) != prefix) return;
        int suffix_length = (int)wcslen(suffix);
        if (wstr_append(s->path, MAX_PATH, suffix) != prefix + suffix_length) return;
        count++;
    };
    int length = (int)wcslen(track_path);
    const wchar_t* slash = wcsrchr(track_path, L'\\');
    const wchar_t* forward = wcsrchr(track_path, L'/');
    if (forward && (!slash || forward > slash)) slash = forward;
    const wchar_t* name = slash ? slash + 1 : track_path;
    const wchar_t* dot = wcsrchr(name, L'.');
    int stem = dot ? (int)(dot - track_path) : length;
    int folder = (int)(name - track_path);

    static const wchar_t* const OWN[] = {L".jpg", L".jpeg", L".png", L".webp"};
    for (const wchar_t* ext : OWN) add(COVER_FROM_FILE, stem, ext);
    // The file system ignores case, so "Folder.JPG" is found under this name too.
    static const wchar_t* const SHARED[] = {L"folder.jpg", L"folder.png", L"cover.jpg",
                                            L"cover.png",  L"front.jpg",  L"front.png"};
    for (const wchar_t* file : SHARED) add(COVER_FROM_FILE, folder, file);
    add(COVER_FROM_TAG, length, L"");
    return count;
}

void cover_bytes_free(CoverBytes* bytes) {
    if (!bytes) return;
    free(bytes->data);
    bytes->data = nullptr;
    bytes->length = 0;
}

// length bytes at offset of the open file into out; 1 when all of them were there.
static int read_range(HANDLE file, uint64_t offset, uint32_t length, CoverBytes* out) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return 0;
    if (length == 0 || length > COVER_BYTES_MAX || offset > (uint64_t)size.QuadPart ||
        length > (uint64_t)size.QuadPart - offset)
        return 0;
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return 0;
    unsigned char* data = (unsigned char*)malloc(length);
    if (!data) return 0;
    DWORD got = 0;
    if (!ReadFile(file, data, length, &got, nullptr) || got != length) {
        free(data);
        return 0;
    }
    out->data = data;
    out->length = (int)length;
    return 1;
}

int cover_art_read(const CoverSource* source, CoverBytes* out) {
    out->data = nullptr;
    out->length = 0;
    uint64_t offset = 0;
    uint32_t length = 0;
    if (source->kind == COVER_FROM_TAG) {
        TrackTags tags;
        if (tags_read_file(source->path, &tags) == TAG_FORMAT_NONE || tags.picture_length == 0) return 0;
        offset = tags.picture_offset;
        length = tags.picture_length;
    }
    // Others may be writing or renaming the file meanwhile (a tagger, the downloader).
    HANDLE file = CreateFileW(source->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    if (source->kind == COVER_FROM_FILE) {
        LARGE_INTEGER size;
        if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= COVER_BYTES_MAX)
            length = (uint32_t)size.QuadPart;
    }
    int ok = read_range(file, offset, length, out);
    CloseHandle(file);
    return ok;
}

namespace {
// Releases what it holds when the decode returns, whichever way.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ~ComRef() {
        if (p) p->Release();
    }
    T** out() { return &p; }
};
}  // namespace

HBITMAP cover_art_decode(const void* bytes, int length, int max_side, int* side) {
    *side = 0;
    if (!bytes || length <= 0 || length > COVER_BYTES_MAX || max_side <= 0) return nullptr;
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    ComRef<IWICBitmapClipper> clipper;
    ComRef<IWICFormatConverter> converter;
    ComRef<IWICBitmapScaler> scaler;
    // Through COM, so that windowscodecs.dll is loaded by the first picture, not at start-up.
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                (void**)factory.out())))
        return nullptr;
    if (FAILED(factory.p->CreateStream(stream.out())) ||
        FAILED(stream.p->InitializeFromMemory((BYTE*)bytes, (DWORD)length)) ||
        FAILED(factory.p->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())) ||
        FAILED(decoder.p->GetFrame(0, frame.out())))
        return nullptr;
    UINT width = 0, height = 0;
    if (FAILED(frame.p->GetSize(&width, &height)) || width == 0 || height == 0 ||
        (uint64_t)width * height > COVER_PIXELS_MAX)
        return nullptr;
    // The card's square is filled: a picture that is not square loses its edges, not its shape.
    UINT square = width < height ? width : height;
    WICRect middle = {(INT)((width - square) / 2), (INT)((height - square) / 2), (INT)square, (INT)square};
    if (FAILED(factory.p->CreateBitmapClipper(clipper.out())) || FAILED(clipper.p->Initialize(frame.p, &middle)) ||
        FAILED(factory.p->CreateFormatConverter(converter.out())) ||
        FAILED(converter.p->Initialize(clipper.p, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom)))
        return nullptr;
    UINT out_side = square < (UINT)max_side ? square : (UINT)max_side;
    IWICBitmapSource* last = converter.p;
    if (out_side != square) {
        if (FAILED(factory.p->CreateBitmapScaler(scaler.out())) ||
            FAILED(scaler.p->Initialize(converter.p, out_side, out_side, WICBitmapInterpolationModeFant)))
            return nullptr;
        last = scaler.p;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = (LONG)out_side;
    info.bmiHeader.biHeight = -(LONG)out_side;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    UINT stride = out_side * 4;
    if (!bits || FAILED(last->CopyPixels(nullptr, stride, stride * out_side, (BYTE*)bits))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    *side = (int)out_side;
    return bitmap;
}

HBITMAP cover_art_load(const wchar_t* track_path, int* side, CoverBytes* encoded) {
    *side = 0;
    if (encoded) *encoded = CoverBytes{nullptr, 0};
    CoverSource sources[COVER_SOURCE_CAPACITY];
    int count = cover_art_sources(track_path, sources, COVER_SOURCE_CAPACITY);
    for (int i = 0; i < count; i++) {
        CoverBytes bytes;
        if (!cover_art_read(&sources[i], &bytes)) continue;
        HBITMAP bitmap = cover_art_decode(bytes.data, bytes.length, COVER_SIDE_MAX, side);
        if (bitmap && encoded) *encoded = bytes;
        else cover_bytes_free(&bytes);
        if (bitmap) return bitmap;
    }
    return nullptr;
}
