// CWDfu: the firmware update of one device slot. It holds the open firmware file and its header;
// an update start brings the device into its update mode and hands the rest to the update thread,
// which sends the header body and the image over the slot's control port and waits for the
// device to write it. Progress and every step reach the caller as log record lines and
// notifications (platform/firmware_io.h).
//
// The update thread is a bounded-stop worker: a stop sets its cancel flag, waits up to 10,000 ms,
// then tells it to leave (its port's transfers are ended) and waits a little more; a thread that
// still runs then is left to end by itself, keeping what it uses (the device session, the image,
// its own state) alive until it does. No thread is ever killed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "devicelib/core/dev_emul.h"
#include "devicelib/dfu/fw_header.h"
#include "platform/bounded_worker.h"
#include "platform/firmware_io.h"

namespace tavrin {

class CBPort;
class CLogFile;
class DeviceSession;

// Where the texts and notifications of an update go.
struct DfuNotices {
    CLogFile* log = nullptr;  // the library log when it was open at the start, else none
    void* window = nullptr;   // the caller's window (Windows) or notification record
    std::int32_t device = -1;
};

// What one update uses; shared by the start, the update thread and whoever stops it. The
// worker's lock guards ended and the waits below; stopBegun: a stop has begun.
struct DfuRun : platform::WorkerState {
    DfuNotices notices;
    CBPort* port = nullptr;
    std::uint32_t options = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> image;
    CDevEmul emul;  // frames this update's packets (the thread's own, apart from command exchanges)
    std::uint8_t answer[kMaxPacket] = {};
    std::uint16_t answerLength = 0;
    std::uint16_t percent = 0;

    std::atomic<std::int32_t> cancel{0};
    bool ended = false;
    // The thread is giving its last line: its end follows at once.
    bool finishing = false;

    // Sleeps ms unless the cancel flag is set first (or is set meanwhile); false when cancelled.
    bool sleepUnlessCancelled(std::uint32_t ms);
};

class CWDfu {
public:
    static constexpr std::uint32_t kStopWaitMs = 10000;
    static constexpr std::uint32_t kLeaveWaitMs = 2000;
    // How long a start waits for a thread that has given its last line to end.
    static constexpr std::uint32_t kFinishingWaitMs = 2000;
    static constexpr std::uint32_t kThreadExitCode = 209;

    CWDfu() = default;
    CWDfu(const CWDfu&) = delete;
    CWDfu& operator=(const CWDfu&) = delete;
    // Stops a running update, closes the file, releases the image.
    ~CWDfu();

    std::int32_t openDfu(const char16_t* path, void* window);
    std::int32_t fwInfo(std::uint8_t* record, bool get);
    // The update start (the caller holds BUSY_CTRL). session keeps the port alive for the thread.
    std::int32_t updateStart(const std::shared_ptr<DeviceSession>& session, std::int32_t device,
                             std::uint32_t options);
    std::int32_t closeDfu();
    void stopUpdate();
    // The slot is being emptied: the update stops and no later start begins one.
    void shutDown();
    // True while an update thread runs; one that is giving its last line is waited for first.
    bool updateRunning();

private:
    bool loadFirmware(DfuRun& run);
    bool startRefused() const { return shutDown_.load(); }
    // The part of the start that talks to the device; false ends the start with 0.
    bool prepareDevice(DfuRun& run);
    void joinEndedThread();

    std::mutex apiLock_;     // the exports on this object, one at a time
    std::mutex threadLock_;  // worker_ and run_
    platform::FirmwareFile file_;
    std::uint8_t header_[kFwHeaderSize] = {};
    std::shared_ptr<const std::vector<std::uint8_t>> image_;
    std::uint32_t imageSize_ = 0;
    void* window_ = nullptr;
    std::int32_t device_ = -1;
    CLogFile* heldLog_ = nullptr;  // the log object of the last start
    std::shared_ptr<DfuRun> run_;
    platform::BoundedWorker worker_;
    std::atomic<bool> shutDown_{false};
};

// The update thread's work, on run (exposed for the tests of its steps). Returns the exit code.
std::uint32_t runUpdateSteps(DfuRun& run);
// One firmware command and its answer: 0, the device's status, -1 (no usable answer, or
// cancelled) or -2 (the packet could not be written). *inOut: the payload length given, on
// return the count the packet carried.
std::int16_t dfuCommand(DfuRun& run, std::uint8_t code, const std::uint8_t* payload, std::uint32_t* inOut);

}  // namespace tavrin
