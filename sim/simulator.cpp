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
    if (!isUsb()) return;
    if (ms >= kGoneForGoodMs) {
        // Pulled out for good: the library finds it nowhere.
        if (usbTree_ != nullptr) usbTree_->unplug(usbPlug_.port);
        return;
    }
    reenumerate();
}

std::u16string SimDevice::usbPrinterPath() const {
    std::lock_guard<std::mutex> guard(usbLock_);
    return usbPrinterPath_;
}

std::u16string SimDevice::usbHidPath() const {
    std::lock_guard<std::mutex> guard(usbLock_);
    return usbHidPath_;
}

void SimDevice::start() {
    commands_.start();
    if (dataService_) dataService_->start();
    if (usbDataService_) usbDataService_->start();
}

void SimDevice::stop() {
    commands_.stop();
    if (dataService_) dataService_->stop();
    if (usbDataService_) usbDataService_->stop();
}

SimDevice* Simulator::addDevice(DeviceConfig config, const std::string& tag) {
    auto channel = PeerChannel::create(tag);
    if (!channel) return nullptr;
    devices_.push_back(std::make_unique<SimDevice>(std::move(config), std::move(channel)));
    devices_.back()->start();
    return devices_.back().get();
}

namespace {
// The stand-in device of an interface; on Windows its path carries the interface path's fields.
std::unique_ptr<platform::DevicePeer> interfacePeer(const UsbPlug& plug, const char* kind, int mi, bool composite) {
    char fields[80];
    if (composite)
        std::snprintf(fields, sizeof fields, "%s#vid_%04x&pid_%04x&mi_%02x#p%s", kind, plug.vendorId, plug.productId,
                      mi, plug.port.c_str());
    else
        std::snprintf(fields, sizeof fields, "%s#vid_%04x&pid_%04x#p%s", kind, plug.vendorId, plug.productId,
                      plug.port.c_str());
    return platform::DevicePeer::create(fields);
}

// The device as the tree lists it: its interfaces on these stand-in devices.
platform::StandInUsbDevice usbDescription(const UsbPlug& plug, const std::u16string& printerDevice,
                                          const std::u16string& hidDevice) {
    platform::StandInUsbDevice usb;
    usb.vendorId = plug.vendorId;
    usb.productId = plug.productId;
    usb.port = plug.port;
    usb.instance = "SIM" + plug.port;
    if (plug.printer) {
        platform::StandInInterface printer;
        printer.kind = platform::StandInInterface::Kind::Printer;
        printer.number = 0;
        printer.devicePath = printerDevice;
        usb.interfaces.push_back(printer);
    }
    platform::StandInInterface hid;
    hid.kind = platform::StandInInterface::Kind::Hid;
    hid.number = 1;
    hid.devicePath = hidDevice;
    hid.reportId = plug.layout.reportId;
    hid.inputReportLength = plug.layout.inputLength;
    hid.outputReportLength = plug.layout.outputLength;
    usb.interfaces.push_back(hid);
    return usb;
}
}  // namespace

SimDevice* Simulator::addUsbDevice(DeviceConfig config, platform::StandInUsbTree& tree, const UsbPlug& plug) {
    auto hidPeer = interfacePeer(plug, "hid", 1, plug.printer);
    if (!hidPeer) return nullptr;
    std::unique_ptr<platform::DevicePeer> printerPeer;
    if (plug.printer) {
        printerPeer = interfacePeer(plug, "usb", 0, true);
        if (!printerPeer) return nullptr;
    }
    const std::u16string printerDevice = printerPeer ? printerPeer->path() : std::u16string();
    if (!tree.plug(usbDescription(plug, printerDevice, hidPeer->path()))) return nullptr;

    auto device = std::make_unique<SimDevice>(std::move(config), std::make_unique<HidChannel>(std::move(hidPeer), plug.layout));
    if (printerPeer) {
        device->usbData_ = std::make_unique<PeerChannel>(std::move(printerPeer));
        device->usbDataService_ = std::make_unique<DataService>(*device->usbData_, device->dataRecorder_, Bytes{});
        device->usbPrinterPath_ = tree.interfacePath(plug.port, 0);
    }
    device->usbPort_ = plug.port;
    device->usbTree_ = &tree;
    device->usbPlug_ = plug;
    device->usbPrinterDevice_ = printerDevice;
    device->usbHidPath_ = tree.interfacePath(plug.port, 1);
    devices_.push_back(std::move(device));
    devices_.back()->start();
    return devices_.back().get();
}

void SimDevice::reenumerate() {
    // The restarted device is a new stand-in HID device in the same place; its printer interface
    // stays on the stand-in device it had.
    auto hidPeer = interfacePeer(usbPlug_, "hid", 1, usbPlug_.printer);
    if (!hidPeer || usbTree_ == nullptr) return;
    usbTree_->unplug(usbPlug_.port);
    if (!usbTree_->plug(usbDescription(usbPlug_, usbPrinterDevice_, hidPeer->path()))) return;
    {
        std::lock_guard<std::mutex> guard(usbLock_);
        usbHidPath_ = usbTree_->interfacePath(usbPlug_.port, 1);
        if (usbPlug_.printer) usbPrinterPath_ = usbTree_->interfacePath(usbPlug_.port, 0);
    }
    hidChannel()->replacePeer(std::move(hidPeer));
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
        if (const FirmwareRecord fw = d.firmware().record(); fw.updateRequests != 0 || fw.begins != 0) {
            out += "device " + std::to_string(i) + " firmware: " + std::to_string(fw.image.size()) +
                   " bytes of image received, " + (fw.finished ? "update finished" : "update not finished") + "\n";
        }
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
