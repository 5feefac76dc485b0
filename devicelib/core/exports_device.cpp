// The exported functions of the device library for devices and raw transfers: open, close, the
// OS handle of a port, write and read. Each one runs on the caller's thread; no exception leaves it.
#include <memory>
#include <utility>

#include "devicelib/core/dev_app.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/export_text.h"
#include "devicelib/ports/hid_port.h"
#include "devicelib/ports/port_factory.h"
#include "devicelib/ports/usb_port.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr const char16_t* kOpenDev = u"dllFunc_OpenDev";
constexpr std::size_t kPathChars = 260;

// What a branch of dllFunc_OpenDev ends with.
struct OpenedPorts {
    std::unique_ptr<CBPort> control;
    std::unique_ptr<CBPort> data;
    bool ok = false;
};

void openFailLine(const char16_t* text, std::uint16_t branchType) {
    theLog().funcLine(kOpenDev, text, branchType);
}

// The lines of a port that failed to open, by role; [0] for the interface the path names, [1] to
// [3] for the steps of its sibling (1: open, 2: not found, 3: no port object).
constexpr const char16_t* kDataFail[] = {u"打 开 数 据 口 失 败(0x%x)\r\n", u"打 开 数 据 口 失 败1(0x%x)\r\n",
                                         u"打 开 数 据 口 失 败2(0x%x)\r\n", u"打 开 数 据 口 失 败3(0x%x)\r\n"};
constexpr const char16_t* kControlFail[] = {u"打 开 控 制 口 失 败(0x%x)\r\n", u"打 开 控 制 口 失 败1(0x%x)\r\n",
                                            u"打 开 控 制 口 失 败2(0x%x)\r\n", u"打 开 控 制 口 失 败3(0x%x)\r\n"};

// The two interfaces of a USB branch: the printer branch names the data (printer) interface, the
// HID branch the control (HID) interface; the other one is the sibling.
struct UsbRoles {
    explicit UsbRoles(const _DEVOPEN_INFO& info)
        : branch(info.portType), printerFirst(branch == PORT_USBPRN),
          wantFirst((info.portMode & (printerFirst ? MODE_DATA : MODE_CTRL)) != 0),
          wantSecond((info.portMode & (printerFirst ? MODE_CTRL : MODE_DATA)) != 0) {}

    const char16_t* const* firstFail() const { return printerFirst ? kDataFail : kControlFail; }
    const char16_t* const* siblingFail() const { return printerFirst ? kControlFail : kDataFail; }
    std::uint16_t siblingType() const { return printerFirst ? PORT_HID : PORT_USBPRN; }

    std::uint16_t branch;
    bool printerFirst;
    bool wantFirst;   // the named interface's role was asked for
    bool wantSecond;  // the sibling's role was asked for
};

// The interface the path names: opened, or only resolved when its role was not asked for.
bool openNamedInterface(_DEVOPEN_INFO& copy, const UsbRoles& roles, std::unique_ptr<CBPort>& port) {
    port = createPort(roles.branch, theApp());
    if (!port) return false;
    if (!port->openPort(&copy, roles.wantFirst ? 0 : kOpenResolveOnly)) {
        openFailLine(roles.firstFail()[0], roles.branch);
        return false;
    }
    return true;
}

// The other interface of the same device: found from the named one and opened. siblingPath
// (kPathChars) holds its path, which copy then names.
bool openSiblingInterface(_DEVOPEN_INFO& copy, const UsbRoles& roles, CBPort& named,
                          std::unique_ptr<CBPort>& port, char16_t* siblingPath) {
    port = createPort(roles.siblingType(), theApp());
    if (!port) {
        openFailLine(roles.siblingFail()[3], roles.branch);
        return false;
    }
    copy.portType = roles.siblingType();
    siblingPath[0] = 0;
    copy.path = toExport(siblingPath);
    auto& usb = static_cast<CUSBPort&>(named);
    if (!usb.findSiblingInterface(roles.printerFirst ? 1 : 0, roles.printerFirst ? hidClass() : kUsbPrinterClass,
                                  nullptr, siblingPath, kPathChars)) {
        openFailLine(roles.siblingFail()[2], roles.branch);
        return false;
    }
    if (!port->openPort(&copy, 0)) {
        openFailLine(roles.siblingFail()[1], roles.branch);
        return false;
    }
    return true;
}

// The USB branches: the interface the path names is opened first (or only resolved, when its role
// was not asked for), then the other interface of the same device is found and opened.
void openUsb(_DEVOPEN_INFO& copy, OpenedPorts& out, char16_t* siblingPath) {
    const UsbRoles roles(copy);
    std::unique_ptr<CBPort>& first = roles.printerFirst ? out.data : out.control;
    std::unique_ptr<CBPort>& second = roles.printerFirst ? out.control : out.data;
    if (!openNamedInterface(copy, roles, first)) return;
    if (roles.wantSecond && !openSiblingInterface(copy, roles, *first, second, siblingPath)) return;
    if (!roles.wantFirst) first.reset();  // it served only to find the sibling
    out.ok = true;
}

// The network branches: both channels go to the same address; the path's own channel first.
void openNetwork(_DEVOPEN_INFO& copy, OpenedPorts& out) {
    const std::uint16_t branch = copy.portType;
    const bool dataFirst = branch == PORT_NET_DATA;
    const std::uint16_t firstMode = dataFirst ? MODE_DATA : MODE_CTRL;
    const std::uint16_t secondMode = dataFirst ? MODE_CTRL : MODE_DATA;
    const std::uint16_t otherType = dataFirst ? PORT_NET_CTRL : PORT_NET_DATA;
    const char16_t* firstFail = dataFirst ? kDataFail[0] : kControlFail[0];
    const char16_t* secondFail = dataFirst ? kControlFail[0] : kDataFail[0];
    std::unique_ptr<CBPort>& first = dataFirst ? out.data : out.control;
    std::unique_ptr<CBPort>& second = dataFirst ? out.control : out.data;

    out.ok = true;
    if ((copy.portMode & firstMode) != 0) {
        first = createPort(branch, theApp());
        if (!first || !first->openPort(&copy, 0)) {
            openFailLine(firstFail, branch);
            out.ok = false;
            return;
        }
    }
    if ((copy.portMode & secondMode) != 0) {
        second = createPort(otherType, theApp());
        if (!second) {
            openFailLine(secondFail, branch);
            out.ok = false;
            return;
        }
        copy.portType = otherType;
        out.ok = second->openPort(&copy, 0) != 0;
    }
}

std::int32_t openDev(const _DEVOPEN_INFO* info) {
    CDevApp& app = theApp();
    if (info == nullptr) return -1;
    if ((info->portMode & (MODE_DATA | MODE_CTRL)) == 0) {
        app.log.funcLine(kOpenDev, u"没 有 指 定 需 打 开 的 端 口 (portMode = 0x%x)\r\n", info->portMode);
        return -1;
    }
    _DEVOPEN_INFO copy = *info;
    if (copy.readTimeout < 1) copy.readTimeout = static_cast<std::uint16_t>(app.settings.ReadTimeout);
    if (copy.writeTimeout < 1) copy.writeTimeout = static_cast<std::uint16_t>(app.settings.WriteTimeout);

    OpenedPorts ports;
    char16_t siblingPath[kPathChars] = {};
    switch (copy.portType) {
    case PORT_USBPRN:
    case PORT_HID: openUsb(copy, ports, siblingPath); break;
    case PORT_NET_DATA:
    case PORT_NET_CTRL: openNetwork(copy, ports); break;
    default:
        app.log.funcLine(kOpenDev, u"无 效 的 端 口 类 型(0x%x)\r\n", copy.portType);
        return -1;
    }

    if (ports.ok) {
        auto session = std::make_shared<DeviceSession>(std::move(ports.control), std::move(ports.data));
        const std::int32_t handle = app.devices.take(session);
        if (handle >= 0) {
            app.log.stampedLine(u"打 开 设 备(handle = %d,type = 0x%x,mode = 0x%x) 成 功\r\n", handle,
                                copy.portType, copy.portMode);
            return handle;
        }
        // No free slot: the session and its ports go with this scope.
    }
    app.log.funcLine(kOpenDev, u"打 开 设 备(%x) 失 败\r\n", copy.portType);
    return -1;
}

// The session of an open device for a raw transfer, or none (with the line for an unknown one).
std::shared_ptr<DeviceSession> transferSession(std::int32_t handle, const char16_t* function) {
    auto session = theApp().devices.lookup(handle);
    if (!session) theLog().funcLine(function, u"获 取 设 备 端 口(%d) 失 败 \r\n", handle);
    return session;
}

}  // namespace
}  // namespace tavrin

using namespace tavrin;

extern "C" {

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_OpenDev(const _DEVOPEN_INFO* info) {
    return guarded<std::int32_t>(-1, [&] { return openDev(info); });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_CloseDev(std::int32_t hDev) {
    return guarded<std::int32_t>(0, [&] {
        theLog().stampedLine(u"关 闭 设 备(%d)\r\n", hDev);
        return theApp().devices.empty(hDev) ? 1 : 0;
    });
}

TAVRIN_EXPORT tavrin_os_handle_t TAVRIN_API dllFunc_GetDevHandle(std::int32_t hDev, std::uint32_t selector) {
    return guarded<tavrin_os_handle_t>(-1, [&]() -> tavrin_os_handle_t {
        auto session = theApp().devices.lookup(hDev);
        if (!session) return -1;
        CBPort* port = (selector & 0xFF) != 0 ? session->dataPort() : session->controlPort();
        return port != nullptr ? port->osHandle() : -1;
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_Write(std::int32_t hDev, const void* data, std::uint32_t length,
                                                    std::uint32_t* written, void* overlapped) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        auto session = transferSession(hDev, u"dllFunc_Write");
        if (!session || session->dataPort() == nullptr) return 0;
        BusyClaim claim(*session, BUSY_DATA);
        if (!claim.held()) return 0;
        return session->dataPort()->writePort(data, length, written, overlapped);
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_Read(std::int32_t hDev, void* buffer, std::uint32_t length,
                                                   std::uint32_t* read, void* overlapped) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        auto session = transferSession(hDev, u"dllFunc_Read");
        if (!session || session->dataPort() == nullptr) return 0;
        BusyClaim claim(*session, BUSY_DATA);
        if (!claim.held()) return 0;
        return session->dataPort()->readPort(buffer, length, read, overlapped);
    });
}

}  // extern "C"
