// BoundedWorker: portable, no OS calls (the end of a thread at unload comes from sync.h).
#include "platform/bounded_worker.h"

#include <utility>

#include "platform/sync.h"

namespace tavrin::platform {

BoundedWorker::~BoundedWorker() {
    if (!thread_.joinable()) return;
    bool ended = true;
    if (state_) {
        std::lock_guard<std::mutex> guard(state_->lock);
        ended = !state_->running;
    }
    if (ended && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    else thread_.detach();
}

void BoundedWorker::start(std::unique_lock<std::mutex>& held, std::shared_ptr<WorkerState> state,
                          Body body) {
    if (thread_.joinable()) {
        // An earlier thread that has ended: what is left of it is its return.
        if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
        else thread_.join();
    }
    state_ = std::move(state);
    state_->running = true;
    state_->stopBegun = false;
    try {
        thread_ = std::thread([shared = state_, body = std::move(body)] {
            const std::function<void()> atEnd = body();
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                if (atEnd) atEnd();
                shared->running = false;
            }
            shared->changed.notify_all();
        });
    } catch (...) {
        state_->running = false;
        throw;
    }
    (void)held;
}

bool BoundedWorker::waitEnd(std::unique_lock<std::mutex>& held, Clock::time_point deadline) {
    if (!state_) return true;
    WorkerState& state = *state_;
    return state.changed.wait_until(held, deadline, [&state] { return !state.running; });
}

BoundedWorker::Outcome BoundedWorker::stop(std::unique_lock<std::mutex>& held, Clock::time_point deadline,
                                           std::chrono::milliseconds leaveWait,
                                           const std::function<void(std::unique_lock<std::mutex>&)>& askToStop,
                                           const std::function<void(std::unique_lock<std::mutex>&)>& tellToLeave) {
    if (!state_ || !state_->running) return Outcome::Ended;
    const std::shared_ptr<WorkerState> state = state_;  // a thread let go keeps its own share
    state->stopBegun = true;
    if (askToStop) askToStop(held);
    if (waitEnd(held, deadline)) return Outcome::Ended;
    if (tellToLeave) tellToLeave(held);
    if (waitEnd(held, Clock::now() + leaveWait)) return Outcome::LeftLate;
    if (thread_.joinable()) thread_.detach();
    return Outcome::NoEnd;
}

void BoundedWorker::collect(bool unloading) {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
    else if (unloading) finishThreadAtUnload(thread_);
    else thread_.join();
}

void BoundedWorker::letGo() {
    if (thread_.joinable()) thread_.detach();
}

}  // namespace tavrin::platform
