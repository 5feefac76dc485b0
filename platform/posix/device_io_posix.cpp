// POSIX backend of device_io.h. A device file is opened non-blocking and locked exclusively; a
// transfer is tried at once, and when the device is not ready it is "pending": wait() polls the
// device together with the port's abort event (an eventfd that abortTransfers() makes readable
// for good), and finish() moves the bytes once the device is ready. Nothing is queued in the
// kernel, so a transfer that was not finished moved nothing and there is nothing to cancel. A
// transfer the system refused at start is never signalled, as on Windows: its wait runs the full
// time-out unless the port is aborted. A caller's overlapped block has no meaning here and is
// ignored: the transfer is the same as without one.
#include "platform/device_io.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "platform/posix/posix_handles.h"
#include "platform/posix/socket_posix.h"
#include "platform/posix/text_posix.h"

namespace tavrin::platform {

OsHandle openDevice(const char16_t* path) {
    if (path == nullptr) return kNoHandle;
    // A USB interface path names its device file before the first '#' (platform/usb_tree.h).
    std::string p = posix::toUtf8(path);
    p = p.substr(0, p.find('#'));
    // No sharing: a second open of the same device fails while this one holds the lock.
    posix::ScopedFd fd = posix::openExclusive(p.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    return fd ? fd.release() : kNoHandle;
}

bool closeHandle(OsHandle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool IoEvent::create() {
    if (valid()) return true;
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return false;
    native_ = fd;
    set_.store(false);
    return true;
}

void IoEvent::close() {
    if (!valid()) return;
    ::close(static_cast<int>(native_));
    native_ = kNoHandle;
    set_.store(false);
}

void IoEvent::set() {
    // The counter is never read back: the eventfd stays readable.
    const std::uint64_t one = 1;
    if (valid()) {
        set_.store(true);
        [[maybe_unused]] ssize_t n = ::write(static_cast<int>(native_), &one, sizeof one);
    }
}

bool IoEvent::isSet() const { return valid() && set_.load(); }

Transfer::Transfer(OsHandle handle, void*, IoEvent& ownEvent, const IoEvent& abortEvent)
    : handle_(handle), callerBlock_(nullptr), ownEvent_(ownEvent), abortEvent_(abortEvent) {}

bool Transfer::hasEvent() const { return ownEvent_.valid(); }

IoStart Transfer::start(bool write, void* buffer, std::uint32_t length, std::uint32_t* count) {
    write_ = write;
    buffer_ = buffer;
    length_ = length;
    startFailed_ = false;
    if (count != nullptr) *count = 0;
    if (abortEvent_.isSet()) {  // aborted: nothing more may start
        startFailed_ = true;
        return IoStart::Failed;
    }
    int fd = static_cast<int>(handle_);
    const ssize_t n = write ? ::write(fd, buffer, length) : ::read(fd, buffer, length);
    const IoStart outcome = posix::startOutcome(n, false, count);
    startFailed_ = outcome == IoStart::Failed;
    return outcome;
}

IoWait Transfer::wait(std::int32_t timeoutMs, std::uint32_t* code) {
    return posix::waitTransfer(static_cast<int>(abortEvent_.native()), static_cast<int>(handle_), write_,
                               startFailed_, timeoutMs, code);
}

bool Transfer::finish(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (startFailed_ || abortEvent_.isSet()) return false;
    int fd = static_cast<int>(handle_);
    ssize_t n = write_ ? ::write(fd, buffer_, length_) : ::read(fd, buffer_, length_);
    if (n <= 0) return false;
    if (count != nullptr) *count = static_cast<std::uint32_t>(n);
    return true;
}

bool Transfer::cancelAndAwait(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    return false;  // nothing was queued: an unfinished transfer moved no bytes
}

void abortTransfers(OsHandle, IoEvent& abortEvent) { abortEvent.set(); }

}  // namespace tavrin::platform

#include <sys/ioctl.h>
#include <termios.h>

namespace tavrin::platform {

void purgeDevice(OsHandle handle) {
    int fd = static_cast<int>(handle);
    if (::isatty(fd)) ::tcflush(fd, TCIOFLUSH);
}

bool printerRequest(OsHandle handle, PrinterRequest request, void* buffer, std::uint32_t* length) {
    // The usblp driver's requests: IOCNR_GET_DEVICE_ID (1) and LPGETSTATUS. It has no generic
    // vendor request.
    int fd = static_cast<int>(handle);
    switch (request) {
    case PrinterRequest::DeviceId: {
        if (length == nullptr || buffer == nullptr) return false;
        unsigned long code = _IOC(_IOC_READ, 'P', 1, *length);
        if (::ioctl(fd, code, buffer) < 0) return false;
        const auto* b = static_cast<const unsigned char*>(buffer);
        std::uint32_t n = *length >= 2 ? (static_cast<std::uint32_t>(b[0]) << 8 | b[1]) : 0;
        *length = n < *length ? n : *length;
        return true;
    }
    case PrinterRequest::LptStatus: {
        if (length == nullptr || buffer == nullptr || *length < 1) return false;
        int status = 0;
        if (::ioctl(fd, 0x060b /* LPGETSTATUS */, &status) < 0) return false;
        *static_cast<unsigned char*>(buffer) = static_cast<unsigned char>(status);
        *length = 1;
        return true;
    }
    case PrinterRequest::VendorSetCommand: return false;
    }
    return false;
}

}  // namespace tavrin::platform

namespace tavrin::platform {

bool readWaiting(OsHandle handle, IoEvent& event, void* buffer, std::uint32_t length, std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (!event.valid() || event.isSet()) return false;  // aborted
    if (length == 0) return true;
    // The device file is non-blocking: a read takes what is there and never waits.
    const ssize_t n = ::read(static_cast<int>(handle), buffer, length);
    if (n >= 0) {
        if (count != nullptr) *count = static_cast<std::uint32_t>(n);
        return true;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace tavrin::platform
