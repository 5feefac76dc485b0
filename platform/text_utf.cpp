// Strict UTF-8 <-> UTF-16. Only the standard library: no OS call may go in this file.
#include "platform/text_utf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavrin::utf {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One code point decoded from the start of text; length 0 when the bytes there do not begin a
// well-formed sequence.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

Decoded decodeUtf8(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        least = 0x10000;
    } else {
        return {};  // a continuation byte, an overlong lead (C0, C1) or one beyond U+10FFFF
    }
    if (text.size() < length) return {};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) return {};
        code = code << 6 | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, length};
}

// One code point from the start of text; length 0 for an unpaired surrogate.
Decoded decodeUtf16(std::u16string_view text) {
    const char32_t first = text[0];
    if (!isHighSurrogate(first) && !isLowSurrogate(first)) return {first, 1};
    if (isHighSurrogate(first) && text.size() >= 2 && isLowSurrogate(text[1]))
        return {0x10000 + ((first - 0xD800) << 10) + (char32_t{text[1]} - 0xDC00), 2};
    return {};
}

void appendUtf16(std::u16string& out, char32_t code) {
    if (code >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(code);
    }
}

// One code point from p to o (a surrogate pair takes two units); false for an unpaired surrogate
// unless lossy, which writes U+FFFD for it.
inline bool encodeOne(const char16_t*& p, const char16_t* end, bool lossy, char*& o) {
    char32_t code = *p++;
    if (code < 0x80) {
        *o++ = static_cast<char>(code);
        return true;
    }
    if (code < 0x800) {
        o[0] = static_cast<char>(0xC0 | code >> 6);
        o[1] = static_cast<char>(0x80 | (code & 0x3F));
        o += 2;
        return true;
    }
    if ((code & 0xF800) == 0xD800) {  // a surrogate
        if (isHighSurrogate(code) && p < end && isLowSurrogate(*p)) {
            code = 0x10000 + ((code - 0xD800) << 10) + (char32_t{*p++} - 0xDC00);
            o[0] = static_cast<char>(0xF0 | code >> 18);
            o[1] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
            o[2] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            o[3] = static_cast<char>(0x80 | (code & 0x3F));
            o += 4;
            return true;
        }
        if (!lossy) return false;
        code = kReplacement;
    }
    o[0] = static_cast<char>(0xE0 | code >> 12);
    o[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    o[2] = static_cast<char>(0x80 | (code & 0x3F));
    o += 3;
    return true;
}

// UTF-16 to UTF-8 into out, sized first for the longest result (three bytes a unit) and cut to
// the length written. A log flush converts up to 65,536 units at once: they are taken four at a
// time, written as four bytes when all four are ASCII and one by one otherwise. An unpaired
// surrogate becomes U+FFFD when lossy, else ends the conversion with false.
bool encodeUtf8(std::u16string_view text, bool lossy, std::string& out) {
    out.resize(text.size() * 3);
    char* o = out.data();
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    while (end - p >= 4) {
        std::uint64_t four;
        std::memcpy(&four, p, sizeof four);
        if ((four & 0xFF80FF80FF80FF80u) == 0) {
            o[0] = static_cast<char>(p[0]);
            o[1] = static_cast<char>(p[1]);
            o[2] = static_cast<char>(p[2]);
            o[3] = static_cast<char>(p[3]);
            o += 4;
            p += 4;
            continue;
        }
        // A pair that begins in the last of the four ends one unit beyond them.
        for (const char16_t* const blockEnd = p + 4; p < blockEnd;) {
            if (!encodeOne(p, end, lossy, o)) {
                out.clear();
                return false;
            }
        }
    }
    while (p < end) {
        if (!encodeOne(p, end, lossy, o)) {
            out.clear();
            return false;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return true;
}

}  // namespace

std::optional<std::u16string> utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Decoded d = decodeUtf8(text.substr(at));
        if (d.length == 0) return std::nullopt;
        appendUtf16(out, d.code);
        at += d.length;
    }
    return out;
}

std::optional<std::string> utf16ToUtf8(std::u16string_view text) {
    std::string out;
    if (!encodeUtf8(text, false, out)) return std::nullopt;
    return out;
}

bool isWellFormed(std::string_view utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t length = decodeUtf8(utf8.substr(at)).length;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

bool isWellFormed(std::u16string_view utf16) {
    for (std::size_t at = 0; at < utf16.size();) {
        const std::size_t length = decodeUtf16(utf16.substr(at)).length;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::u16string utf8ToUtf16Lossy(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Decoded d = decodeUtf8(text.substr(at));
        appendUtf16(out, d.length != 0 ? d.code : kReplacement);
        at += d.length != 0 ? d.length : 1;
    }
    return out;
}

std::string utf16ToUtf8Lossy(std::u16string_view text) {
    std::string out;
    encodeUtf8(text, true, out);
    return out;
}

}  // namespace tavrin::utf
