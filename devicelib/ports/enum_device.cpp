#include "devicelib/ports/enum_device.h"

#include "devicelib/ports/port_host.h"
#include "platform/text_utf.h"

namespace tavrin {

namespace usb = platform::usb;

namespace {

constexpr const char16_t* kEnumDevSymLnk = u"CEnumDevice::enumDevSymLnk";
constexpr const char16_t* kTakeUsbLocaPath = u"CEnumDevice::takeUsbLocaPath";

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool sameIgnoringCase(const std::u16string& a, const char16_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return i == a.size() && b[i] == 0;
}

std::size_t textLength(const char16_t* s) {
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

bool sameText(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// Reads up to width hexadecimal digits as scanf's %Nx does (white space first is skipped).
bool scanHex(const char16_t*& p, int width, std::uint32_t& value) {
    while (*p == u' ' || *p == u'\t' || *p == u'\n' || *p == u'\r' || *p == u'\v' || *p == u'\f') ++p;
    value = 0;
    int n = 0;
    for (; n < width; ++n, ++p) {
        const int d = utf::hexDigitValue(*p);
        if (d < 0) break;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return n > 0;
}

bool literal(const char16_t*& p, const char16_t* text) {
    const char16_t* q = p;
    for (; *text != 0; ++text, ++q)
        if (*q != *text) return false;
    p = q;
    return true;
}

}  // namespace

void CEnumDevice::line(const char16_t* function, const char16_t* text) {
    if (log_ != nullptr) log_->funcLine(function, text);
}

int CEnumDevice::scanVidPidMi(const char16_t* text, char16_t separator, std::uint16_t* vid, std::uint16_t* pid,
                              std::uint16_t* mi) {
    if (text == nullptr) return 0;
    // An upper-cased copy, bounded as the system's texts are: a longer text matches nothing.
    std::u16string copy;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        if (i + 1 >= kUsbPathChars) return 0;
        copy += upper(text[i]);
    }
    const std::size_t at = copy.find(separator);
    if (at == std::u16string::npos) return 0;
    const char16_t* p = copy.c_str() + at + 1;
    std::uint32_t v = 0, d = 0, m = 0;
    if (!literal(p, u"VID_") || !scanHex(p, 4, v)) return 0;
    if (!literal(p, u"&PID_") || !scanHex(p, 4, d)) return 1;
    *vid = static_cast<std::uint16_t>(v);
    *pid = static_cast<std::uint16_t>(d);
    if (!literal(p, u"&MI_") || !scanHex(p, 2, m)) return 2;
    *mi = static_cast<std::uint16_t>(m);
    return 3;
}

bool CEnumDevice::parseVidPidMi(std::uint16_t* vid, std::uint16_t* pid, std::uint16_t* mi, const char16_t* path) {
    std::uint16_t v = 0, p = 0, m = 0;
    const int fields = scanVidPidMi(path, u'#', &v, &p, &m);
    if (fields < 2) return false;
    *vid = v;
    *pid = p;
    if (fields == 3) *mi = m;
    return true;
}

const char16_t* CEnumDevice::enumDevSymLnk(std::uint32_t index, const char16_t* interfaceClass, int* status) {
    *status = -1;
    if (interfaceClass == nullptr) return nullptr;
    if (set_ && !sameIgnoringCase(setClass_, interfaceClass)) set_.reset();
    if (!set_) {
        setClass_ = interfaceClass;
        set_ = usb::DeviceSet::presentInterfaces(interfaceClass);
        if (!set_) return nullptr;
    }
    switch (set_->interfaceAt(index, path_, node_)) {
    case usb::InterfaceStatus::Found: *status = 0; return path_.c_str();
    case usb::InterfaceStatus::NoMore: *status = 1; return nullptr;
    case usb::InterfaceStatus::EnumFailed: line(kEnumDevSymLnk, u"Error\r\n"); return nullptr;
    case usb::InterfaceStatus::DetailFailed: line(kEnumDevSymLnk, u"Error2\r\n"); return nullptr;
    case usb::InterfaceStatus::NoMemory: line(kEnumDevSymLnk, u"No Memory Error\r\n"); return nullptr;
    case usb::InterfaceStatus::DetailRetryFailed: line(kEnumDevSymLnk, u"Error1\r\n"); return nullptr;
    }
    return nullptr;
}

const char16_t* CEnumDevice::findEqualDevInst(const char16_t* interfaceClass, DevNode* node, const char16_t* path,
                                              const char16_t* instanceId) {
    for (std::uint32_t index = 0;; ++index) {
        int status = 0;
        const char16_t* p = enumDevSymLnk(index, interfaceClass, &status);
        if (p == nullptr) return nullptr;
        if (path != nullptr && !sameText(p, path)) continue;
        std::u16string id;
        if (!usb::deviceInstanceId(node_, id)) {
            line(u"CEnumDevice::findEqualDevInst", u" Fail\r\n");
            continue;
        }
        if (instanceId != nullptr && id != instanceId) continue;
        if (node != nullptr) *node = node_;
        return p;
    }
}

const char16_t* CEnumDevice::takeUsbLocaPath(DevNode node, std::u16string* parentId) {
    for (;;) {
        std::u16string id;
        if (!usb::deviceInstanceId(node, id)) {
            line(kTakeUsbLocaPath, u"Fail(1)\r\n");
            return nullptr;
        }
        std::uint16_t vid = 0, pid = 0, mi = 0xFFFF;
        const int fields = scanVidPidMi(id.c_str(), u'\\', &vid, &pid, &mi);
        if (fields < 2) {
            line(kTakeUsbLocaPath, u"Fail(2)\r\n");
            return nullptr;
        }
        DevNode parent = 0;
        // An interface (MI_nn) climbs to its parent, until the USB device itself is reached.
        if (fields == 3 && mi != 0xFFFF && usb::parentNode(node, parent)) {
            node = parent;
            continue;
        }
        break;
    }
    if (parentId != nullptr) {
        if (!usb::deviceInstanceId(node, *parentId)) {
            parentId->clear();
            line(kTakeUsbLocaPath, u"Fail(3)\r\n");
        }
    }
    if (!usb::nodeProperty(node, usb::NodeProperty::LocationPaths, locationPaths_)) {
        line(kTakeUsbLocaPath, u"Fail(4)\r\n");
        return nullptr;
    }
    if (locationPaths_.empty()) locationPaths_.emplace_back();
    return locationPaths_.front().c_str();
}

const char16_t* CEnumDevice::findUsbDeviceByLocation(const char16_t* location,
                                                     std::unique_ptr<usb::DeviceSet> set) {
    if (!set || location == nullptr) return nullptr;
    for (std::uint32_t index = 0;; ++index) {
        DevNode node = 0;
        if (!set->deviceAt(index, node)) return nullptr;
        std::vector<std::u16string> paths;
        if (!set->deviceLocationPaths(index, paths) || paths.empty() || !sameText(paths.front().c_str(), location))
            continue;
        if (!usb::deviceInstanceId(node, instanceId_)) return nullptr;
        return instanceId_.c_str();
    }
}

bool CEnumDevice::isCompositeNode(DevNode node, bool* composite) {
    std::vector<std::u16string> ids;
    if (!usb::nodeProperty(node, usb::NodeProperty::CompatibleIds, ids)) return false;
    *composite = false;
    for (const auto& id : ids)
        if (sameIgnoringCase(id, u"USB\\COMPOSITE")) *composite = true;
    return true;
}

bool CEnumDevice::findChildOfClass(const char16_t* instanceId, int kind, char16_t* out, std::uint32_t* size) {
    if (instanceId == nullptr || out == nullptr || size == nullptr) return false;
    DevNode node = 0;
    if (!usb::locateNode(instanceId, node)) return false;
    bool composite = false;
    if (!isCompositeNode(node, &composite)) return false;
    DevNode at = node;
    if (composite && !usb::firstChild(node, at)) return false;
    const char16_t* wanted = kind == 1 ? u"HIDCLASS" : u"USB";
    for (;;) {
        std::vector<std::u16string> className;
        if (usb::nodeProperty(at, usb::NodeProperty::ClassName, className) && !className.empty() &&
            sameIgnoringCase(className.front(), wanted)) {
            DevNode reached = at;
            if (kind == 1 && !usb::firstChild(at, reached)) return false;
            std::u16string id;
            if (usb::deviceInstanceId(reached, id)) {
                if (id.empty()) return false;
                // An id that does not fit is no answer: it would name another device cut short.
                if (id.size() >= *size) return false;
                std::copy(id.begin(), id.end(), out);
                out[id.size()] = 0;
                *size = static_cast<std::uint32_t>(id.size() + 1);
                return true;
            }
            at = reached;
        }
        // A device that is not composite is its own only interface: the devices beside it on
        // the hub are other devices.
        if (!composite) return false;
        if (!usb::nextSibling(at, at)) return false;
    }
}

std::uint32_t listUsbPaths(const char16_t* interfaceClass, char16_t* buffer, std::uint32_t* size,
                           std::uint16_t vidFilter, std::uint16_t pidFilter) {
    const std::uint32_t capacity = size != nullptr ? *size : 0;
    std::uint32_t remaining = buffer != nullptr ? capacity : 0;
    std::uint32_t written = 0;  // write position
    std::uint32_t count = 0;
    std::uint32_t total = 0;
    CEnumDevice search;
    for (std::uint32_t index = 0;; ++index) {
        int status = 0;
        const char16_t* path = search.enumDevSymLnk(index, interfaceClass, &status);
        if (path == nullptr) break;  // no more, or an error: the list ends with what was found
        const std::size_t length = textLength(path);
        if (vidFilter != 0 || pidFilter != 0) {
            std::uint16_t vid = 0, pid = 0, mi = 0;
            if (CEnumDevice::scanVidPidMi(path, u'#', &vid, &pid, &mi) < 2) continue;
            if ((vidFilter != 0 && vidFilter != vid) || (pidFilter != 0 && pidFilter != pid)) continue;
        } else if (length >= kUsbPathChars) {
            continue;
        }
        if (length == 0) continue;
        const std::uint32_t n = static_cast<std::uint32_t>(length + 1);
        if (buffer != nullptr && n <= remaining) {
            std::copy(path, path + n, buffer + written);
            ++count;
            written += n;
            remaining -= n;
        }
        total += n;
    }
    if (total != 0) {
        total += 1;
        if (buffer != nullptr && remaining >= 1) buffer[written] = 0;
    }
    if (size != nullptr) *size = total;
    return count;
}

}  // namespace tavrin
