// The command line of tavrin-sim.
#pragma once

#include <string>
#include <vector>

#include <optional>

#include "sim/device_model.h"
#include "sim/net_channel.h"

namespace tavrin::sim {

// How a device is reached: a stand-in device (the default) or the network.
struct DeviceTransport {
    bool network = false;
    platform::Ipv4Endpoint at{{127, 0, 0, 1}, 0};  // network: address and data port (0: any free)
    std::uint32_t refuseMs = 0;                      // network: connections refused at first
};

struct Options {
    std::vector<DeviceConfig> devices;  // at least one unless help or error is set
    std::vector<DeviceTransport> transports;  // one per device
    std::optional<platform::Ipv4Endpoint> discovery;  // answer searches at this address and UDP port
    std::optional<platform::Ipv4Endpoint> replyTo;    // send the search replies here instead of the sender
    DiscoveryFaults discoveryFaults;
    bool help = false;
    bool untilKilled = false;  // else: until standard input closes
    std::string saveData;      // a folder for the raw data each device receives; empty: none
    std::string error;         // non-empty: the command line was not understood
};

Options parseOptions(const std::vector<std::string>& args);
// CODE=status:N | CODE=text:TEXT | CODE=hex:BYTES into device.answers (as --answer).
bool parseAnswerSpec(const std::string& text, DeviceConfig& device);
const char* usageText();

}  // namespace tavrin::sim
