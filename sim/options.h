// The command line of tavrin-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/device_model.h"

namespace tavrin::sim {

struct Options {
    std::vector<DeviceConfig> devices;  // at least one unless help or error is set
    bool help = false;
    bool untilKilled = false;  // else: until standard input closes
    std::string error;         // non-empty: the command line was not understood
};

Options parseOptions(const std::vector<std::string>& args);
const char* usageText();

}  // namespace tavrin::sim
