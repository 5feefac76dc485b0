// CEnumDevice: one search of the USB device tree. It lists the interface paths of a class, finds
// the device node of a path or of an instance id, climbs from an interface to the USB device that
// owns it (its location path and instance id), finds the interface of the other class under a
// composite device, and finds a device by its location. The tree itself is the platform's
// (platform/usb_tree.h); everything here is the same on every system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb_tree.h"

namespace tavrin {

class PortLog;

using platform::usb::DevNode;

// USB paths are at most 259 characters, instance ids at most 199 (terminators not counted).
inline constexpr std::size_t kUsbPathChars = 260;

class CEnumDevice {
public:
    // log: where the search writes its lines; none for the exported listing.
    explicit CEnumDevice(PortLog* log = nullptr) : log_(log) {}
    CEnumDevice(const CEnumDevice&) = delete;
    CEnumDevice& operator=(const CEnumDevice&) = delete;

    // The index-th interface path of a class, or none; *status: 0 a path, 1 no more, -1 an error.
    // The path stays valid until the next call.
    const char16_t* enumDevSymLnk(std::uint32_t index, const char16_t* interfaceClass, int* status);
    // The first interface of a class whose path equals path (when given) and whose device's
    // instance id equals instanceId (when given); *node receives its device node.
    const char16_t* findEqualDevInst(const char16_t* interfaceClass, DevNode* node, const char16_t* path,
                                     const char16_t* instanceId);
    // Climbs from an interface's node to the USB device that owns it; its first location path, or
    // none. *parentId (when given) receives the device's instance id.
    const char16_t* takeUsbLocaPath(DevNode node, std::u16string* parentId);
    // The instance id of the first device of the set whose first location path equals location,
    // or none. The set is destroyed before it returns.
    const char16_t* findUsbDeviceByLocation(const char16_t* location,
                                            std::unique_ptr<platform::usb::DeviceSet> set);
    // Whether a node is a composite USB device; false when its compatible ids cannot be read.
    bool isCompositeNode(DevNode node, bool* composite);
    // The instance id of the interface of a kind (0: class "USB", the printer side; 1: the HID
    // collection under class "HIDClass") of the device instanceId, into out (*size characters;
    // it receives the id's length + 1).
    bool findChildOfClass(const char16_t* instanceId, int kind, char16_t* out, std::uint32_t* size);

    // Reads the VID, PID and interface number from the text after the first '#' of a path with
    // "VID_%4x&PID_%4x&MI_%2x" (case ignored). False, changing nothing, with fewer than two fields.
    static bool parseVidPidMi(std::uint16_t* vid, std::uint16_t* pid, std::uint16_t* mi, const char16_t* path);
    // The same pattern on any text after the first separator; the number of fields read.
    static int scanVidPidMi(const char16_t* text, char16_t separator, std::uint16_t* vid, std::uint16_t* pid,
                            std::uint16_t* mi);

private:
    void line(const char16_t* function, const char16_t* text);

    PortLog* log_;
    std::unique_ptr<platform::usb::DeviceSet> set_;
    std::u16string setClass_;
    std::u16string path_;
    DevNode node_ = 0;
    std::vector<std::u16string> locationPaths_;
    std::u16string instanceId_;
};

// The USB listing of dllFunc_EnumDevPath: the interface paths of a class that pass the VID and
// PID filters (0: any), one after another with their terminators and a closing empty string.
// *size: in, the buffer's capacity in characters; out, what the whole list needs. Returns the
// number of paths written.
std::uint32_t listUsbPaths(const char16_t* interfaceClass, char16_t* buffer, std::uint32_t* size,
                           std::uint16_t vidFilter, std::uint16_t pidFilter);

}  // namespace tavrin
