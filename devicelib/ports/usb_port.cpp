#include "devicelib/ports/usb_port.h"

#include "devicelib/ports/enum_device.h"

namespace tavrin {

void CUSBPort::getPortInfoEx(PortInfoEx* info) {
    if (info == nullptr) return;
    getPortInfo(info);
    info->vendorId = vendorId_;
    info->productId = productId_;
    info->interfaceNumber = interfaceNumber_;
}

bool CUSBPort::enumUsbLocaPathFromSymLnk(const char16_t* path, InterfaceClass interfaceClass) {
    constexpr const char16_t* kName = u"CUSBPort::enumUsbLocaPathFromSymLnk";
    PortLog& log = portLog();
    interfaceNumber_ = 0xFFFF;
    CEnumDevice::parseVidPidMi(&vendorId_, &productId_, &interfaceNumber_, path);

    CEnumDevice search(&log);
    DevNode node = 0;
    // Without a path there is no device to look for (none would match any interface).
    if (path == nullptr || search.findEqualDevInst(interfaceClass, &node, path, nullptr) == nullptr) {
        log.funcLine(kName, u"Fail(1)\r\n");
        return false;
    }
    const char16_t* location = search.takeUsbLocaPath(node, &parentInstanceId_);
    if (location == nullptr) {
        log.funcLine(kName, u"Fail(2)\r\n");
        return false;
    }
    std::u16string loc(location);
    if (loc.size() >= kUsbPathChars) {
        log.funcLine(kName, u"Fail(3)\r\n");
        return false;
    }
    locationPath_ = std::move(loc);
    return true;
}

bool CUSBPort::findSiblingInterface(int kind, InterfaceClass interfaceClass, const char16_t* composite,
                                    char16_t* path, std::size_t pathChars) {
    if (path == nullptr || pathChars == 0) return false;
    const char16_t* compositeId = composite != nullptr ? composite : parentInstanceId_.c_str();
    if (compositeId[0] == 0) return false;
    CEnumDevice search(&portLog());
    char16_t id[platform::usb::kInstanceIdChars] = {};
    std::uint32_t size = platform::usb::kInstanceIdChars;
    if (!search.findChildOfClass(compositeId, kind, id, &size)) return false;
    DevNode node = 0;
    const char16_t* found = search.findEqualDevInst(interfaceClass, &node, nullptr, id);
    if (found == nullptr) return false;
    const std::u16string text(found);
    if (text.size() >= pathChars || text.size() >= kUsbPathChars) return false;  // never cut short
    std::copy(text.begin(), text.end(), path);
    path[text.size()] = 0;
    return true;
}

}  // namespace tavrin
