// The exports of device configuration: loading a description (dllFunc_LoadDevCfg), the items'
// description lines and values (dllFunc_GetDevCfgInfo) and setting a value, also on the device or
// in "devCfg.dat" (dllFunc_SetDevCfgInfo). Handle -1 stands for no device: the description comes
// from a file and the packet from and to "devCfg.dat" in the user data folder.
//
// All three share the one configuration model. A call that finds another one running fails at
// once with a log line instead of working on the model at the same time.
#include <mutex>

#include "devicelib/config/cfg_transfer.h"
#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/dev_app.h"
#include "devicelib/core/dev_io_ctrl.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/export_text.h"
#include "platform/system_info.h"
#include "platform/xml_document.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr std::int32_t kNoDevice = -1;

// The model for one export call, or none (with a line) while another call holds it.
class ConfigClaim {
public:
    explicit ConfigClaim(const char16_t* function)
        : model_(&theApp().devCfg), lock_(model_->busy(), std::try_to_lock) {
        if (!lock_.owns_lock()) theLog().funcLine(function, u"Config Busy\r\n");
    }
    CDevCfgXml* model() const { return lock_.owns_lock() ? model_ : nullptr; }

private:
    CDevCfgXml* model_;
    std::unique_lock<std::mutex> lock_;
};

config::CfgExchange deviceExchange(std::int32_t handle) {
    return [handle](std::uint8_t code, const std::uint8_t* data, std::uint16_t length, _DEVACK_INFO& answer) {
        return DevIoCtrl(code, handle, data, length, &answer) != 0;
    };
}

std::int32_t refresh(CDevCfgXml& model, std::int32_t handle, bool write) {
    if (handle == kNoDevice)
        return config::RefreshDevCfgDat(model, nullptr, theApp().userAppPath, write, theLog());
    const config::CfgExchange device = deviceExchange(handle);
    return config::RefreshDevCfgDat(model, &device, theApp().userAppPath, write, theLog());
}

std::int32_t loadDevCfg(std::int32_t handle, const char16_t* path) {
    const ConfigClaim claim(u"dllFunc_LoadDevCfg");
    CDevCfgXml* model = claim.model();
    if (model == nullptr) return 0;
    const platform::XmlThreadScope com;
    if (!com.ok()) theLog().funcLine(u"dllFunc_LoadDevCfg", u"CoInitializeEx Fail(%d)", com.result());
    if (handle != kNoDevice) return config::loadDescriptionFromDevice(*model, deviceExchange(handle)) ? 1 : 0;
    if (path != nullptr) return model->loadCfgXml(path, nullptr) ? 1 : 0;
    const std::u16string& folder = theApp().userAppPath;
    std::u16string file;
    if (folder.empty() || !platform::joinPath(folder, u"devCfg.xml", file)) return 0;
    return model->loadCfgXml(file.c_str(), nullptr) ? 1 : 0;
}

std::int32_t getDevCfgInfo(std::int32_t handle, const void* key, char16_t* buffer, std::uint16_t* size,
                           std::uint16_t byName, std::uint16_t noRefresh) {
    if (size == nullptr) return 0;
    const ConfigClaim claim(u"dllFunc_GetDevCfgInfo");
    CDevCfgXml* model = claim.model();
    if (model == nullptr) {
        *size = 0;
        return 0;
    }
    if (noRefresh == 0 && refresh(*model, handle, false) == 0) {
        *size = 0;
        theLog().funcLine(u"dllFunc_GetDevCfgInfo", u"读 配 置 数 据 失 败！！！\r\n");
        return 0;
    }
    if (byName != 0) return model->getItemVal(static_cast<const char16_t*>(key), buffer, size) ? 1 : 0;
    if (key == nullptr) {
        *size = 0;
        return 0;
    }
    return model->getItemFmt(*static_cast<const std::uint16_t*>(key), buffer, size) ? 1 : 0;
}

std::int32_t setDevCfgInfo(std::int32_t handle, const char16_t* name, const char16_t* value, std::uint16_t write) {
    const ConfigClaim claim(u"dllFunc_SetDevCfgInfo");
    CDevCfgXml* model = claim.model();
    if (model == nullptr) return 0;
    if (!model->setCfgVal(name, value, write != 0)) return 0;
    if (write == 0) return 1;  // held in the model only
    if (refresh(*model, handle, true) != 0) return 1;
    theLog().funcLine(u"dllFunc_SetDevCfgInfo", u"写 配 置 数 据 失 败！！！\r\n");
    return 0;
}

}  // namespace
}  // namespace tavrin

using namespace tavrin;

extern "C" {

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_LoadDevCfg(std::int32_t hDev, const tavrin_wchar_t* path) {
    return guarded<std::int32_t>(0, [&] { return loadDevCfg(hDev, fromExport(path)); });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_GetDevCfgInfo(std::int32_t hDev, const void* key,
                                                            tavrin_wchar_t* buffer, std::uint16_t* size,
                                                            std::uint16_t byName, std::uint16_t noRefresh) {
    return guarded<std::int32_t>(0, [&] {
        return getDevCfgInfo(hDev, key, reinterpret_cast<char16_t*>(buffer), size, byName, noRefresh);
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_SetDevCfgInfo(std::int32_t hDev, const tavrin_wchar_t* name,
                                                            const tavrin_wchar_t* value, std::int32_t /*reserved*/,
                                                            std::uint16_t write) {
    return guarded<std::int32_t>(0, [&] { return setDevCfgInfo(hDev, fromExport(name), fromExport(value), write); });
}

}  // extern "C"
