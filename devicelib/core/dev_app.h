// CDevApp: the device library as a whole. One process-wide object, built on first use, holding the
// log, the settings, the device table, the user data folder and the OS level. initObj runs at
// process attach and exitObj at process detach.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "devicelib/core/dev_dll_cfg.h"
#include "devicelib/core/device_table.h"
#include "devicelib/core/log_file.h"

namespace tavrin {

class CDevCfgXml;

class CDevApp {
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
    std::u16string userAppPath;  // empty until start-up finds it
    std::uint16_t osLevel = 0;   // 2: Windows 7 or later, 1: Windows XP or later, 0: older
    std::atomic<bool> detaching{false};  // set while the library leaves the process

    // The configuration model: created at start-up (initObj), destroyed at unload.
    std::unique_ptr<CDevCfgXml> devCfg;

private:
    void getUserAppPath();
};

CDevApp& theApp();
inline CLogFile& theLog() { return theApp().log; }

}  // namespace tavrin
