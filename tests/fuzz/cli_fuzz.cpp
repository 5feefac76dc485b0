// The tool's command line and hexadecimal data: any line is either refused with a message or read
// into a command whose texts are well-formed and whose data fits; hex data reads back from its
// own printing; a cause read from log lines is one of them; the texts for people are defined for any bytes and any path list.
//
// Input: the arguments, each ended by a zero byte (the last one may lack it).
#include <string>
#include <vector>

#include "platform/text_utf.h"
#include "tests/fuzz/fuzz_check.h"
#include "tools/tavrin/cli.h"

namespace tavrin::fuzz {

int toolCommandLine(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) args.push_back(current);

    const cli::ParseResult parsed = cli::parseCommandLine(args);
    const cli::Invocation& inv = parsed.invocation;
    if (parsed.error.empty() && !inv.help && !inv.version) {
        FUZZ_CHECK(inv.command != cli::Command::None);
        FUZZ_CHECK(utf::isWellFormed(inv.path) && utf::isWellFormed(inv.name) && utf::isWellFormed(inv.value) &&
                   utf::isWellFormed(inv.logFile));
        if (inv.command == cli::Command::Send) {
            FUZZ_CHECK(inv.name == cli::kRawCommand || inv.data.size() <= cli::kMaxCommandData);
        }
        FUZZ_CHECK(inv.searchPort != 0);
        // A path taken is usable as what it looks like; the timeouts are in their ranges.
        FUZZ_CHECK(!cli::networkPathMistake(inv.path));
        FUZZ_CHECK(inv.searchTimeoutMs <= cli::kMaxSearchTimeoutMs);
        FUZZ_CHECK(inv.deviceTimeoutMs >= 1 && inv.deviceTimeoutMs <= cli::kMaxDeviceTimeoutMs);
        FUZZ_CHECK(inv.updateTimeoutMs >= 1 && inv.updateTimeoutMs <= cli::kMaxUpdateTimeoutMs);
        FUZZ_CHECK(inv.command == cli::Command::Update || !inv.restart);
    }
    // The arguments as the texts of successive record reads: whole lines come out, none empty,
    // none with a line end, and no more text than went in.
    {
        cli::RecordLines records;
        std::size_t in = 0, out = 0;
        std::vector<std::string> lines;
        for (const std::string& a : args) {
            in += a.size();
            for (std::string& l : records.add(a)) lines.push_back(std::move(l));
        }
        for (std::string& l : records.finish()) lines.push_back(std::move(l));
        for (const std::string& l : lines) {
            FUZZ_CHECK(!l.empty() && l.find('\n') == std::string::npos);
            out += l.size();
            cli::classifyUpdateLine(l);
        }
        FUZZ_CHECK(out <= in);
    }
    // The arguments as library log lines: a cause found is one of the lines.
    if (const auto cause = cli::decisiveCause(args)) {
        bool found = false;
        for (const std::string& a : args) found = found || a == cause->line;
        FUZZ_CHECK(found && !cause->words.empty());
    }

    const auto bytes = cli::parseHex(args);
    if (bytes) {
        // Printed on one line ("01 02 FF"), the bytes read back; no data reads back from no words.
        const auto again = bytes->empty() ? cli::parseHex({}) : cli::parseHex({cli::hexText(*bytes, 0)});
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *bytes);
    }
    const cli::Bytes raw(data, data + size);
    cli::displayText(raw);
    // A firmware file's first bytes: a mistake is named for anything shorter than a header.
    FUZZ_CHECK(size >= 128 || cli::firmwareFileMistake(raw, size).has_value());
    if (const auto text = cli::printableText(raw)) FUZZ_CHECK(text->size() <= raw.size());

    std::u16string list(size / 2, u'\0');
    for (std::size_t i = 0; i < list.size(); ++i) list[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    for (const std::u16string& path : cli::splitPathList(list.data(), list.size())) {
        FUZZ_CHECK(!path.empty() && path.find(u'\0') == std::u16string::npos);
        cli::toUtf8(path);
    }
    return 0;
}

}  // namespace tavrin::fuzz
