#include "devicelib/ports/usb_prn.h"

#include "devicelib/ports/export_text.h"

namespace tavrin {

std::int32_t CUSBPrn::openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag) {
    enumUsbLocaPathFromSymLnk(info != nullptr ? fromExport(info->path) : nullptr, kUsbPrinterClass);
    if (openFlag == kOpenResolveOnly) return 1;
    if (info != nullptr && info->path != nullptr && info->portType == portType_) {
        resetTimeouts(info);
        if (CBPort::openPort(fromExport(info->path), openFlag)) return 1;
    }
    portLog().funcLine(u"CUSBPrn::openPort", u"Fail(1)\r\n");
    return 0;
}

std::int32_t CUSBPrn::openUsbPort(const char16_t* path, std::uint16_t openFlag, std::int32_t) {
    enumUsbLocaPathFromSymLnk(path, kUsbPrinterClass);
    if (openFlag == kOpenResolveOnly) return 1;
    if (path == nullptr) return 0;
    resetTimeouts(nullptr);
    return CBPort::openPort(path, openFlag);
}

std::int32_t CUSBPrn::getDeviceId(std::uint8_t* buffer, std::uint32_t* length) {
    return platform::printerRequest(handle_, platform::PrinterRequest::DeviceId, buffer, length);
}

std::int32_t CUSBPrn::getLptStatus(std::uint8_t* buffer, std::uint32_t* length) {
    return platform::printerRequest(handle_, platform::PrinterRequest::LptStatus, buffer, length);
}

std::int32_t CUSBPrn::vendorSetCommand() {
    return platform::printerRequest(handle_, platform::PrinterRequest::VendorSetCommand, nullptr,
                                    nullptr);
}

}  // namespace tavrin
