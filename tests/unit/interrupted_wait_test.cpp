// The peers' waits (the device's end of stand-in devices and network channels) last their
// time-out in all, however often a signal interrupts them: a wait that started its full time-out
// again after each signal would never end while signals keep coming (a profiler, a debugger, a
// child process ending).
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/device_peer.h"
#include "platform/net_peer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void onSignal(int) {}

// Interrupts one thread with SIGUSR1 every 20 ms until told to stop.
class Interrupter {
public:
    explicit Interrupter(pthread_t target) : target_(target) {
        struct sigaction action {};
        action.sa_handler = onSignal;  // no SA_RESTART: a wait returns EINTR
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                pthread_kill(target_, SIGUSR1);
                std::this_thread::sleep_for(20ms);
            }
        });
    }
    ~Interrupter() {
        stop_.store(true);
        thread_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }

private:
    pthread_t target_;
    struct sigaction previous_ {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(InterruptedWait, AWaitEndsAfterItsTimeOutWhileSignalsKeepComing) {
    constexpr int kWaitMs = 300;
    auto listener = tavrin::platform::TcpListener::listen({{127, 0, 0, 1}, 0});
    auto udp = tavrin::platform::UdpPeer::bind({{127, 0, 0, 1}, 0});
    auto device = tavrin::platform::DevicePeer::create("interrupted");
    ASSERT_TRUE(listener && udp && device);
    char buffer[16];
    const struct {
        const char* name;
        std::function<bool()> waitFinds;  // true when the wait found something (it must not)
    } waits[] = {
        {"accept", [&] { return listener->accept(kWaitMs) != nullptr; }},
        {"receive", [&] { return udp->receive(buffer, sizeof buffer, nullptr, kWaitMs) > 0; }},
        {"device read", [&] { return device->read(buffer, sizeof buffer, kWaitMs) > 0; }},
    };
    for (const auto& wait : waits) {
        SCOPED_TRACE(wait.name);
        std::atomic<bool> done{false};
        bool found = true;
        Clock::duration took{};
        std::thread waiter([&] {
            const auto start = Clock::now();
            found = wait.waitFinds();
            took = Clock::now() - start;
            done.store(true);
        });
        {
            Interrupter signals(waiter.native_handle());
            // Signals keep coming for far longer than the wait's time-out (bounded, so that a
            // wait that never ends on its own still lets the test finish).
            const auto giveUp = Clock::now() + 5s;
            while (!done.load() && Clock::now() < giveUp) std::this_thread::sleep_for(5ms);
        }
        waiter.join();
        EXPECT_FALSE(found);
        EXPECT_GE(took, std::chrono::milliseconds(kWaitMs));
        EXPECT_LT(took, 3s) << "the wait began its time-out again after each signal";
    }
}

}  // namespace
