#include "devicelib/ports/port_factory.h"

#include <new>

#include "devicelib/ports/hid_port.h"
#include "devicelib/ports/usb_prn.h"

namespace tavrin {

std::unique_ptr<CBPort> createPort(std::uint16_t portType) {
    switch (portType) {
    case PORT_USBPRN: return std::unique_ptr<CBPort>(new (std::nothrow) CUSBPrn);
    case PORT_HID: return std::unique_ptr<CBPort>(new (std::nothrow) CHidPort);
    default: return nullptr;  // the network ports arrive with the network transport
    }
}

}  // namespace tavrin
