#include "acquire/output_lines.h"

void output_lines_feed(OutputLines* lines, const char* bytes, int count,
                       void (*on_line)(const char* line, int length, void* user), void* user) {
    for (int i = 0; i < count; i++) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            output_lines_finish(lines, on_line, user);
            continue;
        }
        // Bytes past the line's capacity are dropped up to its end.
        if (lines->length < lines->capacity - 1) lines->line[lines->length++] = c;
    }
}

void output_lines_finish(OutputLines* lines, void (*on_line)(const char* line, int length, void* user),
                         void* user) {
    if (lines->length == 0) return;
    int length = lines->length;
    lines->line[length] = 0;
    lines->length = 0;
    on_line(lines->line, length, user);
}
