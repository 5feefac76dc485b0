// CHidPort: the USB HID interface of a device (port type 0x302), its control port. Report framing
// and the HID report layout are not part of this library yet: the port cannot be opened.
#pragma once

#include "devicelib/ports/usb_port.h"

namespace tavrin {

// The HID interface class as the system reports it (HidD_GetHidGuid).
inline constexpr InterfaceClass kHidClass = u"{4D1E55B2-F16F-11CF-88CB-001111000030}";

class CHidPort : public CUSBPort {
public:
    CHidPort() : CUSBPort(PORT_HID) {}

    using CUSBPort::openPort;
    std::int32_t openPort(const _DEVOPEN_INFO*, std::uint16_t) override { return 0; }
    std::int32_t openUsbPort(const char16_t*, std::uint16_t, std::int32_t) override { return 0; }
};

}  // namespace tavrin
