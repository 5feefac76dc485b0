// Command exchanges end to end: the exports of the device library, linked in, against devices of
// the simulator served in this process.
//
// Command packets travel on a device's control port. The ports that carry them on real devices
// (HID, network control channel) need hardware or a network device; here the slot's control
// port is a USB printer port on the simulator's stand-in device, a byte stream like the one those
// ports deliver, and the slot is stored in the device table as dllFunc_OpenDev stores its slots.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/core/dev_app.h"
#include "devicelib/ports/export_text.h"
#include "devicelib/ports/usb_prn.h"
#include "sim/simulator.h"
#include "tavrin/tavrin.h"
#include "tests/support/hex_bytes.h"
#include "tests/support/log_text.h"
#include "tests/support/test_clock.h"

namespace tavrin::test {

using Bytes = std::vector<std::uint8_t>;

// What one call of dllFunc_DevIoCtrl gave back. The answer record starts with markers, so that
// fields the call leaves alone can be told apart.
struct Exchange {
    std::int32_t result = -1;
    _DEVACK_INFO ack{};
    Bytes buffer;
    Bytes data() const { return Bytes(buffer.begin(), buffer.begin() + (ack.datLen <= buffer.size() ? ack.datLen : 0)); }
    std::string text() const {
        const Bytes d = data();
        return std::string(d.begin(), d.end());
    }
};

inline constexpr std::uint16_t kUntouchedLength = 0xBEEF;
inline constexpr std::uint8_t kUntouchedAck = 0xCC;
inline constexpr std::uint8_t kUntouchedByte = 0xEE;

inline Exchange devIoCtrl(std::int32_t handle, const char16_t* name, const Bytes& data = {},
                          std::uint16_t bufLen = 64, bool withBuffer = true) {
    Exchange e;
    e.buffer.assign(bufLen, kUntouchedByte);
    e.ack = {withBuffer ? e.buffer.data() : nullptr, bufLen, kUntouchedLength, kUntouchedAck};
    e.result = dllFunc_DevIoCtrl(handle, toExport(name), data.empty() ? nullptr : data.data(),
                                 static_cast<std::uint32_t>(data.size()), &e.ack);
    return e;
}

class ControlFixture : public ::testing::Test {
protected:
    void SetUp() override { theLog().createTextBuffer(); }
    void TearDown() override {
        theApp().devices.emptyAll();
        sim_.stop();
        theLog().freeTextBuffer();
    }

    sim::SimDevice* simDevice(sim::DeviceConfig config = {}) {
        sim::SimDevice* d = sim_.addDevice(std::move(config), "proto");
        EXPECT_NE(d, nullptr);
        return d;
    }

    // A device slot whose control port (and, when dataPath is given, data port) is opened on a
    // stand-in device path with these time-outs; its handle, or -1.
    static std::int32_t openSlot(const std::u16string& controlPath, std::int32_t readTimeout = 0,
                                 std::int32_t writeTimeout = 0, const std::u16string& dataPath = {}) {
        auto open = [&](const std::u16string& path) -> std::unique_ptr<CBPort> {
            auto port = std::make_unique<CUSBPrn>(theApp());
            const _DEVOPEN_INFO info{toExport(path.c_str()), readTimeout, writeTimeout, PORT_USBPRN, MODE_DATA};
            if (!port->openPort(&info, 0)) return nullptr;
            return port;
        };
        std::unique_ptr<CBPort> control = open(controlPath);
        if (!control) return -1;
        std::unique_ptr<CBPort> data;
        if (!dataPath.empty() && !(data = open(dataPath))) return -1;
        return theApp().devices.take(std::make_shared<DeviceSession>(std::move(control), std::move(data)));
    }
    // A simulated device and a slot on it.
    std::int32_t openSimulated(sim::SimDevice* device, std::int32_t readTimeout = 0) {
        return device != nullptr ? openSlot(device->controlPath(), readTimeout) : -1;
    }

    // Waits until the device has dealt with this many requests (their replies have gone out).
    static bool waitServed(sim::SimDevice& device, std::size_t count, int timeoutMs) {
        for (const auto start = Clock::now(); device.served() < count;) {
            if (msSince(start) > timeoutMs) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    static std::u16string log() { return theLog().collectedText(); }
    static std::size_t logCount(const std::u16string& text) { return occurrences(log(), text); }
    static bool logHas(const std::u16string& text) { return logCount(text) > 0; }

    static std::vector<std::string> packetsOf(sim::SimDevice& device) {
        std::vector<std::string> out;
        for (const auto& p : device.received().packets()) out.push_back(hexText(p));
        return out;
    }

    sim::Simulator sim_;
};

}  // namespace tavrin::test
