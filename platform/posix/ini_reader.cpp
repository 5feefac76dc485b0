#include "platform/posix/ini_reader.h"

#include <cctype>
#include <cstdint>

namespace tavrin::platform::posix {

namespace {

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::optional<std::string> findIniValue(std::string_view content, std::string_view section,
                                        std::string_view key) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
    bool inSection = false;
    while (!content.empty()) {
        std::size_t end = content.find('\n');
        std::string_view line = trim(content.substr(0, end));
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            inSection = sameText(trim(line.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !sameText(trim(line.substr(0, eq)), key)) continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                                  (value.front() == '\'' && value.back() == '\'')))
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

std::int32_t parseIniInt(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    std::uint32_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        n = n * 10u + static_cast<std::uint32_t>(value[i] - '0');  // wraps like the 32-bit original
    return static_cast<std::int32_t>(negative ? 0u - n : n);
}

}  // namespace tavrin::platform::posix
