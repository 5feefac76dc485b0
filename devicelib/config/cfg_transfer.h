// Moving configurations between the model and the device or the offline files: the description
// document (0x1A), the packet read in pieces (0x17) and written in chunks (0x18), and
// "devCfg.dat" in the user data folder. The device is reached through an exchange function (one
// command packet and its answer), so these algorithms run against anything that answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tavrin/tavrin.h"

namespace tavrin {

class CDevCfgXml;
class CLogFile;

namespace config {

inline constexpr std::uint8_t kCmdReadPacket = 0x17;
inline constexpr std::uint8_t kCmdWritePacket = 0x18;
inline constexpr std::uint8_t kCmdReadDescription = 0x1A;

inline constexpr std::uint16_t kDescriptionAnswer = 259;  // answer space for each 0x1A
inline constexpr std::uint16_t kWriteAnswer = 16;         // answer space for each 0x18
inline constexpr std::size_t kWriteChunk = 253;           // packet bytes per 0x18

// One exchange: the command code without a name, its payload, the caller's answer record. True
// when a reply came (its acknowledge code and data are in the record).
using CfgExchange =
    std::function<bool(std::uint8_t code, const std::uint8_t* data, std::uint16_t length, _DEVACK_INFO& answer)>;

// The description document's D bytes (the header, every piece within D, the CRC-16 over D bits);
// nothing when any of it fails.
std::optional<std::string> readDescription(const CfgExchange& exchange);

// Collects the packet's pieces into buffer until an answer without data; the total, 0 after a
// failed exchange or a non-zero acknowledge. Logs the read line with the total; when take is
// given it first receives the bytes collected (if any), so that what taking them in logs stands
// before the read line.
std::size_t readPacket(const CfgExchange& exchange, std::uint8_t* buffer, std::uint16_t capacity, CLogFile& log,
                       const std::function<void(std::size_t total)>& take = {});

// Writes the bytes in chunks at their offsets, each as far as the device took it, then ends the
// transfer with 0xFF 0xFF. False when an exchange fails, the device refuses a chunk, takes none
// of it, or claims more than it was offered.
bool writePacket(const CfgExchange& exchange, const std::vector<std::uint8_t>& bytes, CLogFile& log);

// "devCfg.dat" in the user data folder: the whole file, or the bytes to write. False when the
// folder is not known, the file cannot be opened or created, or (reading) it is empty.
bool DBG_LoadDevCfgDat(const std::u16string& userFolder, std::vector<std::uint8_t>& bytes, bool write,
                       CLogFile& log);

// Fetches the packet (device, or the file when device is null) into the model, or sends the
// model's packet there. 1 on success, 0 on failure.
std::int32_t RefreshDevCfgDat(CDevCfgXml& model, const CfgExchange* device, const std::u16string& userFolder,
                              bool write, CLogFile& log);

// The description from the device, turned from the thread's code page into text and loaded.
bool loadDescriptionFromDevice(CDevCfgXml& model, const CfgExchange& exchange);

}  // namespace config
}  // namespace tavrin
