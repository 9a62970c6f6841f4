#pragma once
// Cuts a child's output into lines across reads: a line ends at CR or LF, keeps at most
// its first capacity-1 bytes (the rest up to the line end is dropped), and empty lines are
// skipped. The caller owns the buffer, so the progress reader and the search listing each
// choose their own line length.
struct OutputLines {
    char* line;
    int capacity;
    int length;
};

inline void output_lines_init(OutputLines* lines, char* buffer, int capacity) {
    lines->line = buffer;
    lines->capacity = capacity;
    lines->length = 0;
    if (capacity > 0) buffer[0] = 0;
}

// Calls on_line(line, length, user) for every line completed by these bytes; the line is
// NUL-terminated at length.
void output_lines_feed(OutputLines* lines, const char* bytes, int count,
                       void (*on_line)(const char* line, int length, void* user), void* user);

// Hands over a last line that had no line break when the output ended.
void output_lines_finish(OutputLines* lines, void (*on_line)(const char* line, int length, void* user),
                         void* user);
