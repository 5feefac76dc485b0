// Device files opened for overlapped (Windows) or non-blocking (POSIX) I/O, and one transfer on them
// waited for with a time-out. The port layer builds its synchronous read and write on these pieces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/os_types.h"

namespace tavrin::platform {

// Opens an existing device path for reading and writing, without sharing: a second open of the
// same device fails while this one is held. Returns kNoHandle on failure.
OsHandle openDevice(const char16_t* path);

// A manual-reset, unnamed event, created non-signalled. The completion of a transfer signals it.
// A port's abort event is one too: abortTransfers() sets it, and nothing resets it.
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
    // Sets the event; it stays set until the next transfer on it starts (ReadFile and WriteFile
    // reset theirs), or for good when no transfer uses it.
    void set();
    bool isSet() const;

private:
    OsHandle native_ = kNoHandle;
    // POSIX: set() is the only way the event becomes set, so isSet() reads this flag instead of
    // asking the kernel (it is asked before and after every transfer).
    [[maybe_unused]] std::atomic<bool> set_{false};
};

enum class IoStart { Completed, Pending, Failed };
enum class IoWait { Signalled, TimedOut, WaitFailed, Other };

// One read or write on a handle. With no caller block the transfer signals the port's own event;
// with the caller's overlapped block (Windows) it signals the event named in that block. Every
// wait also ends as soon as the port's abort event is set, however late the transfer started.
class Transfer {
public:
    Transfer(OsHandle handle, void* callerBlock, IoEvent& ownEvent, const IoEvent& abortEvent);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // False when the transfer has no event to signal (the caller's block names none).
    bool hasEvent() const;
    // True when the event in use is the port's own one.
    bool usesOwnEvent() const { return callerBlock_ == nullptr; }

    // Starts the transfer; Failed at once when the port has been aborted. Completed: *count holds
    // the bytes moved.
    IoStart start(bool write, void* buffer, std::uint32_t length, std::uint32_t* count);
    // Waits for the event or the abort. Other: *code receives the system's wait result.
    IoWait wait(std::int32_t timeoutMs, std::uint32_t* code);
    // Collects the result of a signalled transfer without waiting; false after an abort.
    bool finish(std::uint32_t* count);
    // Cancels the transfer if it is still outstanding and waits until it has ended, so that
    // nothing refers to the block or the buffer afterwards and no late completion signals the
    // event of the next one. True when it had completed all the same (the cancel came too late):
    // *count then holds the bytes it moved. Not for a transfer on the caller's block.
    bool cancelAndAwait(std::uint32_t* count);

private:
    OsHandle handle_;
    [[maybe_unused]] void* callerBlock_;  // Windows: the caller's OVERLAPPED block, if any
    IoEvent& ownEvent_;
    const IoEvent& abortEvent_;
    // Windows: the OVERLAPPED block of a transfer without a caller block, and whether the system
    // holds it (the transfer is pending).
    [[maybe_unused]] alignas(8) unsigned char block_[48] = {};
    [[maybe_unused]] bool pending_ = false;
    // POSIX: what start() left to do once the device is ready.
    bool write_ = false;
    bool startFailed_ = false;
    void* buffer_ = nullptr;
    std::uint32_t length_ = 0;
};

// Called from another thread: sets the port's abort event, so that every transfer of the port
// that is waiting, or waits later, ends at once with failure, and one that starts afterwards
// fails. Windows: the transfers outstanding on the handle are cancelled as well (those on
// callers' blocks included). The handle stays open; its owner closes it once the transfers have
// returned.
void abortTransfers(OsHandle handle, IoEvent& abortEvent);

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
