// POSIX backend of device_io.h. A device file is opened non-blocking and locked exclusively; a
// transfer is tried at once, and when the device is not ready it is "pending": wait() polls the
// device together with the port's event (an eventfd that abortTransfers() signals), and finish()
// moves the bytes once the device is ready. A transfer the system refused at start is never
// signalled, as on Windows: its wait runs the full time-out. A caller's overlapped block has no
// meaning here and is treated as none.
#include "platform/device_io.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "platform/posix/socket_posix.h"
#include "platform/posix/text_posix.h"

namespace tavrin::platform {

OsHandle openDevice(const char16_t* path) {
    if (path == nullptr) return kNoHandle;
    // A USB interface path names its device file before the first '#' (platform/usb_tree.h).
    std::string p = posix::toUtf8(path);
    p = p.substr(0, p.find('#'));
    int fd = ::open(p.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return kNoHandle;
    // No sharing: a second open of the same device fails while this one holds the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kNoHandle;
    }
    return fd;
}

bool closeHandle(OsHandle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool IoEvent::create() {
    if (valid()) return true;
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return false;
    native_ = fd;
    return true;
}

void IoEvent::close() {
    if (!valid()) return;
    ::close(static_cast<int>(native_));
    native_ = kNoHandle;
}

namespace {

bool eventSignalled(const IoEvent& e) { return posix::isReadable(static_cast<int>(e.native())); }

}  // namespace

Transfer::Transfer(OsHandle handle, void*, IoEvent& ownEvent)
    : handle_(handle), callerBlock_(nullptr), ownEvent_(ownEvent) {}

bool Transfer::hasEvent() const { return ownEvent_.valid(); }

IoStart Transfer::start(bool write, void* buffer, std::uint32_t length, std::uint32_t* count) {
    write_ = write;
    buffer_ = buffer;
    length_ = length;
    startFailed_ = false;
    if (count != nullptr) *count = 0;
    if (eventSignalled(ownEvent_)) {  // aborted: nothing more may start
        startFailed_ = true;
        return IoStart::Failed;
    }
    int fd = static_cast<int>(handle_);
    ssize_t n = write ? ::write(fd, buffer, length) : ::read(fd, buffer, length);
    if (n > 0) {
        if (count != nullptr) *count = static_cast<std::uint32_t>(n);
        return IoStart::Completed;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return IoStart::Pending;
    startFailed_ = true;
    return IoStart::Failed;
}

IoWait Transfer::wait(std::int32_t timeoutMs, std::uint32_t* code) {
    return posix::waitTransfer(static_cast<int>(ownEvent_.native()), static_cast<int>(handle_), write_, startFailed_,
                               timeoutMs, code);
}

bool Transfer::finish(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (startFailed_ || eventSignalled(ownEvent_)) return false;
    int fd = static_cast<int>(handle_);
    ssize_t n = write_ ? ::write(fd, buffer_, length_) : ::read(fd, buffer_, length_);
    if (n <= 0) return false;
    if (count != nullptr) *count = static_cast<std::uint32_t>(n);
    return true;
}

void Transfer::cancel() {
    // Nothing is queued in the kernel: a transfer that was not finished moved no bytes.
}

void abortTransfers(OsHandle, IoEvent& readEvent, IoEvent& writeEvent) {
    const std::uint64_t one = 1;
    // The events are made here when no transfer has made them yet, so that one starting later
    // finds them signalled.
    for (IoEvent* e : {&readEvent, &writeEvent})
        if (e->create()) {
            [[maybe_unused]] ssize_t n = ::write(static_cast<int>(e->native()), &one, sizeof one);
        }
}

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
