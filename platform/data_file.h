// Whole-file reads and writes of the library's own data files (the configuration packet kept
// offline). The file is not shared while it is open: another open of it fails meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::platform {

// Reads an existing file: the bytes that arrived until all were in or a read failed or brought
// nothing. False when it cannot be opened, is empty, or is larger than maxBytes.
bool readDataFile(const std::u16string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out);

// Creates or truncates the file and writes the bytes until all are out or a write fails or takes
// nothing; *written (when given) receives the count. False when the file cannot be created.
bool writeDataFile(const std::u16string& path, const std::uint8_t* bytes, std::size_t count,
                   std::size_t* written);

}  // namespace tavrin::platform
