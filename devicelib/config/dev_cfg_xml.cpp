#include "devicelib/config/dev_cfg_xml.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "devicelib/config/cfg_codec.h"
#include "devicelib/core/log_file.h"
#include "platform/wide_format.h"
#include "platform/code_page.h"
#include "platform/xml_document.h"

namespace tavrin {

using config::decimalValue;

namespace {

constexpr const char16_t* kLoadCfgXml = u"CDevCfgXml::loadCfgXml";
constexpr const char16_t* kLoadXmlItem = u"CDevCfgXml::LoadXmlItem";
constexpr const char16_t* kChkCfgDatPkt = u"CDevCfgXml::chkCfgDatPkt";

// A text item's field is at most this many bytes; its hexadecimal parse at most twice as many.
constexpr std::uint32_t kMaxTextBytes = 1024;
constexpr std::size_t kMaxHexBytes = 2048;
// The working buffer a field's bytes are turned into text in, terminator included.
constexpr std::size_t kTextBufferUnits = 1024;

constexpr std::uint16_t kFmtUnits = 128;
constexpr std::uint16_t kValUnits = 32;

std::uint32_t lowBits(std::uint32_t value, std::uint32_t width) {
    return width >= 32 ? value : value & ((1u << width) - 1);
}

// Copies a text and its terminator into the caller's buffer when it fits; the rules of the
// bounded formatting functions: a line that does not fit is reported to the invalid-parameter
// handler and leaves an empty buffer.
bool putText(const std::u16string& text, char16_t* buffer, std::uint16_t* size, std::uint16_t toProvide,
             const char16_t* function, unsigned line) {
    if (text.size() + 1 > *size) {
        if (*size > 0) buffer[0] = 0;
        tavrInvalidParameterHandler(u"buffer too small", function, u"dev_cfg_xml.cpp", line, 0);
        *size = toProvide;
        return false;
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
    buffer[text.size()] = 0;
    *size = static_cast<std::uint16_t>(text.size());
    return true;
}

}  // namespace

CDevCfgXml::CDevCfgXml(CLogFile& log) : log_(log) {}

CDevCfgXml::~CDevCfgXml() = default;

void CDevCfgXml::clearItems() {
    items_.clear();
    items_.shrink_to_fit();
    capacity_ = 0;
    bitsUsed_ = 0;
}

bool CDevCfgXml::loadCfgXml(const char16_t* path, const char16_t* text) {
    std::unique_ptr<platform::XmlDocument> doc = platform::XmlDocument::create();
    if (!doc) {
        log_.funcLine(kLoadCfgXml, u"CreateInstance Fail\r\n");
        return false;
    }
    const bool parsed = text != nullptr ? doc->loadText(text) : path != nullptr && doc->loadFile(path);
    if (!parsed) return false;

    const std::unique_ptr<platform::XmlNode> root = doc->documentElement();
    if (!root || root->name() != u"TavrCfg") return false;
    std::vector<platform::XmlAttribute> attributes;
    if (!root->attributes(attributes) || attributes.empty() || attributes[0].name != u"VTAG") return false;
    const std::int32_t layout = decimalValue(attributes[0].value);
    if (layout != 100 && layout != 200) return false;

    const std::unique_ptr<platform::XmlNode> info = root->childElement(u"CfgInfo");
    if (!info || !info->attributes(attributes)) return false;

    std::int32_t deviceId = 0, configId = 0, length = 0, version = 0, check = 0, counts = 0;
    for (const platform::XmlAttribute& a : attributes) {
        if (a.name == u"DEVID") deviceId = decimalValue(a.value);
        else if (a.name == u"CFGID") configId = decimalValue(a.value);
        else if (a.name == u"CFGLen") length = decimalValue(a.value);
        else if (a.name == u"CFGVer") version = decimalValue(a.value);
        else if (a.name == u"CFGChk") check = decimalValue(a.value);
        else if (a.name == u"Counts") counts = decimalValue(a.value);
    }
    // The packet holds at most 4,088 data bytes: a longer configuration could never be checked,
    // packed or sent whole.
    const auto dataLength = static_cast<std::uint16_t>(length);
    if (dataLength > kCfgMaxData) {
        log_.funcLine(kLoadCfgXml, u"CFGLen Fail(%d)\r\n", dataLength);
        return false;
    }

    clearItems();
    layoutTag_ = static_cast<std::int16_t>(layout);
    deviceId_ = static_cast<std::uint8_t>(deviceId);
    configId_ = static_cast<std::uint8_t>(configId);
    configLength_[0] = static_cast<std::uint8_t>(dataLength >> 8);
    configLength_[1] = static_cast<std::uint8_t>(dataLength);
    configVersion_ = static_cast<std::uint8_t>(version);
    configCheck_ = static_cast<std::uint8_t>(check);
    capacity_ = static_cast<std::uint16_t>(counts);

    const std::unique_ptr<platform::XmlNode> first = info->firstChild();
    if (capacity_ == 0 || !first) return true;
    return LoadXmlItem(first.get());
}

bool CDevCfgXml::LoadXmlItem(const platform::XmlNode* first) {
    std::unique_ptr<platform::XmlNode> next;
    for (const platform::XmlNode* node = first; node != nullptr; node = next.get()) {
        if (node->name() != u"CfgItem") return false;
        CfgItemRecord record;
        std::vector<platform::XmlAttribute> attributes;
        if (!node->attributes(attributes)) return false;
        for (const platform::XmlAttribute& a : attributes) {
            if (a.value.empty()) continue;
            const std::u16string& n = a.name;
            if (n == u"Name") {
                if (a.value.size() <= kCfgNameChars) record.name = a.value;
            } else if (n == u"Bits") {
                if (const std::int32_t v = decimalValue(a.value); v > 0) record.width = static_cast<std::uint16_t>(v);
            } else if (n == u"Type") {
                if (const std::int32_t v = decimalValue(a.value); v > 0) record.type = static_cast<std::uint8_t>(v);
            } else if (n == u"MaxVal") {
                record.maximum = decimalValue(a.value);
            } else if (n == u"MinVal") {
                record.minimum = decimalValue(a.value);
            } else if (n == u"Datas") {
                record.datas = a.value;
            } else if (n == u"Tag") {
                if (const std::int32_t v = decimalValue(a.value); v > 0) record.tag = static_cast<std::uint16_t>(v);
            } else if (n == u"Ofs") {
                if (const std::int32_t v = decimalValue(a.value); v >= 1) record.offset = static_cast<std::uint16_t>(v);
            }
            // "CharNums" (a text's length comes from "Bits") and anything else: not used.
        }
        if (!addItem(record)) log_.funcLine(kLoadXmlItem, u"AddItmeFmt Fail(%d)\r\n", itemCount());
        next = node->nextSibling();
    }
    return true;
}

bool CDevCfgXml::addItem(const CfgItemRecord& record) {
    if (record.name.empty() || record.name.size() > kCfgNameChars || record.width == 0) return false;
    switch (record.type) {
    case kCfgPlaceholder: break;
    case kCfgNumber:
        if (record.maximum < record.minimum || record.width > 32) return false;
        break;
    case kCfgText:
        if (record.width % 8 != 0 || record.width > 8199) return false;
        break;
    case kCfgSelection:
        // Selection values are packed like numbers, 32 bits at most.
        if (record.datas.empty() || record.width > 32) return false;
        break;
    default: return false;
    }
    std::uint16_t offset = record.offset;
    if (layoutTag_ == 100) {
        const auto dataBits = static_cast<std::uint16_t>(configLength() * 8);
        if (record.width + bitsUsed_ > dataBits) return false;
        offset = static_cast<std::uint16_t>(bitsUsed_);
    }
    std::uint16_t selections = 0;
    std::size_t choiceChars = 0;
    if (record.type == kCfgSelection) {
        choiceChars = std::min(record.datas.size(), kCfgTextChars);
        selections = static_cast<std::uint16_t>(
            1 + std::count(record.datas.begin(), record.datas.begin() + static_cast<std::ptrdiff_t>(choiceChars), u';'));
    }
    if (items_.size() >= capacity_) return false;

    try {
        if (items_.empty()) items_.reserve(capacity_);
        auto item = std::make_unique<CfgItem>();
        std::copy(record.name.begin(), record.name.end(), item->name);
        item->offset = offset;
        item->width = record.width;
        item->type = record.type;
        item->minimum = record.type == kCfgSelection ? selections : record.minimum;
        item->maximum = record.maximum;
        item->tag = record.tag;
        // Longer choices are kept cut at 1,024 characters, the ones they were counted from.
        if (record.type == kCfgSelection) item->choices.assign(record.datas, 0, choiceChars);
        items_.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return false;
    }
    bitsUsed_ += record.width;
    return true;
}

const CfgItem* CDevCfgXml::findItem(const char16_t* name) const {
    if (name == nullptr) return nullptr;
    for (const auto& item : items_) {
        std::size_t i = 0;
        while (i < kCfgNameChars && item->name[i] == name[i] && name[i] != 0) ++i;
        if (i == kCfgNameChars || item->name[i] == name[i]) return item.get();
    }
    return nullptr;
}

CfgItem* CDevCfgXml::findItem(const char16_t* name) {
    return const_cast<CfgItem*>(static_cast<const CDevCfgXml*>(this)->findItem(name));
}

bool CDevCfgXml::getItemFmt(std::uint16_t index, char16_t* buffer, std::uint16_t* size) const {
    if (size == nullptr) return false;
    const CfgItem* it = item(index);
    if (it == nullptr) {
        *size = 0;
        return false;
    }
    std::u16string line;
    std::uint16_t toProvide = kFmtUnits;
    switch (it->type) {
    case kCfgNumber:
        line = formatWide(u"Name=%s,Type=%d,MaxVal=%d,MinVal=%d,Tag=%d\r\n", it->name, 1, it->maximum, it->minimum,
                          it->tag);
        break;
    case kCfgText:
        line = formatWide(u"Name=%s,Type=%d,CharNums=%d,Tag=%d\r\n", it->name, 2, it->width / 8, it->tag);
        break;
    case kCfgSelection:
        line = formatWide(u"Name=%s,Type=%d,SlctCnts=%d,Tag=%d,Datas=%s\r\n", it->name, 3, it->selectionCount(),
                          it->tag, it->choices);
        toProvide = static_cast<std::uint16_t>(kFmtUnits + it->choices.size());
        break;
    default: *size = 0; return true;
    }
    if (buffer == nullptr) {
        *size = toProvide;
        return false;
    }
    return putText(line, buffer, size, toProvide, u"CDevCfgXml::getItemFmt", __LINE__);
}

bool CDevCfgXml::getItemVal(const char16_t* name, char16_t* buffer, std::uint16_t* size) const {
    if (size == nullptr) return false;
    const CfgItem* it = findItem(name);
    if (it == nullptr) {
        *size = 0;
        return false;
    }
    switch (it->type) {
    case kCfgNumber:
    case kCfgSelection:
        if (buffer == nullptr || *size < kValUnits) {
            *size = kValUnits;
            return false;
        }
        return putText(formatWide(u"%d", it->value), buffer, size, kValUnits, u"CDevCfgXml::getItemVal", __LINE__);
    case kCfgText: {
        if (!it->text) {
            *size = 0;
            return false;
        }
        const auto toProvide = static_cast<std::uint16_t>(it->text->size() + kValUnits);
        if (buffer == nullptr || *size < toProvide) {
            *size = toProvide;
            return false;
        }
        return putText(*it->text, buffer, size, toProvide, u"CDevCfgXml::getItemVal", __LINE__);
    }
    default: *size = 0; return true;
    }
}

bool CDevCfgXml::setItemVal(CfgItem& item, std::int32_t value) {
    switch (item.type) {
    case kCfgNumber: {
        std::int32_t v = value;
        if (item.minimum >= 0) v = static_cast<std::int32_t>(lowBits(static_cast<std::uint32_t>(value), item.width));
        if (v < item.minimum || v > item.maximum) return false;
        item.value = v;
        return true;
    }
    case kCfgSelection:
        if (value < 0 || value >= item.selectionCount()) return false;
        item.value = value;
        return true;
    default: return false;
    }
}

bool CDevCfgXml::setItemVal(CfgItem& item, const char16_t* text, std::size_t length) {
    if (item.type != kCfgText || text == nullptr) return false;
    if (length == 0) {
        length = wideLength(text, kCfgTextChars + 1);
        if (length > kCfgTextChars) return false;
    }
    if (length == 0) return false;
    const std::size_t limit = (item.width / 8u) * ((item.tag & kCfgTagHex) != 0 ? 2u : 1u);
    if (length > limit) return false;
    try {
        item.text.reset();
        std::u16string copy(text, length);
        copy.resize(wideLength(copy.c_str(), copy.size()));  // the text ends at its first zero unit
        item.text = std::move(copy);
    } catch (const std::bad_alloc&) {
        item.text.reset();
        return false;
    }
    return true;
}

bool CDevCfgXml::headerMatches(const std::uint8_t* packet, std::size_t length) const {
    const std::uint16_t l = configLength();
    return packet != nullptr && length >= kCfgPacketHeader && length <= kCfgPacketSize && packet[0] == deviceId_ &&
           packet[1] == configId_ && packet[4] == configVersion_ && packet[2] == configLength_[0] &&
           packet[3] == configLength_[1] && l != 0 && length >= std::size_t{l} + kCfgPacketHeader;
}

bool CDevCfgXml::chkCfgDatPkt(const std::uint8_t* packet, std::size_t length) {
    if (headerMatches(packet, length) && config::crc8(packet + kCfgPacketHeader, configLength()) == packet[5])
        return true;
    log_.funcLine(kChkCfgDatPkt, u"Check Config Packet Fail\r\n");
    return false;
}

bool CDevCfgXml::takeCfgDat(const std::uint8_t* packet, std::size_t length) {
    if (items_.empty() || !chkCfgDatPkt(packet, length)) return false;
    std::memcpy(packet_, packet, length);
    return unpackItems();
}

bool CDevCfgXml::unpackText(CfgItem& item, const std::uint8_t* data, std::uint32_t dataBytes) {
    const std::uint32_t count = item.width / 8u;
    std::uint8_t bytes[kMaxTextBytes];
    if (count > kMaxTextBytes || !config::readBytesAt(data, dataBytes, item.offset, bytes, count)) return false;
    if ((item.tag & kCfgTagHex) != 0) {
        // Every byte as two lowercase digits, in a buffer of 1,024 units with its terminator.
        if (std::size_t{count} * 2 + 1 > kTextBufferUnits) return false;
        static const char16_t kDigits[] = u"0123456789abcdef";
        std::u16string hex;
        for (std::uint32_t i = 0; i < count; ++i) {
            hex += kDigits[bytes[i] >> 4];
            hex += kDigits[bytes[i] & 0x0F];
        }
        return setItemVal(item, hex.c_str(), hex.size());
    }
    // A plain text ends at its first zero byte; its bytes are in the thread's code page.
    const std::uint32_t used =
        static_cast<std::uint32_t>(std::find(bytes, bytes + count, std::uint8_t{0}) - bytes);
    const std::u16string text =
        platform::fromThreadCodePage(std::string(reinterpret_cast<const char*>(bytes), used));
    if (text.size() + 1 > kTextBufferUnits) return false;
    if (text.empty()) {
        item.text = std::u16string();
        return true;
    }
    return setItemVal(item, text.c_str(), text.size());
}

bool CDevCfgXml::unpackItems() {
    const std::uint8_t* data = packet_ + kCfgPacketHeader;
    const std::uint32_t dataBytes = configLength();
    for (const auto& owned : items_) {
        CfgItem& it = *owned;
        std::uint32_t raw = 0;
        switch (it.type) {
        case kCfgNumber: {
            if (!config::readBits(data, dataBytes, it.offset, it.width, raw)) return false;
            std::int32_t v = config::signExtend(raw, it.width);
            if ((it.tag & kCfgTagReversed) != 0) v = config::reverseBytes(v, it.width, it.minimum);
            if (!setItemVal(it, v)) return false;
            break;
        }
        case kCfgSelection:
            if (!config::readBits(data, dataBytes, it.offset, it.width, raw) ||
                !setItemVal(it, static_cast<std::int32_t>(raw)))
                return false;
            break;
        case kCfgText:
            if (!unpackText(it, data, dataBytes)) return false;
            break;
        default: break;
        }
    }
    return true;
}

bool CDevCfgXml::packInto(std::uint8_t* packet) const {
    std::uint8_t* data = packet + kCfgPacketHeader;
    const std::uint32_t dataBytes = configLength();
    for (const auto& owned : items_) {
        const CfgItem& it = *owned;
        switch (it.type) {
        case kCfgNumber: {
            std::int32_t v = it.value;
            if ((it.tag & kCfgTagReversed) != 0) v = config::reverseBytes(v, it.width, it.minimum);
            if (!config::writeBits(data, dataBytes, it.offset, it.width, static_cast<std::uint32_t>(v))) return false;
            break;
        }
        case kCfgSelection:
            if (!config::writeBits(data, dataBytes, it.offset, it.width, static_cast<std::uint32_t>(it.value)))
                return false;
            break;
        case kCfgText: {
            if (!it.text) return false;
            const std::uint32_t field = it.width / 8u;
            if ((it.tag & kCfgTagHex) != 0) {
                std::uint8_t bytes[kMaxHexBytes];
                const auto n = config::parseHexText(it.text->data(), it.text->size(), bytes, sizeof bytes);
                if (!n || *n == 0 || *n > field) return false;
                if (!config::writeBytesAt(data, dataBytes, it.offset, bytes, static_cast<std::uint32_t>(*n)))
                    return false;
                break;
            }
            // The text in the thread's code page and its terminating zero; a text whose bytes do
            // not fit is refused whole, never cut inside a character.
            std::string bytes = platform::toThreadCodePage(*it.text);
            if (bytes.empty() && !it.text->empty()) return false;
            if (bytes.size() + 1 > field) return false;
            bytes.push_back('\0');
            if (!config::writeBytesAt(data, dataBytes, it.offset, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      static_cast<std::uint32_t>(bytes.size())))
                return false;
            break;
        }
        default: break;
        }
    }
    return true;
}

bool CDevCfgXml::packItems() { return packInto(packet_); }

bool CDevCfgXml::setCfgVal(const char16_t* name, const char16_t* value, bool write) {
    if (CfgItem* it = findItem(name)) {
        const bool set = it->type == kCfgText
                             ? setItemVal(*it, value, 0)
                             : setItemVal(*it, decimalValue(value != nullptr ? std::u16string(value) : std::u16string()));
        if (!set) return false;
    }
    if (!write) return true;

    // Packed into a copy, kept only when the packet check passes. The header is never packed: a
    // write before any packet of this description was taken in fails the check.
    const std::size_t length = std::size_t{configLength()} + kCfgPacketHeader;
    auto packed = std::make_unique<std::uint8_t[]>(kCfgPacketSize);
    std::memcpy(packed.get(), packet_, kCfgPacketSize);
    if (!packInto(packed.get())) return false;
    packed[5] = config::crc8(packed.get() + kCfgPacketHeader, configLength());
    if (!chkCfgDatPkt(packed.get(), length)) return false;
    std::memcpy(packet_, packed.get(), kCfgPacketSize);
    return true;
}

std::vector<std::uint8_t> CDevCfgXml::packetBytes() const {
    const std::size_t l = std::size_t{packet_[2]} << 8 | packet_[3];
    if (l == 0 || l + kCfgPacketHeader > kCfgPacketSize) return {};
    return std::vector<std::uint8_t>(packet_, packet_ + l + kCfgPacketHeader);
}

}  // namespace tavrin
