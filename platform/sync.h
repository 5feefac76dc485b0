// Locks and thread facts.
#pragma once

#include <cstdint>
#include <thread>

namespace tavrin::platform {

// A lock its owner may take again while holding it (the log lock).
class RecursiveLock {
public:
    RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;
    ~RecursiveLock();

    void lock();
    void unlock();

private:
    alignas(8) unsigned char storage_[64];
};

class RecursiveLockGuard {
public:
    explicit RecursiveLockGuard(RecursiveLock& lock) : lock_(lock) { lock_.lock(); }
    RecursiveLockGuard(const RecursiveLockGuard&) = delete;
    RecursiveLockGuard& operator=(const RecursiveLockGuard&) = delete;
    ~RecursiveLockGuard() { lock_.unlock(); }

private:
    RecursiveLock& lock_;
};

// The id the system gives the calling thread.
std::uint32_t currentThreadId();

void sleepMs(std::uint32_t ms);

// Ends the library's hold on a thread whose work is done, while the library is being unloaded
// (POSIX: joins it; Windows: the thread cannot finish while the loader is busy with the library,
// so it is given a moment to reach the system's thread exit and then let go).
void finishThreadAtUnload(std::thread& thread);

}  // namespace tavrin::platform
