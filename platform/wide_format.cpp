#include "platform/wide_format.h"

#include <cstring>

namespace tavrin {

namespace {

// Where formatted text goes: a growing string, or the rest of a fixed buffer, which refuses the
// first character that would leave no room for the terminating zero. Texts go in as runs: the
// literal text between two conversions, a %s argument, the digits of a number.
struct StringSink {
    std::u16string& out;
    bool put(char16_t c) {
        out += c;
        return true;
    }
    bool put(const char16_t* text, std::size_t length) {
        out.append(text, length);
        return true;
    }
    bool put(const char16_t* text) {
        out += text;
        return true;
    }
    bool repeat(char16_t c, std::size_t count) {
        out.append(count, c);
        return true;
    }
};

struct BufferSink {
    char16_t* dest;
    std::size_t capacity;  // at least 1: the terminating zero always has its place
    std::size_t length = 0;
    std::size_t room() const { return capacity - 1 - length; }
    bool put(char16_t c) {
        if (room() == 0) return false;
        dest[length++] = c;
        return true;
    }
    bool put(const char16_t* text, std::size_t count) {
        if (count > room()) return false;
        std::memcpy(dest + length, text, count * sizeof(char16_t));
        length += count;
        return true;
    }
    // A text that does not fit is looked at no further than the room there was.
    bool put(const char16_t* text) {
        const std::size_t rest = room();
        std::size_t n = 0;
        while (n < rest && text[n] != 0) {
            dest[length + n] = text[n];
            ++n;
        }
        if (text[n] != 0) return false;
        length += n;
        return true;
    }
    bool repeat(char16_t c, std::size_t count) {
        if (count > room()) return false;
        for (std::size_t i = 0; i < count; ++i) dest[length + i] = c;
        length += count;
        return true;
    }
};

template <unsigned Base, typename Sink>
bool putNumber(Sink& out, std::uint64_t magnitude, bool negative, bool upper, bool zeroPad, std::size_t width) {
    char16_t digits[24];
    char16_t* const end = digits + sizeof digits / sizeof digits[0];
    char16_t* first = end;
    const char16_t letter = upper ? u'A' : u'a';
    do {
        const unsigned d = static_cast<unsigned>(magnitude % Base);
        *--first = static_cast<char16_t>(d < 10 ? u'0' + d : letter + d - 10);
        magnitude /= Base;
    } while (magnitude != 0);
    const std::size_t n = static_cast<std::size_t>(end - first);
    const std::size_t len = n + (negative ? 1 : 0);
    const std::size_t pad = width > len ? width - len : 0;
    if (!zeroPad && pad != 0 && !out.repeat(u' ', pad)) return false;
    if (negative && !out.put(u'-')) return false;
    if (zeroPad && pad != 0 && !out.repeat(u'0', pad)) return false;
    return out.put(first, n);
}

// False as soon as the sink refuses a character.
template <typename Sink>
bool formatTo(Sink& out, const char16_t* format, const FormatArg* args, std::size_t count) {
    if (format == nullptr) return true;
    std::size_t next = 0;
    const char16_t* p = format;
    for (;;) {
        const char16_t* literal = p;
        while (*p != 0 && *p != u'%') ++p;
        if (p != literal && !out.put(literal, static_cast<std::size_t>(p - literal))) return false;
        if (*p == 0) return true;
        ++p;  // the '%'
        if (*p == u'%') {
            if (!out.put(u'%')) return false;
            ++p;
            continue;
        }
        bool zeroPad = false;
        if (*p == u'0') {
            zeroPad = true;
            ++p;
        }
        std::size_t width = 0;
        while (*p >= u'0' && *p <= u'9') width = width * 10 + static_cast<std::size_t>(*p++ - u'0');
        while (*p == u'l' || *p == u'h' || *p == u'w') ++p;  // length modifiers: the argument knows its width
        if (*p == 0) return true;
        const char16_t conversion = *p++;
        if (next >= count) continue;  // more conversions than arguments: print nothing for them
        const FormatArg& a = args[next++];
        bool ok = true;
        switch (conversion) {
        case u'd':
        case u'i': {
            std::int64_t v = a.kind() == FormatArg::Kind::Integer ? a.integer() : 0;
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            ok = putNumber<10>(out, mag, v < 0, false, zeroPad, width);
            break;
        }
        case u'u': ok = putNumber<10>(out, a.unsignedValue(), false, false, zeroPad, width); break;
        case u'x': ok = putNumber<16>(out, a.unsignedValue(), false, false, zeroPad, width); break;
        case u'X': ok = putNumber<16>(out, a.unsignedValue(), false, true, zeroPad, width); break;
        case u'c': ok = out.put(static_cast<char16_t>(a.integer())); break;
        case u's':
        case u'S': ok = out.put(a.text() != nullptr ? a.text() : u"(null)"); break;
        default: break;
        }
        if (!ok) return false;
    }
}

}  // namespace

std::u16string formatWideArgs(const char16_t* format, const FormatArg* args, std::size_t count) {
    // Most texts are short (a time stamp, a line's prefix): formatted on the stack and copied once.
    char16_t local[256];
    BufferSink first{local, sizeof local / sizeof local[0]};
    if (formatTo(first, format, args, count)) return std::u16string(local, first.length);
    std::u16string out;
    StringSink sink{out};
    formatTo(sink, format, args, count);
    return out;
}

std::size_t formatWideInto(char16_t* dest, std::size_t capacity, const char16_t* format, const FormatArg* args,
                           std::size_t count) {
    if (capacity == 0) return kNoFit;
    BufferSink sink{dest, capacity};
    if (!formatTo(sink, format, args, count)) return kNoFit;
    dest[sink.length] = 0;
    return sink.length;
}

std::size_t wideLength(const char16_t* text, std::size_t limit) {
    std::size_t n = 0;
    if (text == nullptr) return 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace tavrin
