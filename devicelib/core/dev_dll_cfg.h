// CDevDllCfg: the settings of the device library, read once at start-up from "DevDllCfg.ini" in
// the user data folder. Without a successful load every field keeps its default.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin {

class CDevDllCfg {
public:
    static constexpr std::int32_t kFileId = 1684418609;  // 0x64663031
    static constexpr std::size_t kMaxLogPath = 259;

    // Reads the settings file of the user data folder; 1 if it was read, else 0.
    std::int32_t load(const std::u16string& userFolder);

    std::int32_t CfgID = 0;
    std::int32_t ReadTimeout = 100;
    std::int32_t WriteTimeout = 2000;
    std::uint16_t UsbVID = 0;
    std::uint16_t UsbPID = 0;
    std::int32_t LogEnable = 1;
    std::u16string LogPath;
    // Where the device search sends its request: the limited broadcast by default, or a directed
    // broadcast or single address (a loopback one for the demo and the tests).
    std::u16string DiscoveryAddress = u"255.255.255.255";
    // Linux: the folder that stands for "/" when USB devices are looked up (its sys/ and dev/);
    // empty for the system's own. The simulator's stand-in USB devices live in such a folder.
    std::u16string UsbSysRoot;
    // How long the device search waits after the last valid reply, in ms ("Port", 2000 by default,
    // for networks known to answer faster); a value of 0 or below counts as missing.
    std::int32_t DiscoveryTimeout = 2000;
};

}  // namespace tavrin
