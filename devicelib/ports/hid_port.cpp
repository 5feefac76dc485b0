#include "devicelib/ports/hid_port.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "devicelib/ports/export_text.h"
#include "devicelib/ports/enum_device.h"
#include "platform/device_io.h"

namespace tavrin {

namespace {
constexpr std::uint8_t kShortHeader = 0xA5;  // payload length in byte 1
constexpr std::uint8_t kLongHeader = 0xA6;   // payload length in bytes 2-3

std::uint16_t headerBytes(std::uint8_t reportId) { return reportId == kLongHeader ? 4 : 2; }
}  // namespace

std::int32_t CHidPort::syncIOAccess(std::uint8_t direction, void* overlapped, void* buffer, std::uint32_t length,
                                    std::uint32_t* count, std::int32_t timeoutMs) {
    if (count != nullptr) *count = 0;
    if (length == 0) return 1;
    if (direction > 1 || buffer == nullptr) return 0;

    if (direction == 1) {
        if (reportId_ != kShortHeader && reportId_ != kLongHeader) return 0;
        const std::uint16_t header = headerBytes(reportId_);
        if (outputLength_ <= header || outputLength_ > kReportBufferBytes) return 0;
        std::uint32_t most = static_cast<std::uint16_t>(outputLength_ - header);
        // The short header says a report's payload length in one byte: a longer report carries
        // at most 255 bytes, or its length byte would wrap and the device take a part only.
        if (reportId_ == kShortHeader) most = std::min<std::uint32_t>(most, 0xFF);
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        output_[0] = reportId_;
        output_[1] = 0;
        std::uint32_t sent = 0;
        while (sent < length) {
            const std::uint32_t chunk = std::min(length - sent, most);
            if (reportId_ == kLongHeader) {
                output_[2] = static_cast<std::uint8_t>(chunk >> 8);
                output_[3] = static_cast<std::uint8_t>(chunk);
            } else {
                output_[1] = static_cast<std::uint8_t>(chunk);
            }
            std::memcpy(output_ + header, bytes + sent, chunk);
            std::uint32_t moved = 0;
            // A report goes whole or not at all: a part of one would be a corrupted report.
            if (!transferReport(1, overlapped, output_, outputLength_, &moved, timeoutMs) ||
                moved != outputLength_) {
                if (count != nullptr) *count = sent;
                return 0;
            }
            sent += chunk;
        }
        if (count != nullptr) *count = sent;
        return 1;
    }

    if (inputLength_ > kReportBufferBytes) return 0;
    input_[0] = 0;
    std::uint32_t got = 0;
    if (!transferReport(0, overlapped, input_, inputLength_, &got, timeoutMs) || got < inputLength_ ||
        inputLength_ == 0)
        return 0;
    std::uint32_t payload = 0;
    std::uint32_t at = 0;
    if (!inputPayload(&payload, &at) || payload > length) return 0;
    std::memcpy(buffer, input_ + at, payload);
    if (count != nullptr) *count = payload;
    return 1;
}

bool CHidPort::inputPayload(std::uint32_t* payload, std::uint32_t* at) const {
    if (input_[0] == kLongHeader && inputLength_ >= 4) {
        *payload = static_cast<std::uint32_t>(input_[2]) << 8 | input_[3];
        *at = 4;
    } else if (input_[0] == kShortHeader && inputLength_ >= 2) {
        *payload = input_[1];
        *at = 2;
    } else {
        return false;
    }
    return *at + *payload <= inputLength_;
}

std::int32_t CHidPort::readWaitingReport(std::uint8_t* report, std::uint32_t length, std::uint32_t* count) {
    *count = 0;
    if (handle_ == platform::kNoHandle || !ensureEvent(readEvent_) || aborted()) return 0;
    std::uint32_t got = 0;
    if (!platform::readWaiting(handle_, readEvent_, report, length, &got)) return 0;
    // The HID drivers hand over whole reports. A stand-in device is a byte stream that may hold
    // the first part of a report only: the rest is on its way and is read with the port's wait.
    if (got != 0 && got < length) {
        std::uint32_t rest = 0;
        if (!CBPort::syncIOAccess(0, nullptr, report + got, length - got, &rest, readTimeout_)) return 0;
        got += rest;
    }
    *count = got;
    return 1;
}

std::int32_t CHidPort::drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) {
    // Reports with nothing to hand on that are skipped in one call before it gives up.
    constexpr int kSkippedReports = 16;
    if (count != nullptr) *count = 0;
    if (buffer == nullptr || inputLength_ == 0 || inputLength_ > kReportBufferBytes) return 0;
    for (int skipped = 0; skipped < kSkippedReports; ++skipped) {
        input_[0] = 0;
        std::uint32_t got = 0;
        if (!readWaitingReport(input_, inputLength_, &got)) return 0;
        if (got == 0) return 1;  // nothing is waiting
        std::uint32_t payload = 0;
        std::uint32_t at = 0;
        if (got < inputLength_ || !inputPayload(&payload, &at) || payload == 0) continue;
        payload = std::min(payload, length);  // what the caller's buffer holds of it; it is discarded
        std::memcpy(buffer, input_ + at, payload);
        if (count != nullptr) *count = payload;
        return 1;
    }
    return 1;
}

bool CHidPort::openDevice(const char16_t* path, std::uint16_t openFlag) {
    if (!CBPort::openPort(path, openFlag)) return false;
    openedPath_ = path;
    if (!getDevReportInfo()) {
        closePort();
        return false;
    }
    return true;
}

std::int32_t CHidPort::openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag) {
    const char16_t* path = info != nullptr ? fromExport(info->path) : nullptr;
    enumUsbLocaPathFromSymLnk(path, hidClass());
    if (openFlag == kOpenResolveOnly) return 1;
    if (path == nullptr || info->portType != PORT_HID) return 0;
    resetTimeouts(info);
    return openDevice(path, openFlag) ? 1 : 0;
}

std::int32_t CHidPort::openUsbPort(const char16_t* path, std::uint16_t openFlag, std::int32_t) {
    enumUsbLocaPathFromSymLnk(path, hidClass());
    if (openFlag == kOpenResolveOnly) return 1;
    if (path == nullptr) return 0;
    resetTimeouts(nullptr);
    return openDevice(path, openFlag) ? 1 : 0;
}

bool CHidPort::hidQuery(void* buffer, int selector) {
    if (selector != 4 || buffer == nullptr) return false;
    if (!description_) {
        if (handle_ == platform::kNoHandle) return false;
        description_ = platform::usb::HidDescription::fetch(handle_, openedPath_.c_str());
        if (!description_) return false;
    }
    return description_->caps(*static_cast<platform::usb::HidCaps*>(buffer));
}

bool CHidPort::getDevReportInfo() {
    platform::usb::HidCaps caps;
    if (!hidQuery(&caps, 4)) return false;
    std::vector<std::uint8_t> ids;
    // No output value capability: there is no report id to take.
    if (caps.outputValueCaps == 0 ||
        !description_->outputValueReportIds(caps.usagePage, caps.usage, caps.outputValueCaps, ids) || ids.empty())
        return false;
    reportId_ = ids.front();
    outputLength_ = caps.outputReportLength;
    inputLength_ = caps.inputReportLength;
    PortLog& log = portLog();
    log.funcLine(u"CHidPort::getDevReportInfo", u"reportID(0x%x) outLen(%d) inLen(%d)\r\n", reportId_,
                 outputLength_, inputLength_);
    // The reports must fit the port's buffers and hold their header.
    const std::uint16_t header = headerBytes(reportId_);
    if (outputLength_ > kReportBufferBytes || inputLength_ > kReportBufferBytes || outputLength_ <= header ||
        inputLength_ < header) {
        log.funcLine(u"CHidPort::getDevReportInfo", u"report length unusable outLen(%d) inLen(%d)\r\n",
                     outputLength_, inputLength_);
        outputLength_ = 0;
        inputLength_ = 0;
        return false;
    }
    return true;
}

bool CHidPort::findHidPathByLocation(InterfaceClass hidInterfaceClass, char16_t* path) {
    if (locationPath_.empty()) return false;  // never resolved: no device is there
    CEnumDevice search(&portLog());
    const char16_t* id =
        search.findUsbDeviceByLocation(locationPath_.c_str(), platform::usb::DeviceSet::presentUsbDevices());
    if (id == nullptr) return false;
    const std::u16string device(id);
    return findSiblingInterface(1, hidInterfaceClass, device.c_str(), path, kUsbPathChars);
}

bool CHidPort::findHidPathByVid(InterfaceClass hidInterfaceClass, std::uint16_t vid, char16_t* path) {
    CEnumDevice search(&portLog());
    for (std::uint32_t index = 0;; ++index) {
        int status = 0;
        const char16_t* p = search.enumDevSymLnk(index, hidInterfaceClass, &status);
        if (p == nullptr) return false;
        if (vid != 0) {
            std::uint16_t v = 0, d = 0, m = 0;
            if (CEnumDevice::scanVidPidMi(p, u'#', &v, &d, &m) < 2 || v != vid) continue;
        }
        const std::u16string text(p);
        if (text.size() >= kUsbPathChars) continue;  // a longer path is never cut into another one
        std::copy(text.begin(), text.end(), path);
        path[text.size()] = 0;
        return true;
    }
}

std::int32_t CHidPort::reOpenPort(std::int32_t) {
    constexpr const char16_t* kName = u"CHidPort::reOpenPort";
    PortLog& log = portLog();
    closePort();
    char16_t path[kUsbPathChars] = {};
    const bool found = host_.systemLevel() == 2 ? findHidPathByLocation(hidClass(), path)
                                             : findHidPathByVid(hidClass(), vendorId_, path);
    if (!found) {
        log.funcLine(kName, u"Fail(1)\r\n");
        return 0;
    }
    if (writeTimeout_ <= 0) writeTimeout_ = kDefaultWriteTimeout;
    if (readTimeout_ <= 0) readTimeout_ = kDefaultReadTimeout;
    if (!CBPort::openPort(path, 0)) {
        log.funcLine(kName, u"Fail(3)\r\n");
        return 0;
    }
    openedPath_ = path;
    if (!getDevReportInfo()) {
        log.funcLine(kName, u"Fail(2)\r\n");
        closePort();
        return 0;
    }
    return 1;
}

}  // namespace tavrin
