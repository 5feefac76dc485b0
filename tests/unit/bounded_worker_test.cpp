// The bounded-stop worker: the three outcomes of a stop, the end hook under the shared lock, and a
// thread that could not be stopped living on with its state after its owner is gone.
#include "platform/bounded_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace {

using tavrin::platform::BoundedWorker;
using tavrin::platform::WorkerState;
using namespace std::chrono_literals;

struct Shared : WorkerState {
    bool askedToStop = false;   // under the lock
    bool toldToLeave = false;   // under the lock
    bool released = false;      // under the lock: the test lets a stubborn thread go
    bool lastWords = false;     // set by the end hook
};

enum class Listens { ToTheAsk, ToTheLeave, ToNothing };

// Runs until what it listens to has been said (or the test releases it).
BoundedWorker::Body bodyFor(const std::shared_ptr<Shared>& shared, Listens listens) {
    return [shared, listens] {
        std::unique_lock<std::mutex> lock(shared->lock);
        shared->changed.wait(lock, [&] {
            if (shared->released) return true;
            if (listens == Listens::ToTheAsk) return shared->askedToStop;
            if (listens == Listens::ToTheLeave) return shared->toldToLeave;
            return false;
        });
        return std::function<void()>([shared] { shared->lastWords = true; });
    };
}

TEST(BoundedWorker, StopReportsHowTheThreadEnded) {
    struct Case {
        Listens listens;
        BoundedWorker::Outcome expected;
    };
    const Case cases[] = {
        {Listens::ToTheAsk, BoundedWorker::Outcome::Ended},
        {Listens::ToTheLeave, BoundedWorker::Outcome::LeftLate},
        {Listens::ToNothing, BoundedWorker::Outcome::NoEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.listens));
        auto shared = std::make_shared<Shared>();
        {
            BoundedWorker worker;
            std::unique_lock<std::mutex> lock(shared->lock);
            worker.start(lock, shared, bodyFor(shared, c.listens));
            EXPECT_TRUE(shared->running);
            // A thread that heeds the ask ends well within the first wait; one that does not keeps
            // it for its whole length (short here), and the leave wait is generous.
            const auto firstWait = c.listens == Listens::ToTheAsk ? 10s : 100ms;
            const auto outcome = worker.stop(
                lock, BoundedWorker::Clock::now() + firstWait, c.listens == Listens::ToNothing ? 100ms : 10000ms,
                [&](std::unique_lock<std::mutex>&) {
                    shared->askedToStop = true;
                    shared->changed.notify_all();
                },
                [&](std::unique_lock<std::mutex>& held) {
                    shared->toldToLeave = true;
                    held.unlock();  // the leave may be said without the lock
                    shared->changed.notify_all();
                    held.lock();
                });
            EXPECT_EQ(outcome, c.expected);
            EXPECT_TRUE(shared->stopBegun);
            if (c.expected != BoundedWorker::Outcome::NoEnd) {
                // Ended: its last words were said before it counted as ended.
                EXPECT_FALSE(shared->running);
                EXPECT_TRUE(shared->lastWords);
                lock.unlock();
                worker.collect(false);
                EXPECT_FALSE(worker.hasThread());
            } else {
                EXPECT_TRUE(shared->running);
                EXPECT_FALSE(worker.hasThread());  // let go, not killed
            }
        }
        if (c.expected == BoundedWorker::Outcome::NoEnd) {
            // The owner is gone; the thread still has its state and ends by itself once released.
            std::unique_lock<std::mutex> lock(shared->lock);
            shared->released = true;
            shared->changed.notify_all();
            EXPECT_TRUE(shared->changed.wait_for(lock, 10s, [&] { return !shared->running; }));
            EXPECT_TRUE(shared->lastWords);
        }
    }
}

TEST(BoundedWorker, StartsAgainAfterAnEndAndCollectsTheEarlierThread) {
    auto shared = std::make_shared<Shared>();
    BoundedWorker worker;
    for (int round = 0; round < 3; ++round) {
        std::unique_lock<std::mutex> lock(shared->lock);
        shared->released = false;
        shared->lastWords = false;
        worker.start(lock, shared, bodyFor(shared, Listens::ToNothing));
        EXPECT_FALSE(shared->stopBegun);
        shared->released = true;
        shared->changed.notify_all();
        ASSERT_TRUE(worker.waitEnd(lock, BoundedWorker::Clock::now() + 10s));
        EXPECT_TRUE(shared->lastWords);
        // A stop of a worker that has ended counts as an end and says nothing to it.
        bool asked = false;
        EXPECT_EQ(worker.stop(lock, BoundedWorker::Clock::now(), 0ms,
                              [&](std::unique_lock<std::mutex>&) { asked = true; }, nullptr),
                  BoundedWorker::Outcome::Ended);
        EXPECT_FALSE(asked);
    }
    worker.collect(false);
    EXPECT_FALSE(worker.hasThread());
}

}  // namespace
