#pragma once
// Hidden console children whose output we read through a pipe: the downloader and its
// search listing. Each child runs in a job object of its own, so that stopping it stops
// every process it started (the downloader is a launcher that starts the real program,
// which may start a converter in turn).
#include <windows.h>

#include <atomic>

// Appends one argument to a command line, quoted so that CommandLineToArgvW (and the C
// runtime's parser) give it back unchanged: backslashes before a quote or before the
// closing quote are doubled, quotes are escaped. A blank goes first unless the line is
// empty. Returns 0, leaving the line as it was, when the result would not fit.
int command_line_append(wchar_t* line, int capacity, const wchar_t* argument);

// Removes control characters (C0, DEL, C1) and the Unicode line and paragraph
// separators from text in place: search words and titles from other people must not
// carry line breaks or terminal controls into a child's command line.
void strip_control_characters(wchar_t* text);

struct ChildProcess {
    HANDLE process;
    HANDLE job;     // none when the system would not give us one; then only the child is stopped
    HANDLE output;  // read end of the pipe the child writes its standard output to
    DWORD started_at;     // tick count when it was started
    DWORD time_limit_ms;  // 0: none; else reading gives up this long after the start
};

// Starts command_line (its first word is looked for beside the program and on the search
// path) hidden, without a console window, standard output to the pipe and standard error
// too when capture_errors is set, standard input none. Returns 0 with nothing left open
// when the pipe or the process cannot be made.
int child_start(const wchar_t* command_line, int capture_errors, ChildProcess* child);

enum { CHILD_READ_END = 0, CHILD_READ_CANCELLED = -1, CHILD_READ_TIMED_OUT = -2 };

// Reads the next chunk of output, at most capacity bytes. Returns the number of bytes,
// CHILD_READ_END when the child (and every process holding its output) closed it,
// CHILD_READ_CANCELLED once *cancel is non-zero, or CHILD_READ_TIMED_OUT once the child's
// time limit has passed. The flag and the limit are looked at before every chunk and,
// while the output is silent, every few tens of milliseconds, so that a child that prints
// nothing can still be stopped. cancel may be null.
int child_read(ChildProcess* child, char* buffer, int capacity, const std::atomic<int>* cancel);

struct OutputLines;

// Reads the child's output in chunks of at most chunk_size bytes (at most 4095) into lines
// until it ends, handing each line to on_line. Returns 0 when it ended, or
// CHILD_READ_CANCELLED / CHILD_READ_TIMED_OUT as child_read gives them (the child is then
// stopped).
int child_read_lines(ChildProcess* child, int chunk_size, const std::atomic<int>* cancel, OutputLines* lines,
                     void (*on_line)(const char* line, int length, void* user), void* user);

// Stops the child and everything it started, with exit code 1.
void child_kill(ChildProcess* child);

// Waits at most wait_ms for the child to end and gives its exit code; 1 when it cannot be
// read or the child still runs (which then is stopped).
DWORD child_finish(ChildProcess* child, DWORD wait_ms);

// Closes every handle; whatever of the child's tree still runs is stopped with the job.
void child_close(ChildProcess* child);
