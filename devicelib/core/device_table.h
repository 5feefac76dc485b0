// The device table: ten slots, a device handle being the index of its slot. A slot holds the open
// device's session, which owns the device's ports, its protocol object and its busy bits.
//
// A running operation holds its own reference to the session, so a device closed under it by
// another thread stays alive until the operation returns (the close aborts what is running and
// frees the slot at once).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "devicelib/ports/b_port.h"

namespace tavrin {

inline constexpr std::uint16_t BUSY_CTRL = 1;  // a command exchange runs on the control port
inline constexpr std::uint16_t BUSY_DATA = 2;  // a raw read or write runs on the data port

class CDevEmul;
class CWDfu;

class DeviceSession {
public:
    DeviceSession(std::unique_ptr<CBPort> controlPort, std::unique_ptr<CBPort> dataPort);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    // Stops a firmware update, then destroys the control port, the data port, the protocol object
    // and the firmware update object.
    ~DeviceSession();

    CBPort* controlPort() const { return controlPort_.get(); }
    CBPort* dataPort() const { return dataPort_.get(); }
    // The protocol object, created on first use; none when it cannot be created. Only the holder
    // of BUSY_CTRL calls it.
    CDevEmul* protocol();
    // The firmware update object, created on first use; none when it cannot be created.
    CWDfu* dfu();
    // The device is being closed: a running firmware update ends (bounded) before the ports go.
    void stopFirmwareUpdate();

    // Sets the bits when none of them is set; false (and nothing changed) otherwise.
    bool trySetBusy(std::uint16_t bits);
    void clearBusy(std::uint16_t bits);

    // Ends what runs on the ports now (the device is being closed).
    void abortTransfers();

private:
    std::unique_ptr<CBPort> controlPort_;
    std::unique_ptr<CBPort> dataPort_;
    std::unique_ptr<CDevEmul> protocol_;
    std::unique_ptr<CWDfu> dfu_;
    std::mutex dfuLock_;  // creation of dfu_
    std::mutex slotLock_;
    std::uint16_t busy_ = 0;
};

// Holds BUSY bits of a session for one scope; does nothing when the bits were taken.
class BusyClaim {
public:
    BusyClaim(DeviceSession& session, std::uint16_t bits)
        : session_(session), bits_(bits), held_(session.trySetBusy(bits)) {}
    BusyClaim(const BusyClaim&) = delete;
    BusyClaim& operator=(const BusyClaim&) = delete;
    ~BusyClaim() {
        if (held_) session_.clearBusy(bits_);
    }
    bool held() const { return held_; }

private:
    DeviceSession& session_;
    std::uint16_t bits_;
    bool held_;
};

class CDeviceTable {
public:
    static constexpr int kSlots = 10;

    // The session of a handle (its low 16 bits), or none.
    std::shared_ptr<DeviceSession> lookup(std::int32_t handle);
    // Stores the session in the lowest free slot; its index, or -1 when all ten are in use.
    std::int32_t take(std::shared_ptr<DeviceSession> session);
    // Empties the slot; false when the handle names no open device.
    bool empty(std::int32_t handle);
    void emptyAll();
    std::uint16_t inUse();

private:
    std::mutex tableLock_;
    std::array<std::shared_ptr<DeviceSession>, kSlots> slots_;
    std::uint16_t inUse_ = 0;
};

}  // namespace tavrin
