// dllFunc_EnumDevPath: the paths of the attached devices of a port type.
#include "devicelib/core/dev_app.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/net_discovery.h"
#include "tavrin/tavrin.h"

using namespace tavrin;

extern "C" TAVRIN_EXPORT std::uint32_t TAVRIN_API dllFunc_EnumDevPath(std::uint16_t portType, tavrin_wchar_t* buffer,
                                                                     std::uint32_t* size, std::uint32_t vid,
                                                                     std::uint32_t pid) {
    return guarded<std::uint32_t>(0, [&]() -> std::uint32_t {
        if (portType > PORT_NET_CTRL) return 0;
        if (portType >= 0x0400) {
            // For the network the first selector is the UDP port on which devices are sought; the
            // second, when not 0, the wait after the last reply in ms (else DiscoveryTimeout).
            return discoverNetDevices(static_cast<std::uint16_t>(vid & 0xFFFF),
                                      reinterpret_cast<char16_t*>(buffer), size, pid & 0xFFFF);
        }
        if (portType == PORT_USBPRN || portType == PORT_HID) {
            // USB enumeration is not part of this build: no USB device is listed.
            if (size != nullptr) *size = 0;
            return 0;
        }
        return 0;
    });
}
