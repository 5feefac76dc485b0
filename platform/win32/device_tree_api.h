// The device installation (SetupDi*), configuration manager (CM_*) and HID (HidD_*, HidP_*)
// services, reached through one table of functions. The system's own functions fill it; the
// stand-in tree (usb_stand_in_win32.cpp) puts a fake in its place for the tests, which answers
// with the same structure rules.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/win32/windows_api.h"

#include <cfgmgr32.h>
#include <setupapi.h>
// The HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace tavrin::platform::win32 {

struct DeviceTreeApi {
    decltype(&::SetupDiGetClassDevsW) GetClassDevsW;
    decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) GetDeviceInterfaceDetailW;
    decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryPropertyW;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
    decltype(&::CM_Get_Device_IDW) Get_Device_IDW;
    decltype(&::CM_Get_Parent) Get_Parent;
    decltype(&::CM_Get_Child) Get_Child;
    decltype(&::CM_Get_Sibling) Get_Sibling;
    decltype(&::CM_Locate_DevNodeW) Locate_DevNodeW;
    decltype(&::CM_Get_DevNode_Registry_PropertyW) Get_DevNode_Registry_PropertyW;
    decltype(&::HidD_GetHidGuid) GetHidGuid;
    decltype(&::HidD_GetPreparsedData) GetPreparsedData;
    decltype(&::HidD_FreePreparsedData) FreePreparsedData;
    decltype(&::HidP_GetCaps) GetCaps;
    decltype(&::HidP_GetSpecificValueCaps) GetSpecificValueCaps;
};

// The table in use.
const DeviceTreeApi& deviceTreeApi();
// Puts another table in place (null: the system's own again). Not for use while a search runs.
void setDeviceTreeApi(const DeviceTreeApi* api);

// A device information set, destroyed through the table in use.
struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type set) { deviceTreeApi().DestroyDeviceInfoList(set); }
};
using ScopedDeviceInfoSet = ScopedHandle<DeviceInfoSetTraits>;

}  // namespace tavrin::platform::win32
