// The script methods over the bridge's functions: each makes its one bridge call with the areas
// the method prepares and turns the outcome into its text (control_texts). A missing entry is
// never called.
#include "tavrinocx/control_methods.h"

#include <array>
#include <map>
#include <vector>

#include "platform/code_page.h"
#include "tavrinocx/control_texts.h"

namespace tavrin::ocx {
namespace {

using BridgeText = std::basic_string<tavrin_wchar_t>;

BridgeText toBridge(const std::u16string& text) { return BridgeText(text.begin(), text.end()); }

std::u16string fromBridge(const tavrin_wchar_t* text, std::size_t capacity) {
    std::u16string out;
    for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) out += static_cast<char16_t>(text[i]);
    return out;
}

std::uint16_t low16(std::int32_t v) { return static_cast<std::uint16_t>(v & 0xFFFF); }

}  // namespace

std::u16string ControlMethods::enumDevPath(std::int32_t portType, const std::u16string& /*pathStr*/,
                                           std::int32_t vID, std::int32_t pID) const {
    if (bridge_.EnumDevPath == nullptr) return rtnCodeText(DE_ERR_DEVICE);
    std::vector<tavrin_wchar_t> paths(kPathCapacity, 0);
    std::uint32_t size = static_cast<std::uint32_t>(kPathCapacity);
    std::uint16_t count = 0;
    const std::int32_t rc = bridge_.EnumDevPath(&count, low16(portType), paths.data(), size, low16(vID), low16(pID));
    if (rc != DE_OK || count == 0) return rtnCodeText(DE_ERR_DEVICE);
    return enumDevPathText(rc, count, fromBridge(paths.data(), paths.size()));
}

std::u16string ControlMethods::enumProtoCode(std::int32_t idx) const {
    if (bridge_.EnumProtoCode == nullptr) return resultText(DE_OK);
    const tavrin_wchar_t* description = nullptr;
    std::uint16_t code = 0;
    const std::int32_t rc = bridge_.EnumProtoCode(description, low16(idx), code);
    if (rc != DE_OK || description == nullptr) return resultText(rc);
    // A command name is short; the bound only keeps a text without its NUL from being read on.
    const std::u16string name = fromBridge(description, 256);
    return enumProtoCodeText(rc, &name, code);
}

std::int32_t ControlMethods::openDev(const std::u16string& path, std::int32_t readTimeout, std::int32_t writeTimeout,
                                     std::int32_t portType, std::int32_t portMode) const {
    std::int32_t handle = -1;
    if (bridge_.OpenDev == nullptr) return handle;
    const BridgeText p = toBridge(path);
    bridge_.OpenDev(&handle, p.c_str(), readTimeout, writeTimeout, static_cast<std::int16_t>(low16(portType)),
                    static_cast<std::int16_t>(low16(portMode)));
    return handle;
}

std::u16string ControlMethods::devIoCtrl(const std::u16string& ctrlCode, const std::u16string& inDats,
                                         std::int32_t handle) const {
    if (bridge_.DevIoCtrl == nullptr) return devIoCtrlText(false, nullptr, 0, 0);
    std::vector<std::uint8_t> data(kDataCapacity, 0);
    std::size_t count = 0;
    if (hexToBytes(inDats, data.data(), data.size(), count) != kHexOk) return devIoCtrlText(false, nullptr, 0, 0);
    std::vector<std::uint8_t> area(kDataCapacity, 0);
    _DEVACK_INFO answer{area.data(), static_cast<std::uint16_t>(area.size()), 0, 0};
    const BridgeText name = toBridge(ctrlCode);
    const bool ok = bridge_.DevIoCtrl(handle, name.c_str(), data.data(), static_cast<std::int32_t>(count), &answer) ==
                    DE_OK;
    // An answer longer than the area was not copied into it: there is nothing to show.
    if (answer.datLen > area.size()) return devIoCtrlText(false, nullptr, 0, 0);
    return devIoCtrlText(ok, area.data(), answer.datLen, answer.ackCode);
}

bool ControlMethods::closeDev(std::int32_t pHandle) const {
    return bridge_.CloseDev != nullptr && bridge_.CloseDev(pHandle) == DE_OK;
}

std::u16string ControlMethods::getDevType(std::int32_t hDev) const {
    if (bridge_.GetDevType == nullptr) return rtnCodeText(DE_ERR_DEVICE);
    std::vector<char> buffer(kTypeCapacity, 0);
    const std::int32_t rc = bridge_.GetDevType(hDev, buffer.data(), static_cast<std::int32_t>(buffer.size()));
    if (rc != DE_OK) return rtnCodeText(rc);
    std::string type;
    for (std::size_t i = 1; i < buffer.size() && buffer[i] != 0; ++i) type += buffer[i];
    return devTypeText(rc, static_cast<std::int8_t>(buffer[0]), platform::fromThreadCodePage(type));
}

std::u16string ControlMethods::getCfgInfo(std::int32_t hDev) const {
    if (bridge_.GetDevPars == nullptr) return rtnCodeText(DE_ERR_DEVICE);
    tavrin_bridge_text_map values;
    tavrin_bridge_text_list items;
    const std::int32_t rc = bridge_.GetDevPars(hDev, values, items);
    if (rc != DE_OK) return rtnCodeText(rc);
    std::vector<std::u16string> texts;
    texts.reserve(items.size());
    for (const BridgeText& item : items) texts.emplace_back(item.begin(), item.end());
    return cfgInfoText(rc, texts);
}

std::u16string ControlMethods::setCfgInfo(std::int32_t hDev, const std::u16string& name,
                                          const std::u16string& val) const {
    if (bridge_.SetDevCfgInfo == nullptr) return rtnCodeText(DE_ERR_DEVICE);
    const BridgeText n = toBridge(name);
    const BridgeText v = toBridge(val);
    return rtnCodeText(bridge_.SetDevCfgInfo(hDev, n.c_str(), v.c_str()));
}

}  // namespace tavrin::ocx
