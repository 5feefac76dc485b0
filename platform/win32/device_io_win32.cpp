// Win32 backend of device_io.h: CreateFileW with FILE_FLAG_OVERLAPPED, ReadFile/WriteFile on an
// OVERLAPPED block, WaitForMultipleObjectsEx on the transfer's event and the port's abort event,
// GetOverlappedResult, and CancelIoEx followed by a wait for the cancelled transfer's end (the
// block and the buffer live in the caller's stack frame).
#include "platform/device_io.h"

#include <cstring>

#include "platform/win32/windows_api.h"

namespace tavrin::platform {

using win32::fromHandle;
using win32::toHandle;

static_assert(sizeof(OVERLAPPED) <= 48, "Transfer::block_ must hold an OVERLAPPED");

OsHandle openDevice(const char16_t* path) {
    HANDLE h = CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return fromHandle(h);
}

bool closeHandle(OsHandle handle) { return CloseHandle(toHandle(handle)) != FALSE; }

bool IoEvent::create() {
    if (valid()) return true;
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (e == nullptr) return false;
    native_ = reinterpret_cast<OsHandle>(e);
    return true;
}

void IoEvent::close() {
    if (!valid()) return;
    CloseHandle(toHandle(native_));
    native_ = kNoHandle;
}

void IoEvent::set() {
    if (valid()) SetEvent(toHandle(native_));
}

bool IoEvent::isSet() const { return valid() && WaitForSingleObject(toHandle(native_), 0) == WAIT_OBJECT_0; }

namespace {
OVERLAPPED* blockOf(void* callerBlock, unsigned char* own) {
    return callerBlock != nullptr ? static_cast<OVERLAPPED*>(callerBlock)
                                  : reinterpret_cast<OVERLAPPED*>(own);
}
}  // namespace

Transfer::Transfer(OsHandle handle, void* callerBlock, IoEvent& ownEvent, const IoEvent& abortEvent)
    : handle_(handle), callerBlock_(callerBlock), ownEvent_(ownEvent), abortEvent_(abortEvent) {
    if (callerBlock_ == nullptr) {
        OVERLAPPED* ov = reinterpret_cast<OVERLAPPED*>(block_);
        std::memset(ov, 0, sizeof *ov);
        ov->hEvent = ownEvent_.valid() ? toHandle(ownEvent_.native()) : nullptr;
    }
}

bool Transfer::hasEvent() const {
    return blockOf(callerBlock_, const_cast<unsigned char*>(block_))->hEvent != nullptr;
}

IoStart Transfer::start(bool write, void* buffer, std::uint32_t length, std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (abortEvent_.isSet()) return IoStart::Failed;
    OVERLAPPED* ov = blockOf(callerBlock_, block_);
    DWORD moved = 0;
    BOOL done = write ? WriteFile(toHandle(handle_), buffer, length, &moved, ov)
                      : ReadFile(toHandle(handle_), buffer, length, &moved, ov);
    if (count != nullptr) *count = moved;
    if (done) return IoStart::Completed;
    if (GetLastError() != ERROR_IO_PENDING) return IoStart::Failed;
    pending_ = true;
    return IoStart::Pending;
}

IoWait Transfer::wait(std::int32_t timeoutMs, std::uint32_t* code) {
    return win32::waitForEvent(blockOf(callerBlock_, block_)->hEvent,
                               abortEvent_.valid() ? toHandle(abortEvent_.native()) : nullptr, timeoutMs, code);
}

bool Transfer::finish(std::uint32_t* count) {
    DWORD moved = 0;
    BOOL ok = GetOverlappedResult(toHandle(handle_), blockOf(callerBlock_, block_), &moved, FALSE);
    if (count != nullptr) *count = ok ? moved : 0;
    if (ok || GetLastError() != ERROR_IO_INCOMPLETE) pending_ = false;  // it has ended either way
    return ok != FALSE;
}

bool Transfer::cancelAndAwait(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (!pending_) return false;  // never started, or already ended
    OVERLAPPED* ov = blockOf(callerBlock_, block_);
    CancelIoEx(toHandle(handle_), ov);
    DWORD moved = 0;
    const BOOL ok = GetOverlappedResult(toHandle(handle_), ov, &moved, TRUE);
    pending_ = false;
    if (ok && count != nullptr) *count = moved;
    return ok != FALSE;
}

void abortTransfers(OsHandle handle, IoEvent& abortEvent) {
    abortEvent.set();
    if (handle != kNoHandle) CancelIoEx(toHandle(handle), nullptr);
}

}  // namespace tavrin::platform

namespace tavrin::platform {

void purgeDevice(OsHandle handle) {
    HANDLE h = toHandle(handle);
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);
}

bool printerRequest(OsHandle handle, PrinterRequest request, void* buffer, std::uint32_t* length) {
    constexpr DWORD kGet1284Id = 0x220034;       // IOCTL_USBPRINT_GET_1284_ID
    constexpr DWORD kGetLptStatus = 0x220030;    // IOCTL_USBPRINT_GET_LPT_STATUS
    constexpr DWORD kVendorSetCommand = 0x220038;  // IOCTL_USBPRINT_VENDOR_SET_COMMAND
    DWORD returned = 0;
    BOOL ok = FALSE;
    switch (request) {
    case PrinterRequest::DeviceId:
    case PrinterRequest::LptStatus:
        ok = DeviceIoControl(toHandle(handle),
                             request == PrinterRequest::DeviceId ? kGet1284Id : kGetLptStatus,
                             nullptr, 0, buffer, length != nullptr ? *length : 0, &returned, nullptr);
        if (length != nullptr) *length = returned;
        break;
    case PrinterRequest::VendorSetCommand: {
        unsigned char command[3] = {0x02, 0x00, 0x00};  // request 2, value 0, no data
        ok = DeviceIoControl(toHandle(handle), kVendorSetCommand, command, sizeof command, nullptr,
                             0, &returned, nullptr);
        break;
    }
    }
    return ok != FALSE;
}

}  // namespace tavrin::platform

namespace tavrin::platform {

bool readWaiting(OsHandle handle, IoEvent& event, void* buffer, std::uint32_t length, std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (!event.valid()) return false;
    if (length == 0) return true;
    HANDLE h = toHandle(handle);
    OVERLAPPED ov{};
    ov.hEvent = toHandle(event.native());
    DWORD moved = 0;
    if (ReadFile(h, buffer, length, &moved, &ov)) {
        if (count != nullptr) *count = moved;
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    // Nothing was waiting. The read is cancelled and its end awaited here, so that it neither
    // takes bytes that come later nor completes into the buffer after the return.
    CancelIoEx(h, &ov);
    if (GetOverlappedResult(h, &ov, &moved, TRUE)) {  // bytes came in the meantime
        if (count != nullptr) *count = moved;
        return true;
    }
    return GetLastError() == ERROR_OPERATION_ABORTED;
}

}  // namespace tavrin::platform
