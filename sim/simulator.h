// The simulator: one or more devices, each a model with its recorder and the transports that
// serve it. Today a device has one transport, its control stream on a stand-in device that the
// library opens by path; the network channels, discovery and HID reports come as further services
// of the same device.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/channel.h"
#include "sim/command_service.h"
#include "sim/device_model.h"
#include "sim/recorder.h"

namespace tavrin::sim {

class SimDevice {
public:
    SimDevice(DeviceConfig config, std::unique_ptr<ByteChannel> control);
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    ~SimDevice();

    // The path the library opens to reach the device's command packets.
    std::u16string controlPath() const { return control_->path(); }
    DeviceModel& model() { return model_; }
    Recorder& received() { return recorder_; }
    void setFaults(const FaultPlan& faults) { model_.setFaults(faults); }

    void start();
    void stop();

private:
    DeviceModel model_;
    Recorder recorder_;
    std::unique_ptr<ByteChannel> control_;
    CommandService commands_;
};

class Simulator {
public:
    Simulator() = default;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() { stop(); }

    // A new device on a stand-in device of its own, already serving; null when the system
    // cannot make one. tag makes its path recognisable.
    SimDevice* addDevice(DeviceConfig config, const std::string& tag = "sim");
    std::size_t size() const { return devices_.size(); }
    SimDevice& device(std::size_t index) { return *devices_.at(index); }
    void stop();

private:
    std::vector<std::unique_ptr<SimDevice>> devices_;
};

}  // namespace tavrin::sim
