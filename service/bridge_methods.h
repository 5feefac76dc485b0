// The service's device methods: the browser control's own, over the bridge library bound at run
// time, so that every answer is the control's text.
#pragma once

#include "service/method_calls.h"
#include "tavrinocx/control_methods.h"

namespace tavrin::service {

class BridgeMethods final : public DeviceMethods {
public:
    explicit BridgeMethods(const ocx::BridgeEntries& entries) : methods_(entries) {}

    std::u16string enumDevPath(std::int32_t portType, const std::u16string& pathStr, std::int32_t vID,
                               std::int32_t pID) override {
        return methods_.enumDevPath(portType, pathStr, vID, pID);
    }
    std::u16string enumProtoCode(std::int32_t idx) override { return methods_.enumProtoCode(idx); }
    std::int32_t openDev(const std::u16string& path, std::int32_t readTimeout, std::int32_t writeTimeout,
                         std::int32_t portType, std::int32_t portMode) override {
        return methods_.openDev(path, readTimeout, writeTimeout, portType, portMode);
    }
    std::u16string devIoCtrl(const std::u16string& ctrlCode, const std::u16string& inDats,
                             std::int32_t handle) override {
        return methods_.devIoCtrl(ctrlCode, inDats, handle);
    }
    bool closeDev(std::int32_t pHandle) override { return methods_.closeDev(pHandle); }
    std::u16string getDevType(std::int32_t hDev) override { return methods_.getDevType(hDev); }
    std::u16string getCfgInfo(std::int32_t hDev) override { return methods_.getCfgInfo(hDev); }
    std::u16string setCfgInfo(std::int32_t hDev, const std::u16string& name, const std::u16string& val) override {
        return methods_.setCfgInfo(hDev, name, val);
    }

private:
    ocx::ControlMethods methods_;
};

}  // namespace tavrin::service
