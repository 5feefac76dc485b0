// Device files opened for overlapped (Windows) or non-blocking (POSIX) I/O, and one transfer on them
// waited for with a time-out. The port layer builds its synchronous read and write on these pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/os_types.h"

namespace tavrin::platform {

// Opens an existing device path for reading and writing, without sharing: a second open of the
// same device fails while this one is held. Returns kNoHandle on failure.
OsHandle openDevice(const char16_t* path);

// A manual-reset, unnamed event, created non-signalled. The completion of a transfer signals it;
// so does abortTransfers().
class IoEvent {
public:
    IoEvent() = default;
    IoEvent(const IoEvent&) = delete;
    IoEvent& operator=(const IoEvent&) = delete;
    ~IoEvent() { close(); }

    bool create();
    void close();
    bool valid() const { return native_ != kNoHandle; }
    OsHandle native() const { return native_; }

private:
    OsHandle native_ = kNoHandle;
};

enum class IoStart { Completed, Pending, Failed };
enum class IoWait { Signalled, TimedOut, WaitFailed, Other };

// One read or write on a handle. With no caller block the transfer signals the port's own event;
// with the caller's overlapped block (Windows) it signals the event named in that block.
class Transfer {
public:
    Transfer(OsHandle handle, void* callerBlock, IoEvent& ownEvent);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // False when the transfer has no event to signal (the caller's block names none).
    bool hasEvent() const;
    // True when the event in use is the port's own one.
    bool usesOwnEvent() const { return callerBlock_ == nullptr; }

    // Starts the transfer. Completed: *count holds the bytes moved.
    IoStart start(bool write, void* buffer, std::uint32_t length, std::uint32_t* count);
    // Waits for the event. Other: *code receives the system's wait result.
    IoWait wait(std::int32_t timeoutMs, std::uint32_t* code);
    // Collects the result of a signalled transfer without waiting.
    bool finish(std::uint32_t* count);
    // Cancels what is outstanding on the handle.
    void cancel();

private:
    OsHandle handle_;
    void* callerBlock_;
    IoEvent& ownEvent_;
    // Windows: the OVERLAPPED block of a transfer without a caller block.
    alignas(8) unsigned char block_[48] = {};
    // POSIX: what start() left to do once the device is ready.
    bool write_ = false;
    bool startFailed_ = false;
    void* buffer_ = nullptr;
    std::uint32_t length_ = 0;
};

// Called from another thread: makes every transfer outstanding on the handle end at once, with
// failure, and one that starts afterwards fails. The handle stays open; its owner closes it once
// the transfers have returned.
void abortTransfers(OsHandle handle, IoEvent& readEvent, IoEvent& writeEvent);

}  // namespace tavrin::platform

namespace tavrin::platform {

// One read of what the device holds already, without waiting for more: true with *count bytes
// (0 when nothing is waiting), false when the read failed or the port was aborted. A read that
// could not complete at once is cancelled and its end awaited before the call returns, so that
// nothing is left outstanding on the handle or refers to the buffer.
bool readWaiting(OsHandle handle, IoEvent& event, void* buffer, std::uint32_t length, std::uint32_t* count);

// PurgeComm with all four purge flags, then ClearCommError (POSIX: tcflush of a terminal).
void purgeDevice(OsHandle handle);

// The USB printer-class requests (Windows: DeviceIoControl with IOCTL_USBPRINT_*; POSIX: the
// usblp driver's ioctls where it has one). *length gives the buffer's size and receives the
// bytes returned.
enum class PrinterRequest { DeviceId, LptStatus, VendorSetCommand };
bool printerRequest(OsHandle handle, PrinterRequest request, void* buffer, std::uint32_t* length);

}  // namespace tavrin::platform
