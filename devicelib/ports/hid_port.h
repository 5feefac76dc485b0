// CHidPort: the USB HID interface of a device (port type 0x302), its control port. A byte stream
// is carried in whole reports of the length the device states, each with a small header naming
// the payload's length:
//   report id 0xA5: byte 1 the payload length, the payload from byte 2;
//   report id 0xA6: byte 1 zero, bytes 2-3 the payload length (high byte first), payload from 4.
// One read yields the payload of one input report. reOpenPort finds the device again after it
// re-enumerated (by its location on the bus, or on older systems by its vendor id).
#pragma once

#include <memory>

#include "devicelib/ports/usb_port.h"
#include "platform/usb_tree.h"

namespace tavrin {

class CHidPort : public CUSBPort {
public:
    // The report buffers; a device stating longer reports is refused at open.
    static constexpr std::size_t kReportBufferBytes = 265;

    explicit CHidPort(PortHost& host) : CUSBPort(PORT_HID, host) {}
    ~CHidPort() override = default;  // the parsed report description goes with the port

    // 0: the report framing over the base transfer; false for a report id other than 0xA5/0xA6.
    std::int32_t syncIOAccess(std::uint8_t direction, void* overlapped, void* buffer, std::uint32_t length,
                              std::uint32_t* count, std::int32_t timeoutMs) override;
    using CUSBPort::openPort;
    // 6: resolves the identity, then (open flag 0) opens the device and learns its report layout.
    std::int32_t openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag) override;
    // 7: closes, finds the HID interface of the same device again, and opens it.
    std::int32_t reOpenPort(std::int32_t ignored) override;
    // The payload of an input report that is waiting already, without waiting for one: reports
    // without payload or with a header other than the port's are skipped (a few per call). True
    // with *count bytes (0: no report is waiting), false when the port is not open or the read
    // failed.
    std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) override;
    // 16
    std::int32_t openUsbPort(const char16_t* path, std::uint16_t openFlag, std::int32_t ignored) override;

    // Learns the report id and the report lengths from the device's description.
    bool getDevReportInfo();
    // Selector 4: the top-level capabilities into *buffer (a platform::usb::HidCaps). The other
    // selectors of the HID class library are not offered here (false).
    bool hidQuery(void* buffer, int selector);
    // The HID interface path of the USB device at the port's location (260 characters).
    bool findHidPathByLocation(InterfaceClass hidInterfaceClass, char16_t* path);
    // The first HID interface path of a vendor id (0: the first of all; 260 characters).
    bool findHidPathByVid(InterfaceClass hidInterfaceClass, std::uint16_t vid, char16_t* path);

    std::uint8_t reportId() const { return reportId_; }
    std::uint16_t inputReportLength() const { return inputLength_; }
    std::uint16_t outputReportLength() const { return outputLength_; }
    const std::u16string& locationPath() const { return locationPath_; }
    const std::u16string& parentInstanceId() const { return parentInstanceId_; }

protected:
    // One whole report in or out: the base transfer (a test replaces it with a scripted one).
    virtual std::int32_t transferReport(std::uint8_t direction, void* overlapped, std::uint8_t* report,
                                        std::uint32_t length, std::uint32_t* count, std::int32_t timeoutMs) {
        return CBPort::syncIOAccess(direction, overlapped, report, length, count, timeoutMs);
    }
    // One whole report that is waiting already, or none (*count 0): the read of what is waiting
    // (a test replaces it with a scripted one).
    virtual std::int32_t readWaitingReport(std::uint8_t* report, std::uint32_t length, std::uint32_t* count);

private:
    bool openDevice(const char16_t* path, std::uint16_t openFlag);
    // The payload of a whole input report in input_: its length and offset; false when the
    // report's id is neither 0xA5 nor 0xA6 or its header does not fit.
    bool inputPayload(std::uint32_t* payload, std::uint32_t* at) const;

    std::unique_ptr<platform::usb::HidDescription> description_;  // kept across opens
    std::u16string openedPath_;  // the path of the open device

protected:
    std::uint8_t reportId_ = 0;
    std::uint16_t inputLength_ = 0;
    std::uint16_t outputLength_ = 0;

private:
    std::uint8_t input_[kReportBufferBytes] = {};
    std::uint8_t output_[kReportBufferBytes] = {};
};

}  // namespace tavrin
