// CUSBPort: what the USB ports share. Besides the CBPort state it keeps the identity of the USB
// device behind its path (vendor and product id, interface number, the composite device's instance
// id and location path), resolved from the path at every open with a record or a path.
#pragma once

#include <string>

#include "devicelib/ports/b_port.h"
#include "platform/usb_tree.h"

namespace tavrin {

// A device interface class, as the system's GUID in text form.
using InterfaceClass = const char16_t*;
inline constexpr InterfaceClass kUsbPrinterClass = platform::usb::kPrinterInterfaceClass;
// The HID interface class, as the system reports it.
inline InterfaceClass hidClass() { return platform::usb::hidInterfaceClass(); }

class CUSBPort : public CBPort {
public:
    using CBPort::CBPort;

    // 15: fills the record with the port's fields and its USB identity.
    virtual void getPortInfoEx(PortInfoEx* info);
    // 16: opens by path; open flag kOpenResolveOnly only resolves the identity.
    virtual std::int32_t openUsbPort(const char16_t* path, std::uint16_t openFlag,
                                     std::int32_t ignored) = 0;

    // The interface path of the same physical device in the other interface class (kind 1: the HID
    // side, kind 0: the printer side). False when there is none.
    bool findSiblingInterface(int kind, InterfaceClass interfaceClass, const char16_t* composite,
                              char16_t* path, std::size_t pathChars);

    std::uint16_t vendorId() const { return vendorId_; }
    std::uint16_t productId() const { return productId_; }
    std::uint16_t interfaceNumber() const { return interfaceNumber_; }

protected:
    // Resolves the USB identity of the device behind path: VID, PID and interface number from the
    // path, the composite device's instance id and location path from the device tree. The frame
    // does not depend on its result.
    bool enumUsbLocaPathFromSymLnk(const char16_t* path, InterfaceClass interfaceClass);

    std::uint16_t vendorId_ = 0;
    std::uint16_t productId_ = 0;
    std::uint16_t interfaceNumber_ = 0xFFFF;
    std::u16string parentInstanceId_;  // at most 199 characters
    std::u16string locationPath_;      // at most 259 characters
};

}  // namespace tavrin
