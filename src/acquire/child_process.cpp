#include "acquire/child_process.h"

#include <wchar.h>

#include "acquire/output_lines.h"

// Every child is started under this lock: between creating a pipe and closing our copy of
// its write end, that end is inheritable, and a second child started meanwhile by another
// worker would inherit it too, so that the first child's output would never end.
static SRWLOCK g_start_lock = SRWLOCK_INIT;

int command_line_append(wchar_t* line, int capacity, const wchar_t* argument) {
    int length = (int)wcslen(line);
    int at = length;
    auto put = [&](wchar_t c) {
        if (at < capacity - 1) line[at] = c;
        at++;
    };
    if (length > 0) put(L' ');
    put(L'"');
    for (const wchar_t* p = argument; ; p++) {
        int backslashes = 0;
        while (*p == L'\\') {
            backslashes++;
            p++;
        }
        if (*p == 0) {
            // Doubled, so that the closing quote stays a quote.
            for (int i = 0; i < backslashes * 2; i++) put(L'\\');
            break;
        }
        if (*p == L'"') {
            for (int i = 0; i < backslashes * 2 + 1; i++) put(L'\\');
        } else {
            for (int i = 0; i < backslashes; i++) put(L'\\');
        }
        put(*p);
    }
    put(L'"');
    if (at > capacity - 1) {
        line[length] = 0;
        return 0;
    }
    line[at] = 0;
    return 1;
}

void strip_control_characters(wchar_t* text) {
    wchar_t* out = text;
    for (const wchar_t* p = text; *p; p++) {
        wchar_t c = *p;
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029) continue;
        *out++ = c;
    }
    *out = 0;
}

static HANDLE make_kill_on_close_job(void) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

int child_start(const wchar_t* command_line, int capture_errors, ChildProcess* child) {
    child->process = nullptr;
    child->job = nullptr;
    child->output = nullptr;
    child->started_at = GetTickCount();
    child->time_limit_ms = 0;
    // CreateProcessW may write into the command line.
    int length = (int)wcslen(command_line);
    wchar_t* line = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t));
    if (!line) return 0;
    wmemcpy(line, command_line, length + 1);

    AcquireSRWLockExclusive(&g_start_lock);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
        ReleaseSRWLockExclusive(&g_start_lock);
        HeapFree(GetProcessHeap(), 0, line);
        return 0;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = nullptr;
    si.hStdOutput = write_end;
    si.hStdError = capture_errors ? write_end : nullptr;
    PROCESS_INFORMATION pi = {};
    // Suspended until it is in its job, so that nothing it starts can escape the job.
    BOOL started = CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                                  nullptr, &si, &pi);
    CloseHandle(write_end);
    ReleaseSRWLockExclusive(&g_start_lock);
    HeapFree(GetProcessHeap(), 0, line);
    if (!started) {
        CloseHandle(read_end);
        return 0;
    }
    HANDLE job = make_kill_on_close_job();
    if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
        // Inside a job that forbids nesting (older systems): the child alone can be stopped.
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    child->process = pi.hProcess;
    child->job = job;
    child->output = read_end;
    return 1;
}

enum { SILENT_POLL_MS = 40 };

int child_read(ChildProcess* child, char* buffer, int capacity, const std::atomic<int>* cancel) {
    // Without a flag or a limit there is nothing to look at meanwhile: a blocking read
    // waits without waking up.
    int watching = cancel || child->time_limit_ms;
    int child_ended = 0;
    for (;;) {
        if (cancel && cancel->load()) return CHILD_READ_CANCELLED;
        if (child->time_limit_ms && GetTickCount() - child->started_at >= child->time_limit_ms) {
            return CHILD_READ_TIMED_OUT;
        }
        DWORD available = 0;
        if (watching && !PeekNamedPipe(child->output, nullptr, 0, nullptr, &available, nullptr)) return CHILD_READ_END;
        if (watching && available == 0) {
            // Silent output. While the child runs, its end wakes us at once (a child that
            // has ended and took its output with it leaves the pipe broken, which the next
            // peek sees). Once it has ended while something it started still holds the
            // pipe, its handle stays signalled: waiting on it would return at once and spin,
            // so only time is left to wait on.
            if (child_ended) {
                Sleep(SILENT_POLL_MS);
            } else if (WaitForSingleObject(child->process, SILENT_POLL_MS) == WAIT_OBJECT_0) {
                child_ended = 1;
            }
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(child->output, buffer, (DWORD)capacity, &got, nullptr) || got == 0) return CHILD_READ_END;
        return (int)got;
    }
}

int child_read_lines(ChildProcess* child, int chunk_size, const std::atomic<int>* cancel, OutputLines* lines,
                     void (*on_line)(const char* line, int length, void* user), void* user) {
    char chunk[4095];
    if (chunk_size > (int)sizeof chunk) chunk_size = (int)sizeof chunk;
    int result = 0;
    for (;;) {
        int got = child_read(child, chunk, chunk_size, cancel);
        if (got == CHILD_READ_CANCELLED || got == CHILD_READ_TIMED_OUT) {
            child_kill(child);
            result = got;
            break;
        }
        if (got <= 0) break;
        output_lines_feed(lines, chunk, got, on_line, user);
    }
    output_lines_finish(lines, on_line, user);
    return result;
}

void child_kill(ChildProcess* child) {
    if (child->job && TerminateJobObject(child->job, 1)) return;
    if (child->process) TerminateProcess(child->process, 1);
}

DWORD child_finish(ChildProcess* child, DWORD wait_ms) {
    DWORD code = 1;
    if (!child->process) return code;
    if (WaitForSingleObject(child->process, wait_ms) != WAIT_OBJECT_0) {
        child_kill(child);
        return 1;
    }
    if (!GetExitCodeProcess(child->process, &code) || code == STILL_ACTIVE) code = 1;
    return code;
}

void child_close(ChildProcess* child) {
    if (child->output) CloseHandle(child->output);
    if (child->process) CloseHandle(child->process);
    if (child->job) CloseHandle(child->job);
    child->output = child->process = child->job = nullptr;
}
