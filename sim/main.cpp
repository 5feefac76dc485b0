// tavrin-sim: simulated devices for the device library, as a program of their own.
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "sim/control.h"
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
    if (!options.saveData.empty()) {
        std::filesystem::path failed;
        if (!simulator.saveDataIn(std::filesystem::u8path(options.saveData), failed)) {
            std::fprintf(stderr, "tavrin-sim: cannot write %s\n", failed.string().c_str());
            return 1;
        }
        std::printf("saving data in %s\n", options.saveData.c_str());
    }
    tavrin::platform::catchStopRequests();
    std::printf("ready\n");
    std::fflush(stdout);

    // Until standard input ends (each line of it a control command) or a stop is asked for.
    std::string pending;
    bool inputOpen = !options.untilKilled;
    while (!tavrin::platform::stopRequested()) {
        if (!inputOpen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const auto wait = tavrin::platform::waitForInput(50);
        if (wait == tavrin::platform::InputWait::TimedOut) continue;
        char buffer[512];
        const long n = wait == tavrin::platform::InputWait::Ended ? 0 : tavrin::platform::readInput(buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const ControlReply reply = runControl(simulator, line);
            if (!reply.text.empty()) std::printf("%s%s", reply.text.c_str(), reply.text.back() == '\n' ? "" : "\n");
            std::fflush(stdout);
        }
    }
    simulator.stop();
    std::printf("%s", simulator.summary().c_str());
    std::fflush(stdout);
    return 0;
}
