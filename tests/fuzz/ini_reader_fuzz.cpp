// The settings-file reader of the POSIX backend: a value it finds is text of the file, a key
// written first in its section is found whatever the rest of the file holds, in any letter case,
// and reading an integer from any text is defined.
//
// Input: a section name, a line break, a key, a line break, then the file's content.
#include <cctype>
#include <string>
#include <string_view>

#include "platform/posix/ini_reader.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {

namespace {

std::string_view nextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return line;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without what the reader takes for structure: line breaks, the given characters, blanks
// at either end.
std::string plain(std::string_view text, std::string_view forbidden) {
    std::string out;
    for (char c : text)
        if (c != '\n' && c != '\r' && forbidden.find(c) == std::string_view::npos) out += c;
    while (!out.empty() && isBlank(out.front())) out.erase(out.begin());
    while (!out.empty() && isBlank(out.back())) out.pop_back();
    return out;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

int iniReader(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view section = nextLine(input);
    const std::string_view key = nextLine(input);
    const std::string_view content = input;

    // Whatever the file: the value is a piece of it, and reading it as an integer is defined.
    const auto value = platform::posix::findIniValue(content, section, key);
    if (value) {
        FUZZ_CHECK(content.find(*value) != std::string_view::npos);
        FUZZ_CHECK(value->find('\n') == std::string::npos);
        platform::posix::parseIniInt(*value);
    }
    platform::posix::parseIniInt(content);

    // A key written first in its section, at the start of the file, is found as written.
    const std::string s = plain(section, "]");
    const std::string k = plain(key, "=");
    if (s.empty() || k.empty() || k.front() == ';' || k.front() == '[') return 0;
    const std::string v = plain(content.substr(0, 40), "");
    const bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    const std::string file = "[" + s + "]\n" + k + "=" + v + "\n" + std::string(content);
    const auto found = platform::posix::findIniValue(file, upper(s), upper(k));
    FUZZ_CHECK(found.has_value());
    FUZZ_CHECK(*found == (quoted ? v.substr(1, v.size() - 2) : v));
    return 0;
}

}  // namespace tavrin::fuzz
