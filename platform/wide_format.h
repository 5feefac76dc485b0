// printf-style formatting of UTF-16 text, the same on every target. It understands what the
// library's messages use: %d %i %u %x %X %c %s %% with the flag 0 and a width; %s takes UTF-16
// text (a null pointer prints as "(null)"). Arguments are checked at compile time for their kind.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

namespace tavrin {

class FormatArg {
public:
    template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
    FormatArg(T v)  // NOLINT(google-explicit-constructor)
        : kind_(Kind::Integer), integer_(static_cast<std::int64_t>(v)),
          width32_(sizeof(T) <= 4) {}
    FormatArg(const char16_t* s) : kind_(Kind::Text), text_(s) {}  // NOLINT
    FormatArg(char16_t* s) : kind_(Kind::Text), text_(s) {}        // NOLINT
    FormatArg(const std::u16string& s) : kind_(Kind::Text), text_(s.c_str()) {}  // NOLINT

    enum class Kind { Integer, Text };
    Kind kind() const { return kind_; }
    std::int64_t integer() const { return integer_; }
    // Unsigned view with the width of the argument (a negative int prints as 32-bit hex).
    std::uint64_t unsignedValue() const {
        return width32_ ? static_cast<std::uint32_t>(integer_) : static_cast<std::uint64_t>(integer_);
    }
    const char16_t* text() const { return text_; }

private:
    Kind kind_;
    std::int64_t integer_ = 0;
    bool width32_ = true;
    const char16_t* text_ = nullptr;
};

std::u16string formatWideArgs(const char16_t* format, const FormatArg* args, std::size_t count);

template <typename... Args>
std::u16string formatWide(const char16_t* format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return formatWideArgs(format, list, sizeof...(Args));
}

// Formats into dest, which has room for capacity characters: the text and its terminating zero
// when both fit (the result is the text's length), else kNoFit. Formatting stops at the first
// character that does not fit, so a text that is dropped costs no more than the room there was.
inline constexpr std::size_t kNoFit = static_cast<std::size_t>(-1);
std::size_t formatWideInto(char16_t* dest, std::size_t capacity, const char16_t* format, const FormatArg* args,
                           std::size_t count);

// Length of a UTF-16 text, counting at most limit characters.
std::size_t wideLength(const char16_t* text, std::size_t limit);

}  // namespace tavrin
