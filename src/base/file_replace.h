#pragma once
// Small files that must never be left cut (settings, identity, friends) are written whole to
// a temporary file beside them, which then replaces them.
#include <wchar.h>

// Writes data to target through "<target>.tmp". Returns 1 on success; on failure the old
// target is left as it was and the temporary file removed. A read-only target is not
// replaced (some systems would let the rename through).
int file_replace_contents(const wchar_t* target, const char* data, int length);
