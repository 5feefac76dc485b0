#include "sim/firmware.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace tavrin::sim {

namespace {
Answer status(std::uint8_t s) { return Answer{s, {}}; }
Answer silent() {
    Answer a;
    a.silent = true;
    return a;
}
}  // namespace

void FirmwareTarget::attach(DeviceModel& model) {
    for (std::uint8_t c : {code::kUpdateRequest, code::kUpdateBegin, code::kUpdateHeader, code::kUpdatePiece,
                           code::kUpdateFinish, code::kRestart, code::kSetWorkMode})
        model.setHandler(c, [this](const Request& r) { return handle(r); });
}

FirmwareRecord FirmwareTarget::record() const {
    std::lock_guard<std::mutex> guard(lock_);
    return record_;
}

void FirmwareTarget::setConfig(const FirmwareConfig& config) {
    std::lock_guard<std::mutex> guard(lock_);
    config_ = config;
}

FirmwareConfig FirmwareTarget::config() const {
    std::lock_guard<std::mutex> guard(lock_);
    return config_;
}

namespace {
// The image as the device has it after a successful update.
void saveImage(const std::string& file, const Bytes& image) {
    std::ofstream out(std::filesystem::u8path(file), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}
}  // namespace

Answer FirmwareTarget::handle(const Request& request) {
    std::uint32_t goAway = 0;
    std::uint32_t delay = 0;
    std::optional<Bytes> finishedImage;
    std::string saveTo;
    Answer answer;
    {
        std::lock_guard<std::mutex> guard(lock_);
        switch (request.code) {
        case code::kSetWorkMode:
            record_.workModes.push_back(request.payload.empty() ? 0 : request.payload[0]);
            answer = status(config_.workModeStatus);
            break;
        case code::kUpdateRequest:
            ++record_.updateRequests;
            if (config_.inBootMode || bootMode_) {
                answer = Answer{0, {2, 0, 0}};
            } else {
                answer = Answer{0, {1, static_cast<std::uint8_t>(config_.restartWait >> 8),
                                    static_cast<std::uint8_t>(config_.restartWait & 0xFF)}};
                bootMode_ = true;
                ++record_.bootRestarts;
                goAway = config_.awayMs;
            }
            break;
        case code::kUpdateBegin:
            ++record_.begins;
            record_.headerBody.clear();
            record_.image.clear();
            record_.pieceSizes.clear();
            record_.finished = false;
            answer = status(0);
            break;
        case code::kUpdateHeader:
            record_.headerBody = request.payload;
            answer = status(0);
            break;
        case code::kUpdatePiece: {
            const auto index = static_cast<std::int32_t>(record_.pieceSizes.size());
            if (config_.vanishAfter >= 0 && index >= config_.vanishAfter) {
                goAway = kGoneForGoodMs;
                answer = silent();
                break;
            }
            record_.image.insert(record_.image.end(), request.payload.begin(), request.payload.end());
            record_.pieceSizes.push_back(request.payload.size());
            delay = config_.pieceDelayMs;
            answer = index == config_.silentPiece ? silent() : status(0);
            break;
        }
        case code::kUpdateFinish:
            ++record_.finishes;
            if (config_.busyForever || config_.busyAnswers > 0) {
                // Busy answers, one every wait, until the device is done (or for ever: more
                // than anyone waits for).
                const Answer busy{0, {0, static_cast<std::uint8_t>(config_.busyWait >> 8),
                                      static_cast<std::uint8_t>(config_.busyWait & 0xFF)}};
                const std::uint16_t count = config_.busyForever ? 10 : config_.busyAnswers;
                answer = busy;
                answer.afterMs = config_.busyWait * 25u;
                for (std::uint16_t i = 1; i < count; ++i) answer.after.push_back(busy);
                if (!config_.busyForever) {
                    answer.after.push_back(status(0));
                    record_.finished = true;
                }
            } else {
                record_.finished = true;  // the new firmware runs after the next restart
                answer = status(0);
            }
            if (record_.finished && !config_.saveImageTo.empty()) {
                finishedImage = record_.image;
                saveTo = config_.saveImageTo;
            }
            break;
        case code::kRestart:
            ++record_.restarts;
            bootMode_ = false;
            answer = status(0);
            break;
        default: answer = status(0); break;
        }
    }
    if (finishedImage) saveImage(saveTo, *finishedImage);
    if (delay != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    // The answer still goes out on the connection of the moment; the device goes after it.
    if (goAway != 0 && restart_) restart_(goAway);
    return answer;
}

}  // namespace tavrin::sim
