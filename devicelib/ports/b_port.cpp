#include "devicelib/ports/b_port.h"

#include "platform/sync.h"

namespace tavrin {

namespace {
constexpr const char16_t* kSyncIo = u"CBPort::syncIOAccess";
constexpr int kWriteWaits = 4;           // a write waits four times its time-out ...
constexpr std::uint32_t kWritePauseMs = 100;  // ... with a pause between two waits
}  // namespace

CBPort::~CBPort() {
    readEvent_.close();
    writeEvent_.close();
    abortEvent_.close();
    if (handle_ != platform::kNoHandle) platform::closeHandle(handle_);
}

bool CBPort::ensureEvent(platform::IoEvent& event) {
    std::lock_guard<std::mutex> guard(eventLock_);
    return event.create() && abortEvent_.create();
}

std::int32_t CBPort::syncIOAccess(std::uint8_t direction, void* overlapped, void* buffer,
                                  std::uint32_t length, std::uint32_t* count,
                                  std::int32_t timeoutMs) {
    if (count != nullptr) *count = 0;
    if (length == 0) return 1;

    const bool write = direction == 1;
    platform::IoEvent& ownEvent = write ? writeEvent_ : readEvent_;
    // The port's events exist whatever the caller passes, so that every call behaves alike.
    if (!ensureEvent(ownEvent)) return 0;
    platform::Transfer transfer(handle_, overlapped, ownEvent, abortEvent_);
    if (!transfer.hasEvent()) return 0;

    if (aborted_.load()) return 0;
    platform::IoStart started = transfer.start(write, buffer, length, count);
    if (started == platform::IoStart::Completed) return 1;
    // A transfer on the caller's own block stays with the caller.
    if (!transfer.usesOwnEvent()) return 0;

    // A transfer that is given up is cancelled, and its end awaited: the block and the buffer
    // are in this frame and the caller's. One that completed before the cancel took hold is done.
    auto giveUp = [&]() -> std::int32_t { return transfer.cancelAndAwait(count) ? 1 : 0; };
    PortLog& log = portLog();
    for (int waits = 1;; ++waits) {
        std::uint32_t code = 0;
        switch (transfer.wait(timeoutMs, &code)) {
        case platform::IoWait::Signalled:
            if (transfer.finish(count)) return 1;
            return giveUp();
        case platform::IoWait::WaitFailed:
            log.funcLine(kSyncIo, u"syncIOAccess WAIT_FAILED\r\n");
            return giveUp();
        case platform::IoWait::TimedOut:
            if (write && waits < kWriteWaits && !aborted_.load()) {
                platform::sleepMs(kWritePauseMs);
                continue;
            }
            if (write) log.funcLine(kSyncIo, u"syncIOAccess write timeout \r\n");
            return giveUp();
        case platform::IoWait::Other:
            log.funcLine(kSyncIo, u"syncIOAccess fail 0x%x\r\n", code);
            return giveUp();
        }
    }
}

std::int32_t CBPort::readPort(void* buffer, std::uint32_t length, std::uint32_t* count,
                              void* overlapped) {
    if (handle_ == platform::kNoHandle) return 0;
    return syncIOAccess(0, overlapped, buffer, length, count, readTimeout_);
}

std::int32_t CBPort::writePort(const void* buffer, std::uint32_t length, std::uint32_t* count,
                               void* overlapped) {
    if (handle_ == platform::kNoHandle) return 0;
    // The write only reads the buffer.
    return syncIOAccess(1, overlapped, const_cast<void*>(buffer), length, count, writeTimeout_);
}

void CBPort::purgePort() {
    if (handle_ != platform::kNoHandle) platform::purgeDevice(handle_);
}

std::int32_t CBPort::openPort(const char16_t* path, std::uint16_t /*openFlag*/) {
    if (handle_ != platform::kNoHandle) return 0;
    portLog().funcLine(u"CBPort::openPort", u"path = %s\r\n", path);
    handle_ = platform::openDevice(path);
    if (handle_ == platform::kNoHandle) return 0;
    aborted_.store(false);
    return 1;
}

std::int32_t CBPort::openPort(const _DEVOPEN_INFO*, std::uint16_t) { return 0; }

std::int32_t CBPort::reOpenPort(std::int32_t) { return 1; }

std::int32_t CBPort::closePort() {
    {
        std::lock_guard<std::mutex> guard(eventLock_);
        readEvent_.close();
        writeEvent_.close();
        abortEvent_.close();  // a port opened again starts without an abort
    }
    if (handle_ == platform::kNoHandle) return 1;
    bool closed = platform::closeHandle(handle_);
    handle_ = platform::kNoHandle;
    return closed ? 1 : 0;
}

std::int32_t CBPort::getDeviceId(std::uint8_t*, std::uint32_t*) { return 0; }

std::int32_t CBPort::getLptStatus(std::uint8_t*, std::uint32_t*) { return 0; }

std::int32_t CBPort::isPortOpen() { return handle_ != platform::kNoHandle ? 1 : 0; }

std::int32_t CBPort::vendorSetCommand() { return 0; }

std::int32_t CBPort::selectPortValue(const std::uint16_t* table, std::uint8_t index) {
    if (table != nullptr && index != 0) selected_ = table[index - 1];
    return 1;
}

void CBPort::getPortInfo(PortInfo* info) {
    if (info == nullptr) return;
    info->reserved = 0;
    info->readTimeout = readTimeout_;
    info->writeTimeout = writeTimeout_;
    info->portType = portType_;
}

void CBPort::abortTransfers() { abortTransfersOn(handle_); }

std::int32_t CBPort::drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (handle_ == platform::kNoHandle || !ensureEvent(readEvent_) || aborted_.load()) return 0;
    return platform::readWaiting(handle_, readEvent_, buffer, length, count) ? 1 : 0;
}

void CBPort::abortTransfersOn(platform::OsHandle handle) {
    aborted_.store(true);
    std::lock_guard<std::mutex> guard(eventLock_);
    // Made here when no transfer has made it yet, so that one starting later finds it set.
    abortEvent_.create();
    platform::abortTransfers(handle, abortEvent_);
}

void CBPort::resetTimeouts(const _DEVOPEN_INFO* info) {
    readTimeout_ = kDefaultReadTimeout;
    writeTimeout_ = kDefaultWriteTimeout;
    if (info == nullptr) return;
    if (info->writeTimeout > 0) writeTimeout_ = info->writeTimeout;
    if (info->readTimeout > 0) readTimeout_ = info->readTimeout;
}

}  // namespace tavrin
