// The overlapped block a Windows program may hand to dllFunc_Read and dllFunc_Write, with an
// event of its own or none, for tests and example programs. Other systems have no such block: it
// is a few bytes there, which the library ignores.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/os_types.h"

namespace tavrin::platform {

class CallerBlock {
public:
    explicit CallerBlock(bool withEvent);
    CallerBlock(const CallerBlock&) = delete;
    CallerBlock& operator=(const CallerBlock&) = delete;
    ~CallerBlock();

    // What the caller passes as the overlapped argument.
    void* get();
    // Whether the block's event is set (the transfer on it has ended); false without one.
    bool signalled() const;
    // Windows: waits up to timeoutMs for the transfer left on the block to end and collects its
    // result (GetOverlappedResult on the device's handle); true with *count bytes moved. Other
    // systems: false.
    bool awaitResult(OsHandle device, int timeoutMs, std::uint32_t* count);
    // The bytes of the block are those it was made with (nothing wrote into it).
    bool untouched() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tavrin::platform
