// A USB device tree of stand-in devices, for the tests and the simulator (there is no USB
// hardware where they run). Linux: a folder holding a sysfs tree and device nodes as the kernel
// shows them (usbmisc/lpN, hidraw/hidrawN, report descriptors), which the library reads once its
// system root points at it; a node backed by a stand-in device (device_peer.h) is a link to it.
// Windows: the device installation, configuration manager and HID services of this process are
// replaced by a fake that answers from the tree, with the system's own structure rules; it states
// for every open handle the report layout of the first HID interface backed by a stand-in device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::platform {

struct StandInInterface {
    enum class Kind { Printer, Hid };
    Kind kind = Kind::Printer;
    std::uint8_t number = 0;     // interface number (MI_xx of a composite device)
    std::u16string devicePath;   // the stand-in device the interface opens; empty: none
    // HID: the report layout the device states.
    std::uint8_t reportId = 0xA6;
    std::uint16_t inputReportLength = 65;
    std::uint16_t outputReportLength = 65;
};

struct StandInUsbDevice {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string port;       // where it sits on the bus ("3", "4.1"): its location
    std::string instance;   // what makes its instance id unique (a serial number)
    std::vector<StandInInterface> interfaces;  // more than one: a composite device
};

class StandInUsbTree {
public:
    // An empty tree; null when it cannot be made.
    static std::unique_ptr<StandInUsbTree> create(const std::string& tag);

    virtual ~StandInUsbTree() = default;

    // Plugs a device in; false when the tree cannot take it (its port is taken).
    virtual bool plug(const StandInUsbDevice& device) = 0;
    // Pulls the device at a port out.
    virtual void unplug(const std::string& port) = 0;
    // The interface path the system lists for an interface of the device at a port (empty when
    // there is none).
    virtual std::u16string interfacePath(const std::string& port, std::uint8_t number) const = 0;
    // The instance id of the device at a port.
    virtual std::u16string deviceInstanceId(const std::string& port) const = 0;

    // Makes this process's library see the tree (and only it) until uninstall().
    virtual void install() = 0;
    virtual void uninstall() = 0;
    // Windows: the device information sets and parsed report descriptions handed out and not
    // released yet. Linux: 0 (the tree has nothing to release).
    virtual int unreleased() const = 0;
    // Linux: the folder that stands for "/" (the library's setting UsbSysRoot names it for other
    // processes). Windows: empty, the tree is seen only by this process.
    virtual std::u16string systemRoot() const = 0;
};

}  // namespace tavrin::platform
