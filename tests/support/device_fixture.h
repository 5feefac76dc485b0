// A fixture for tests through the exports: a fresh user data folder, the library loaded anew,
// its log going to a file of the test's own, and stand-in devices.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_peer.h"
#include "tests/support/library_under_test.h"
#include "tests/support/log_text.h"
#include "tests/support/test_clock.h"

namespace tavrin::test {

class StandInDevice {
public:
    explicit StandInDevice(const std::string& tag) : peer_(platform::DevicePeer::create(tag)) {
        if (peer_) path_ = exportText(peer_->path());
    }
    bool valid() const { return peer_ != nullptr; }
    platform::DevicePeer& peer() { return *peer_; }
    const tavrin_wchar_t* path() const { return path_.c_str(); }

private:
    std::unique_ptr<platform::DevicePeer> peer_;
    std::basic_string<tavrin_wchar_t> path_;
};

inline _DEVOPEN_INFO openRecord(const tavrin_wchar_t* path, std::uint16_t type = PORT_USBPRN,
                                std::uint16_t mode = MODE_DATA, std::int32_t readTimeout = 0,
                                std::int32_t writeTimeout = 0) {
    return {path, readTimeout, writeTimeout, type, mode};
}

class DeviceFixture : public ::testing::Test {
protected:
    // The settings file the library starts with (none when empty).
    virtual std::string settings() const { return {}; }

    void SetUp() override {
        if (const std::string ini = settings(); !ini.empty()) userFolder_.writeSettings(ini);
        ASSERT_TRUE(lib_.load());
        logFile_ = makeTempFolder("log") / "test.log";
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
    }
    void TearDown() override {
        lib_.unload();
        std::error_code ec;
        std::filesystem::remove_all(logFile_.parent_path(), ec);
    }

    // Closes the log and returns what reached its file.
    std::string flushLog() {
        lib_->CloseLog();
        return readFileBytes(logFile_);
    }
    // Waits at most timeoutMs until the device of handle h answers this control command through
    // the library, its control channel connected; whether it did.
    bool awaitControl(std::int32_t h, const char16_t* command, int timeoutMs = 5000) {
        const auto name = exportText(std::u16string(command));
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            std::uint8_t buf[256] = {};
            _DEVACK_INFO a{buf, sizeof buf, 0, 0};
            if (lib_->DevIoCtrl(h, name.c_str(), nullptr, 0, &a) == 1) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    static bool logHas(const std::string& log, const std::u16string& text) {
        return log.find(ansi(text)) != std::string::npos;
    }
    static std::size_t logCount(const std::string& log, const std::u16string& text) {
        return occurrences(log, ansi(text));
    }
    std::unique_ptr<StandInDevice> device(const std::string& tag) {
        auto d = std::make_unique<StandInDevice>(tag);
        EXPECT_TRUE(d->valid());
        return d;
    }

    UserDataFolder userFolder_;
    LibraryUnderTest lib_;
    std::filesystem::path logFile_;
};

}  // namespace tavrin::test
