#include "platform/wide_format.h"

namespace tavrin {

namespace {

// Where formatted text goes: a growing string, or the rest of a fixed buffer, which refuses the
// first character that would leave no room for the terminating zero.
struct StringSink {
    std::u16string& out;
    bool put(char16_t c) {
        out += c;
        return true;
    }
    bool put(const char16_t* text) {
        out += text;
        return true;
    }
};

struct BufferSink {
    char16_t* dest;
    std::size_t capacity;
    std::size_t length = 0;
    bool put(char16_t c) {
        if (length + 1 >= capacity) return false;
        dest[length++] = c;
        return true;
    }
    bool put(const char16_t* text) {
        for (; *text != 0; ++text)
            if (!put(*text)) return false;
        return true;
    }
};

template <typename Sink>
bool putNumber(Sink& out, std::uint64_t magnitude, bool negative, unsigned base, bool upper, bool zeroPad,
               std::size_t width) {
    char16_t digits[24];
    std::size_t n = 0;
    do {
        unsigned d = static_cast<unsigned>(magnitude % base);
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : (upper ? u'A' : u'a') + d - 10);
        magnitude /= base;
    } while (magnitude != 0);
    std::size_t len = n + (negative ? 1 : 0);
    if (!zeroPad)
        for (; len < width; ++len)
            if (!out.put(u' ')) return false;
    if (negative && !out.put(u'-')) return false;
    if (zeroPad)
        for (; len < width; ++len)
            if (!out.put(u'0')) return false;
    while (n > 0)
        if (!out.put(digits[--n])) return false;
    return true;
}

// False as soon as the sink refuses a character.
template <typename Sink>
bool formatTo(Sink& out, const char16_t* format, const FormatArg* args, std::size_t count) {
    if (format == nullptr) return true;
    std::size_t next = 0;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            if (!out.put(*p)) return false;
            continue;
        }
        ++p;
        if (*p == u'%') {
            if (!out.put(u'%')) return false;
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
        if (*p == 0) break;
        if (next >= count) continue;  // more conversions than arguments: print nothing for them
        const FormatArg& a = args[next++];
        bool ok = true;
        switch (*p) {
        case u'd':
        case u'i': {
            std::int64_t v = a.kind() == FormatArg::Kind::Integer ? a.integer() : 0;
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            ok = putNumber(out, mag, v < 0, 10, false, zeroPad, width);
            break;
        }
        case u'u': ok = putNumber(out, a.unsignedValue(), false, 10, false, zeroPad, width); break;
        case u'x': ok = putNumber(out, a.unsignedValue(), false, 16, false, zeroPad, width); break;
        case u'X': ok = putNumber(out, a.unsignedValue(), false, 16, true, zeroPad, width); break;
        case u'c': ok = out.put(static_cast<char16_t>(a.integer())); break;
        case u's':
        case u'S': ok = out.put(a.text() != nullptr ? a.text() : u"(null)"); break;
        default: break;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::u16string formatWideArgs(const char16_t* format, const FormatArg* args, std::size_t count) {
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
