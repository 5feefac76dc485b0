// POSIX backend of sync.h.
#include "platform/sync.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>

namespace tavrin::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "RecursiveLock::storage_ must hold a pthread mutex");

RecursiveLock::RecursiveLock() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attr);
    pthread_mutexattr_destroy(&attr);
}

RecursiveLock::~RecursiveLock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }

void RecursiveLock::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

void RecursiveLock::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

std::uint32_t currentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

void sleepMs(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

void finishThreadAtUnload(std::thread& thread) { thread.join(); }

}  // namespace tavrin::platform
