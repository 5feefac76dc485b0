// The parts of the tavrin command-line tool that need no device: reading the command line and
// hexadecimal data, and writing bytes, texts and progress for people.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::cli {

using Bytes = std::vector<std::uint8_t>;

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the device, the library or a file failed
inline constexpr int kExitUsage = 2;   // the command line is wrong
// update: the library refused the firmware file; the update did not start; the device reported a
// failure of the update (or it was cancelled); the update did not end within --timeout.
inline constexpr int kExitFileRefused = 3;
inline constexpr int kExitStartFailed = 4;
inline constexpr int kExitUpdateFailed = 5;
inline constexpr int kExitTimedOut = 6;

inline constexpr std::uint16_t kDefaultSearchPort = 9000;
// The raw pass-through: data goes out unframed, any number of bytes.
inline constexpr std::string_view kRawCommand = "TAVR_DUMP";
// A framed command carries at most this many data bytes.
inline constexpr std::size_t kMaxCommandData = 255;

// The commands, one row each in the command table of cli.cpp (word, arguments, options taken).
enum class Command { None, List, Info, Send, Write, Commands, Status, Config, Update };

// How long a network device may take to come up (its connections are made in the background
// after the open) when --timeout does not say.
inline constexpr std::uint32_t kDefaultDeviceTimeoutMs = 3000;
inline constexpr std::uint32_t kMaxSearchTimeoutMs = 10000;
inline constexpr std::uint32_t kMaxDeviceTimeoutMs = 600000;
// update: how long the whole update may take when --timeout does not say, and at most.
inline constexpr std::uint32_t kDefaultUpdateTimeoutMs = 600000;
inline constexpr std::uint32_t kMaxUpdateTimeoutMs = 3600000;

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
    std::string file;                // write: the file to send ("-": standard input); update: the firmware file
    bool restart = false;            // update: the device restarts after a successful update
    std::uint32_t updateTimeoutMs = kDefaultUpdateTimeoutMs;  // update: its whole length at most
    bool assign = false;             // config: NAME=VALUE given
    std::string value;               // config: the value to set
    bool quiet = false;              // no progress, no summaries; errors only
    bool verbose = false;            // -v: every library log line of a failed run
    bool json = false;               // one JSON document on standard output
    bool require = false;            // list: finding nothing is a failure
    // info, send, write, status, config: how long a network device may take to come up
    // (--timeout; update: the shorter of its --timeout and the default).
    std::uint32_t deviceTimeoutMs = kDefaultDeviceTimeoutMs;
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

// What is wrong with a PATH that was plainly meant as a network device but is not one (an
// address without its port, a host name, a port out of range); nothing for any other PATH.
std::optional<std::string> networkPathMistake(std::string_view path);

// The cause of a failure as the library's log lines of the run tell it: the decisive line and
// its meaning in words ("connection refused"). Nothing when no line explains it.
struct LogCause {
    std::string words;
    std::string line;
};
std::optional<LogCause> decisiveCause(const std::vector<std::string>& lines);
// The texts (UTF-8) that decisiveCause and the tool look for in the library's lines. The log file
// holds them in the system's ANSI code page: the tool learns their bytes there by logging them
// once, and reads the lines back with those bytes turned into these texts.
std::vector<std::string> causeTexts();

// The device status byte (the answer to CTRL_CMDGET_DEVSTAT) in words: "ready" for 0, else one
// word group per bit that is set, "bit 0xNN" for a bit without a known meaning.
std::vector<std::string> statusWords(std::uint8_t status);

// "delivered 12288 of 27000 bytes".
std::string deliveredText(std::uint64_t done, std::uint64_t total);

// A JSON value built up in order and written as one line (keys keep the order they were set in).
class Json {
public:
    static Json object() { return Json(Kind::Object); }
    static Json array() { return Json(Kind::Array); }
    static Json text(std::string_view utf8);
    static Json number(long long value);
    static Json boolean(bool value);
    static Json null() { return Json(Kind::Null); }
    Json() : Json(Kind::Null) {}

    // Object: sets key (replacing an earlier value of it). Array: appends.
    Json& set(const std::string& key, Json value);
    Json& add(Json value);
    bool isObject() const { return kind_ == Kind::Object; }
    std::string dump() const;

private:
    enum class Kind { Null, Scalar, Object, Array };
    explicit Json(Kind kind) : kind_(kind) {}
    Kind kind_;
    std::string scalar_;  // already written as JSON
    std::vector<std::pair<std::string, Json>> members_;  // keys empty in an array
};
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
// "[##############----------------]  45%", width marks between the brackets.
std::string progressBar(unsigned percent, std::size_t width = 30);

// Why the library will refuse a firmware file, as far as its first bytes and its size tell (too
// short, no "udf1", a header length below 8 or beyond the file); nothing when they look right.
std::optional<std::string> firmwareFileMistake(const Bytes& head, std::uint64_t size);

// The library's log records as lines: the text of each dllFunc_GetLogRecord call goes in, whole
// lines come out. A line ends at its line end, and where a time stamp "hh-mm-ss+mmmm : " begins
// another record (a record the library wrote without its line end); the stamps are left out.
class RecordLines {
public:
    std::vector<std::string> add(std::string_view utf8);
    // What is left without its line end, as a last line (if any).
    std::vector<std::string> finish();

private:
    std::vector<std::string> take(bool all);
    std::string pending_;
};
// The line without the time stamp at its start (when it has one).
std::string withoutTimeStamp(std::string_view line);

// What one of the firmware update's lines says about the update's end.
enum class UpdateLine {
    Step,       // any other step
    Done,       // the device reported success ("PHDL(n)#更 新 完 成 OK...")
    Failed,     // the update thread gave up: a command failed, or the update was cancelled
    Restarted,  // the restart after a successful update (its result in the line)
};
UpdateLine classifyUpdateLine(std::string_view line);

// UTF-8 and UTF-16 for texts shown to people and logged, by the converter the library uses
// (platform/text_utf.h); what cannot be converted becomes U+FFFD.
std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

// The paths of a path list as the enumeration writes it: each with its terminator, then an empty
// one; count is the number of characters the enumeration reported.
std::vector<std::u16string> splitPathList(const char16_t* list, std::size_t count);

}  // namespace tavrin::cli
