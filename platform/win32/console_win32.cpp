// Windows standard streams and stop requests (see console.h).
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/console.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform {
namespace {

std::atomic<bool> stopFlag{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        stopFlag.store(true);
        return TRUE;
    default: return FALSE;
    }
}

HANDLE handleOf(StdStream stream) {
    switch (stream) {
    case StdStream::In: return GetStdHandle(STD_INPUT_HANDLE);
    case StdStream::Out: return GetStdHandle(STD_OUTPUT_HANDLE);
    case StdStream::Err: return GetStdHandle(STD_ERROR_HANDLE);
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool isTerminal(StdStream stream) {
    DWORD mode = 0;
    return GetConsoleMode(handleOf(stream), &mode) != 0;
}

void setBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

InputWait waitForInput(int timeoutMs) {
    const HANDLE in = handleOf(StdStream::In);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return InputWait::Ended;
    switch (GetFileType(in)) {
    case FILE_TYPE_PIPE: {
        // A pipe cannot be waited on: look at it every 20 ms.
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) return InputWait::Ready;  // ended
            if (available != 0) return InputWait::Ready;
            if (GetTickCount64() >= end) return InputWait::TimedOut;
            Sleep(20);
        }
    }
    case FILE_TYPE_CHAR: {
        DWORD mode = 0;
        if (!GetConsoleMode(in, &mode)) return InputWait::Ready;  // NUL and other devices
        return WaitForSingleObject(in, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs)) == WAIT_OBJECT_0
                   ? InputWait::Ready
                   : InputWait::TimedOut;
    }
    default: return InputWait::Ready;  // a file never makes a read wait
    }
}

long readInput(void* buffer, std::size_t length) {
    const HANDLE in = handleOf(StdStream::In);
    DWORD got = 0;
    if (!ReadFile(in, buffer, static_cast<DWORD>(length), &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return static_cast<long>(got);
}

void catchStopRequests() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool stopRequested() { return stopFlag.load(); }

void surviveClosedPipes() {}

std::string programFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string file(path, n);
    const std::size_t slash = file.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return file.substr(0, slash);
}

}  // namespace tavrin::platform
