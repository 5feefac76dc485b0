// The USB device tree as the enumeration and the HID port see it: the interfaces of a class that
// are present now, the device node behind each interface, the nodes' parents, children and
// siblings, their instance ids and a few of their properties, and the report layout a HID device
// states. Only platform/win32 (SetupDi*, CM_*, HidD_*/HidP_*) and platform/posix (sysfs, usblp,
// hidraw) implement it; the search logic that walks the tree is portable (devicelib/ports).
//
// Linux paths carry the same '#'-separated fields as Windows interface paths:
//   <dev>/usb/lp0#vid_0fe6&pid_811e&mi_00#1-3:1.0#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}
//   <dev>/hidraw2#vid_0fe6&pid_811e&mi_01#0003:0FE6:811E.0004#{4d1e55b2-f16f-11cf-88cb-001111000030}
// The device file is the text before the first '#'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_types.h"

namespace tavrin::platform::usb {

// A device node (a DEVINST on Windows; a node of the sysfs tree on Linux).
using DevNode = std::uint32_t;

// The system's limit for device instance ids, terminator included.
inline constexpr std::size_t kInstanceIdChars = 200;

// The USB printer interface class.
inline constexpr const char16_t* kPrinterInterfaceClass = u"{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";
// The HID interface class as the system reports it (HidD_GetHidGuid), in the same text form.
const char16_t* hidInterfaceClass();

// How the lookup of one interface of a set ended.
enum class InterfaceStatus {
    Found,
    NoMore,             // past the last interface
    EnumFailed,         // the interface could not be enumerated
    DetailFailed,       // its detail could not be read
    NoMemory,           // no room for its detail
    DetailRetryFailed,  // its detail could not be read into a buffer of the size asked for
};

// A set of present devices (a device information set on Windows), destroyed with its owner.
class DeviceSet {
public:
    // The interfaces of a class (text form "{...}") that are present now; null when the system
    // refused to build the set.
    static std::unique_ptr<DeviceSet> presentInterfaces(const char16_t* interfaceClass);
    // Every present device of the USB enumerator, of all classes; null when refused.
    static std::unique_ptr<DeviceSet> presentUsbDevices();

    virtual ~DeviceSet() = default;

    // The index-th interface of an interface set: its path and its device node.
    virtual InterfaceStatus interfaceAt(std::uint32_t index, std::u16string& path, DevNode& node) = 0;
    // The index-th device of a device set; false past the last one.
    virtual bool deviceAt(std::uint32_t index, DevNode& node) = 0;
    // The location paths of the index-th device of a device set (at most 520 bytes of them);
    // false when they cannot be read.
    virtual bool deviceLocationPaths(std::uint32_t index, std::vector<std::u16string>& paths) = 0;
};

// The node's instance id (shorter than kInstanceIdChars); false when it cannot be read.
bool deviceInstanceId(DevNode node, std::u16string& id);
bool parentNode(DevNode node, DevNode& parent);
bool firstChild(DevNode node, DevNode& child);
bool nextSibling(DevNode node, DevNode& sibling);
// The node of an instance id; false when no such device is present.
bool locateNode(const std::u16string& instanceId, DevNode& node);

enum class NodeProperty {
    ClassName,      // the setup class name ("USB", "HIDClass", ...), at most 400 bytes
    CompatibleIds,  // at most 520 bytes
    LocationPaths,  // at most 520 bytes
};
// The strings of a node's property, up to the first empty one; false when it cannot be read
// (or does not fit in the property's room).
bool nodeProperty(DevNode node, NodeProperty property, std::vector<std::u16string>& strings);

// What a HID device's description states of it.
struct HidCaps {
    std::uint16_t usagePage = 0;  // of the top-level collection
    std::uint16_t usage = 0;
    std::uint16_t inputReportLength = 0;   // bytes, the report id byte included
    std::uint16_t outputReportLength = 0;
    std::uint16_t outputValueCaps = 0;     // count of output value capabilities
};

// The parsed report description of an open HID device (preparsed data on Windows), kept by its
// owner and released with it.
class HidDescription {
public:
    // The description of the open device behind path; null when it states none (or is no HID
    // device).
    static std::unique_ptr<HidDescription> fetch(OsHandle device, const char16_t* path);

    virtual ~HidDescription() = default;
    // The top-level capabilities; false when the description cannot give them.
    virtual bool caps(HidCaps& caps) = 0;
    // The report ids of the output value capabilities of a usage page and usage (0: any), in
    // the order the description gives them, at most room of them; false on failure.
    virtual bool outputValueReportIds(std::uint16_t usagePage, std::uint16_t usage, std::size_t room,
                                      std::vector<std::uint8_t>& reportIds) = 0;
};

// Linux: the folder that stands for "/" when the tree is read (sys/ and dev/ below it); empty for
// the system's own. Set at start-up from the settings, and by tests. Windows ignores it.
void setSystemRoot(const std::u16string& root);

}  // namespace tavrin::platform::usb
