// The browser control's script methods, as portable code: each method calls one function of the
// bridge library and returns the number, the flag or the JSON text a page receives. The ActiveX
// control (Windows) and the local device service (every target) both answer with these texts,
// so a page sees the same result whichever of them it talks to.
#pragma once

#include <cstdint>
#include <string>

#include "tavrin/bridge.h"

namespace tavrin::ocx {

// The bridge functions the methods call, looked up by name in a loaded bridge library. An entry
// that is missing stays null, and the methods that need it return their failure result without
// calling it: {"RtnCode":20000000} (EnumDevPath), {"Result":0} (EnumProtoCode, DevIoCtrl), -1
// (OpenDev), false (CloseDev), {"RtnCode":20000000} (GetDevType, GetCfgInfo, SetCfgInfo).
struct BridgeEntries {
#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters) std::int32_t(TAVRIN_API* name) parameters = nullptr;
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters) TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters)
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
};

// The nine methods but AboutBox, which only the control has. Texts are UTF-16 both ways.
class ControlMethods {
public:
    explicit ControlMethods(const BridgeEntries& entries) : bridge_(entries) {}

    std::u16string enumDevPath(std::int32_t portType, const std::u16string& pathStr, std::int32_t vID,
                               std::int32_t pID) const;
    std::u16string enumProtoCode(std::int32_t idx) const;
    std::int32_t openDev(const std::u16string& path, std::int32_t readTimeout, std::int32_t writeTimeout,
                         std::int32_t portType, std::int32_t portMode) const;
    std::u16string devIoCtrl(const std::u16string& ctrlCode, const std::u16string& inDats,
                             std::int32_t handle) const;
    bool closeDev(std::int32_t pHandle) const;
    std::u16string getDevType(std::int32_t hDev) const;
    std::u16string getCfgInfo(std::int32_t hDev) const;
    std::u16string setCfgInfo(std::int32_t hDev, const std::u16string& name, const std::u16string& val) const;

private:
    BridgeEntries bridge_;
};

}  // namespace tavrin::ocx
