// dllFunc_EnumDevPath: the paths of the attached devices of a port type.
#include "devicelib/core/dev_app.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/enum_device.h"
#include "devicelib/ports/net_discovery.h"
#include "devicelib/ports/usb_port.h"
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
            return discoverNetDevices(theApp(), static_cast<std::uint16_t>(vid & 0xFFFF),
                                      reinterpret_cast<char16_t*>(buffer), size, pid & 0xFFFF);
        }
        if (portType == PORT_USBPRN || portType == PORT_HID) {
            // The filters: the arguments, or the settings UsbVID and UsbPID where they are 0.
            const CDevDllCfg& settings = theApp().settings;
            const auto vidFilter = static_cast<std::uint16_t>((vid & 0xFFFF) != 0 ? vid : settings.UsbVID);
            const auto pidFilter = static_cast<std::uint16_t>((pid & 0xFFFF) != 0 ? pid : settings.UsbPID);
            return listUsbPaths(portType == PORT_USBPRN ? kUsbPrinterClass : hidClass(),
                                reinterpret_cast<char16_t*>(buffer), size, vidFilter, pidFilter);
        }
        return 0;
    });
}
