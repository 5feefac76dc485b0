// Byte strings written as hex in tests: hexBytes("10 01 00 00").
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tavrin::test {

inline std::vector<std::uint8_t> hexBytes(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

inline std::string hexText(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

}  // namespace tavrin::test
