// POSIX backend of caller_block.h: a block of recognisable bytes that stands for a Windows
// program's OVERLAPPED; the library ignores it.
#include <cstring>

#include "platform/caller_block.h"

namespace tavrin::platform {

struct CallerBlock::State {
    unsigned char block[64];
};

CallerBlock::CallerBlock(bool) : state_(std::make_unique<State>()) {
    std::memset(state_->block, 0xA5, sizeof state_->block);
}

CallerBlock::~CallerBlock() = default;

void* CallerBlock::get() { return state_->block; }

bool CallerBlock::signalled() const { return false; }

bool CallerBlock::awaitResult(OsHandle, int, std::uint32_t*) { return false; }

bool CallerBlock::untouched() const {
    for (unsigned char b : state_->block)
        if (b != 0xA5) return false;
    return true;
}

}  // namespace tavrin::platform
