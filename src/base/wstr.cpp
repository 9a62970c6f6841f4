#include "base/wstr.h"

#include <stdarg.h>
#include <stdio.h>

// The length of a text cut after n characters, without a half pair at its end.
static int surrogate_safe_length(const wchar_t* text, int n) {
    return n > 0 && wstr_is_high_surrogate(text[n - 1]) ? n - 1 : n;
}

int wstr_copy_n(wchar_t* dst, int capacity, const wchar_t* src, int src_length) {
    if (!dst || capacity <= 0) return 0;
    int n = 0;
    if (src) {
        while (n < capacity - 1 && n < src_length && src[n]) {
            dst[n] = src[n];
            n++;
        }
        // Stopped by the room or by src_length rather than by the terminator: a cut.
        if (n == src_length || (n == capacity - 1 && src[n])) n = surrogate_safe_length(dst, n);
    }
    dst[n] = 0;
    return n;
}

int wstr_copy(wchar_t* dst, int capacity, const wchar_t* src) {
    return wstr_copy_n(dst, capacity, src, 0x7fffffff);
}

int wstr_append(wchar_t* dst, int capacity, const wchar_t* src) {
    if (!dst || capacity <= 0) return 0;
    int len = 0;
    while (len < capacity - 1 && dst[len]) len++;
    return len + wstr_copy(dst + len, capacity - len, src);
}

int wstr_format(wchar_t* dst, int capacity, const wchar_t* format, ...) {
    if (!dst || capacity <= 0) return 0;
    dst[0] = 0;
    if (!format) return 0;
    va_list args;
    va_start(args, format);
    // _vsnwprintf neither terminates nor reports the length when the text does not fit,
    // so the terminator is placed by hand in every case.
    int n = _vsnwprintf(dst, (size_t)(capacity - 1), format, args);
    va_end(args);
    if (n < 0 || n >= capacity - 1) n = surrogate_safe_length(dst, capacity - 1);
    dst[n] = 0;
    return n;
}
