// CBPort: the base of every channel to a device. The frame opens ports by type, keeps a device's
// control port and data port, and from then on talks to the device only through the virtual
// operations below, declared in their slot order. A port has no lock: the frame's busy bits keep
// one thread on each port at a time, and every operation runs on the calling export's thread
// (or the firmware update's) unless it says otherwise. No operation throws: failure is the
// return value (0 / false) and, where the operation says so, a log line.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "devicelib/ports/port_host.h"
#include "platform/device_io.h"
#include "tavrin/tavrin.h"

namespace tavrin {

// The port information record: the fields of the open record, the first one fixed at 0.
struct PortInfo {
    std::uint32_t reserved;
    std::int32_t readTimeout;
    std::int32_t writeTimeout;
    std::uint16_t portType;
    std::uint16_t portMode;
};

// The USB ports' record continues with the device's USB identity.
struct PortInfoEx : PortInfo {
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::uint16_t interfaceNumber;
};

inline constexpr std::uint16_t kOpenResolveOnly = 0xFFFF;  // open flag: resolve the identity only
inline constexpr std::int32_t kDefaultReadTimeout = 100;
inline constexpr std::int32_t kDefaultWriteTimeout = 2000;

class CBPort {
public:
    // host: what the port needs of the library (its log, settings); it outlives the port.
    CBPort(std::uint16_t portType, PortHost& host) : host_(host), portType_(portType) {}
    CBPort(const CBPort&) = delete;
    CBPort& operator=(const CBPort&) = delete;

    // 0: one complete read (direction 0) or write (direction 1) with a time-out. Blocks up to the
    // time-out (a write: four time-outs and 300 ms). False on failure; *count holds what moved.
    // A transfer that completes while its time-out is being handled counts as done. overlapped:
    // the caller's OVERLAPPED block on Windows (the transfer is started on it and left to the
    // caller unless it completes at once); elsewhere ignored.
    virtual std::int32_t syncIOAccess(std::uint8_t direction, void* overlapped, void* buffer,
                                      std::uint32_t length, std::uint32_t* count,
                                      std::int32_t timeoutMs);
    // 1: closes the events and the handle.
    virtual ~CBPort();
    // 2, 3: one read or write with the port's time-out; false when the port is not open.
    virtual std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count,
                                  void* overlapped);
    virtual std::int32_t writePort(const void* buffer, std::uint32_t length, std::uint32_t* count,
                                   void* overlapped);
    // 4: discards what the device driver holds in its queues. Does not block; nothing when the port
    // is not open.
    virtual void purgePort();
    // 5: opens a device path without sharing (fails on a port that is already open, or when the
    // system refuses the path: 0). Logs "path = ..." first. Does not wait for the device.
    virtual std::int32_t openPort(const char16_t* path, std::uint16_t openFlag);
    // 6: opens from an open record (its path, type, time-outs); 1 on success, 0 on failure. The
    // base class refuses.
    virtual std::int32_t openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag);
    // 7: finds the device again after it restarted (the firmware update, on its thread): the
    // port is closed and opened on what the search finds. Blocks while it searches (and, for
    // the network, until connected or the write time-out); 1 when the port is open again.
    virtual std::int32_t reOpenPort(std::int32_t ignored);
    // 8: closes the events and the handle; true when it was not open. May block for what the
    // port still has to end (the network port: its transmit thread, bounded).
    virtual std::int32_t closePort();
    // 9, 10: printer-class requests (the device id string, the port status byte): 1 with
    // *length bytes in buffer, 0 on failure or when the port has none (the base class has none).
    // Block for one request to the device.
    virtual std::int32_t getDeviceId(std::uint8_t* buffer, std::uint32_t* length);
    virtual std::int32_t getLptStatus(std::uint8_t* buffer, std::uint32_t* length);
    // 11: 1 while the port can move bytes (USB: the handle is open; network: connected).
    // Does not block; any thread.
    virtual std::int32_t isPortOpen();
    // 12: the printer class's vendor request (the USB printer port); 1 on success, 0 on failure
    // or when the port has none (the base class). Blocks for one request to the device.
    virtual std::int32_t vendorSetCommand();
    // 13: stores table[index - 1] when a table is given and index is not 0; always 1.
    virtual std::int32_t selectPortValue(const std::uint16_t* table, std::uint8_t index);
    // 14: fills the record's first field (0), the port's time-outs and its type; the mode is left
    // as it is. Does not block.
    virtual void getPortInfo(PortInfo* info);

    // Not a device operation: called by the frame, from another thread, when the device is closed
    // while a transfer may still run on this port. The running transfer ends at once with failure;
    // the port itself is closed when its last user lets go of it.
    virtual void abortTransfers();

    // Not a device operation: one read of what the device has sent already, without waiting for
    // more; nothing is left outstanding on the port when it returns. True with *count bytes (0:
    // nothing is waiting), false when the port is not open or the read failed. Called before a
    // command goes out, to discard what an earlier command's reply left behind.
    virtual std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count);

    platform::OsHandle osHandle() const { return handle_; }
    std::uint16_t portType() const { return portType_; }
    std::int32_t readTimeout() const { return readTimeout_; }
    std::int32_t writeTimeout() const { return writeTimeout_; }
    std::uint16_t selectedValue() const { return selected_; }

protected:
    void resetTimeouts(const _DEVOPEN_INFO* info);
    // Creates the port's own read or write event, and its abort event, on first use.
    bool ensureEvent(platform::IoEvent& event);
    // Marks the port aborted and ends the transfers outstanding on the handle; every wait of a
    // transfer on the port ends at once from then on, until the port is closed.
    void abortTransfersOn(platform::OsHandle handle);
    bool aborted() const { return aborted_.load(); }
    const platform::IoEvent& abortEvent() const { return abortEvent_; }

    PortLog& portLog() const { return host_.portLog(); }

    PortHost& host_;
    platform::OsHandle handle_ = platform::kNoHandle;
    std::uint16_t portType_;
    std::int32_t readTimeout_ = kDefaultReadTimeout;
    std::int32_t writeTimeout_ = kDefaultWriteTimeout;
    platform::IoEvent readEvent_;
    platform::IoEvent writeEvent_;
    std::uint16_t selected_ = 0;

private:
    std::mutex eventLock_;  // event creation against abortTransfers from another thread
    std::atomic<bool> aborted_{false};
    platform::IoEvent abortEvent_;  // set once by abortTransfers, never reset
};

}  // namespace tavrin
