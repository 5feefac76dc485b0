// What a simulated device is: its configuration (the texts and status codes it answers with, its
// faults) and the model that turns a request into an answer. The model knows nothing of
// transports: the command service (command_service.h) carries its answers over a byte stream,
// and other carriers (HID reports, network channels) can serve the same model.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/config_side.h"
#include "sim/frame.h"

namespace tavrin::sim {

// An answer: with payload, or (payload empty) a status alone in the acknowledge byte.
struct Answer {
    std::uint8_t status = 0;
    Bytes payload;
    bool silent = false;  // the request is taken and not answered at all
    // Further answers the device sends on its own, afterMs after the one before (a device that
    // reports it is still busy until it is done).
    std::vector<Answer> after;
    std::uint32_t afterMs = 0;
};

// Ways a device misbehaves, each on its own. They apply to every reply while set.
struct FaultPlan {
    std::uint16_t noise = 0;       // this many bytes (never 0x10) go out before each reply
    bool split = false;            // header and half the payload, a pause, then the rest
    std::uint16_t redundant = 0;   // this many replies to another code first, a pause after each
    bool badChecksum = false;      // a reply with payload first goes out with a broken checksum,
                                   // followed in the same write by the intact one
    bool noReply = false;          // requests are taken and never answered
    std::uint32_t delayMs = 0;     // a slow device: the wait before each reply
    std::uint16_t longReply = 0;   // every reply carries this many payload bytes (up to 255): its
                                   // own, cut or filled up with '.'
    std::uint32_t pauseMs = 100;   // the pause of split, splitAt and redundant
    std::uint16_t closeAfter = 0;  // network: the connection is dropped after this many commands
    std::uint16_t splitAt = 0;     // each reply (with or without payload) in two writes, cut after
                                   // this many of its bytes (2: inside the header), a pause between
    bool together = false;         // the redundant replies go out in the same write as the reply
    // Replies that come late: the milliseconds between a request of the code and its reply
    // (meant to be longer than the library waits). The device answers nothing else meanwhile.
    struct LateReply {
        std::uint8_t code = 0;
        std::uint32_t ms = 0;
    };
    std::vector<LateReply> late;
    std::uint32_t noiseForMs = 0;  // instead of a reply: noise (never 0x10), a few bytes every
                                   // 10 ms, for this long or until the fault is switched off

    void setLate(std::uint8_t code, std::uint32_t ms);
    // How late the reply to code comes; 0: not late.
    std::uint32_t lateMs(std::uint8_t code) const;
};

// The firmware side of the device (sim/firmware.h).
struct FirmwareConfig {
    bool inBootMode = false;        // 0x16 answers "already in boot mode" (02 00 00)
    std::uint16_t restartWait = 4;  // else: 01 and this wait count (x 25 ms) ...
    std::uint32_t awayMs = 50;      // ... and the device is away (network: refuses) this long
    std::uint8_t workModeStatus = 0;      // the status answered to 0x14
    std::uint16_t busyAnswers = 0;  // 0x62 answered busy (00 00 busyWait) this often first
    std::uint16_t busyWait = 4;
    bool busyForever = false;       // fault: 0x62 is answered busy every time
    std::int32_t silentPiece = -1;  // fault: the 0x61 piece of this index (0-based) is not answered
    std::int32_t vanishAfter = -1;  // fault: after this many pieces the device goes away for good
    std::uint32_t pieceDelayMs = 0; // each piece answered after this long (a slow device)
    std::string saveImageTo;        // the image received goes to this file when the device
                                    // reports success to 0x62 (empty: nowhere)
};

struct DeviceConfig {
    std::string model = "TV-P80";
    std::string deviceNumber = "TV0000000001";
    std::string protocolVersion = "1.00";
    std::string firmwareVersion = "FW 1.0.0";
    std::uint8_t connectStatus = 0;  // the status of "CTRL_CMD_CONNT" (5: switch the work mode)
    std::uint8_t deviceStatus = 0;   // payload of the device status query
    std::uint8_t workMode = 0;
    // Fixed answers by command code; they take precedence over everything built in.
    std::map<std::uint8_t, Answer> answers;
    FaultPlan faults;
    Bytes dataAnswer;  // network: sent back for each chunk of raw data (none by default)
    ConfigSideOptions configSide;  // the configuration commands 0x17, 0x18, 0x1A, when enabled
    bool dataClose = false;  // network: the device closes the data connection after each answer
    std::uint32_t dataRate = 0;  // a slow printer: bytes per second it takes in (0: as fast as they come)
    FirmwareConfig firmware;
};

// The device's behaviour. Thread-safe.
class DeviceModel {
public:
    using Handler = std::function<Answer(const Request&)>;

    explicit DeviceModel(DeviceConfig config);

    // The answer to a request: a fixed answer of the configuration, else a handler, else the
    // built-in queries; any other code gets status 0 without payload.
    Answer answer(const Request& request);

    // Gives a code its own behaviour (later: configuration transfer, firmware update).
    void setHandler(std::uint8_t code, Handler handler);

    void setFaults(const FaultPlan& faults);
    // Changes while the device runs (the control commands of tavrin-sim).
    void setDeviceStatus(std::uint8_t status);
    void setAnswer(std::uint8_t code, const Answer& answer);
    void clearAnswer(std::uint8_t code);
    void setDataRate(std::uint32_t bytesPerSecond);
    std::uint32_t dataRate() const;
    FaultPlan faults() const;
    DeviceConfig config() const;

private:
    Answer builtIn(const Request& request);

    mutable std::mutex lock_;
    DeviceConfig config_;
    std::map<std::uint8_t, Handler> handlers_;
    Bytes userData_;
};

// Command codes the model answers itself.
namespace code {
inline constexpr std::uint8_t kModel = 0x01, kDeviceNumber = 0x02, kProtocolVersion = 0x03,
                              kConnect = 0x04, kGetUserData = 0x07, kSetUserData = 0x08,
                              kDeviceStatus = 0x09, kDeviceInfo = 0x0C, kGetWorkMode = 0x13,
                              kSetWorkMode = 0x14, kVersionInfo = 0x15;
}  // namespace code

// The bits of the device status byte (the answer to 0x09) as the simulated printers report them.
namespace status_bit {
inline constexpr std::uint8_t kPaperOut = 0x01, kPaperNearEnd = 0x02, kCoverOpen = 0x04, kCutterJammed = 0x08,
                              kOverheated = 0x10, kOffline = 0x20;
}  // namespace status_bit

}  // namespace tavrin::sim
