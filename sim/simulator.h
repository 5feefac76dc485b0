// The simulator: one or more devices, each a model with its recorder and the transports that
// serve it. Today a device has one transport, its control stream on a stand-in device that the
// library opens by path; the network channels, discovery and HID reports come as further services
// of the same device.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/channel.h"
#include "sim/command_service.h"
#include "sim/device_model.h"
#include "sim/firmware.h"
#include "sim/hid_channel.h"
#include "sim/net_channel.h"
#include "sim/recorder.h"
#include "platform/usb_stand_in.h"

namespace tavrin::sim {

// How a simulated USB device is plugged into a stand-in device tree.
struct UsbPlug {
    std::uint16_t vendorId = 0x0FE6;
    std::uint16_t productId = 0x811E;
    std::string port = "1";  // its place on the bus
    HidLayout layout;
    bool printer = true;     // a composite device with a printer interface (MI_00) and HID (MI_01)
};

class SimDevice {
public:
    // A device whose command packets travel on control; a network device also has a data channel.
    SimDevice(DeviceConfig config, std::unique_ptr<ByteChannel> control,
              std::unique_ptr<TcpChannel> data = nullptr);
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    ~SimDevice();

    // The path the library opens to reach the device's command packets.
    std::u16string controlPath() const { return control_->path(); }
    DeviceModel& model() { return model_; }
    Recorder& received() { return recorder_; }
    void setFaults(const FaultPlan& faults) { model_.setFaults(faults); }
    // The configuration side, when the device was configured with one; null otherwise.
    ConfigSide* configSide() { return configSide_.get(); }
    // Requests dealt with so far: the reply to received().packets()[i] has gone out once
    // served() > i.
    std::size_t served() const { return commands_.served(); }

    // Network devices: the path "a.b.c.d:P" (data at P, control at P + 100), the raw data
    // received on the data channel, and the channels themselves (for their switches).
    bool isNetwork() const { return data_ != nullptr; }
    std::u16string networkPath() const { return data_ ? data_->path() : std::u16string(); }
    platform::Ipv4Endpoint networkEndpoint() const { return dataEndpoint_; }
    Recorder& receivedData() { return dataRecorder_; }
    TcpChannel* dataChannel() { return data_.get(); }
    TcpChannel* controlChannel() { return dynamic_cast<TcpChannel*>(control_.get()); }

    // USB devices: the composite device's printer interface (raw data, in receivedData()) and
    // HID interface (command packets in reports), as the device tree lists them. A restart into
    // boot mode (firmware update) enumerates the device anew at the same place on the bus: its
    // interfaces then have new paths.
    bool isUsb() const { return !usbPort_.empty(); }
    std::u16string usbPrinterPath() const;
    std::u16string usbHidPath() const;
    const std::string& usbPort() const { return usbPort_; }
    HidChannel* hidChannel() { return dynamic_cast<HidChannel*>(control_.get()); }

    // The raw data the device receives goes to file as well, written through as it arrives: on a
    // network device what comes on its data channel, on a stand-in device everything (raw data
    // and command packets share its one stream). False when the file cannot be created.
    bool saveDataTo(const std::filesystem::path& file);
    // Raw data received so far: the data channel's bytes, or on a stand-in device the bytes that
    // were not part of a command packet.
    std::size_t rawDataBytes() const;
    void setDataRate(std::uint32_t bytesPerSecond) { model_.setDataRate(bytesPerSecond); }
    // The firmware side: what the device received of updates, and its switches.
    FirmwareTarget& firmware() { return firmware_; }

    void start();
    void stop();

private:
    friend class Simulator;
    // The device restarts: away for ms (network: both channels drop and refuse meanwhile; USB:
    // it is plugged in anew at once, its HID interface on a new stand-in device).
    void goAway(std::uint32_t ms);
    void reenumerate();

    DeviceModel model_;
    std::shared_ptr<ConfigSide> configSide_;
    Recorder recorder_;
    std::unique_ptr<ByteChannel> control_;
    CommandService commands_;
    Recorder dataRecorder_;
    std::unique_ptr<TcpChannel> data_;
    platform::Ipv4Endpoint dataEndpoint_;
    std::unique_ptr<DataService> dataService_;
    std::unique_ptr<ByteChannel> usbData_;
    std::unique_ptr<DataService> usbDataService_;
    std::string usbPort_;
    platform::StandInUsbTree* usbTree_ = nullptr;
    UsbPlug usbPlug_;
    std::u16string usbPrinterDevice_;  // the stand-in device of the printer interface
    mutable std::mutex usbLock_;  // the paths, which a restart changes
    std::u16string usbPrinterPath_;
    std::u16string usbHidPath_;
    FirmwareTarget firmware_;
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
    // A new USB device plugged into tree at plug.port: its HID interface serves the command
    // packets in reports of plug.layout, its printer interface takes raw data. Null on failure.
    SimDevice* addUsbDevice(DeviceConfig config, platform::StandInUsbTree& tree, const UsbPlug& plug);
    // A new network device listening on address (data channel at a free port P whose P + 100 is
    // free too, or at.port when it is not 0), already serving; null on failure.
    SimDevice* addNetDevice(DeviceConfig config, const platform::Ipv4Endpoint& at);
    // Answers searches on the UDP port at.port of address at for every network device; null
    // on failure.
    DiscoveryResponder* startDiscovery(const platform::Ipv4Endpoint& at, const DiscoveryFaults& faults = {},
                                       std::optional<platform::Ipv4Endpoint> replyTo = std::nullopt);
    std::size_t size() const { return devices_.size(); }
    // Every device's raw data into folder (created if missing), one file per device
    // "device-<index>.prn"; false (and the file that failed) when a file cannot be made.
    bool saveDataIn(const std::filesystem::path& folder, std::filesystem::path& failed);
    // One line per device: "device <i> received <n> command packets and <m> bytes of raw data"
    // (and for a device that was asked for an update "device <i> firmware: <n> bytes of image
    // received, update finished" or "... not finished").
    std::string summary();
    SimDevice& device(std::size_t index) { return *devices_.at(index); }
    void stop();

private:
    std::vector<platform::Ipv4Endpoint> networkEndpoints() const;

    std::vector<std::unique_ptr<SimDevice>> devices_;
    std::unique_ptr<DiscoveryResponder> discovery_;
};

}  // namespace tavrin::sim
