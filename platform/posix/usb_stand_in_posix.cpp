// POSIX backend of usb_stand_in.h: a folder with the sysfs tree and device nodes the kernel would
// show for the devices plugged in (sys/devices/usb1/1-<port>/..., sys/class/usbmisc,
// sys/class/hidraw, sys/bus/usb/devices, sys/dev/char, dev/usb/lpN, dev/hidrawN).
#include "platform/usb_stand_in.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/posix/hid_descriptor.h"
#include "platform/posix/text_posix.h"
#include "platform/usb_tree.h"

namespace tavrin::platform {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> treeCounter{0};

std::string hex(unsigned v, int digits) {
    char b[12];
    std::snprintf(b, sizeof b, "%0*x", digits, v);
    return b;
}
std::string upperHex(unsigned v, int digits) {
    char b[12];
    std::snprintf(b, sizeof b, "%0*X", digits, v);
    return b;
}

bool writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

class SysfsStandIn final : public StandInUsbTree {
public:
    explicit SysfsStandIn(fs::path root) : root_(std::move(root)) {
        std::error_code ec;
        for (const char* d : {"sys/devices/usb1/1-0:1.0", "sys/class/usbmisc", "sys/class/hidraw",
                              "sys/bus/usb/devices", "sys/dev/char", "dev/usb"})
            fs::create_directories(root_ / d, ec);
        // The root hub: a device of its own, the parent of every device plugged in.
        const fs::path hub = root_ / "sys/devices/usb1";
        writeText(hub / "idVendor", "1d6b\n");
        writeText(hub / "idProduct", "0002\n");
        writeText(hub / "bNumInterfaces", " 1\n");
        writeText(hub / "1-0:1.0/bInterfaceNumber", "00\n");
        writeText(hub / "1-0:1.0/bInterfaceClass", "09\n");
        fs::create_directory_symlink("../../../devices/usb1", root_ / "sys/bus/usb/devices/usb1", ec);
    }
    ~SysfsStandIn() override {
        if (installed_) uninstall();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    bool plug(const StandInUsbDevice& device) override {
        if (devices_.count(device.port) != 0 || device.port.empty()) return false;
        Plugged plugged;
        const std::string name = "1-" + device.port;
        const fs::path dev = root_ / "sys/devices/usb1" / name;
        std::error_code ec;
        fs::create_directories(dev, ec);
        if (ec) return false;
        plugged.created.push_back(dev);
        writeText(dev / "idVendor", hex(device.vendorId, 4) + "\n");
        writeText(dev / "idProduct", hex(device.productId, 4) + "\n");
        writeText(dev / "bNumInterfaces", " " + std::to_string(device.interfaces.size()) + "\n");
        writeText(dev / "serial", device.instance + "\n");
        link("../../../devices/usb1/" + name, root_ / "sys/bus/usb/devices" / name, plugged);
        plugged.instanceId = u"USB\\VID_" + posix::fromUtf8(upperHex(device.vendorId, 4)) + u"&PID_" +
                             posix::fromUtf8(upperHex(device.productId, 4)) + u"\\" + posix::fromUtf8(name);

        const bool isComposite = device.interfaces.size() > 1;
        std::string fields = "#vid_" + hex(device.vendorId, 4) + "&pid_" + hex(device.productId, 4);
        for (const StandInInterface& i : device.interfaces) {
            const std::string ifName = name + ":1." + std::to_string(i.number);
            const fs::path ifDir = dev / ifName;
            fs::create_directories(ifDir, ec);
            writeText(ifDir / "bInterfaceNumber", hex(i.number, 2) + "\n");
            writeText(ifDir / "bInterfaceClass", i.kind == StandInInterface::Kind::Printer ? "07\n" : "03\n");
            link("../../../devices/usb1/" + name + "/" + ifName, root_ / "sys/bus/usb/devices" / ifName, plugged);
            const std::string myFields = fields + (isComposite ? "&mi_" + hex(i.number, 2) : std::string());
            const std::string devRoot = (root_ / "dev").string();
            if (i.kind == StandInInterface::Kind::Printer) {
                const std::string node = "lp" + std::to_string(nextLp_++);
                const fs::path classDir = ifDir / "usbmisc" / node;
                fs::create_directories(classDir, ec);
                fs::create_directory_symlink("../..", classDir / "device", ec);
                link("../../devices/usb1/" + name + "/" + ifName + "/usbmisc/" + node,
                     root_ / "sys/class/usbmisc" / node, plugged);
                deviceNode(i.devicePath, root_ / "dev/usb" / node, plugged);
                plugged.paths[i.number] = posix::fromUtf8(devRoot + "/usb/" + node + myFields + "#" + ifName +
                                                          "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
            } else {
                const std::string hidName = "0003:" + upperHex(device.vendorId, 4) + ":" +
                                            upperHex(device.productId, 4) + "." + upperHex(nextHid_++, 4);
                const std::string node = "hidraw" + std::to_string(nextHidraw_++);
                const fs::path hidDir = ifDir / hidName;
                const fs::path classDir = hidDir / "hidraw" / node;
                fs::create_directories(classDir, ec);
                fs::create_directory_symlink("../..", classDir / "device", ec);
                // Only a device that is served states its report layout.
                if (!i.devicePath.empty()) {
                    const auto desc =
                        posix::vendorReportDescriptor(i.reportId, i.inputReportLength, i.outputReportLength);
                    std::ofstream(hidDir / "report_descriptor", std::ios::binary)
                        .write(reinterpret_cast<const char*>(desc.data()), static_cast<std::streamsize>(desc.size()));
                }
                const std::string fromClass = "../../devices/usb1/" + name + "/" + ifName + "/" + hidName + "/hidraw/" + node;
                link(fromClass, root_ / "sys/class/hidraw" / node, plugged);
                deviceNode(i.devicePath, root_ / "dev" / node, plugged);
                // The device number of the node, as the driver would register it.
                struct stat st{};
                if (!i.devicePath.empty() && ::stat(posix::toUtf8(i.devicePath.c_str()).c_str(), &st) == 0 &&
                    S_ISCHR(st.st_mode)) {
                    const std::string number =
                        std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
                    link(fromClass, root_ / "sys/dev/char" / number, plugged);
                }
                plugged.paths[i.number] = posix::fromUtf8(devRoot + "/" + node + myFields + "#" + hidName +
                                                          "#{4d1e55b2-f16f-11cf-88cb-001111000030}");
            }
        }
        devices_[device.port] = std::move(plugged);
        return true;
    }

    void unplug(const std::string& port) override {
        auto it = devices_.find(port);
        if (it == devices_.end()) return;
        std::error_code ec;
        for (auto p = it->second.created.rbegin(); p != it->second.created.rend(); ++p) fs::remove_all(*p, ec);
        devices_.erase(it);
    }

    std::u16string interfacePath(const std::string& port, std::uint8_t number) const override {
        auto it = devices_.find(port);
        if (it == devices_.end()) return {};
        auto p = it->second.paths.find(number);
        return p == it->second.paths.end() ? std::u16string() : p->second;
    }
    std::u16string deviceInstanceId(const std::string& port) const override {
        auto it = devices_.find(port);
        return it == devices_.end() ? std::u16string() : it->second.instanceId;
    }

    void install() override {
        usb::setSystemRoot(posix::fromUtf8(root_.string()));
        installed_ = true;
    }
    void uninstall() override {
        usb::setSystemRoot(u"");
        installed_ = false;
    }
    int unreleased() const override { return 0; }
    std::u16string systemRoot() const override { return posix::fromUtf8(root_.string()); }

private:
    struct Plugged {
        std::vector<fs::path> created;
        std::map<std::uint8_t, std::u16string> paths;
        std::u16string instanceId;
    };

    static void link(const std::string& target, const fs::path& at, Plugged& plugged) {
        std::error_code ec;
        fs::create_directory_symlink(target, at, ec);
        plugged.created.push_back(at);
    }
    // A device node: a link to the stand-in device, or a file nobody serves.
    static void deviceNode(const std::u16string& devicePath, const fs::path& at, Plugged& plugged) {
        std::error_code ec;
        if (!devicePath.empty()) fs::create_symlink(posix::toUtf8(devicePath.c_str()), at, ec);
        else writeText(at, "");
        plugged.created.push_back(at);
    }

    fs::path root_;
    std::map<std::string, Plugged> devices_;
    unsigned nextLp_ = 0;
    unsigned nextHidraw_ = 0;
    unsigned nextHid_ = 1;
    bool installed_ = false;
};

}  // namespace

std::unique_ptr<StandInUsbTree> StandInUsbTree::create(const std::string& tag) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) return nullptr;
    fs::path root = base / ("tavrin-usb-" + tag + "-" + std::to_string(::getpid()) + "-" +
                            std::to_string(++treeCounter));
    fs::remove_all(root, ec);
    if (!fs::create_directories(root, ec) || root.string().find('#') != std::string::npos) return nullptr;
    return std::make_unique<SysfsStandIn>(root);
}

}  // namespace tavrin::platform
