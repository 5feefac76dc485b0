// The parts of the tavrin command-line tool that need no device: reading the command line and
// hexadecimal data, and writing bytes, texts and progress for people.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::cli {

using Bytes = std::vector<std::uint8_t>;

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the device, the library or a file failed
inline constexpr int kExitUsage = 2;   // the command line is wrong

inline constexpr std::uint16_t kDefaultSearchPort = 9000;
// The raw pass-through: data goes out unframed, any number of bytes.
inline constexpr std::string_view kRawCommand = "TAVR_DUMP";
// A framed command carries at most this many data bytes.
inline constexpr std::size_t kMaxCommandData = 255;

enum class Command { None, List, Info, Send, Write, Commands, Config };

struct Invocation {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    bool records = false;            // print the library's log records at the end
    std::string logFile;             // open the library log to this file; empty: leave it be
    std::uint16_t searchPort = kDefaultSearchPort;
    std::uint32_t searchTimeoutMs = 0;  // list: wait after the last reply; 0: the library's setting
    std::string path;                // info, send, write, config
    std::string name;                // send: the command name; config: the item to set
    Bytes data;                      // send: the command's data
    std::string file;                // write: the file to send
    bool assign = false;             // config: NAME=VALUE given
    std::string value;               // config: the value to set
};

struct ParseResult {
    Invocation invocation;
    std::string error;  // empty when the command line is good
};

// The arguments after the program name.
ParseResult parseCommandLine(const std::vector<std::string>& args);
const char* usageText();

// Bytes written as pairs of hexadecimal digits, in any number of words, with or without blanks
// between the pairs: "01 02 ff", "0102ff", "0x01". Nothing when a word is not of that form.
std::optional<Bytes> parseHex(const std::vector<std::string>& words);

// "a.b.c.d:port": four decimal bytes and a decimal port 1..65535.
bool isNetworkPath(std::string_view path);
// A USB HID interface path: one that ends with the HID interface class, in any case. Other
// paths that are no network paths are USB printer interface paths.
bool isHidPath(std::string_view path);
// A configuration description file rather than a device: a PATH ending in ".xml" (any case).
bool isDescriptionFile(std::string_view path);
// The item name of a configuration description line: the value of its "Name=" field.
std::string itemNameOf(std::string_view line);

// "10 01 00 00", a line break after every perLine bytes.
std::string hexText(const Bytes& bytes, std::size_t perLine = 16);
// The bytes as text when they are printable ASCII (trailing zero bytes aside); else nothing.
std::optional<std::string> printableText(const Bytes& bytes);
// The bytes as text, trailing zero bytes dropped, anything unprintable written as \xHH.
std::string displayText(const Bytes& bytes);
// "45% (12345 of 27000 bytes)".
std::string progressText(std::uint64_t done, std::uint64_t total);

// UTF-8 and UTF-16 for texts shown to people and logged, by the converter the library uses
// (platform/text_utf.h); what cannot be converted becomes U+FFFD.
std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

// The paths of a path list as the enumeration writes it: each with its terminator, then an empty
// one; count is the number of characters the enumeration reported.
std::vector<std::u16string> splitPathList(const char16_t* list, std::size_t count);

}  // namespace tavrin::cli
