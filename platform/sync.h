// Locks and thread facts.
#pragma once

#include <cstdint>

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

}  // namespace tavrin::platform
