#pragma once
// Bounded wide-string helpers. Every fixed text buffer in the program is filled through
// these: at most capacity-1 characters are written and the last slot is always a
// terminator, so over-long input is cut silently instead of overrunning the buffer. A cut
// never ends in the first half of a surrogate pair: that half is dropped, so a cut text
// ends before the character instead of in the middle of it.
#include <wchar.h>

// Whether c is the first half of a surrogate pair.
inline int wstr_is_high_surrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Copies src into dst; returns the number of characters copied (0 when nothing fits).
int wstr_copy(wchar_t* dst, int capacity, const wchar_t* src);

// Like wstr_copy, but reads at most src_length characters of src.
int wstr_copy_n(wchar_t* dst, int capacity, const wchar_t* src, int src_length);

// Appends src to the terminated text in dst; returns the new length.
int wstr_append(wchar_t* dst, int capacity, const wchar_t* src);

// printf-style formatting into dst, cut to fit. The format must be a literal of the
// program: received text travels only as an argument ("%ls"). Returns the length written.
int wstr_format(wchar_t* dst, int capacity, const wchar_t* format, ...);

template <int N>
inline int wstr_copy(wchar_t (&dst)[N], const wchar_t* src) { return wstr_copy(dst, N, src); }
