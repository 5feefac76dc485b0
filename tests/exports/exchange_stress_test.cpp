// Several threads at once on several simulated network devices, through the loaded library:
// command exchanges (some answered late by the device), raw data, and devices closed and opened
// again under them. No exchange may take a reply that belongs to another command or device, and
// every byte a write reported sent must arrive, once, where it was sent.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kDevices = 3;
constexpr int kCommandThreads = 4;
constexpr int kWriterThreads = 2;
constexpr int kExchangesPerThread = 20;
constexpr std::int32_t kReadTimeout = 150;
constexpr std::uint32_t kLateMs = 6 * kReadTimeout;  // after the exchange gave up (4 time-outs)
// Device commands the simulated devices echo: the reply's payload is the request's.
constexpr std::uint8_t kEchoA = 0x85, kEchoB = 0x86, kLate = 0x87;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

class ExchangeStressTest : public DeviceFixture {
protected:
    struct Device {
        sim::SimDevice* sim = nullptr;
        std::basic_string<tavrin_wchar_t> path;
        std::atomic<std::int32_t> handle{-1};
        std::string model;
        // One command sequence at a time per device: a thread that saw an exchange fail holds
        // the device until the device has answered that command, so that its late reply waits
        // on the channel when the next command goes out.
        std::mutex exchangeLock;
        std::mutex dataLock;
        std::set<std::string> written;    // chunks a write reported sent
        std::set<std::string> attempted;  // every chunk a write was tried with
    };

    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
    }

    std::int32_t open(Device& d) {
        const _DEVOPEN_INFO info = openRecord(d.path.c_str(), PORT_NET_DATA, MODE_DATA | MODE_CTRL, kReadTimeout, 1000);
        return lib_->OpenDev(&info);
    }

    struct Outcome {
        std::int32_t result = 0;
        std::string answer;
    };
    Outcome exchange(std::int32_t h, const char16_t* name, const Bytes& data) {
        std::uint8_t buf[256] = {};
        _DEVACK_INFO ack{buf, sizeof buf, 0, 0};
        Outcome o;
        o.result = lib_->DevIoCtrl(h, exportText(std::u16string(name)).c_str(), data.empty() ? nullptr : data.data(),
                                   static_cast<std::uint32_t>(data.size()), &ack);
        if (o.result == 1) o.answer.assign(reinterpret_cast<const char*>(buf), ack.datLen);
        return o;
    }

    // Waits until the device has dealt with the request that carried token (when it got it at
    // all), and a little longer for its reply to cross the connection.
    static void waitAnswered(sim::SimDevice& dev, const std::string& token) {
        const auto start = Clock::now();
        std::size_t index = 0;
        bool found = false;
        while (!found && msSince(start) < 3000) {
            const auto packets = dev.received().packets();
            for (std::size_t i = packets.size(); i-- > 0;) {
                if (text(packets[i]).find(token) != std::string::npos) {
                    index = i;
                    found = true;
                    break;
                }
            }
            if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (found && dev.served() <= index && msSince(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    sim::Simulator sim_;
    std::array<Device, kDevices> devices_;
};

TEST_F(ExchangeStressTest, ThreadsDevicesExchangesWritesAndClosesNeverCrossRepliesOrLoseBytes) {
    for (int i = 0; i < kDevices; ++i) {
        Device& d = devices_[static_cast<std::size_t>(i)];
        d.model = "DEV-" + std::to_string(i);
        sim::DeviceConfig config;
        config.model = d.model;
        config.faults.setLate(kLate, kLateMs);
        d.sim = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
        ASSERT_NE(d.sim, nullptr);
        for (std::uint8_t code : {kEchoA, kEchoB, kLate})
            d.sim->model().setHandler(code, [](const sim::Request& r) { return sim::Answer{0, r.payload}; });
        d.path = exportText(d.sim->networkPath());
        d.handle = open(d);
        ASSERT_EQ(d.handle, i);
    }
    for (Device& d : devices_) {
        bool up = false;
        for (const auto start = Clock::now(); !up && msSince(start) < 5000;) {
            up = exchange(d.handle, u"CTRL_CMDGET_MODEL", {}).result == 1;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(up);
    }

    std::mutex reportLock;
    std::vector<std::string> crossed;
    std::atomic<int> answered{0}, lateAnswered{0}, lateSent{0};
    std::atomic<bool> commandsDone{false};

    auto commandThread = [&](int t) {
        std::uint32_t seed = 12345u + static_cast<std::uint32_t>(t) * 7919u;
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
        for (int k = 0; k < kExchangesPerThread; ++k) {
            Device& d = devices_[static_cast<std::size_t>((t + k) % kDevices)];
            const unsigned pick = next() % 20;
            const std::uint8_t code = pick < 8 ? kEchoA : pick < 13 ? kEchoB : pick < 17 ? 0x01 : kLate;
            std::lock_guard<std::mutex> one(d.exchangeLock);
            // A late command that failed is tried once more, as a caller would.
            for (int attempt = 0; attempt < (code == kLate ? 2 : 1); ++attempt) {
                const std::string token = "t" + std::to_string(t) + "#" + std::to_string(k) + "." + std::to_string(attempt);
                Bytes data;
                if (code != 0x01) {
                    data.push_back(code);
                    data.insert(data.end(), token.begin(), token.end());
                }
                if (code == kLate) ++lateSent;
                const Outcome o = exchange(d.handle, code == 0x01 ? u"CTRL_CMDGET_MODEL" : u"CTRL_DEVCMD_ST", data);
                if (o.result == 1) {
                    const std::string expected = code == 0x01 ? d.model : token;
                    if (o.answer != expected) {
                        std::lock_guard<std::mutex> guard(reportLock);
                        crossed.push_back(d.model + ": sent " + std::to_string(code) + " " + expected + ", got " + o.answer);
                    }
                    ++answered;
                    if (code == kLate) ++lateAnswered;
                    break;
                }
                if (code != 0x01) waitAnswered(*d.sim, token);
            }
        }
    };

    auto writerThread = [&](int t) {
        for (int k = 0; !commandsDone; ++k) {
            const int index = (t + k) % kDevices;
            Device& d = devices_[static_cast<std::size_t>(index)];
            const std::string chunk = "<w" + std::to_string(t) + "-" + std::to_string(k) + "@" + std::to_string(index) + ">";
            {
                std::lock_guard<std::mutex> guard(d.dataLock);
                d.attempted.insert(chunk);
            }
            std::uint32_t n = 0;
            if (lib_->Write(d.handle, chunk.data(), static_cast<std::uint32_t>(chunk.size()), &n, nullptr) == 1 &&
                n == chunk.size()) {
                std::lock_guard<std::mutex> guard(d.dataLock);
                d.written.insert(chunk);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };

    // Closes one device after the other and opens it again at once. With one device closed at a
    // time it gets its own slot back, so a handle a thread still holds never names another device.
    std::atomic<int> reopened{0};
    std::vector<std::string> badHandles;
    auto closerThread = [&] {
        for (int k = 0; !commandsDone; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            Device& d = devices_[static_cast<std::size_t>(k % kDevices)];
            const std::int32_t before = d.handle;
            lib_->CloseDev(before);
            const std::int32_t after = open(d);
            if (after != before) {
                std::lock_guard<std::mutex> guard(reportLock);
                badHandles.push_back(d.model + ": " + std::to_string(before) + " -> " + std::to_string(after));
            }
            d.handle = after;
            ++reopened;
        }
    };

    std::vector<std::thread> commands, writers;
    for (int t = 0; t < kCommandThreads; ++t) commands.emplace_back(commandThread, t);
    for (int t = 0; t < kWriterThreads; ++t) writers.emplace_back(writerThread, t);
    std::thread closer(closerThread);
    for (auto& t : commands) t.join();
    commandsDone = true;
    for (auto& t : writers) t.join();
    closer.join();
    for (Device& d : devices_) lib_->CloseDev(d.handle);  // what was sent reaches the device before the end

    EXPECT_TRUE(crossed.empty()) << crossed.size() << " crossed, first: " << crossed.front();
    EXPECT_TRUE(badHandles.empty()) << badHandles.front();
    EXPECT_GT(answered.load(), kCommandThreads * kExchangesPerThread / 3);
    EXPECT_GT(lateSent.load(), lateAnswered.load());  // some replies did come late
    EXPECT_GT(reopened.load(), 0);

    std::size_t writtenInAll = 0;
    for (Device& d : devices_) {
        std::size_t expectedBytes = 0;
        for (const std::string& c : d.written) expectedBytes += c.size();
        writtenInAll += d.written.size();
        d.sim->receivedData().waitForBytes(expectedBytes, 5000);
        const std::string got = text(d.sim->receivedData().bytes());
        std::multiset<std::string> chunks;
        std::string garbage;
        for (std::size_t at = 0; at < got.size();) {
            const std::size_t open = got.find('<', at);
            const std::size_t close = open == std::string::npos ? open : got.find('>', open);
            if (open != at || close == std::string::npos) {
                garbage = got.substr(at, 40);
                break;
            }
            chunks.insert(got.substr(open, close - open + 1));
            at = close + 1;
        }
        EXPECT_TRUE(garbage.empty()) << d.model << " received bytes no write sent: " << garbage;
        for (const std::string& c : d.written) EXPECT_EQ(chunks.count(c), 1u) << d.model << " lost or doubled " << c;
        for (const std::string& c : chunks) EXPECT_EQ(d.attempted.count(c), 1u) << d.model << " got " << c;
    }
    EXPECT_GT(writtenInAll, static_cast<std::size_t>(kWriterThreads * 20));

    const std::string log = flushLog();
    EXPECT_GT(logCount(log, u"#DevIoCtrl : 丢 弃 残 留 数 据("), 0u);  // late replies were waiting
}

}  // namespace
}  // namespace tavrin::test
