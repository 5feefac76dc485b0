// CDevApp: the device library as a whole. One process-wide object holding the log, the settings,
// the device table, the configuration model, the user data folder and the OS level. Process attach
// builds it and runs initObj; process detach runs exitObj and then destroys it (dev_app.cpp owns
// it: the C++ runtime's exit handlers never touch it).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/dev_dll_cfg.h"
#include "devicelib/core/device_table.h"
#include "devicelib/core/log_file.h"

namespace tavrin {

// The ports' host: they get the log, the settings they use and the detaching flag from here.
class CDevApp final : public PortHost {
public:
    CDevApp() = default;
    CDevApp(const CDevApp&) = delete;
    CDevApp& operator=(const CDevApp&) = delete;
    ~CDevApp();

    void initObj();
    void exitObj();

    // Declared first: the log outlives everything else, its lock is deleted last.
    CLogFile log;
    CDevDllCfg settings;
    CDeviceTable devices;
    CDevCfgXml devCfg{log};  // the configuration model: one for every device and caller
    std::u16string userAppPath;  // empty until start-up finds it
    std::uint16_t osLevel = 0;   // 2: Windows 7 or later, 1: Windows XP or later, 0: older
    std::atomic<bool> detaching{false};  // set while the library leaves the process

    PortLog& portLog() override { return log; }
    std::uint16_t systemLevel() const override { return osLevel; }
    bool leavingProcess() const override { return detaching.load(); }
    std::int32_t discoveryTimeout() const override { return settings.DiscoveryTimeout; }
    const char16_t* discoveryAddress() const override { return settings.DiscoveryAddress.c_str(); }

private:
    void getUserAppPath();
};

// The application object; built on first use where the library's pieces are linked into a program
// without its entry functions.
CDevApp& theApp();
inline CLogFile& theLog() { return theApp().log; }

}  // namespace tavrin
