// Win32 backend of device_peer.h: the server end of an overlapped byte-mode named pipe with small
// buffers. The library opens the pipe's name with CreateFileW like a device path.
#include <atomic>
#include <string>

#include "platform/device_peer.h"
#include "platform/win32/win32_handles.h"

namespace tavrin::platform {

namespace {

constexpr DWORD kPipeBuffer = 4096;

class PipePeer final : public DevicePeer {
public:
    PipePeer(HANDLE pipe, std::wstring name)
        : pipe_(pipe), name_(std::move(name)), readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          connectEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        connect_.hEvent = connectEvent_.get();
        if (!ConnectNamedPipe(pipe_.get(), &connect_)) {
            DWORD e = GetLastError();
            connected_ = e == ERROR_PIPE_CONNECTED;
            pending_ = e == ERROR_IO_PENDING;
        }
    }
    ~PipePeer() override { close(); }

    std::u16string path() const override {
        return std::u16string(reinterpret_cast<const char16_t*>(name_.c_str()));
    }

    long read(void* buffer, std::size_t length, int timeoutMs) override {
        if (!pipe_.valid()) return -1;
        if (!waitConnected(timeoutMs)) return 0;
        OVERLAPPED ov = {};
        ov.hEvent = readEvent_.get();
        DWORD n = 0;
        if (ReadFile(pipe_.get(), buffer, static_cast<DWORD>(length), &n, &ov)) return static_cast<long>(n);
        DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) return e == ERROR_BROKEN_PIPE || e == ERROR_PIPE_NOT_CONNECTED ? 0 : -1;
        if (WaitForSingleObject(readEvent_.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            CancelIo(pipe_.get());
            GetOverlappedResult(pipe_.get(), &ov, &n, TRUE);
            return static_cast<long>(n);
        }
        if (!GetOverlappedResult(pipe_.get(), &ov, &n, FALSE)) return 0;
        return static_cast<long>(n);
    }

    bool write(const void* data, std::size_t length) override {
        if (!pipe_.valid() || !waitConnected(5000)) return false;
        const auto* p = static_cast<const unsigned char*>(data);
        while (length > 0) {
            OVERLAPPED ov = {};
            ov.hEvent = writeEvent_.get();
            DWORD n = 0;
            if (!WriteFile(pipe_.get(), p, static_cast<DWORD>(length), &n, &ov)) {
                if (GetLastError() != ERROR_IO_PENDING) return false;
                if (!GetOverlappedResult(pipe_.get(), &ov, &n, TRUE)) return false;
            }
            p += n;
            length -= n;
        }
        return true;
    }

    bool released(int timeoutMs) override {
        // A pipe serves one client at a time: once the library's side has gone, the pipe is made
        // ready for the next open.
        if (!pipe_.valid()) return false;
        for (int waited = 0;; waited += 10) {
            if (pending_ && WaitForSingleObject(connectEvent_.get(), 0) != WAIT_OBJECT_0) return true;
            waitConnected(0);
            DWORD avail = 0;
            const BOOL peeked = PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &avail, nullptr);
            if (peeked && avail > 0) {  // what the old connection left unread goes
                char sink[4096];
                read(sink, sizeof sink, 0);
                continue;
            }
            if (!peeked && GetLastError() == ERROR_BROKEN_PIPE) return listenAgain();
            if (waited >= timeoutMs) return false;
            Sleep(10);
        }
    }

    bool rearm() override {
        if (!pipe_.valid() || !connected_) return false;
        DWORD avail = 0;
        if (PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &avail, nullptr) || GetLastError() != ERROR_BROKEN_PIPE)
            return false;
        listenAgain();
        return true;
    }

    void close() override {
        if (!pipe_.valid()) return;
        if (pending_) CancelIo(pipe_.get());
        DisconnectNamedPipe(pipe_.get());
        pipe_.reset();
    }

private:
    // The client has gone: the pipe waits for the next one.
    bool listenAgain() {
        DisconnectNamedPipe(pipe_.get());
        ResetEvent(connectEvent_.get());
        connect_ = {};
        connect_.hEvent = connectEvent_.get();
        connected_ = false;
        pending_ = false;
        if (!ConnectNamedPipe(pipe_.get(), &connect_)) {
            const DWORD e = GetLastError();
            pending_ = e == ERROR_IO_PENDING;
            connected_ = e == ERROR_PIPE_CONNECTED;
        }
        return pending_;
    }

    bool waitConnected(int timeoutMs) {
        if (connected_) return true;
        if (!pending_) return false;
        if (WaitForSingleObject(connectEvent_.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
            return false;
        DWORD n = 0;
        connected_ = GetOverlappedResult(pipe_.get(), &connect_, &n, FALSE) != FALSE;
        pending_ = false;
        return connected_;
    }

    win32::ScopedFileHandle pipe_;
    std::wstring name_;
    win32::ScopedKernelHandle readEvent_, writeEvent_, connectEvent_;
    OVERLAPPED connect_ = {};
    bool connected_ = false;
    bool pending_ = false;
};

std::atomic<unsigned> pipeCounter{0};

}  // namespace

std::unique_ptr<DevicePeer> DevicePeer::create(const std::string& tag) {
    std::wstring name = L"\\\\.\\pipe\\tavrin-" + std::wstring(tag.begin(), tag.end()) + L"-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++pipeCounter);
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBuffer,
                                   kPipeBuffer, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<PipePeer>(pipe, name);
}

}  // namespace tavrin::platform
