#include "devicelib/ports/port_factory.h"

#include <new>

#include "devicelib/ports/hid_port.h"
#include "devicelib/ports/net_port.h"
#include "devicelib/ports/usb_prn.h"

namespace tavrin {

std::unique_ptr<CBPort> createPort(std::uint16_t portType, PortHost& host) {
    switch (portType) {
    case PORT_USBPRN: return std::unique_ptr<CBPort>(new (std::nothrow) CUSBPrn(host));
    case PORT_HID: return std::unique_ptr<CBPort>(new (std::nothrow) CHidPort(host));
    case PORT_NET_DATA:
    case PORT_NET_CTRL: return std::unique_ptr<CBPort>(new (std::nothrow) CNetPort(portType, host));
    default: return nullptr;
    }
}

}  // namespace tavrin
