// Device parameters through the bridge: every configuration item with its value, and setting one.
#include <cstring>
#include <string>

#include "bridge/de_common.h"

namespace tavrin::bridge {
namespace {

using Text = std::basic_string<tavrin_wchar_t>;
constexpr std::uint16_t kTextChars = 1024;
constexpr std::size_t kConnectArea = 256;

// The connect command both functions send first; false (with its trace line) when it failed.
bool connectStep(std::int32_t hDev) {
    const auto& f = deviceFunctions();
    std::uint8_t area[kConnectArea] = {};
    _DEVACK_INFO answer{area, static_cast<std::uint16_t>(kConnectArea), 0, 0};
    const Text name = exportText(u"CTRL_CMD_CONNT");
    if (f.DevIoCtrl == nullptr || f.DevIoCtrl(hDev, name.c_str(), nullptr, 0, &answer) == 0) {
        traceWrite(-1, {}, u"pDevIoCtrl CTRL_CMD_CONNT失败", false);
        return false;
    }
    return true;
}

// The item's name in its description line: the "Name=" field's value.
Text itemName(const Text& line) {
    const std::size_t eq = line.find(TAVRIN_TEXT('='));
    const std::size_t comma = line.find(TAVRIN_TEXT(','));
    if (eq == Text::npos) return line.substr(0, comma);
    if (comma == Text::npos || comma < eq) return line.substr(eq + 1);
    return line.substr(eq + 1, comma - eq - 1);
}

void removeCrLf(Text& entry) {
    std::size_t at = 0;
    while ((at = entry.find(TAVRIN_TEXT("\r\n"), at > 0 ? at - 1 : 0)) != Text::npos) entry.erase(at, 2);
}

// The listing: false when the connect command failed (nothing touched).
bool listItems(std::int32_t HDEV, tavrin_bridge_text_map& metaData, tavrin_bridge_text_list& vFormatArr) {
    if (!connectStep(HDEV)) return false;
    const auto& f = deviceFunctions();
    if (f.LoadDevCfg == nullptr || f.GetDevCfgInfo == nullptr) return true;
    f.LoadDevCfg(HDEV, nullptr);
    std::vector<Text> names;
    // The entries this call appends (entries already present never receive a suffix).
    const std::size_t first = vFormatArr.size();
    std::vector<std::size_t> entryOf;
    for (std::uint16_t index = 0;; ++index) {
        tavrin_wchar_t text[kTextChars] = {};
        std::uint16_t length = kTextChars;
        const std::int32_t ok = f.GetDevCfgInfo(HDEV, &index, text, &length, 0, 0);
        const Text line(text, std::char_traits<tavrin_wchar_t>::length(text) < kTextChars
                                  ? std::char_traits<tavrin_wchar_t>::length(text)
                                  : kTextChars - 1);
        std::size_t entry = Text::npos;
        if (!line.empty()) {
            vFormatArr.push_back(line);
            entry = vFormatArr.size() - 1;
        }
        const Text name = itemName(line);
        if (!name.empty()) {
            names.push_back(name);
            entryOf.push_back(entry);
        }
        if (ok == 0 || index == 0xFFFF) break;
    }
    (void)first;
    for (std::size_t i = 0; i < names.size(); ++i) {
        tavrin_wchar_t value[kTextChars] = {};
        std::uint16_t length = kTextChars;
        f.GetDevCfgInfo(HDEV, names[i].c_str(), value, &length, 1, 1);
        value[kTextChars - 1] = 0;
        const Text shown = value[0] == 0 ? exportText(u"null") : Text(value);
        metaData.emplace(names[i], shown);
        if (entryOf[i] == Text::npos) continue;
        Text& entry = vFormatArr[entryOf[i]];
        entry += exportText(u",CurVal=") + shown;
        removeCrLf(entry);
    }
    return true;
}

}  // namespace
}  // namespace tavrin::bridge

using namespace tavrin::bridge;

extern "C" {

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEGetDevPars(int32_t HDEV, tavrin_bridge_text_map& metaData,
                                                     tavrin_bridge_text_list& vFormatArr) {
    return guardedCall([&] {
        TraceScope scope(u"DEGetDevPars");
        scope.param("HDEV", HDEV);
        scope.param("metaData", metaData);
        scope.param("vFormatArr", vFormatArr);
        return listItems(HDEV, metaData, vFormatArr) ? DE_OK : DE_ERR_DEVICE;
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DESetDevCfgInfo(int32_t HDEV, const tavrin_wchar_t* name,
                                                        const tavrin_wchar_t* val) {
    return guardedCall([&] {
        TraceScope scope(u"DESetDevCfgInfo");
        scope.param("HDEV", HDEV);
        scope.param("name", name);
        scope.param("val", val);
        if (!connectStep(HDEV)) return DE_ERR_DEVICE;
        const auto& f = deviceFunctions();
        if (f.SetDevCfgInfo == nullptr || f.SetDevCfgInfo(HDEV, name, val, 0, 1) == 0) {
            traceWrite(-1, {}, u"pSetDevCfgInfo 失败", false);
            return DE_ERR_DEVICE;
        }
        return DE_OK;
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEGetDevParsText(int32_t HDEV, tavrin_wchar_t* text, uint32_t* size) {
    return guardedCall([&] {
        TraceScope scope(u"DEGetDevParsText");
        scope.param("HDEV", HDEV);
        scope.paramBuffer("text", text, size != nullptr ? *size : 0);
        scope.param("size", size);
        if (size == nullptr) return finish(DE_ERR_PARAM);
        tavrin_bridge_text_map values;
        tavrin_bridge_text_list entries;
        if (!listItems(HDEV, values, entries)) return finish(DE_ERR_DEVICE);
        tavrin_bridge_text joined;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i > 0) joined += TAVRIN_TEXT("\r\n");
            joined += entries[i];
        }
        const std::uint32_t needed = static_cast<std::uint32_t>(joined.size() + 1);
        const std::uint32_t capacity = *size;
        *size = needed;
        if (text == nullptr || capacity < needed) return finish(DE_ERR_BUFSIZE);
        std::memcpy(text, joined.c_str(), needed * sizeof(tavrin_wchar_t));
        return finish(DE_OK);
    });
}

}  // extern "C"
