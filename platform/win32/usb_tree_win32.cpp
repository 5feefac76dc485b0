// Win32 backend of usb_tree.h: device information sets (SetupDi*), device nodes (CM_*) and the
// HID class library (HidD_*, HidP_*), every call through the table of device_tree_api.h.
// Structure sizes are always the platform's own (sizeof), so 32-bit and 64-bit builds agree with
// the system.
#include <cstddef>
#include <new>
#include <string>

#include "platform/text_utf.h"
#include "platform/usb_tree.h"
#include "platform/win32/device_tree_api.h"

namespace tavrin::platform::win32 {

namespace {

const DeviceTreeApi systemApi = {
    &::SetupDiGetClassDevsW,      &::SetupDiEnumDeviceInterfaces,   &::SetupDiGetDeviceInterfaceDetailW,
    &::SetupDiEnumDeviceInfo,     &::SetupDiGetDeviceRegistryPropertyW, &::SetupDiDestroyDeviceInfoList,
    &::CM_Get_Device_IDW,         &::CM_Get_Parent,                 &::CM_Get_Child,
    &::CM_Get_Sibling,            &::CM_Locate_DevNodeW,            &::CM_Get_DevNode_Registry_PropertyW,
    &::HidD_GetHidGuid,           &::HidD_GetPreparsedData,         &::HidD_FreePreparsedData,
    &::HidP_GetCaps,              &::HidP_GetSpecificValueCaps,
};

const DeviceTreeApi* currentApi = &systemApi;

}  // namespace

const DeviceTreeApi& deviceTreeApi() { return *currentApi; }
void setDeviceTreeApi(const DeviceTreeApi* api) { currentApi = api != nullptr ? api : &systemApi; }

}  // namespace tavrin::platform::win32

namespace tavrin::platform::usb {

using win32::deviceTreeApi;
using win32::ScopedDeviceInfoSet;

namespace {

constexpr ULONG kPropertyBytes = 520;
constexpr ULONG kClassBytes = 400;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into a GUID.
bool parseGuid(const char16_t* text, GUID& guid) {
    if (text == nullptr) return false;
    static const char layout[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    unsigned char bytes[16] = {};
    int nibble = 0;
    for (int i = 0; layout[i] != 0; ++i) {
        if (text[i] == 0) return false;
        if (layout[i] != 'X') {
            if (text[i] != static_cast<char16_t>(layout[i])) return false;
            continue;
        }
        const int d = utf::hexDigitValue(text[i]);
        if (d < 0) return false;
        bytes[nibble / 2] = static_cast<unsigned char>(bytes[nibble / 2] << 4 | d);
        ++nibble;
    }
    if (text[sizeof layout - 1] != 0) return false;
    guid.Data1 = static_cast<unsigned long>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    guid.Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
    return true;
}

std::u16string guidText(const GUID& g) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    unsigned char bytes[16] = {
        static_cast<unsigned char>(g.Data1 >> 24), static_cast<unsigned char>(g.Data1 >> 16),
        static_cast<unsigned char>(g.Data1 >> 8),  static_cast<unsigned char>(g.Data1),
        static_cast<unsigned char>(g.Data2 >> 8),  static_cast<unsigned char>(g.Data2),
        static_cast<unsigned char>(g.Data3 >> 8),  static_cast<unsigned char>(g.Data3),
    };
    for (int i = 0; i < 8; ++i) bytes[8 + i] = g.Data4[i];
    std::u16string out = u"{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += u'-';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out + u"}";
}

// The strings of a REG_MULTI_SZ (or REG_SZ) value of bytes bytes, up to the first empty one.
std::vector<std::u16string> splitStrings(const wchar_t* data, std::size_t bytes) {
    std::vector<std::u16string> out;
    const std::size_t chars = bytes / sizeof(wchar_t);
    std::size_t at = 0;
    while (at < chars && data[at] != 0) {
        std::size_t end = at;
        while (end < chars && data[end] != 0) ++end;
        out.emplace_back(reinterpret_cast<const char16_t*>(data + at), end - at);
        at = end + 1;
    }
    return out;
}

// Owns a device information set.
class SetupDiSet final : public DeviceSet {
public:
    SetupDiSet(HDEVINFO set, const GUID& interfaceClass) : set_(set), class_(interfaceClass) {}

    InterfaceStatus interfaceAt(std::uint32_t index, std::u16string& path, DevNode& node) override {
        const auto& api = deviceTreeApi();
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!api.EnumDeviceInterfaces(set_.get(), nullptr, &class_, index, &data))
            return GetLastError() == ERROR_NO_MORE_ITEMS ? InterfaceStatus::NoMore : InterfaceStatus::EnumFailed;
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        DWORD required = 0;
        if (detail_) detail()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!api.GetDeviceInterfaceDetailW(set_.get(), &data, detail_ ? detail() : nullptr, detailBytes_, &required,
                                           &info)) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return InterfaceStatus::DetailFailed;
            detail_.reset();
            detailBytes_ = 0;
            const DWORD bytes = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                    ? required
                                    : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
            detail_.reset(new (std::nothrow) DWORD[(bytes + sizeof(DWORD) - 1) / sizeof(DWORD)]);
            if (!detail_) return InterfaceStatus::NoMemory;
            detailBytes_ = bytes;
            detail()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!api.GetDeviceInterfaceDetailW(set_.get(), &data, detail(), detailBytes_, &required, &info))
                return InterfaceStatus::DetailRetryFailed;
        }
        // The path ends at its terminator or at the end of the buffer, whichever comes first.
        const std::size_t room =
            (detailBytes_ - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        const wchar_t* p = detail()->DevicePath;
        std::size_t n = 0;
        while (n < room && p[n] != 0) ++n;
        if (n == room) return InterfaceStatus::DetailFailed;
        path.assign(reinterpret_cast<const char16_t*>(p), n);
        node = info.DevInst;
        return InterfaceStatus::Found;
    }

    bool deviceAt(std::uint32_t index, DevNode& node) override {
        SP_DEVINFO_DATA info{};
        if (!deviceInfo(index, info)) return false;
        node = info.DevInst;
        return true;
    }

    bool deviceLocationPaths(std::uint32_t index, std::vector<std::u16string>& paths) override {
        SP_DEVINFO_DATA info{};
        if (!deviceInfo(index, info)) return false;
        wchar_t buffer[kPropertyBytes / sizeof(wchar_t)] = {};
        DWORD type = 0, required = 0;
        if (!deviceTreeApi().GetDeviceRegistryPropertyW(set_.get(), &info, SPDRP_LOCATION_PATHS, &type,
                                                        reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required))
            return false;
        const DWORD got = required != 0 && required <= sizeof buffer ? required : sizeof buffer;
        paths = splitStrings(buffer, got);
        return true;
    }

private:
    bool deviceInfo(std::uint32_t index, SP_DEVINFO_DATA& info) {
        info = SP_DEVINFO_DATA{};
        info.cbSize = sizeof info;
        return deviceTreeApi().EnumDeviceInfo(set_.get(), index, &info) != FALSE;
    }
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail() {
        return reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail_.get());
    }

    ScopedDeviceInfoSet set_;
    GUID class_;
    std::unique_ptr<DWORD[]> detail_;  // DWORD-aligned, as the structure needs
    DWORD detailBytes_ = 0;
};

// Owns the preparsed data of a HID device; frees it through the table that gave it.
class PreparsedDescription final : public HidDescription {
public:
    PreparsedDescription(const win32::DeviceTreeApi& api, PHIDP_PREPARSED_DATA data) : api_(api), data_(data) {}
    ~PreparsedDescription() override { api_.FreePreparsedData(data_); }

    bool caps(HidCaps& caps) override {
        HIDP_CAPS c{};
        if (api_.GetCaps(data_, &c) != HIDP_STATUS_SUCCESS) return false;
        caps.usagePage = c.UsagePage;
        caps.usage = c.Usage;
        caps.inputReportLength = c.InputReportByteLength;
        caps.outputReportLength = c.OutputReportByteLength;
        caps.outputValueCaps = c.NumberOutputValueCaps;
        return true;
    }

    bool outputValueReportIds(std::uint16_t usagePage, std::uint16_t usage, std::size_t room,
                              std::vector<std::uint8_t>& reportIds) override {
        reportIds.clear();
        if (room == 0 || room > 0xFFFF) return false;
        std::vector<HIDP_VALUE_CAPS> caps(room);
        USHORT count = static_cast<USHORT>(room);
        if (api_.GetSpecificValueCaps(HidP_Output, usagePage, 0, usage, caps.data(), &count, data_) !=
            HIDP_STATUS_SUCCESS)
            return false;
        for (USHORT i = 0; i < count && i < room; ++i) reportIds.push_back(caps[i].ReportID);
        return !reportIds.empty();
    }

private:
    const win32::DeviceTreeApi& api_;
    PHIDP_PREPARSED_DATA data_;
};

}  // namespace

// Asked of the system once: the class is fixed. (No thread-local text here: a thread-local object
// with a destructor would pin the library in the process.)
const char16_t* hidInterfaceClass() {
    static const std::u16string text = [] {
        GUID g{};
        deviceTreeApi().GetHidGuid(&g);
        return guidText(g);
    }();
    return text.c_str();
}

void setSystemRoot(const std::u16string&) {}

std::unique_ptr<DeviceSet> DeviceSet::presentInterfaces(const char16_t* interfaceClass) {
    GUID g{};
    if (!parseGuid(interfaceClass, g)) return nullptr;
    HDEVINFO set = deviceTreeApi().GetClassDevsW(&g, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<SetupDiSet>(set, g);
}

std::unique_ptr<DeviceSet> DeviceSet::presentUsbDevices() {
    HDEVINFO set = deviceTreeApi().GetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<SetupDiSet>(set, GUID{});
}

bool deviceInstanceId(DevNode node, std::u16string& id) {
    wchar_t buffer[kInstanceIdChars] = {};
    if (deviceTreeApi().Get_Device_IDW(node, buffer, kInstanceIdChars, 0) != CR_SUCCESS) return false;
    std::size_t n = 0;
    while (n < kInstanceIdChars && buffer[n] != 0) ++n;
    if (n == kInstanceIdChars) return false;
    id.assign(reinterpret_cast<const char16_t*>(buffer), n);
    return true;
}

bool parentNode(DevNode node, DevNode& parent) {
    DEVINST p = 0;
    if (deviceTreeApi().Get_Parent(&p, node, 0) != CR_SUCCESS) return false;
    parent = p;
    return true;
}

bool firstChild(DevNode node, DevNode& child) {
    DEVINST c = 0;
    if (deviceTreeApi().Get_Child(&c, node, 0) != CR_SUCCESS) return false;
    child = c;
    return true;
}

bool nextSibling(DevNode node, DevNode& sibling) {
    DEVINST s = 0;
    if (deviceTreeApi().Get_Sibling(&s, node, 0) != CR_SUCCESS) return false;
    sibling = s;
    return true;
}

bool locateNode(const std::u16string& instanceId, DevNode& node) {
    if (instanceId.empty() || instanceId.size() >= kInstanceIdChars) return false;
    std::wstring id(instanceId.begin(), instanceId.end());
    DEVINST n = 0;
    if (deviceTreeApi().Locate_DevNodeW(&n, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return false;
    node = n;
    return true;
}

bool nodeProperty(DevNode node, NodeProperty property, std::vector<std::u16string>& strings) {
    ULONG which = CM_DRP_CLASS;
    ULONG room = kClassBytes;
    if (property == NodeProperty::CompatibleIds) which = CM_DRP_COMPATIBLEIDS, room = kPropertyBytes;
    if (property == NodeProperty::LocationPaths) which = CM_DRP_LOCATION_PATHS, room = kPropertyBytes;
    wchar_t buffer[kPropertyBytes / sizeof(wchar_t)] = {};
    ULONG type = 0, length = room;
    if (deviceTreeApi().Get_DevNode_Registry_PropertyW(node, which, &type, buffer, &length, 0) != CR_SUCCESS)
        return false;
    strings = splitStrings(buffer, length <= room ? length : room);
    return true;
}

std::unique_ptr<HidDescription> HidDescription::fetch(OsHandle device, const char16_t*) {
    if (device == kNoHandle) return nullptr;
    const auto& api = deviceTreeApi();
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!api.GetPreparsedData(win32::toHandle(device), &data) || data == nullptr) return nullptr;
    return std::make_unique<PreparsedDescription>(api, data);
}

}  // namespace tavrin::platform::usb
