#include "devicelib/core/dev_dll_cfg.h"

#include "platform/ini_file.h"
#include "platform/system_info.h"

namespace tavrin {

std::int32_t CDevDllCfg::load(const std::u16string& userFolder) {
    std::u16string file = u"DevDllCfg.ini";
    if (!userFolder.empty() && !platform::joinPath(userFolder, u"DevDllCfg.ini", file)) return 0;

    CfgID = platform::iniReadInt(file, u"General", u"CfgID", 0);
    if (CfgID != kFileId) return 0;

    ReadTimeout = platform::iniReadInt(file, u"Port", u"ReadTimeout", 100);
    WriteTimeout = platform::iniReadInt(file, u"Port", u"WriteTimeout", 2000);
    UsbVID = static_cast<std::uint16_t>(platform::iniReadInt(file, u"Port", u"UsbVID", 0));
    UsbPID = static_cast<std::uint16_t>(platform::iniReadInt(file, u"Port", u"UsbPID", 0));
    DiscoveryAddress = platform::iniReadString(file, u"Port", u"DiscoveryAddress", u"255.255.255.255", 31);
    UsbSysRoot = platform::iniReadString(file, u"Port", u"UsbSysRoot", u"", kMaxLogPath);
    DiscoveryTimeout = platform::iniReadInt(file, u"Port", u"DiscoveryTimeout", 2000);
    if (DiscoveryTimeout <= 0) DiscoveryTimeout = 2000;

    LogEnable = platform::iniReadInt(file, u"SysLog", u"LogEnable", 1);
    LogPath.clear();
    if (LogEnable != 0) {
        LogPath = platform::iniReadString(file, u"SysLog", u"LogPath", u"", kMaxLogPath);
        if (LogPath.empty() && !userFolder.empty()) {
            std::u16string joined;
            if (platform::joinPath(userFolder, u"tavrin.log", joined)) LogPath = joined;
        }
    }
    return 1;
}

}  // namespace tavrin
