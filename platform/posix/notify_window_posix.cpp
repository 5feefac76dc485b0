// POSIX backend of notify_window.h: the caller's notification record, whose callback (on the
// update's thread) hands each notification to the pumping thread.
#include "platform/notify_window.h"

#include <chrono>

#include "tavrin/tavrin.h"

namespace tavrin::platform {

struct NotifyWindow::State {
    _DFU_NOTIFY record{};
};

namespace {
void onNotify(void* context, std::uint32_t wParam, std::intptr_t lParam) {
    static_cast<NotifyWindow*>(context)->deliver({wParam, lParam});
}
}  // namespace

NotifyWindow::NotifyWindow() : state_(std::make_unique<State>()) {
    state_->record.notify = &onNotify;
    state_->record.context = this;
}

NotifyWindow::~NotifyWindow() = default;

bool NotifyWindow::valid() const { return true; }

void* NotifyWindow::target() { return &state_->record; }

void NotifyWindow::deliver(const DfuNotification& n) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.push_back(n);
    }
    arrived_.notify_all();
}

std::size_t NotifyWindow::pump(int timeoutMs) {
    std::vector<DfuNotification> taken;
    {
        std::unique_lock<std::mutex> guard(lock_);
        arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !pending_.empty(); });
        taken.swap(pending_);
        received_.insert(received_.end(), taken.begin(), taken.end());
    }
    for (const DfuNotification& n : taken)
        if (onEach_) onEach_(n);
    return taken.size();
}

std::vector<DfuNotification> NotifyWindow::received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

}  // namespace tavrin::platform
