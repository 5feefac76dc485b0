#include "devicelib/core/wide_format.h"

namespace tavrin {

namespace {

void appendNumber(std::u16string& out, std::uint64_t magnitude, bool negative, unsigned base,
                  bool upper, bool zeroPad, std::size_t width) {
    char16_t digits[24];
    std::size_t n = 0;
    do {
        unsigned d = static_cast<unsigned>(magnitude % base);
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : (upper ? u'A' : u'a') + d - 10);
        magnitude /= base;
    } while (magnitude != 0);
    std::size_t len = n + (negative ? 1 : 0);
    if (!zeroPad)
        for (; len < width; ++len) out += u' ';
    if (negative) out += u'-';
    if (zeroPad)
        for (; len < width; ++len) out += u'0';
    while (n > 0) out += digits[--n];
}

}  // namespace

std::u16string formatWideArgs(const char16_t* format, const FormatArg* args, std::size_t count) {
    std::u16string out;
    if (format == nullptr) return out;
    std::size_t next = 0;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
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
        switch (*p) {
        case u'd':
        case u'i': {
            std::int64_t v = a.kind() == FormatArg::Kind::Integer ? a.integer() : 0;
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            appendNumber(out, mag, v < 0, 10, false, zeroPad, width);
            break;
        }
        case u'u': appendNumber(out, a.unsignedValue(), false, 10, false, zeroPad, width); break;
        case u'x': appendNumber(out, a.unsignedValue(), false, 16, false, zeroPad, width); break;
        case u'X': appendNumber(out, a.unsignedValue(), false, 16, true, zeroPad, width); break;
        case u'c': out += static_cast<char16_t>(a.integer()); break;
        case u's':
        case u'S': out += a.text() != nullptr ? a.text() : u"(null)"; break;
        default: break;
        }
    }
    return out;
}

std::size_t wideLength(const char16_t* text, std::size_t limit) {
    std::size_t n = 0;
    if (text == nullptr) return 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace tavrin
