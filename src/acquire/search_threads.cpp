// The search window's worker threads: the search listing, one cover load per row, the
// download and the downloader's self-update. None of them touches the window's result
// table: each hands what it made to the window's thread in a posted message, and frees it
// itself when posting fails.
#include <windows.h>
#include <olectl.h>

#include <string.h>

#include "acquire/child_process.h"
#include "acquire/downloader.h"
#include "acquire/output_lines.h"
#include "acquire/search_window.h"
#include "base/messages.h"
#include "base/wstr.h"

enum { SEARCH_STACK = 64 * 1024, DOWNLOAD_STACK = 64 * 1024, THUMBNAIL_STACK = 256 * 1024, UPDATE_STACK = 64 * 1024 };
// Covers are a few hundred pixels; a larger picture is scaled down before it is kept.
enum { THUMBNAIL_MAX_SIDE = 640, THUMBNAIL_BASE_CAPACITY = 128 };

static void* heap_alloc_zeroed(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

static void heap_free(void* p) {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

//~ Search listing

struct SearchBatch {
    unsigned generation;
    int missing;  // the downloader could not be started
    int count;
    SearchResult rows[SEARCH_MAX_ROWS];
};

struct SearchRequest {
    unsigned generation;
    wchar_t text[SEARCH_TEXT_CAPACITY];
};

static void on_search_line(const char* line, int length, void* user) {
    SearchBatch* batch = (SearchBatch*)user;
    if (batch->count >= SEARCH_MAX_ROWS) return;
    if (!memchr(line, '\t', (size_t)length)) return;
    if (search_parse_line(line, length, &batch->rows[batch->count])) batch->count++;
}

static DWORD g_search_time_limit_ms = SEARCH_TIME_LIMIT_MS;

void search_set_time_limit(DWORD ms) {
    g_search_time_limit_ms = ms ? ms : (DWORD)SEARCH_TIME_LIMIT_MS;
}

static DWORD WINAPI search_thread(void* arg) {
    SearchRequest* request = (SearchRequest*)arg;
    SearchBatch* batch = (SearchBatch*)heap_alloc_zeroed(sizeof(SearchBatch));
    wchar_t command[SEARCH_COMMAND_CAPACITY];
    int cancelled = 0;
    if (batch) {
        batch->generation = request->generation;
        ChildProcess child;
        // Standard error stays unredirected: the listing's warnings must not become rows.
        int have_command = search_command_line(request->text, command, SEARCH_COMMAND_CAPACITY);
        int started = have_command && child_start(command, 0, &child);
        batch->missing = have_command && !started;
        if (started) {
            // A listing takes a few seconds; one that hangs must not keep the window
            // searching for the life of the process. Past the limit it is stopped, and the
            // rows it printed so far are what the search found.
            child.time_limit_ms = g_search_time_limit_ms;
            char line[SEARCH_LINE_CAPACITY];
            OutputLines lines;
            output_lines_init(&lines, line, SEARCH_LINE_CAPACITY);
            // The whole output is read even past the last row kept, so that a child that
            // prints thousands of lines is never left blocked on a full pipe.
            cancelled = child_read_lines(&child, 4095, &g_search.search_cancel, &lines, on_search_line, batch) ==
                        CHILD_READ_CANCELLED;
            child_close(&child);
        }
    }
    heap_free(request);
    if (cancelled || g_search.search_cancel.load()) {
        // The window that asked is gone: nobody is left to tell, and a window opened since
        // must not hear of it.
        heap_free(batch);
        g_search.searching.store(0);
        return 0;
    }
    g_search.searching.store(0);
    HWND window = g_search.window.load();
    if (batch && !(window && PostMessageW(window, MSG_SEARCH_DONE, 0, (LPARAM)batch))) heap_free(batch);
    // Without a batch the window still has to hear that the search ended.
    if (!batch && window) PostMessageW(window, MSG_SEARCH_DONE, 0, 0);
    return 0;
}

void search_thread_start(const wchar_t* text) {
    SearchRequest* request = (SearchRequest*)heap_alloc_zeroed(sizeof(SearchRequest));
    HANDLE thread = nullptr;
    // The previous search has ended (searching was clear), so its flag can be reset.
    g_search.search_cancel.store(0);
    if (request) {
        request->generation = g_search.generation.load();
        wstr_copy(request->text, text);
        thread = CreateThread(nullptr, SEARCH_STACK, search_thread, request, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (thread) {
        CloseHandle(thread);
        return;
    }
    heap_free(request);
    g_search.searching.store(0);
    HWND window = g_search.window.load();
    if (window) PostMessageW(window, MSG_SEARCH_DONE, 0, 0);
}

int search_batch_take(SearchBatch* batch, unsigned generation, SearchResult* rows, int* missing) {
    *missing = 0;
    if (!batch) return 0;
    *missing = batch->missing;
    int count = batch->generation == generation ? batch->count : -1;
    if (count > 0) memcpy(rows, batch->rows, sizeof(SearchResult) * (size_t)count);
    heap_free(batch);
    return count;
}

void search_batch_free(SearchBatch* batch) {
    heap_free(batch);
}

//~ Thumbnails

struct ThumbnailDelivery {
    int row;
    unsigned generation;
    wchar_t video_id[64];
    HBITMAP bitmap;
};

static wchar_t g_thumbnail_base[THUMBNAIL_BASE_CAPACITY] = L"https://" THUMBNAIL_HOST;

void search_set_thumbnail_base(const wchar_t* base) {
    wstr_copy(g_thumbnail_base, base && base[0] ? base : L"https://" THUMBNAIL_HOST);
}

// The picture drawn once into a bitmap of its own, so that no COM object leaves the thread
// (and its apartment) that loaded it.
static HBITMAP render_picture(IPicture* picture) {
    OLE_XSIZE_HIMETRIC hm_width = 0;
    OLE_YSIZE_HIMETRIC hm_height = 0;
    if (FAILED(picture->get_Width(&hm_width)) || FAILED(picture->get_Height(&hm_height))) return nullptr;
    int width = MulDiv(hm_width, 96, 2540);
    int height = MulDiv(hm_height, 96, 2540);
    if (width <= 0 || height <= 0) return nullptr;
    if (width > THUMBNAIL_MAX_SIDE) {
        height = MulDiv(height, THUMBNAIL_MAX_SIDE, width);
        width = THUMBNAIL_MAX_SIDE;
    }
    if (height > THUMBNAIL_MAX_SIDE) {
        width = MulDiv(width, THUMBNAIL_MAX_SIDE, height);
        height = THUMBNAIL_MAX_SIDE;
    }
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        DeleteObject(bitmap);
        return nullptr;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    HRESULT hr = picture->Render(dc, 0, 0, width, height, 0, hm_height, hm_width, -hm_height, nullptr);
    SelectObject(dc, old);
    DeleteDC(dc);
    if (FAILED(hr)) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

static HBITMAP load_thumbnail(const wchar_t* video_id) {
    wchar_t address[SEARCH_ADDRESS_CAPACITY];
    for (int larger = 1; larger >= 0; larger--) {
        if (!thumbnail_address(g_thumbnail_base, video_id, larger, address, SEARCH_ADDRESS_CAPACITY)) continue;
        IPicture* picture = nullptr;
        HRESULT hr = OleLoadPicturePath(address, nullptr, 0, 0, IID_IPicture, (void**)&picture);
        if (SUCCEEDED(hr) && picture) {
            HBITMAP bitmap = render_picture(picture);
            picture->Release();
            if (bitmap) return bitmap;
        } else if (picture) {
            picture->Release();
        }
    }
    return nullptr;
}

static DWORD WINAPI thumbnail_thread(void* arg) {
    ThumbnailDelivery* delivery = (ThumbnailDelivery*)arg;
    HRESULT init = OleInitialize(nullptr);
    delivery->bitmap = load_thumbnail(delivery->video_id);
    if (SUCCEEDED(init)) OleUninitialize();
    // A picture of an older search is not even offered; the window checks again, since a
    // new search may start while the message waits in its queue.
    HWND window = g_search.window.load();
    int posted = delivery->bitmap && window && delivery->generation == g_search.generation.load() &&
                 PostMessageW(window, MSG_SEARCH_THUMB, (WPARAM)delivery->row, (LPARAM)delivery);
    if (!posted) {
        if (delivery->bitmap) DeleteObject(delivery->bitmap);
        heap_free(delivery);
    }
    g_search.thumbnail_threads.fetch_sub(1);
    return 0;
}

void thumbnail_thread_start(int row, unsigned generation, const wchar_t* video_id) {
    ThumbnailDelivery* delivery = (ThumbnailDelivery*)heap_alloc_zeroed(sizeof(ThumbnailDelivery));
    if (!delivery) return;
    delivery->row = row;
    delivery->generation = generation;
    wstr_copy(delivery->video_id, video_id);
    g_search.thumbnail_threads.fetch_add(1);
    HANDLE thread =
        CreateThread(nullptr, THUMBNAIL_STACK, thumbnail_thread, delivery, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    g_search.thumbnail_threads.fetch_sub(1);
    heap_free(delivery);
}

int thumbnail_delivery_take(ThumbnailDelivery* delivery) {
    if (!delivery) return -1;
    int row = delivery->row;
    int keep = g_search.results && delivery->bitmap && delivery->generation == g_search.generation.load() &&
               row >= 0 && row < g_search.result_count &&
               wcscmp(g_search.results[row].video_id, delivery->video_id) == 0;
    if (keep) {
        if (g_search.results[row].thumbnail) DeleteObject(g_search.results[row].thumbnail);
        g_search.results[row].thumbnail = delivery->bitmap;
    } else if (delivery->bitmap) {
        DeleteObject(delivery->bitmap);
    }
    heap_free(delivery);
    return keep ? row : -1;
}

//~ Download

struct SearchDownloadJob {
    HWND owner;
    wchar_t address[SEARCH_ADDRESS_CAPACITY];
    wchar_t folder[260];
};

static void on_download_progress_report(int percent, intptr_t user) {
    SearchDownloadJob* job = (SearchDownloadJob*)user;
    g_search.last_percent.store(percent);
    HWND window = g_search.window.load();
    if (window) PostMessageW(window, MSG_SEARCH_DL_PROGRESS, (WPARAM)percent, 0);
    if (job->owner) PostMessageW(job->owner, MSG_DOWNLOAD_PROGRESS, (WPARAM)percent, 0);
}

static DWORD WINAPI download_thread(void* arg) {
    SearchDownloadJob* job = (SearchDownloadJob*)arg;
    HWND owner = job->owner;
    wchar_t path[260];
    int result = run_downloader(job->address, job->folder, nullptr, on_download_progress_report, (intptr_t)job, path, 260);
    heap_free(job);
    wstr_copy(g_search.download_path, result == 1 ? path : L"");
    g_search.downloading.store(0);
    HWND window = g_search.window.load();
    if (result != 1) {
        if (owner) PostMessageW(owner, MSG_DOWNLOAD_PROGRESS, (WPARAM)-1, 0);
        if (window) PostMessageW(window, MSG_SEARCH_DL_DONE, (WPARAM)(INT_PTR)result, 0);
        return 0;
    }
    // With the search window gone, the main window still learns of the new file.
    if (!(window && PostMessageW(window, MSG_SEARCH_DL_DONE, 1, 0)) && owner) {
        PostMessageW(owner, MSG_DOWNLOAD_DONE, 0, 0);
    }
    return 0;
}

int download_thread_start(HWND owner, const wchar_t* address, const wchar_t* folder) {
    SearchDownloadJob* job = (SearchDownloadJob*)heap_alloc_zeroed(sizeof(SearchDownloadJob));
    if (!job) return 0;
    job->owner = owner;
    wstr_copy(job->address, address);
    wstr_copy(job->folder, folder);
    HANDLE thread = CreateThread(nullptr, DOWNLOAD_STACK, download_thread, job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        heap_free(job);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

//~ Self-update

struct DownloaderUpdateReport {
    int outcome;
    wchar_t version[DOWNLOADER_UPDATE_VERSION_CAPACITY];
};

static DWORD WINAPI update_thread(void*) {
    DownloaderUpdateReport* report = (DownloaderUpdateReport*)heap_alloc_zeroed(sizeof(DownloaderUpdateReport));
    wchar_t version[DOWNLOADER_UPDATE_VERSION_CAPACITY];
    int outcome = downloader_self_update(version, DOWNLOADER_UPDATE_VERSION_CAPACITY, DOWNLOADER_UPDATE_TIME_LIMIT_MS);
    if (report) {
        report->outcome = outcome;
        wstr_copy(report->version, version);
    }
    g_search.updating.store(0);
    // Whichever search window is open now hears of it; with none open, nobody needs to.
    HWND window = g_search.window.load();
    if (report && !(window && PostMessageW(window, MSG_SEARCH_UPDATE_DONE, 0, (LPARAM)report))) heap_free(report);
    return 0;
}

int update_thread_start(void) {
    int idle = 0;
    if (!g_search.updating.compare_exchange_strong(idle, 1)) return 0;
    HANDLE thread = CreateThread(nullptr, UPDATE_STACK, update_thread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        g_search.updating.store(0);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

int update_report_take(DownloaderUpdateReport* report, wchar_t* version, int capacity) {
    if (!report) {
        if (capacity > 0) version[0] = 0;
        return DOWNLOADER_UPDATE_FAILED;
    }
    int outcome = report->outcome;
    wstr_copy(version, capacity, report->version);
    heap_free(report);
    return outcome;
}
