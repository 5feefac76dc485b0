// Serves command packets on one byte stream for one device: a background thread reads what the
// library sends, records it, asks the model for each request's answer and writes the reply, with
// the device's faults applied.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sim/channel.h"
#include "sim/device_model.h"
#include "sim/recorder.h"

namespace tavrin::sim {

class CommandService {
public:
    CommandService(ByteChannel& channel, DeviceModel& model, Recorder& recorder);
    CommandService(const CommandService&) = delete;
    CommandService& operator=(const CommandService&) = delete;
    ~CommandService() { stop(); }

    void start();
    // Ends the thread; a reply being delayed or paused is abandoned.
    void stop();

    // The bytes of a reply as they go out, in the writes they go out in.
    static std::vector<Bytes> replyWrites(std::uint8_t code, const Answer& answer, const FaultPlan& faults);

    // Requests dealt with so far (answered, or left unanswered as the faults say), in the order
    // they were recorded: the reply to packet i of the recorder has gone out once served() > i.
    std::size_t served() const { return served_.load(); }

private:
    void run();
    void serve(const Request& request);
    // Waits ms unless the service stops first; false when it stops.
    bool pause(std::uint32_t ms);
    // Whether stop() has been asked for; no wait (a timed wait of zero still costs the thread's
    // timer slack, tens of microseconds, on every turn of the loop).
    bool running();
    // Sends noise for ms, or until the fault is switched off or the service stops.
    void noiseFor(std::uint32_t ms);

    ByteChannel& channel_;
    DeviceModel& model_;
    Recorder& recorder_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<std::size_t> served_{0};
};

}  // namespace tavrin::sim
