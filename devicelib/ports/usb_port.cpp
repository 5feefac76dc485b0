#include "devicelib/ports/usb_port.h"

namespace tavrin {

void CUSBPort::getPortInfoEx(PortInfoEx* info) {
    if (info == nullptr) return;
    getPortInfo(info);
    info->vendorId = vendorId_;
    info->productId = productId_;
    info->interfaceNumber = interfaceNumber_;
}

// Device enumeration is not part of this library yet: no path resolves to a USB identity and no
// device has a known sibling interface.
bool CUSBPort::enumUsbLocaPathFromSymLnk(const char16_t*, InterfaceClass) { return false; }

bool CUSBPort::findSiblingInterface(int, InterfaceClass, const char16_t*, char16_t*, std::size_t) {
    return false;
}

}  // namespace tavrin
