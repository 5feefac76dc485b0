// tavrin-sim: simulated devices for the device library, as a program of their own.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "sim/options.h"
#include "sim/simulator.h"

namespace {

std::string printable(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrin::sim;
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "tavrin-sim: %s\n\n%s", options.error.c_str(), usageText());
        return 2;
    }

    Simulator simulator;
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        const DeviceTransport& transport = options.transports[i];
        SimDevice* device = transport.network ? simulator.addNetDevice(options.devices[i], transport.at)
                                              : simulator.addDevice(options.devices[i], "sim" + std::to_string(i));
        if (device == nullptr) {
            std::fprintf(stderr, "tavrin-sim: cannot serve device %zu\n", i);
            return 1;
        }
        if (transport.network && transport.refuseMs != 0) {
            device->dataChannel()->refuseFor(transport.refuseMs);
            device->controlChannel()->refuseFor(transport.refuseMs);
        }
        const std::u16string path = transport.network ? device->networkPath() : device->controlPath();
        std::printf("device %zu %s\n", i, printable(path).c_str());
    }
    if (options.discovery) {
        if (simulator.startDiscovery(*options.discovery, options.discoveryFaults, options.replyTo) == nullptr) {
            std::fprintf(stderr, "tavrin-sim: cannot answer searches at %s\n", endpointText(*options.discovery).c_str());
            return 1;
        }
        std::printf("search %s\n", endpointText(*options.discovery).c_str());
    }
    std::printf("ready\n");
    std::fflush(stdout);

    if (options.untilKilled) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    for (char c; std::cin.get(c);) {
    }
    simulator.stop();
    for (std::size_t i = 0; i < simulator.size(); ++i) {
        SimDevice& device = simulator.device(i);
        std::printf("device %zu received %zu command packets", i, device.received().packets().size());
        if (device.isNetwork()) std::printf(" and %zu bytes of raw data", device.receivedData().bytes().size());
        std::printf("\n");
        if (const ConfigSide* side = device.configSide()) {
            std::printf("device %zu configuration packet", i);
            for (std::uint8_t b : side->storedPacket()) std::printf(" %02X", b);
            std::printf("\n");
        }
    }
    return 0;
}
