#include "sim/device_model.h"

#include <utility>

namespace tavrin::sim {

namespace {
Answer text(const std::string& s) { return Answer{0, Bytes(s.begin(), s.end())}; }
Answer status(std::uint8_t s) { return Answer{s, {}}; }
}  // namespace

void FaultPlan::setLate(std::uint8_t code, std::uint32_t ms) {
    for (LateReply& r : late) {
        if (r.code == code) {
            r.ms = ms;
            return;
        }
    }
    late.push_back({code, ms});
}

std::uint32_t FaultPlan::lateMs(std::uint8_t code) const {
    for (const LateReply& r : late)
        if (r.code == code) return r.ms;
    return 0;
}

DeviceModel::DeviceModel(DeviceConfig config) : config_(std::move(config)) {}

Answer DeviceModel::answer(const Request& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto fixed = config_.answers.find(request.code);
        if (fixed != config_.answers.end()) return fixed->second;
        auto found = handlers_.find(request.code);
        if (found == handlers_.end()) return builtIn(request);
        handler = found->second;
    }
    return handler(request);  // outside the lock: a handler may ask the model again
}

Answer DeviceModel::builtIn(const Request& request) {
    switch (request.code) {
    case code::kModel: return text(config_.model);
    case code::kDeviceNumber: return text(config_.deviceNumber);
    case code::kProtocolVersion: return text(config_.protocolVersion);
    case code::kConnect: return status(config_.connectStatus);
    case code::kGetUserData: return Answer{0, userData_};
    case code::kSetUserData:
        userData_ = request.payload;
        return status(0);
    case code::kDeviceStatus: return Answer{0, {config_.deviceStatus}};
    case code::kDeviceInfo: return text(config_.model + " " + config_.firmwareVersion);
    case code::kGetWorkMode: return Answer{0, {config_.workMode}};
    case code::kSetWorkMode:
        if (!request.payload.empty()) config_.workMode = request.payload[0];
        return status(0);
    case code::kVersionInfo: return text(config_.firmwareVersion);
    default: return status(0);
    }
}

void DeviceModel::setHandler(std::uint8_t code, Handler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    handlers_[code] = std::move(handler);
}

void DeviceModel::setFaults(const FaultPlan& faults) {
    std::lock_guard<std::mutex> guard(lock_);
    config_.faults = faults;
}

void DeviceModel::setDeviceStatus(std::uint8_t status) {
    std::lock_guard<std::mutex> guard(lock_);
    config_.deviceStatus = status;
}

void DeviceModel::setAnswer(std::uint8_t code, const Answer& answer) {
    std::lock_guard<std::mutex> guard(lock_);
    config_.answers[code] = answer;
}

void DeviceModel::clearAnswer(std::uint8_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    config_.answers.erase(code);
}

void DeviceModel::setDataRate(std::uint32_t bytesPerSecond) {
    std::lock_guard<std::mutex> guard(lock_);
    config_.dataRate = bytesPerSecond;
}

std::uint32_t DeviceModel::dataRate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return config_.dataRate;
}

FaultPlan DeviceModel::faults() const {
    std::lock_guard<std::mutex> guard(lock_);
    return config_.faults;
}

DeviceConfig DeviceModel::config() const {
    std::lock_guard<std::mutex> guard(lock_);
    return config_;
}

}  // namespace tavrin::sim
