// Win32 backend of sync.h: a critical section with a spin count of 1024 as the re-entrant lock.
#include "platform/sync.h"

#include <new>

#include "platform/win32/windows_api.h"

namespace tavrin::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "RecursiveLock::storage_ must hold a CRITICAL_SECTION");

RecursiveLock::RecursiveLock() {
    auto* cs = new (storage_) CRITICAL_SECTION;
    InitializeCriticalSectionAndSpinCount(cs, 1024);
}

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

void RecursiveLock::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

void RecursiveLock::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

std::uint32_t currentThreadId() { return GetCurrentThreadId(); }

void sleepMs(std::uint32_t ms) { Sleep(ms); }

void finishThreadAtUnload(std::thread& thread) {
    Sleep(50);
    thread.detach();
}

}  // namespace tavrin::platform
