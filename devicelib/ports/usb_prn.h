// CUSBPrn: the USB printer-class interface of a device (port type 0x301), its data port.
#pragma once

#include "devicelib/ports/usb_port.h"

namespace tavrin {

class CUSBPrn : public CUSBPort {
public:
    explicit CUSBPrn(PortHost& host) : CUSBPort(PORT_USBPRN, host) {}

    using CUSBPort::openPort;
    std::int32_t openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag) override;
    std::int32_t openUsbPort(const char16_t* path, std::uint16_t openFlag,
                             std::int32_t ignored) override;
    std::int32_t getDeviceId(std::uint8_t* buffer, std::uint32_t* length) override;
    std::int32_t getLptStatus(std::uint8_t* buffer, std::uint32_t* length) override;
    std::int32_t vendorSetCommand() override;
};

}  // namespace tavrin
