// DevIoCtrl: one command exchange with a device on its control port, the entry behind
// dllFunc_DevIoCtrl that the configuration exchange also calls with codes that have no name.
#pragma once

#include <cstdint>

#include "tavrin/tavrin.h"

namespace tavrin {

inline constexpr std::int32_t kRawPassThrough = -1;

// code: a command code 0..255, framed and answered; kRawPassThrough: the data goes out as it is
// and one read collects what comes back. 1 on success, 0 on failure. BUSY_CTRL of the device is
// held for the whole exchange; a device busy with another one fails at once.
std::int32_t DevIoCtrl(std::int32_t code, std::int32_t handle, const std::uint8_t* data,
                       std::uint32_t length, _DEVACK_INFO* answer);

}  // namespace tavrin
