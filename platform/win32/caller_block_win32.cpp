// Win32 backend of caller_block.h: an OVERLAPPED with a manual-reset event (or none).
#include <cstring>

#include "platform/caller_block.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform {

struct CallerBlock::State {
    OVERLAPPED block{};
    OVERLAPPED made{};
};

CallerBlock::CallerBlock(bool withEvent) : state_(std::make_unique<State>()) {
    if (withEvent) state_->block.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    state_->made = state_->block;
}

CallerBlock::~CallerBlock() {
    if (state_->block.hEvent != nullptr) CloseHandle(state_->block.hEvent);
}

void* CallerBlock::get() { return &state_->block; }

bool CallerBlock::signalled() const {
    return state_->block.hEvent != nullptr && WaitForSingleObject(state_->block.hEvent, 0) == WAIT_OBJECT_0;
}

bool CallerBlock::awaitResult(OsHandle device, int timeoutMs, std::uint32_t* count) {
    if (state_->block.hEvent == nullptr ||
        WaitForSingleObject(state_->block.hEvent, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return false;
    DWORD moved = 0;
    const BOOL ok = GetOverlappedResult(win32::toHandle(device), &state_->block, &moved, FALSE);
    if (count != nullptr) *count = moved;
    return ok != FALSE;
}

bool CallerBlock::untouched() const { return std::memcmp(&state_->block, &state_->made, sizeof(OVERLAPPED)) == 0; }

}  // namespace tavrin::platform
