// POSIX backend of usb_tree.h: the kernel's sysfs tree and device nodes. Printer interfaces are
// the usblp driver's usbmisc/lpN nodes (/dev/usb/lpN), HID interfaces the hidraw nodes
// (/dev/hidrawN). The tree is given the shape the Windows device tree has, so that the portable
// search logic walks both alike:
//   USB device      USB\VID_vvvv&PID_pppp\<port>           class "USB" (composite) or that of its
//                                                          one interface; location path <port>
//   USB interface   USB\VID_vvvv&PID_pppp&MI_nn\<port>:1.n  composite devices only; class "USB", or
//                                                          "HIDClass" for a HID interface
//   HID device      HID\VID_vvvv&PID_pppp[&MI_nn]\<name>    class "HIDClass", under its interface
//                                                          (or under the device, non-composite)
// A device with more than one interface is composite (compatible id USB\COMPOSITE).
#include "platform/usb_tree.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "platform/posix/hid_descriptor.h"
#include "platform/posix/text_posix.h"

namespace tavrin::platform::usb {

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kHidClass = u"{4D1E55B2-F16F-11CF-88CB-001111000030}";
constexpr const char* kPrinterGuidInPath = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr const char* kHidGuidInPath = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr std::size_t kPropertyBytes = 520;
constexpr std::size_t kClassBytes = 400;

// The state below is built on first use: the library's start-up sets the root before the
// static objects of this file would have been constructed.
struct RootState {
    std::mutex lock;
    std::string root;  // "" stands for "/"
};
RootState& rootState() {
    static RootState state;
    return state;
}

fs::path sysDir() {
    RootState& s = rootState();
    std::lock_guard<std::mutex> guard(s.lock);
    return fs::path(s.root.empty() ? "/" : s.root) / "sys";
}
std::string devDir() {
    RootState& s = rootState();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.root.empty() ? std::string("/dev") : (fs::path(s.root) / "dev").string();
}

// Device nodes handed out: the canonical sysfs folders, numbered from 1 in the order first seen.
struct NodeTable {
    std::mutex lock;
    std::vector<std::string> dirs;
};
NodeTable& nodeTable() {
    static NodeTable table;
    return table;
}

DevNode nodeOf(const fs::path& dir) {
    NodeTable& t = nodeTable();
    std::lock_guard<std::mutex> guard(t.lock);
    const std::string s = dir.string();
    auto it = std::find(t.dirs.begin(), t.dirs.end(), s);
    if (it != t.dirs.end()) return static_cast<DevNode>(it - t.dirs.begin() + 1);
    t.dirs.push_back(s);
    return static_cast<DevNode>(t.dirs.size());
}

std::optional<fs::path> dirOf(DevNode node) {
    NodeTable& t = nodeTable();
    std::lock_guard<std::mutex> guard(t.lock);
    if (node == 0 || node > t.dirs.size()) return std::nullopt;
    fs::path dir = t.dirs[node - 1];
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;  // the device has gone
    return dir;
}

std::optional<std::string> attribute(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    if (!in) return std::nullopt;
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::optional<unsigned> numberAttribute(const fs::path& dir, const char* name, int base) {
    auto text = attribute(dir, name);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    unsigned long v = std::strtoul(text->c_str(), &end, base);
    if (end == text->c_str() || v > 0xFFFF) return std::nullopt;
    return static_cast<unsigned>(v);
}

enum class Kind { UsbDevice, Interface, Hid, Other };

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// A HID device folder is named bus:vendor:product.instance, as 0003:0FE6:811E.0004.
bool looksLikeHidName(const std::string& name) {
    return name.size() == 19 && name[4] == ':' && name[9] == ':' && name[14] == '.';
}

Kind kindOf(const fs::path& dir) {
    if (present(dir / "bInterfaceNumber")) return Kind::Interface;
    if (present(dir / "idVendor") && present(dir / "idProduct")) return Kind::UsbDevice;
    if (looksLikeHidName(dir.filename().string()) && kindOf(dir.parent_path()) == Kind::Interface) return Kind::Hid;
    return Kind::Other;
}

bool composite(const fs::path& usbDevice) {
    auto n = numberAttribute(usbDevice, "bNumInterfaces", 10);
    return n && *n > 1;
}

// The USB device a node belongs to.
fs::path usbDeviceOf(const fs::path& dir, Kind kind) {
    switch (kind) {
    case Kind::Interface: return dir.parent_path();
    case Kind::Hid: return dir.parent_path().parent_path();
    default: return dir;
    }
}

struct Identity {
    unsigned vid = 0, pid = 0;
    bool composite = false;
    std::optional<unsigned> interfaceNumber;
};

std::optional<Identity> identityOf(const fs::path& dir, Kind kind) {
    const fs::path dev = usbDeviceOf(dir, kind);
    if (kindOf(dev) != Kind::UsbDevice) return std::nullopt;
    Identity id;
    auto vid = numberAttribute(dev, "idVendor", 16);
    auto pid = numberAttribute(dev, "idProduct", 16);
    if (!vid || !pid) return std::nullopt;
    id.vid = *vid;
    id.pid = *pid;
    id.composite = composite(dev);
    if (kind == Kind::Interface) id.interfaceNumber = numberAttribute(dir, "bInterfaceNumber", 16);
    if (kind == Kind::Hid) id.interfaceNumber = numberAttribute(dir.parent_path(), "bInterfaceNumber", 16);
    return id;
}

std::string hex4(unsigned v, bool upper) {
    char b[8];
    std::snprintf(b, sizeof b, upper ? "%04X" : "%04x", v & 0xFFFF);
    return b;
}
std::string hex2(unsigned v, bool upper) {
    char b[4];
    std::snprintf(b, sizeof b, upper ? "%02X" : "%02x", v & 0xFF);
    return b;
}

std::optional<std::string> instanceIdOf(const fs::path& dir) {
    const Kind kind = kindOf(dir);
    if (kind == Kind::Other) return std::nullopt;
    auto id = identityOf(dir, kind);
    if (!id) return std::nullopt;
    std::string fields = "VID_" + hex4(id->vid, true) + "&PID_" + hex4(id->pid, true);
    const std::string name = dir.filename().string();
    switch (kind) {
    case Kind::UsbDevice: return "USB\\" + fields + "\\" + name;
    case Kind::Interface:
        if (!id->interfaceNumber) return std::nullopt;
        return "USB\\" + fields + "&MI_" + hex2(*id->interfaceNumber, true) + "\\" + name;
    case Kind::Hid:
        if (id->composite && id->interfaceNumber) fields += "&MI_" + hex2(*id->interfaceNumber, true);
        return "HID\\" + fields + "\\" + name;
    default: return std::nullopt;
    }
}

std::vector<fs::path> subfolders(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        // Real sysfs links its parent and driver; only true sub-folders are children.
        if (it->is_symlink(ec) || !it->is_directory(ec)) continue;
        out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<fs::path> childrenOf(const fs::path& dir) {
    std::vector<fs::path> out;
    const Kind kind = kindOf(dir);
    if (kind == Kind::Hid || kind == Kind::Other) return out;
    std::vector<fs::path> interfaces, devices;
    for (const fs::path& sub : subfolders(dir)) {
        const Kind k = kindOf(sub);
        if (k == Kind::Interface) interfaces.push_back(sub);
        else if (k == Kind::UsbDevice) devices.push_back(sub);
        else if (k == Kind::Hid) out.push_back(sub);
    }
    if (kind == Kind::UsbDevice) {
        auto number = [](const fs::path& p) { return numberAttribute(p, "bInterfaceNumber", 16).value_or(0xFFFF); };
        std::sort(interfaces.begin(), interfaces.end(),
                  [&](const fs::path& a, const fs::path& b) { return number(a) < number(b); });
        if (composite(dir)) {
            out.insert(out.end(), interfaces.begin(), interfaces.end());
        } else {
            for (const fs::path& i : interfaces)
                for (const fs::path& sub : subfolders(i))
                    if (kindOf(sub) == Kind::Hid) out.push_back(sub);
        }
        out.insert(out.end(), devices.begin(), devices.end());
    }
    return out;
}

std::optional<fs::path> parentOf(const fs::path& dir) {
    const Kind kind = kindOf(dir);
    switch (kind) {
    case Kind::UsbDevice:
        if (kindOf(dir.parent_path()) == Kind::UsbDevice) return dir.parent_path();
        return std::nullopt;
    case Kind::Interface: return dir.parent_path();
    case Kind::Hid: {
        const fs::path dev = usbDeviceOf(dir, kind);
        return composite(dev) ? dir.parent_path() : dev;
    }
    default: return std::nullopt;
    }
}

std::u16string wide(const std::string& s) { return posix::fromUtf8(s); }

bool sameTextIgnoringCase(const std::u16string& a, const char16_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

// The numbered entries of a class folder ("lp0", "hidraw12"), in the order of their numbers.
std::vector<std::pair<std::string, fs::path>> classEntries(const char* className, const std::string& prefix) {
    std::vector<std::pair<unsigned long, std::pair<std::string, fs::path>>> found;
    std::error_code ec;
    for (fs::directory_iterator it(sysDir() / "class" / className, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) continue;
        std::error_code e2;
        fs::path device = fs::canonical(it->path() / "device", e2);
        if (e2) continue;
        found.push_back({std::stoul(digits), {name, device}});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<std::string, fs::path>> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

struct ListedInterface {
    std::u16string path;
    DevNode node;
};

std::vector<ListedInterface> listInterfaces(const char16_t* interfaceClass) {
    std::vector<ListedInterface> out;
    const bool printer = interfaceClass != nullptr && sameTextIgnoringCase(interfaceClass, kPrinterInterfaceClass);
    const bool hid = interfaceClass != nullptr && sameTextIgnoringCase(interfaceClass, kHidClass);
    if (!printer && !hid) return out;
    const std::string dev = devDir();
    if (dev.find('#') != std::string::npos) return out;  // the path could not be told apart from its fields

    for (const auto& [name, device] : classEntries(printer ? "usbmisc" : "hidraw", printer ? "lp" : "hidraw")) {
        const Kind kind = kindOf(device);
        if (kind != (printer ? Kind::Interface : Kind::Hid)) continue;  // not on USB
        auto id = identityOf(device, kind);
        if (!id || !id->interfaceNumber) continue;
        if (printer && numberAttribute(device, "bInterfaceClass", 16).value_or(0) != 7) continue;
        std::string path = printer ? dev + "/usb/" + name : dev + "/" + name;
        path += "#vid_" + hex4(id->vid, false) + "&pid_" + hex4(id->pid, false);
        if (id->composite) path += "&mi_" + hex2(*id->interfaceNumber, false);
        path += "#" + device.filename().string() + "#" + (printer ? kPrinterGuidInPath : kHidGuidInPath);
        // The node of a printer interface of a non-composite device is the device itself.
        const fs::path nodeDir = printer && !id->composite ? usbDeviceOf(device, kind) : device;
        out.push_back({wide(path), nodeOf(nodeDir)});
    }
    return out;
}

class SysfsSet final : public DeviceSet {
public:
    explicit SysfsSet(std::vector<ListedInterface> interfaces) : interfaces_(std::move(interfaces)) {}
    explicit SysfsSet(std::vector<DevNode> devices) : devices_(std::move(devices)) {}

    InterfaceStatus interfaceAt(std::uint32_t index, std::u16string& path, DevNode& node) override {
        if (index >= interfaces_.size()) return InterfaceStatus::NoMore;
        path = interfaces_[index].path;
        node = interfaces_[index].node;
        return InterfaceStatus::Found;
    }
    bool deviceAt(std::uint32_t index, DevNode& node) override {
        if (index >= devices_.size()) return false;
        node = devices_[index];
        return true;
    }
    bool deviceLocationPaths(std::uint32_t index, std::vector<std::u16string>& paths) override {
        if (index >= devices_.size()) return false;
        return nodeProperty(devices_[index], NodeProperty::LocationPaths, paths);
    }

private:
    std::vector<ListedInterface> interfaces_;
    std::vector<DevNode> devices_;
};

// Every USB device and interface folder, and the HID devices under the interfaces.
std::vector<fs::path> allNodes() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(sysDir() / "bus" / "usb" / "devices", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        fs::path dir = fs::canonical(it->path(), e2);
        if (e2) continue;
        out.push_back(dir);
        if (kindOf(dir) == Kind::Interface)
            for (const fs::path& sub : subfolders(dir))
                if (kindOf(sub) == Kind::Hid) out.push_back(sub);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::uint8_t> readDescriptorFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::vector<std::uint8_t> bytes(posix::kMaxHidDescriptor + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::size_t n = static_cast<std::size_t>(in.gcount());
    if (n > posix::kMaxHidDescriptor) return {};  // longer than any descriptor may be
    bytes.resize(n);
    return bytes;
}

// The report descriptor of an open hidraw node: asked of the driver, or (for a node the driver
// does not answer for, such as a stand-in device) read from sysfs: the folder of its device
// number, or the class folder of its node's name (<root>/dev/hidrawN has its descriptor in
// <root>/sys/class/hidraw/hidrawN/device).
std::vector<std::uint8_t> reportDescriptor(int fd, const char16_t* path) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
        auto desc = std::make_unique<hidraw_report_descriptor>();
        desc->size = static_cast<__u32>(size);
        if (::ioctl(fd, HIDIOCGRDESC, desc.get()) == 0)
            return std::vector<std::uint8_t>(desc->value, desc->value + size);
        return {};
    }
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        auto bytes = readDescriptorFile(sysDir() / "dev" / "char" / number / "device" / "report_descriptor");
        if (!bytes.empty()) return bytes;
    }
    if (path == nullptr) return {};
    std::string file = posix::toUtf8(path);
    file = file.substr(0, file.find('#'));
    const fs::path node(file);
    if (node.parent_path().filename() != "dev" || node.filename().string().compare(0, 6, "hidraw") != 0) return {};
    const fs::path root = node.parent_path().parent_path();
    return readDescriptorFile(root / "sys" / "class" / "hidraw" / node.filename() / "device" / "report_descriptor");
}

class ParsedDescription final : public HidDescription {
public:
    explicit ParsedDescription(posix::HidReportLayout layout) : layout_(std::move(layout)) {}

    bool caps(HidCaps& caps) override {
        caps.usagePage = layout_.usagePage;
        caps.usage = layout_.usage;
        caps.inputReportLength = layout_.inputReportLength;
        caps.outputReportLength = layout_.outputReportLength;
        caps.outputValueCaps = static_cast<std::uint16_t>(std::min<std::size_t>(layout_.outputValues.size(), 0xFFFF));
        return true;
    }
    bool outputValueReportIds(std::uint16_t usagePage, std::uint16_t usage, std::size_t room,
                              std::vector<std::uint8_t>& reportIds) override {
        reportIds.clear();
        for (const auto& cap : layout_.outputValues) {
            if (usagePage != 0 && cap.usagePage != usagePage) continue;
            if (usage != 0 && (usage < cap.usageMin || usage > cap.usageMax)) continue;
            if (reportIds.size() >= room) return false;  // more than the room given
            reportIds.push_back(cap.reportId);
        }
        return !reportIds.empty();
    }

private:
    posix::HidReportLayout layout_;
};

}  // namespace

const char16_t* hidInterfaceClass() { return kHidClass; }

void setSystemRoot(const std::u16string& root) {
    std::string r = posix::toUtf8(root.c_str());
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    RootState& s = rootState();
    std::lock_guard<std::mutex> guard(s.lock);
    s.root = r == "/" ? std::string() : r;
}

std::unique_ptr<DeviceSet> DeviceSet::presentInterfaces(const char16_t* interfaceClass) {
    return std::make_unique<SysfsSet>(listInterfaces(interfaceClass));
}

std::unique_ptr<DeviceSet> DeviceSet::presentUsbDevices() {
    std::vector<DevNode> devices;
    for (const fs::path& dir : allNodes())
        if (kindOf(dir) == Kind::UsbDevice) devices.push_back(nodeOf(dir));
    return std::make_unique<SysfsSet>(std::move(devices));
}

bool deviceInstanceId(DevNode node, std::u16string& id) {
    auto dir = dirOf(node);
    if (!dir) return false;
    auto text = instanceIdOf(*dir);
    if (!text) return false;
    std::u16string w = wide(*text);
    if (w.size() >= kInstanceIdChars) return false;
    id = std::move(w);
    return true;
}

bool parentNode(DevNode node, DevNode& parent) {
    auto dir = dirOf(node);
    if (!dir) return false;
    auto p = parentOf(*dir);
    if (!p) return false;
    parent = nodeOf(*p);
    return true;
}

bool firstChild(DevNode node, DevNode& child) {
    auto dir = dirOf(node);
    if (!dir) return false;
    auto children = childrenOf(*dir);
    if (children.empty()) return false;
    child = nodeOf(children.front());
    return true;
}

bool nextSibling(DevNode node, DevNode& sibling) {
    auto dir = dirOf(node);
    if (!dir) return false;
    auto p = parentOf(*dir);
    if (!p) return false;
    auto children = childrenOf(*p);
    auto it = std::find(children.begin(), children.end(), *dir);
    if (it == children.end() || ++it == children.end()) return false;
    sibling = nodeOf(*it);
    return true;
}

bool locateNode(const std::u16string& instanceId, DevNode& node) {
    for (const fs::path& dir : allNodes()) {
        auto id = instanceIdOf(dir);
        if (id && wide(*id) == instanceId) {
            node = nodeOf(dir);
            return true;
        }
    }
    return false;
}

bool nodeProperty(DevNode node, NodeProperty property, std::vector<std::u16string>& strings) {
    auto dir = dirOf(node);
    if (!dir) return false;
    const Kind kind = kindOf(*dir);
    std::vector<std::string> values;
    switch (property) {
    case NodeProperty::ClassName: {
        auto classOfInterface = [](const fs::path& i) {
            return numberAttribute(i, "bInterfaceClass", 16).value_or(0) == 3 ? "HIDClass" : "USB";
        };
        if (kind == Kind::Hid) values.push_back("HIDClass");
        else if (kind == Kind::Interface) values.push_back(classOfInterface(*dir));
        else if (kind == Kind::UsbDevice) {
            std::string c = "USB";
            if (!composite(*dir))
                for (const fs::path& sub : subfolders(*dir))
                    if (kindOf(sub) == Kind::Interface) {
                        c = classOfInterface(sub);
                        break;
                    }
            values.push_back(c);
        } else {
            return false;
        }
        break;
    }
    case NodeProperty::CompatibleIds:
        if (kind == Kind::Hid) {
            values.push_back("HID_DEVICE");
        } else if (kind == Kind::UsbDevice && composite(*dir)) {
            values = {"USB\\Class_00&SubClass_00&Prot_00", "USB\\Class_00&SubClass_00", "USB\\Class_00",
                      "USB\\COMPOSITE"};
        } else if (kind == Kind::UsbDevice || kind == Kind::Interface) {
            fs::path from = *dir;
            if (kind == Kind::UsbDevice)
                for (const fs::path& sub : subfolders(*dir))
                    if (kindOf(sub) == Kind::Interface) {
                        from = sub;
                        break;
                    }
            values.push_back("USB\\Class_" + hex2(numberAttribute(from, "bInterfaceClass", 16).value_or(0), false));
        } else {
            return false;
        }
        break;
    case NodeProperty::LocationPaths:
        if (kind != Kind::UsbDevice && kind != Kind::Interface) return false;
        values.push_back(dir->filename().string());
        break;
    }
    // The room the system gives the property: wide characters, each string with its terminator,
    // and the closing empty string of a list.
    const std::size_t room = property == NodeProperty::ClassName ? kClassBytes : kPropertyBytes;
    std::size_t bytes = 2;
    strings.clear();
    for (const std::string& v : values) {
        std::u16string w = wide(v);
        bytes += (w.size() + 1) * 2;
        strings.push_back(std::move(w));
    }
    return bytes <= room;
}

std::unique_ptr<HidDescription> HidDescription::fetch(OsHandle device, const char16_t* path) {
    if (device == kNoHandle) return nullptr;
    std::vector<std::uint8_t> bytes = reportDescriptor(static_cast<int>(device), path);
    posix::HidReportLayout layout;
    if (bytes.empty() || !posix::parseHidReportDescriptor(bytes.data(), bytes.size(), layout)) return nullptr;
    return std::make_unique<ParsedDescription>(std::move(layout));
}

}  // namespace tavrin::platform::usb
