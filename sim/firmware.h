// The firmware side of a simulated device: the update request (0x16) with its restart into boot
// mode, the update commands 0x63 (begin, also abandon), 0x60 (header body), 0x61 (pieces of the
// image, recorded), 0x62 (finish, with busy answers) and the restart 0x11, the work-mode switch
// 0x14, and the faults of an update (a piece left unanswered, a device that vanishes mid-image, a
// device busy for ever). Tests compare what it received with the firmware file.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "sim/device_model.h"

namespace tavrin::sim {


// What the device received of updates, for tests.
struct FirmwareRecord {
    std::size_t updateRequests = 0;  // 0x16
    std::size_t begins = 0;          // 0x63 (the last one starts the image anew)
    Bytes headerBody;                // 0x60 of the current update
    Bytes image;                     // 0x61 pieces of the current update, joined
    std::vector<std::size_t> pieceSizes;
    std::size_t finishes = 0;        // 0x62 requests
    bool finished = false;           // the device reported success to 0x62
    std::size_t restarts = 0;        // 0x11
    std::size_t bootRestarts = 0;    // restarts into boot mode after 0x16
    std::vector<std::uint8_t> workModes;  // payload bytes of 0x14
};

class FirmwareTarget {
public:
    // restart(ms): the device goes away for ms (network: the connections drop and are refused).
    FirmwareTarget(FirmwareConfig config, std::function<void(std::uint32_t)> restart)
        : config_(config), restart_(std::move(restart)) {}

    // Installs the handlers of the firmware codes on model.
    void attach(DeviceModel& model);

    FirmwareRecord record() const;
    void setConfig(const FirmwareConfig& config);
    FirmwareConfig config() const;

private:
    Answer handle(const Request& request);

    mutable std::mutex lock_;
    FirmwareConfig config_;
    FirmwareRecord record_;
    bool bootMode_ = false;
    std::function<void(std::uint32_t)> restart_;
};

// How long a device that vanishes mid-image stays away: for good, as far as anyone waits.
inline constexpr std::uint32_t kGoneForGoodMs = 3600000;

namespace code {
inline constexpr std::uint8_t kUpdateRequest = 0x16, kUpdateBegin = 0x63, kUpdateHeader = 0x60,
                              kUpdatePiece = 0x61, kUpdateFinish = 0x62, kRestart = 0x11;
}  // namespace code

}  // namespace tavrin::sim
