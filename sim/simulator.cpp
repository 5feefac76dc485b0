#include "sim/simulator.h"

#include <utility>

namespace tavrin::sim {

SimDevice::SimDevice(DeviceConfig config, std::unique_ptr<ByteChannel> control)
    : model_(std::move(config)), control_(std::move(control)), commands_(*control_, model_, recorder_) {}

SimDevice::~SimDevice() { stop(); }

void SimDevice::start() { commands_.start(); }

void SimDevice::stop() { commands_.stop(); }

SimDevice* Simulator::addDevice(DeviceConfig config, const std::string& tag) {
    auto channel = PeerChannel::create(tag);
    if (!channel) return nullptr;
    devices_.push_back(std::make_unique<SimDevice>(std::move(config), std::move(channel)));
    devices_.back()->start();
    return devices_.back().get();
}

void Simulator::stop() {
    for (auto& device : devices_) device->stop();
}

}  // namespace tavrin::sim
