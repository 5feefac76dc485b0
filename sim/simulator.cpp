#include "sim/simulator.h"

#include <cstdio>
#include <fstream>
#include <utility>

namespace tavrin::sim {

SimDevice::SimDevice(DeviceConfig config, std::unique_ptr<ByteChannel> control, std::unique_ptr<TcpChannel> data)
    : model_(std::move(config)), control_(std::move(control)), commands_(*control_, model_, recorder_),
      data_(std::move(data)), firmware_(model_.config().firmware, [this](std::uint32_t ms) { goAway(ms); }) {
    firmware_.attach(model_);
    if (const ConfigSideOptions side = model_.config().configSide; side.enabled) {
        configSide_ = std::make_shared<ConfigSide>(side);
        configSide_->install(model_);
    }
    if (data_) {
        const DeviceConfig config = model_.config();
        dataService_ = std::make_unique<DataService>(*data_, dataRecorder_, config.dataAnswer, config.dataClose,
                                                     [this] { return model_.dataRate(); });
    }
}

SimDevice::~SimDevice() { stop(); }

bool SimDevice::saveDataTo(const std::filesystem::path& file) {
    auto out = std::make_shared<std::ofstream>(file, std::ios::binary | std::ios::trunc);
    if (!*out) return false;
    Recorder& recorder = isNetwork() ? dataRecorder_ : recorder_;
    recorder.setTap([out](const std::uint8_t* bytes, std::size_t count) {
        out->write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
        out->flush();  // what has arrived is there to look at at once
    });
    return true;
}

std::size_t SimDevice::rawDataBytes() const {
    if (isNetwork()) return dataRecorder_.bytes().size();
    std::size_t packetBytes = 0;
    for (const Bytes& p : recorder_.packets()) packetBytes += p.size();
    const std::size_t all = recorder_.bytes().size();
    return all > packetBytes ? all - packetBytes : 0;
}

void SimDevice::goAway(std::uint32_t ms) {
    if (TcpChannel* control = controlChannel()) control->refuseFor(ms);
    if (data_) data_->refuseFor(ms);
}

void SimDevice::start() {
    commands_.start();
    if (dataService_) dataService_->start();
}

void SimDevice::stop() {
    commands_.stop();
    if (dataService_) dataService_->stop();
}

SimDevice* Simulator::addDevice(DeviceConfig config, const std::string& tag) {
    auto channel = PeerChannel::create(tag);
    if (!channel) return nullptr;
    devices_.push_back(std::make_unique<SimDevice>(std::move(config), std::move(channel)));
    devices_.back()->start();
    return devices_.back().get();
}

SimDevice* Simulator::addNetDevice(DeviceConfig config, const platform::Ipv4Endpoint& at) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto data = TcpChannel::listen(at);
        if (!data) return nullptr;
        // The control channel is at P + 100, which must be a port too.
        if (data->port() > 65535 - 100) {
            if (at.port != 0) return nullptr;
            continue;
        }
        platform::Ipv4Endpoint control = at;
        control.port = static_cast<std::uint16_t>(data->port() + 100);
        auto controlChannel = TcpChannel::listen(control);
        if (!controlChannel) {
            if (at.port != 0) return nullptr;
            continue;  // P + 100 is taken: another P
        }
        platform::Ipv4Endpoint endpoint = at;
        endpoint.port = data->port();
        devices_.push_back(std::make_unique<SimDevice>(std::move(config), std::move(controlChannel), std::move(data)));
        devices_.back()->dataEndpoint_ = endpoint;
        devices_.back()->start();
        if (discovery_) discovery_->setDevices(networkEndpoints());
        return devices_.back().get();
    }
    return nullptr;
}

std::vector<platform::Ipv4Endpoint> Simulator::networkEndpoints() const {
    std::vector<platform::Ipv4Endpoint> out;
    for (const auto& d : devices_)
        if (d->isNetwork()) out.push_back(d->networkEndpoint());
    return out;
}

DiscoveryResponder* Simulator::startDiscovery(const platform::Ipv4Endpoint& at, const DiscoveryFaults& faults,
                                              std::optional<platform::Ipv4Endpoint> replyTo) {
    discovery_ = DiscoveryResponder::bind(at);
    if (!discovery_) return nullptr;
    discovery_->setDevices(networkEndpoints());
    discovery_->setFaults(faults);
    discovery_->setReplyTo(replyTo);
    discovery_->start();
    return discovery_.get();
}

bool Simulator::saveDataIn(const std::filesystem::path& folder, std::filesystem::path& failed) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const auto file = folder / ("device-" + std::to_string(i) + ".prn");
        if (!devices_[i]->saveDataTo(file)) {
            failed = file;
            return false;
        }
    }
    return true;
}

std::string Simulator::summary() {
    std::string out;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        SimDevice& d = *devices_[i];
        out += "device " + std::to_string(i) + " received " + std::to_string(d.received().packets().size()) +
               " command packets and " + std::to_string(d.rawDataBytes()) + " bytes of raw data\n";
        if (const ConfigSide* side = d.configSide()) {
            out += "device " + std::to_string(i) + " configuration packet";
            char hex[4];
            for (std::uint8_t b : side->storedPacket()) {
                std::snprintf(hex, sizeof hex, " %02X", b);
                out += hex;
            }
            out += "\n";
        }
    }
    return out;
}

void Simulator::stop() {
    if (discovery_) discovery_->stop();
    for (auto& device : devices_) device->stop();
}

}  // namespace tavrin::sim
