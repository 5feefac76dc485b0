// The browser control's texts: pure functions, no bridge call, no OS call.
#include "tavrinocx/control_texts.h"

#include <cstring>

namespace tavrin::ocx {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789abcdef";

std::u16string decimal(std::int64_t value) {
    const std::string s = std::to_string(value);
    return std::u16string(s.begin(), s.end());
}

int digitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// "name":"value" of one part: the text before its first equals sign and the text after it; a
// part without one is the value of an empty name.
void appendMember(std::u16string& out, std::u16string_view part) {
    const std::size_t eq = part.find(u'=');
    const std::u16string_view name = eq == std::u16string_view::npos ? std::u16string_view() : part.substr(0, eq);
    const std::u16string_view value = eq == std::u16string_view::npos ? part : part.substr(eq + 1);
    out += u'"';
    out += jsonEscape(name);
    out += u"\":\"";
    out += jsonEscape(value);
    out += u'"';
}

}  // namespace

std::u16string jsonEscape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        switch (c) {
        case u'\b': out += u"\\b"; break;
        case u'\t': out += u"\\t"; break;
        case u'\n': out += u"\\n"; break;
        case u'\f': out += u"\\f"; break;
        case u'\r': out += u"\\r"; break;
        case u'"': out += u"\\\""; break;
        case u'/': out += u"\\/"; break;
        case u'\\': out += u"\\\\"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::uint32_t hexToBytes(std::u16string_view text, std::uint8_t* out, std::size_t capacity, std::size_t& count) {
    count = 0;
    if (text.empty()) return kHexEmpty;
    std::size_t digits = 0;
    for (const char16_t c : text)
        if (digitValue(c) >= 0) ++digits;
    if (digits % 2 != 0) return kHexOddDigits;
    if (capacity > kDataCapacity) return kHexCapacity;
    if (digits / 2 > capacity) return kHexTooLong;
    if (capacity != 0) std::memset(out, 0, capacity);
    int high = -1;
    for (const char16_t c : text) {
        const int v = digitValue(c);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out[count++] = static_cast<std::uint8_t>(high << 4 | v);
            high = -1;
        }
    }
    return kHexOk;
}

std::u16string bytesToHex(const std::uint8_t* bytes, std::size_t count) {
    std::u16string out;
    out.reserve(count * 5);
    for (std::size_t i = 0; i < count; ++i) {
        out += u"0x";
        out += kHexDigits[bytes[i] >> 4];
        out += kHexDigits[bytes[i] & 0x0F];
        out += u' ';
    }
    return out;
}

std::u16string itemArray(const std::vector<std::u16string>& items) {
    std::u16string out = u"[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += u',';
        const std::u16string_view item = items[i];
        if (item.find(u',') == std::u16string_view::npos) continue;  // no object, the separators stay
        out += u'{';
        std::size_t begin = 0;
        for (std::size_t part = 0; part < kMaxItemParts; ++part) {
            const std::size_t comma = item.find(u',', begin);
            if (part > 0) out += u',';
            appendMember(out, item.substr(begin, comma == std::u16string_view::npos ? item.npos : comma - begin));
            if (comma == std::u16string_view::npos) break;
            begin = comma + 1;
        }
        out += u'}';
    }
    out += u']';
    return out;
}

std::u16string hexCode(std::int32_t code) {
    const auto value = static_cast<std::uint32_t>(code);
    std::u16string out;
    for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned digit = (value >> shift) & 0x0F;
        if (digit != 0 || !out.empty() || shift == 0) out += kHexDigits[digit];
    }
    return out;
}

std::u16string rtnCodeText(std::int32_t rc) { return u"{\"RtnCode\":" + hexCode(rc) + u"}"; }

std::u16string resultText(std::int32_t rc) { return u"{\"Result\":" + hexCode(rc) + u"}"; }

std::u16string enumDevPathText(std::int32_t rc, std::uint32_t count, std::u16string_view paths) {
    if (rc != 0 || count == 0) return rtnCodeText(0x20000000);
    return u"{\"RtnCode\":0,\"RtnVal\":" + decimal(count) + u",\"pathStr\":\"" + jsonEscape(paths) + u"\"}";
}

std::u16string enumProtoCodeText(std::int32_t rc, const std::u16string* description, std::uint16_t code) {
    if (rc != 0 || description == nullptr) return resultText(rc);
    return u"{\"RtnCode\":0,\"RtnVal\":\"" + jsonEscape(*description) + u"\",\"code\":" + decimal(code) + u"}";
}

std::u16string devIoCtrlText(bool succeeded, const std::uint8_t* answer, std::size_t length, std::uint8_t ackCode) {
    if (!succeeded || length == 0 || answer == nullptr || ackCode != 0) return u"{\"Result\":0}";
    return u"{\"Result\":1,\"lpBuf\":\"" + jsonEscape(bytesToHex(answer, length)) + u"\"}";
}

std::u16string devTypeText(std::int32_t rc, std::int8_t devClass, std::u16string_view type) {
    if (rc != 0) return rtnCodeText(rc);
    return u"{\"RtnCode\":0,DevClass:" + decimal(devClass) + u",\"DevType\":\"" + jsonEscape(type) + u"\"}";
}

std::u16string cfgInfoText(std::int32_t rc, const std::vector<std::u16string>& items) {
    if (rc != 0) return rtnCodeText(rc);
    return u"{\"RtnCode\":0,\"Info\":" + itemArray(items) + u"}";
}

}  // namespace tavrin::ocx
