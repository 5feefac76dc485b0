#include "devicelib/core/device_table.h"

#include <new>
#include <utility>

#include "devicelib/core/dev_emul.h"
#include "devicelib/dfu/w_dfu.h"

namespace tavrin {

DeviceSession::DeviceSession(std::unique_ptr<CBPort> controlPort, std::unique_ptr<CBPort> dataPort)
    : controlPort_(std::move(controlPort)), dataPort_(std::move(dataPort)) {}

DeviceSession::~DeviceSession() {
    stopFirmwareUpdate();
    controlPort_.reset();
    dataPort_.reset();
    protocol_.reset();
    dfu_.reset();
}

CWDfu* DeviceSession::dfu() {
    std::lock_guard<std::mutex> guard(dfuLock_);
    if (!dfu_) dfu_.reset(new (std::nothrow) CWDfu);
    return dfu_.get();
}

void DeviceSession::stopFirmwareUpdate() {
    CWDfu* update = nullptr;
    {
        std::lock_guard<std::mutex> guard(dfuLock_);
        update = dfu_.get();
    }
    if (update != nullptr) update->shutDown();
}

CDevEmul* DeviceSession::protocol() {
    if (!protocol_) protocol_.reset(new (std::nothrow) CDevEmul);
    return protocol_.get();
}

bool DeviceSession::trySetBusy(std::uint16_t bits) {
    std::lock_guard<std::mutex> guard(slotLock_);
    if ((busy_ & bits) != 0) return false;
    busy_ = static_cast<std::uint16_t>(busy_ | bits);
    return true;
}

void DeviceSession::clearBusy(std::uint16_t bits) {
    std::lock_guard<std::mutex> guard(slotLock_);
    busy_ = static_cast<std::uint16_t>(busy_ & ~bits);
}

void DeviceSession::abortTransfers() {
    if (controlPort_) controlPort_->abortTransfers();
    if (dataPort_) dataPort_->abortTransfers();
}

std::shared_ptr<DeviceSession> CDeviceTable::lookup(std::int32_t handle) {
    const std::uint16_t index = static_cast<std::uint16_t>(handle & 0xFFFF);
    std::lock_guard<std::mutex> guard(tableLock_);
    if (inUse_ == 0 || index >= kSlots) return nullptr;
    return slots_[index];
}

std::int32_t CDeviceTable::take(std::shared_ptr<DeviceSession> session) {
    std::lock_guard<std::mutex> guard(tableLock_);
    if (inUse_ >= kSlots) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (!slots_[static_cast<std::size_t>(i)]) {
            slots_[static_cast<std::size_t>(i)] = std::move(session);
            ++inUse_;
            return i;
        }
    }
    return -1;
}

bool CDeviceTable::empty(std::int32_t handle) {
    const std::uint16_t index = static_cast<std::uint16_t>(handle & 0xFFFF);
    std::shared_ptr<DeviceSession> session;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        if (inUse_ == 0 || index >= kSlots || !slots_[index]) return false;
        session = std::move(slots_[index]);
        --inUse_;
    }
    // Outside the table lock: a firmware update stops first (it uses the control port), a
    // transfer still running on the device ends now, and the ports close when the last holder
    // lets go (here, unless another thread is inside a transfer).
    session->stopFirmwareUpdate();
    session->abortTransfers();
    return true;
}

void CDeviceTable::emptyAll() {
    std::array<std::shared_ptr<DeviceSession>, kSlots> taken;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        taken.swap(slots_);
        inUse_ = 0;
    }
    for (auto& session : taken) {
        if (!session) continue;
        session->stopFirmwareUpdate();
        session->abortTransfers();
    }
}

std::uint16_t CDeviceTable::inUse() {
    std::lock_guard<std::mutex> guard(tableLock_);
    return inUse_;
}

}  // namespace tavrin
