// BoundedWorker: a thread with a bounded stop. The owner starts it, tells it to leave, waits for
// it with a limit and learns how it went: it ended in time, it left late (after being told to
// leave) or it could not be stopped. A thread that could not be stopped is never killed: it is
// let go and ends by itself, keeping alive whatever it shares with its owner.
//
// Portable code without OS calls, beside the seam (like text_utf.h): what it needs of the system
// (the end of a thread while the library is being unloaded) comes from sync.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tavrin::platform {

// What the owner and its thread share. The owner's own shared state derives from it, so that one
// lock guards both that state and the worker's flags, and the thread's last words (its end hook)
// and the owner's decisions never interleave.
struct WorkerState {
    std::mutex lock;
    std::condition_variable changed;  // notified when the thread ends (and free for the owner's waits)
    bool running = false;             // from the start until the end hook has run
    bool stopBegun = false;           // a stop has begun since the start (the end hook may look)
};

class BoundedWorker {
public:
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        Ended,     // it ended before the deadline
        LeftLate,  // it ended after being told to leave
        NoEnd,     // it still ran after the leave wait: it has been let go
    };

    BoundedWorker() = default;
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;
    // Collects a thread that has ended; one still running is let go (its state stays alive).
    ~BoundedWorker();

    // The thread's work. What it returns (when not empty) runs on that thread with state->lock
    // held, just before the worker counts as ended: the thread's last words about the shared state.
    using Body = std::function<std::function<void()>()>;

    // Starts body on a new thread sharing state. The caller holds state->lock (held) and the
    // worker is not running; an earlier thread that has ended is collected first. Throws
    // std::system_error when the system gives no thread (nothing runs then).
    void start(std::unique_lock<std::mutex>& held, std::shared_ptr<WorkerState> state, Body body);

    // The bounded stop, with state->lock held (held; held again on return): marks the stop as
    // begun and calls askToStop (when given, lock held); waits for the end until deadline; then
    // calls tellToLeave (lock held: it may unlock and lock again) and waits leaveWait more. A
    // thread that has not ended then is let go. A worker that is not running counts as Ended.
    Outcome stop(std::unique_lock<std::mutex>& held, Clock::time_point deadline, std::chrono::milliseconds leaveWait,
                 const std::function<void(std::unique_lock<std::mutex>&)>& askToStop,
                 const std::function<void(std::unique_lock<std::mutex>&)>& tellToLeave);

    // Waits, state->lock held, until the thread has ended or the deadline has passed; true once ended.
    bool waitEnd(std::unique_lock<std::mutex>& held, Clock::time_point deadline);

    // Collects an ended thread (without state->lock held). On the thread itself it is let go
    // (the last share of what it uses went with it); while the library is being unloaded the
    // system's rules apply to it, ended or not (finishThreadAtUnload).
    void collect(bool unloading);

    // Lets the thread go without waiting for it.
    void letGo();

    bool hasThread() const { return thread_.joinable(); }
    std::shared_ptr<WorkerState> state() const { return state_; }

private:
    std::shared_ptr<WorkerState> state_;
    std::thread thread_;
};

}  // namespace tavrin::platform
