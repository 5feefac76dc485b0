#include "sim/command_service.h"

#include <chrono>

#include "sim/rate_limit.h"

namespace tavrin::sim {

namespace {

constexpr int kPollMs = 20;
// A packet begun and not finished within this time is forgotten.
constexpr int kInterByteMs = 500;
constexpr std::uint8_t kNoise[] = {0xFF, 0x00, 0x55, 0xAA, 0x0F, 0xF0, 0x01, 0x7E};

}  // namespace

CommandService::CommandService(ByteChannel& channel, DeviceModel& model, Recorder& recorder)
    : channel_(channel), model_(model), recorder_(recorder) {}

void CommandService::start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { run(); });
}

void CommandService::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool CommandService::pause(std::uint32_t ms) {
    std::unique_lock<std::mutex> guard(lock_);
    return !wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool CommandService::running() {
    std::lock_guard<std::mutex> guard(lock_);
    return !stopping_;
}

void CommandService::run() {
    RequestReader reader;
    std::vector<Request> requests;
    std::uint8_t buffer[512];
    int quietMs = 0;
    std::uint16_t served = 0;  // on this connection
    while (running()) {
        const std::uint32_t rate = model_.dataRate();
        const long n = channel_.read(buffer, RateLimit::allowance(rate, sizeof buffer), kPollMs);
        if (n <= 0) {
            quietMs += kPollMs;
            if (reader.midPacket() && quietMs >= kInterByteMs) reader.reset();
            channel_.idle();
            if (n < 0 && !pause(kPollMs)) return;  // broken for now: try again later
            continue;
        }
        quietMs = 0;
        recorder_.addBytes(buffer, static_cast<std::size_t>(n));
        // A slow device takes in no more than its rate (on a stand-in, commands and data alike).
        const auto slow = RateLimit::pauseAfter(rate, static_cast<std::size_t>(n));
        if (slow.count() != 0 && !pause(static_cast<std::uint32_t>(slow.count()))) return;
        requests.clear();
        reader.feed(buffer, static_cast<std::size_t>(n), requests);
        for (const Request& request : requests) {
            recorder_.addPacket(request.raw);
            serve(request);
            ++served_;
            const std::uint16_t closeAfter = model_.faults().closeAfter;
            if (closeAfter != 0 && ++served >= closeAfter) {
                channel_.drop();
                served = 0;
            }
        }
    }
}

std::vector<Bytes> CommandService::replyWrites(std::uint8_t code, const Answer& answer, const FaultPlan& faults) {
    Bytes payload = answer.payload;
    if (faults.longReply != 0) payload.resize(faults.longReply < kMaxPayload ? faults.longReply : kMaxPayload, '.');
    const Bytes reply = framePacket(code, payload, answer.status);

    std::vector<Bytes> writes;
    Bytes last;
    for (std::uint16_t i = 0; i < faults.redundant; ++i) {
        const Bytes other = framePacket(static_cast<std::uint8_t>(code + 1), {}, 0);
        if (faults.together) last.insert(last.end(), other.begin(), other.end());
        else writes.push_back(other);
    }

    for (std::uint16_t i = 0; i < faults.noise; ++i) last.push_back(kNoise[i % sizeof kNoise]);
    if (faults.badChecksum && reply.size() > kHeader) {
        Bytes broken = reply;
        broken[3] = static_cast<std::uint8_t>(broken[3] + 1);
        last.insert(last.end(), broken.begin(), broken.end());
    }
    const std::size_t replyAt = last.size();
    last.insert(last.end(), reply.begin(), reply.end());
    std::size_t cut = 0;
    if (faults.splitAt != 0 && faults.splitAt < reply.size()) {
        cut = replyAt + faults.splitAt;
    } else if (faults.split && reply.size() > kHeader) {
        cut = replyAt + kHeader + (reply.size() - kHeader) / 2;
    }
    if (cut != 0) {
        writes.emplace_back(last.begin(), last.begin() + static_cast<std::ptrdiff_t>(cut));
        writes.emplace_back(last.begin() + static_cast<std::ptrdiff_t>(cut), last.end());
    } else {
        writes.push_back(std::move(last));
    }
    return writes;
}

void CommandService::noiseFor(std::uint32_t ms) {
    constexpr std::uint32_t kEveryMs = 10;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (std::size_t at = 0; std::chrono::steady_clock::now() < end && model_.faults().noiseForMs != 0; ++at) {
        const std::uint8_t chunk[] = {kNoise[at % sizeof kNoise], kNoise[(at + 3) % sizeof kNoise],
                                      kNoise[(at + 5) % sizeof kNoise]};
        if (!channel_.write(chunk, sizeof chunk) || !pause(kEveryMs)) return;
    }
}

void CommandService::serve(const Request& request) {
    if (!request.checksumOk) return;  // a corrupted request is not answered
    const FaultPlan faults = model_.faults();
    if (faults.noReply) return;
    if (faults.noiseForMs != 0) {
        noiseFor(faults.noiseForMs);
        return;
    }
    const Answer answer = model_.answer(request);
    if (answer.silent) return;
    const std::uint32_t late = faults.lateMs(request.code);
    const std::uint32_t delay = late != 0 ? late : faults.delayMs;
    if (delay != 0 && !pause(delay)) return;

    const std::vector<Bytes> writes = replyWrites(request.code, answer, faults);
    // Every write but the last is followed by the pause: the redundant replies, each on its
    // own, and the first part of a split reply.
    for (std::size_t i = 0; i < writes.size(); ++i) {
        if (!channel_.write(writes[i].data(), writes[i].size())) return;
        if (i + 1 < writes.size() && !pause(faults.pauseMs)) return;
    }
    for (const Answer& next : answer.after) {
        if (!pause(answer.afterMs)) return;
        const Bytes reply = framePacket(request.code, next.payload, next.status);
        if (!channel_.write(reply.data(), reply.size())) return;
    }
}

}  // namespace tavrin::sim
