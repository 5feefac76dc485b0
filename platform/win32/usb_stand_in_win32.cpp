// Win32 backend of usb_stand_in.h: a fake of the device installation, configuration manager and
// HID services, put in place of the system's through the table of device_tree_api.h. It answers
// as the system does, structure size checks and error codes included, from a tree of nodes:
//   root hub USB\ROOT_HUB20\4&1&0
//     USB\VID_v&PID_p\<instance>                class "USB" (composite or printer) or "HIDClass"
//       USB\VID_v&PID_p&MI_nn\6&<instance>&0&000n   composite only; "USB" or "HIDClass"
//         HID\VID_v&PID_p&MI_nn\7&<instance>&0&0000 the HID collection, class "HIDClass"
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/usb_stand_in.h"
#include "platform/win32/device_tree_api.h"

namespace tavrin::platform {

namespace {

const GUID kPrinterGuid = {0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};
const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Node {
    std::wstring id;
    std::wstring className;
    std::vector<std::wstring> compatibleIds;
    std::vector<std::wstring> locationPaths;
    DEVINST parent = 0;
    std::vector<DEVINST> children;
    bool present = true;
};

struct Interface {
    GUID cls;
    std::wstring path;
    DEVINST node;
    std::string port;
};

struct Layout {
    std::uint8_t reportId;
    std::uint16_t input, output;
};

struct FakeSet {
    bool interfaces;
    GUID cls;
    std::vector<std::size_t> items;  // interface indices, or device nodes
};

struct FakePreparsed {
    Layout layout;
};

std::wstring w(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::wstring hex(unsigned v, int digits, bool upper) {
    wchar_t b[12];
    swprintf(b, 12, upper ? L"%0*X" : L"%0*x", digits, v);
    return b;
}

bool sameIgnoringCase(const std::wstring& a, const wchar_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - 32);
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - 32);
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

class FakeTree;
FakeTree* active = nullptr;

class FakeTree final : public StandInUsbTree {
public:
    FakeTree() {
        nodes_.push_back({L"HTREE\\ROOT\\0", L"", {}, {}, 0, {}, true});
        hub_ = addNode(1, L"USB\\ROOT_HUB20\\4&1&0", L"USB", {L"USB\\ROOT_HUB20"}, {L"PCIROOT(0)#PCI(1400)#USBROOT(0)"});
    }
    ~FakeTree() override {
        if (active == this) uninstall();
    }

    bool plug(const StandInUsbDevice& d) override {
        if (d.port.empty() || ports_.count(d.port) != 0) return false;
        Plugged p;
        const std::wstring fields = L"VID_" + hex(d.vendorId, 4, true) + L"&PID_" + hex(d.productId, 4, true);
        const std::wstring lower = L"vid_" + hex(d.vendorId, 4, false) + L"&pid_" + hex(d.productId, 4, false);
        const std::wstring inst = w(d.instance.empty() ? d.port : d.instance);
        const bool composite = d.interfaces.size() > 1;
        std::wstring deviceClass = L"USB";
        std::vector<std::wstring> compat;
        if (composite) {
            compat = {L"USB\\Class_00&SubClass_00&Prot_00", L"USB\\Class_00&SubClass_00", L"USB\\Class_00",
                      L"USB\\COMPOSITE"};
        } else if (!d.interfaces.empty() && d.interfaces[0].kind == StandInInterface::Kind::Hid) {
            deviceClass = L"HIDClass";
            compat = {L"USB\\Class_03&SubClass_00&Prot_00", L"USB\\Class_03"};
        } else {
            compat = {L"USB\\Class_07&SubClass_01&Prot_02", L"USB\\Class_07"};
        }
        p.device = addNode(hub_, L"USB\\" + fields + L"\\" + inst, deviceClass, compat,
                           {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + w(d.port) + L")"});
        p.instanceId = nodes_[p.device - 1].id;
        for (const StandInInterface& i : d.interfaces) {
            const bool hid = i.kind == StandInInterface::Kind::Hid;
            DEVINST carrier = p.device;
            std::wstring mi, ifInst = inst;
            if (composite) {
                mi = L"&MI_" + hex(i.number, 2, true);
                ifInst = L"6&" + inst + L"&0&000" + hex(i.number, 1, true);
                carrier = addNode(p.device, L"USB\\" + fields + mi + L"\\" + ifInst, hid ? L"HIDClass" : L"USB",
                                  {L"USB\\Class_0" + std::wstring(hid ? L"3" : L"7")}, {});
            }
            std::wstring path;
            if (hid) {
                const std::wstring hidInst = L"7&" + inst + L"&0&0000";
                const DEVINST collection =
                    addNode(carrier, L"HID\\" + fields + mi + L"\\" + hidInst, L"HIDClass", {L"HID_DEVICE"}, {});
                path = L"\\\\?\\hid#" + lower + (composite ? L"&mi_" + hex(i.number, 2, false) : L"") + L"#" +
                       hidInst + L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
                if (!i.devicePath.empty()) path.assign(i.devicePath.begin(), i.devicePath.end());
                interfaces_.push_back({kHidGuid, path, collection, d.port});
                if (!i.devicePath.empty()) layouts_.push_back({d.port, {i.reportId, i.inputReportLength, i.outputReportLength}});
            } else {
                path = L"\\\\?\\usb#" + lower + (composite ? L"&mi_" + hex(i.number, 2, false) : L"") + L"#" +
                       ifInst + L"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
                if (!i.devicePath.empty()) path.assign(i.devicePath.begin(), i.devicePath.end());
                interfaces_.push_back({kPrinterGuid, path, carrier, d.port});
            }
            p.paths[i.number] = std::u16string(path.begin(), path.end());
        }
        ports_[d.port] = std::move(p);
        return true;
    }

    void unplug(const std::string& port) override {
        auto it = ports_.find(port);
        if (it == ports_.end()) return;
        remove(it->second.device);
        for (std::size_t i = 0; i < interfaces_.size();)
            if (interfaces_[i].port == port) interfaces_.erase(interfaces_.begin() + static_cast<std::ptrdiff_t>(i));
            else ++i;
        for (std::size_t i = 0; i < layouts_.size();)
            if (layouts_[i].first == port) layouts_.erase(layouts_.begin() + static_cast<std::ptrdiff_t>(i));
            else ++i;
        ports_.erase(it);
    }

    std::u16string interfacePath(const std::string& port, std::uint8_t number) const override {
        auto it = ports_.find(port);
        if (it == ports_.end()) return {};
        auto p = it->second.paths.find(number);
        return p == it->second.paths.end() ? std::u16string() : p->second;
    }
    std::u16string deviceInstanceId(const std::string& port) const override {
        auto it = ports_.find(port);
        if (it == ports_.end()) return {};
        return std::u16string(it->second.instanceId.begin(), it->second.instanceId.end());
    }

    void install() override;
    void uninstall() override;
    int unreleased() const override { return openSets_ + openPreparsed_; }
    std::u16string systemRoot() const override { return {}; }

    // What the fake services read.
    Node* node(DEVINST dn) {
        if (dn == 0 || dn > nodes_.size() || !nodes_[dn - 1].present) return nullptr;
        return &nodes_[dn - 1];
    }
    std::vector<Node>& nodes() { return nodes_; }
    std::vector<Interface>& interfaces() { return interfaces_; }
    const Layout* layout() const { return layouts_.empty() ? nullptr : &layouts_.front().second; }
    int openSets_ = 0;
    int openPreparsed_ = 0;

private:
    struct Plugged {
        DEVINST device = 0;
        std::wstring instanceId;
        std::map<std::uint8_t, std::u16string> paths;
    };

    DEVINST addNode(DEVINST parent, std::wstring id, std::wstring cls, std::vector<std::wstring> compat,
                    std::vector<std::wstring> location) {
        nodes_.push_back({std::move(id), std::move(cls), std::move(compat), std::move(location), parent, {}, true});
        const DEVINST dn = static_cast<DEVINST>(nodes_.size());
        nodes_[parent - 1].children.push_back(dn);
        return dn;
    }
    void remove(DEVINST dn) {
        Node& n = nodes_[dn - 1];
        n.present = false;
        for (DEVINST c : n.children) remove(c);
        auto& siblings = nodes_[n.parent - 1].children;
        for (std::size_t i = 0; i < siblings.size(); ++i)
            if (siblings[i] == dn) {
                siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
    }

    std::vector<Node> nodes_;
    DEVINST hub_ = 0;
    std::vector<Interface> interfaces_;
    std::vector<std::pair<std::string, Layout>> layouts_;
    std::map<std::string, Plugged> ports_;
};

// ---- the fake services ----

FakeSet* setOf(HDEVINFO set) { return static_cast<FakeSet*>(set); }

HDEVINFO WINAPI fakeGetClassDevsW(const GUID* cls, PCWSTR enumerator, HWND, DWORD flags) {
    if (active == nullptr || (flags & DIGCF_PRESENT) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new FakeSet{};
    if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
        if (cls == nullptr) {
            delete set;
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        set->interfaces = true;
        set->cls = *cls;
        for (std::size_t i = 0; i < active->interfaces().size(); ++i)
            if (IsEqualGUID(active->interfaces()[i].cls, *cls)) set->items.push_back(i);
    } else if ((flags & DIGCF_ALLCLASSES) != 0 && enumerator != nullptr && sameIgnoringCase(L"USB", enumerator)) {
        set->interfaces = false;
        for (std::size_t i = 0; i < active->nodes().size(); ++i) {
            const Node& n = active->nodes()[i];
            if (n.present && n.id.compare(0, 4, L"USB\\") == 0) set->items.push_back(i + 1);
        }
    } else {
        delete set;
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ++active->openSets_;
    return set;
}

BOOL WINAPI fakeEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                     PSP_DEVICE_INTERFACE_DATA data) {
    if (set == INVALID_HANDLE_VALUE || set == nullptr || !setOf(set)->interfaces) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    FakeSet* s = setOf(set);
    if (index >= s->items.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = s->cls;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = static_cast<ULONG_PTR>(s->items[index] + 1);
    return TRUE;
}

BOOL WINAPI fakeGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                                          PSP_DEVINFO_DATA info) {
    if (set == INVALID_HANDLE_VALUE || set == nullptr || data == nullptr || data->Reserved == 0 ||
        data->Reserved > active->interfaces().size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Interface& i = active->interfaces()[data->Reserved - 1];
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (i.path.size() + 1) * sizeof(wchar_t));
    if (required != nullptr) *required = needed;
    if (detail == nullptr) {
        SetLastError(size == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (info != nullptr) {
        if (info->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        info->DevInst = i.node;
    }
    std::memcpy(detail->DevicePath, i.path.c_str(), (i.path.size() + 1) * sizeof(wchar_t));
    return TRUE;
}

BOOL WINAPI fakeEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA info) {
    if (set == INVALID_HANDLE_VALUE || set == nullptr || setOf(set)->interfaces) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info == nullptr || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= setOf(set)->items.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    info->DevInst = static_cast<DEVINST>(setOf(set)->items[index]);
    return TRUE;
}

// A value of strings: one REG_SZ, or a REG_MULTI_SZ with its closing empty string.
std::vector<wchar_t> valueOf(const std::vector<std::wstring>& strings, bool multi) {
    std::vector<wchar_t> out;
    for (const auto& s : strings) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
        if (!multi) break;
    }
    if (multi) out.push_back(0);
    return out;
}

BOOL WINAPI fakeGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property, PDWORD type,
                                           PBYTE buffer, DWORD size, PDWORD required) {
    if (set == INVALID_HANDLE_VALUE || set == nullptr || info == nullptr || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Node* n = active->node(info->DevInst);
    if (n == nullptr || property != SPDRP_LOCATION_PATHS || n->locationPaths.empty()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const auto value = valueOf(n->locationPaths, true);
    const DWORD needed = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (required != nullptr) *required = needed;
    if (buffer == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (type != nullptr) *type = REG_MULTI_SZ;
    std::memcpy(buffer, value.data(), needed);
    return TRUE;
}

BOOL WINAPI fakeDestroyDeviceInfoList(HDEVINFO set) {
    if (set == INVALID_HANDLE_VALUE || set == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete setOf(set);
    if (active != nullptr) --active->openSets_;
    return TRUE;
}

CONFIGRET WINAPI fakeGetDeviceIdW(DEVINST dn, PWCHAR buffer, ULONG length, ULONG) {
    Node* n = active->node(dn);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (buffer == nullptr) return CR_INVALID_POINTER;
    if (n->id.size() + 1 > length) return CR_BUFFER_SMALL;
    std::memcpy(buffer, n->id.c_str(), (n->id.size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

CONFIGRET WINAPI fakeGetParent(PDEVINST out, DEVINST dn, ULONG) {
    Node* n = active->node(dn);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (n->parent == 0) return CR_NO_SUCH_DEVNODE;
    *out = n->parent;
    return CR_SUCCESS;
}

CONFIGRET WINAPI fakeGetChild(PDEVINST out, DEVINST dn, ULONG) {
    Node* n = active->node(dn);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (n->children.empty()) return CR_NO_SUCH_DEVNODE;
    *out = n->children.front();
    return CR_SUCCESS;
}

CONFIGRET WINAPI fakeGetSibling(PDEVINST out, DEVINST dn, ULONG) {
    Node* n = active->node(dn);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    Node* parent = active->node(n->parent);
    if (parent == nullptr) return CR_NO_SUCH_DEVNODE;
    for (std::size_t i = 0; i + 1 < parent->children.size(); ++i)
        if (parent->children[i] == dn) {
            *out = parent->children[i + 1];
            return CR_SUCCESS;
        }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI fakeLocateDevNodeW(PDEVINST out, DEVINSTID_W id, ULONG) {
    if (out == nullptr || id == nullptr) return CR_INVALID_POINTER;
    for (std::size_t i = 0; i < active->nodes().size(); ++i) {
        const Node& n = active->nodes()[i];
        if (n.present && sameIgnoringCase(n.id, id)) {
            *out = static_cast<DEVINST>(i + 1);
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI fakeGetDevNodeRegistryPropertyW(DEVINST dn, ULONG property, PULONG type, PVOID buffer,
                                                 PULONG length, ULONG) {
    Node* n = active->node(dn);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (length == nullptr) return CR_INVALID_POINTER;
    std::vector<wchar_t> value;
    ULONG kind = REG_MULTI_SZ;
    if (property == CM_DRP_CLASS && !n->className.empty()) {
        value = valueOf({n->className}, false);
        kind = REG_SZ;
    } else if (property == CM_DRP_COMPATIBLEIDS && !n->compatibleIds.empty()) {
        value = valueOf(n->compatibleIds, true);
    } else if (property == CM_DRP_LOCATION_PATHS && !n->locationPaths.empty()) {
        value = valueOf(n->locationPaths, true);
    } else {
        return CR_NO_SUCH_VALUE;
    }
    const ULONG needed = static_cast<ULONG>(value.size() * sizeof(wchar_t));
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, value.data(), needed);
    *length = needed;
    if (type != nullptr) *type = kind;
    return CR_SUCCESS;
}

void WINAPI fakeGetHidGuid(LPGUID guid) { *guid = kHidGuid; }

BOOLEAN WINAPI fakeGetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
    if (device == INVALID_HANDLE_VALUE || data == nullptr || active == nullptr || active->layout() == nullptr)
        return FALSE;
    *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(new FakePreparsed{*active->layout()});
    ++active->openPreparsed_;
    return TRUE;
}

BOOLEAN WINAPI fakeFreePreparsedData(PHIDP_PREPARSED_DATA data) {
    if (data == nullptr) return FALSE;
    delete reinterpret_cast<FakePreparsed*>(data);
    if (active != nullptr) --active->openPreparsed_;
    return TRUE;
}

NTSTATUS WINAPI fakeGetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
    if (data == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    const Layout& l = reinterpret_cast<FakePreparsed*>(data)->layout;
    *caps = HIDP_CAPS{};
    caps->UsagePage = 0xFF00;
    caps->Usage = 1;
    caps->InputReportByteLength = l.input;
    caps->OutputReportByteLength = l.output;
    caps->NumberInputValueCaps = 1;
    caps->NumberOutputValueCaps = 1;
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS WINAPI fakeGetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE page, USHORT, USAGE usage,
                                         PHIDP_VALUE_CAPS caps, PUSHORT length, PHIDP_PREPARSED_DATA data) {
    if (data == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (type != HidP_Output || (page != 0 && page != 0xFF00) || (usage != 0 && usage != 1))
        return HIDP_STATUS_USAGE_NOT_FOUND;
    if (length == nullptr || *length < 1 || caps == nullptr) return HIDP_STATUS_BUFFER_TOO_SMALL;
    caps[0] = HIDP_VALUE_CAPS{};
    caps[0].UsagePage = 0xFF00;
    caps[0].ReportID = reinterpret_cast<FakePreparsed*>(data)->layout.reportId;
    caps[0].BitSize = 8;
    *length = 1;
    return HIDP_STATUS_SUCCESS;
}

const win32::DeviceTreeApi fakeApi = {
    fakeGetClassDevsW,      fakeEnumDeviceInterfaces, fakeGetDeviceInterfaceDetailW,  fakeEnumDeviceInfo,
    fakeGetDeviceRegistryPropertyW, fakeDestroyDeviceInfoList, fakeGetDeviceIdW,     fakeGetParent,
    fakeGetChild,           fakeGetSibling,           fakeLocateDevNodeW,             fakeGetDevNodeRegistryPropertyW,
    fakeGetHidGuid,         fakeGetPreparsedData,     fakeFreePreparsedData,          fakeGetCaps,
    fakeGetSpecificValueCaps,
};

void FakeTree::install() {
    active = this;
    win32::setDeviceTreeApi(&fakeApi);
}

void FakeTree::uninstall() {
    if (active != this) return;
    win32::setDeviceTreeApi(nullptr);
    active = nullptr;
}

}  // namespace

std::unique_ptr<StandInUsbTree> StandInUsbTree::create(const std::string&) { return std::make_unique<FakeTree>(); }

}  // namespace tavrin::platform
