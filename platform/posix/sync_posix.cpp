// POSIX backend of sync.h.
#include "platform/sync.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
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

namespace {

// A thread's id is asked for with every log line: it is kept per thread after the first call.
// A child made by fork() has new ids, so the cache counts forks and asks again after one.
std::atomic<std::uint32_t> forks{0};
// Static TLS: the library may be loaded at run time and unloaded again, and the dynamic TLS of an
// unloaded library is what ThreadSanitizer (and older loaders) handle worst; eight bytes fit in
// the space the loader keeps for such libraries.
[[gnu::tls_model("initial-exec")]] thread_local std::uint32_t cachedId = 0;
[[gnu::tls_model("initial-exec")]] thread_local std::uint32_t cachedAt = 0;

void countFork() { forks.fetch_add(1, std::memory_order_relaxed); }
const int forkHandler = ::pthread_atfork(nullptr, nullptr, countFork);

}  // namespace

std::uint32_t currentThreadId() {
    (void)forkHandler;
    const std::uint32_t generation = forks.load(std::memory_order_relaxed);
    if (cachedId == 0 || cachedAt != generation) {
        cachedId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
        cachedAt = generation;
    }
    return cachedId;
}

void sleepMs(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

void finishThreadAtUnload(std::thread& thread) { thread.join(); }

}  // namespace tavrin::platform
