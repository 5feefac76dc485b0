// The receiving end of a firmware update's notifications (WM_DFU_NOTIFY), for tests, the tool and
// examples: on Windows a message-only window of the calling thread, whose messages pump() takes;
// elsewhere a _DFU_NOTIFY record whose callback collects them (pump() waits for them). Create,
// pass target() to dllFunc_OpenDfu, and pump on the creating thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tavrin::platform {

struct DfuNotification {
    std::uint32_t wParam = 0;
    std::intptr_t lParam = 0;
};

class NotifyWindow {
public:
    NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    ~NotifyWindow();

    bool valid() const;
    // The window argument of dllFunc_OpenDfu.
    void* target();
    // Delivers what has arrived, waiting up to timeoutMs for the first; each notification goes to
    // onEach (when set) and into the list. The count delivered.
    std::size_t pump(int timeoutMs);
    void setOnEach(std::function<void(const DfuNotification&)> onEach) { onEach_ = std::move(onEach); }
    std::vector<DfuNotification> received();

    // Called by the backend for each notification.
    void deliver(const DfuNotification& n);

private:
    struct State;
    std::unique_ptr<State> state_;
    std::function<void(const DfuNotification&)> onEach_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<DfuNotification> pending_;
    std::vector<DfuNotification> received_;
};

}  // namespace tavrin::platform
