// The file behind the library log.
#pragma once

#include <cstdint>

#include "platform/os_types.h"

namespace tavrin::platform {

// Creates the file, replacing any file of that name, for writing; others may read it meanwhile.
OsHandle createLogFile(const char16_t* path);

// Writes up to length bytes; false on failure. *written receives the bytes taken.
bool writeFile(OsHandle file, const void* data, std::uint32_t length, std::uint32_t* written);

}  // namespace tavrin::platform
