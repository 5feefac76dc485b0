// The device's end of a stand-in device: a byte stream whose other end the library opens by path
// as a device file (POSIX: the master side of a pseudo-terminal in raw mode, the library opening
// its slave; Windows: the server end of an overlapped named pipe, the library opening the pipe's
// name). The simulator and the tests play devices through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tavrin::platform {

class DevicePeer {
public:
    // A new endpoint; tag makes the path recognisable. Null when the system cannot make one.
    static std::unique_ptr<DevicePeer> create(const std::string& tag);

    virtual ~DevicePeer() = default;

    // The path the library opens, as UTF-16.
    virtual std::u16string path() const = 0;
    // Reads what the library wrote, waiting up to timeoutMs for the first byte; the bytes read,
    // 0 on time-out, -1 when the stream is broken.
    virtual long read(void* buffer, std::size_t length, int timeoutMs) = 0;
    // Writes all bytes for the library to read; false when the stream is broken.
    virtual bool write(const void* data, std::size_t length) = 0;
    // True once the library's side has closed the device (waiting up to timeoutMs for that); the
    // endpoint is then ready to be opened again. Bytes the library wrote and nobody read may be
    // discarded.
    virtual bool released(int timeoutMs) = 0;
    // Ends the stream: the library's side sees the device go away.
    virtual void close() = 0;
    // For a server that serves the endpoint for a long time, called when its reads stay empty:
    // when the library's side has closed the device, makes the endpoint ready for the next open
    // and returns true. Never discards bytes. A pseudo-terminal needs nothing of the kind.
    virtual bool rearm() { return false; }
};

}  // namespace tavrin::platform
