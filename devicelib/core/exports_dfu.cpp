// The exported functions of the firmware update: open a firmware file for a device, read or
// change its information fields, start the update, stop it and close the file. Each one runs on
// the caller's thread; no exception leaves it.
#include <memory>

#include "devicelib/core/dev_app.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/export_text.h"
#include "devicelib/dfu/w_dfu.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

static_assert(sizeof(_FW_INFO) == kFwInfoSize, "the firmware information record has 42 bytes");

// The firmware update object of a device's slot (created on first use), with the session that
// holds it; none (with the line for an unknown device) when the handle names no open device.
struct DfuSlot {
    std::shared_ptr<DeviceSession> session;
    CWDfu* dfu = nullptr;
};

DfuSlot getDfuPort(std::int32_t handle, const char16_t* function = u"getDfuPort") {
    DfuSlot slot;
    slot.session = theApp().devices.lookup(handle);
    if (!slot.session) {
        theLog().funcLine(function, u"获 取 设 备 端 口(%d) 失 败 \r\n", handle);
        return slot;
    }
    slot.dfu = slot.session->dfu();
    return slot;
}

}  // namespace
}  // namespace tavrin

using namespace tavrin;

extern "C" {

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_OpenDfu(std::int32_t hDev, const tavrin_wchar_t* path, void* window) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        DfuSlot slot = getDfuPort(hDev);
        return slot.dfu != nullptr ? slot.dfu->openDfu(fromExport(path), window) : 0;
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_CloseDfu(std::int32_t hDev) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        DfuSlot slot = getDfuPort(hDev);
        return slot.dfu != nullptr ? slot.dfu->closeDfu() : 0;
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_fwInfo(std::int32_t hDev, _FW_INFO* info, std::int32_t get) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        DfuSlot slot = getDfuPort(hDev);
        if (slot.dfu == nullptr) return 0;
        return slot.dfu->fwInfo(reinterpret_cast<std::uint8_t*>(info), get != 0);
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_DFUStart(std::int32_t hDev, std::uint32_t options) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        auto session = theApp().devices.lookup(hDev);
        if (!session) {
            theLog().funcLine(u"dllFunc_DFUStart", u"获 取 设 备 端 口(%d) 失 败 \r\n", hDev);
            return 0;
        }
        if (session->controlPort() == nullptr) return 0;
        // The busy bit covers the start only: the update thread later uses the port without it.
        BusyClaim claim(*session, BUSY_CTRL);
        if (!claim.held()) return 0;
        CWDfu* dfu = session->dfu();
        if (dfu == nullptr || session->protocol() == nullptr) return 0;
        return dfu->updateStart(session, hDev, options);
    });
}

}  // extern "C"
