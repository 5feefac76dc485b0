// CDevCfgXml: the device's configuration items as an XML description names them, their current
// values, and the configuration packet the device stores them in.
//
// The description ("devCfg.xml", or the document a device hands out):
//
//   <TavrCfg VTAG="100">                      VTAG first: 100 items packed one after another,
//     <CfgInfo DEVID=".." CFGID=".." CFGLen=".." CFGVer=".." CFGChk=".." Counts="..">
//       <CfgItem Name=".." Bits=".." Type=".." MaxVal=".." MinVal=".." Datas=".." Tag=".." Ofs=".."/>
//       ...                                   200 each item at its own bit offset "Ofs"
//
// Item types: 0 placeholder (bits only), 1 number (1..32 bits, MinVal..MaxVal), 2 text (a multiple
// of 8 bits, at most 1,024 bytes; Tag bit 1: shown and set as hexadecimal digits), 3 selection
// (the index of one of the ";"-separated choices of "Datas", at most 32 bits). Tag bit 0 of a
// number: its bytes are stored in reversed order.
//
// The configuration packet (at most 4,096 bytes, "devCfg.dat" offline):
//   0 device ID ("DEVID")   1 configuration ID ("CFGID")   2..3 data length L, big-endian ("CFGLen")
//   4 version ("CFGVer")    5 CRC-8 of the L data bytes    6..7 kept as received
//   8.. L data bytes: the items' bit fields, most significant bit first
//
// There is one model in the library, shared by all callers and devices. Configuration calls must
// not run at the same time: the model has no lock of its own. The exports claim busy() for each
// call and a second call that finds it taken fails at once (it never waits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::platform {
class XmlNode;
}

namespace tavrin {

class CLogFile;

inline constexpr std::uint8_t kCfgPlaceholder = 0;
inline constexpr std::uint8_t kCfgNumber = 1;
inline constexpr std::uint8_t kCfgText = 2;
inline constexpr std::uint8_t kCfgSelection = 3;

inline constexpr std::uint16_t kCfgTagReversed = 1;  // number: bytes in reversed order
inline constexpr std::uint16_t kCfgTagHex = 2;       // text: shown and set as hexadecimal digits

inline constexpr std::size_t kCfgNameChars = 20;
inline constexpr std::size_t kCfgTextChars = 1024;    // longest text value, longest choices kept
inline constexpr std::size_t kCfgPacketSize = 4096;
inline constexpr std::size_t kCfgPacketHeader = 8;
inline constexpr std::size_t kCfgMaxData = kCfgPacketSize - kCfgPacketHeader;  // 4,088

// An item as read from its "CfgItem" element, before addItem checks it.
struct CfgItemRecord {
    std::u16string name;
    std::uint16_t offset = 0;
    std::uint16_t width = 0;
    std::uint8_t type = kCfgPlaceholder;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::uint16_t tag = 0;
    std::u16string datas;
};

struct CfgItem {
    char16_t name[kCfgNameChars + 1] = {};
    std::uint16_t offset = 0;  // first bit in the data bytes
    std::uint16_t width = 0;
    std::uint8_t type = kCfgPlaceholder;
    std::int32_t minimum = 0;  // a selection holds its selection count here
    std::int32_t maximum = 0;
    std::uint16_t tag = 0;
    std::u16string choices;    // selection: "Datas", its first 1,024 characters
    std::int32_t value = 0;    // number, selection
    std::optional<std::u16string> text;  // text item: none until set

    std::uint16_t selectionCount() const { return static_cast<std::uint16_t>(minimum); }
};

class CDevCfgXml {
public:
    explicit CDevCfgXml(CLogFile& log);
    CDevCfgXml(const CDevCfgXml&) = delete;
    CDevCfgXml& operator=(const CDevCfgXml&) = delete;
    ~CDevCfgXml();

    // Builds the model from a description file (path) or the whole description as text; exactly
    // one of them is given. A failure before the items leaves the model as it was; a failure
    // among the items keeps those added before it. The packet is not touched.
    bool loadCfgXml(const char16_t* path, const char16_t* text);
    // The item loop: every node from first on must be a "CfgItem"; a refused item is logged and
    // skipped.
    bool LoadXmlItem(const platform::XmlNode* first);
    bool addItem(const CfgItemRecord& record);
    void clearItems();

    // The first item whose name equals the key over at most 20 characters; none for a null key.
    CfgItem* findItem(const char16_t* name);
    const CfgItem* findItem(const char16_t* name) const;

    // Texts into a caller's buffer. size: in, the buffer's capacity in UTF-16 units; out, the
    // units written (no terminator) or, when false for want of room, the units to provide.
    bool getItemFmt(std::uint16_t index, char16_t* buffer, std::uint16_t* size) const;
    bool getItemVal(const char16_t* name, char16_t* buffer, std::uint16_t* size) const;

    // A number or selection value, or a text (length in characters, 0: measure it). Checked
    // against the item's type and limits; false leaves the value as it was.
    bool setItemVal(CfgItem& item, std::int32_t value);
    bool setItemVal(CfgItem& item, const char16_t* text, std::size_t length);

    // The configuration packet.
    bool chkCfgDatPkt(const std::uint8_t* packet, std::size_t length);
    // Checks a packet, takes it over and decodes the items' values from it.
    bool takeCfgDat(const std::uint8_t* packet, std::size_t length);
    bool unpackItems();
    bool packItems();
    // Sets the named item's value from text (a name that matches no item changes nothing); with
    // write, packs every value into the packet and renews its check value. Nothing of the packet
    // changes unless all of that succeeds.
    bool setCfgVal(const char16_t* name, const char16_t* value, bool write);
    // The bytes to hand to the device or the file: the header and L data bytes (L of the packet's
    // own bytes 2 and 3); empty when L is 0 or the packet would not hold them.
    std::vector<std::uint8_t> packetBytes() const;

    std::int16_t layoutTag() const { return layoutTag_; }
    std::uint16_t capacity() const { return capacity_; }
    std::uint16_t itemCount() const { return static_cast<std::uint16_t>(items_.size()); }
    const CfgItem* item(std::uint16_t index) const { return index < items_.size() ? items_[index].get() : nullptr; }
    CfgItem* item(std::uint16_t index) { return index < items_.size() ? items_[index].get() : nullptr; }
    std::uint8_t deviceId() const { return deviceId_; }
    std::uint8_t configId() const { return configId_; }
    std::uint16_t configLength() const { return static_cast<std::uint16_t>(configLength_[0] << 8 | configLength_[1]); }
    std::uint8_t configVersion() const { return configVersion_; }
    std::uint8_t configCheck() const { return configCheck_; }
    std::uint32_t bitsUsed() const { return bitsUsed_; }
    const std::uint8_t* packet() const { return packet_; }

    // Claimed by each configuration export for its whole run (try_lock; nobody waits).
    std::mutex& busy() { return busy_; }

private:
    bool headerMatches(const std::uint8_t* packet, std::size_t length) const;
    bool packInto(std::uint8_t* packet) const;
    bool unpackText(CfgItem& item, const std::uint8_t* data, std::uint32_t dataBytes);

    CLogFile& log_;
    std::int16_t layoutTag_ = 0;
    std::uint16_t capacity_ = 0;
    std::vector<std::unique_ptr<CfgItem>> items_;  // room for capacity_ taken on the first item
    std::uint8_t deviceId_ = 0;
    std::uint8_t configId_ = 0;
    std::uint8_t configLength_[2] = {};  // high, low
    std::uint8_t configVersion_ = 0;
    std::uint8_t configCheck_ = 0;
    std::uint8_t packet_[kCfgPacketSize] = {};
    std::uint32_t bitsUsed_ = 0;
    std::mutex busy_;
};

}  // namespace tavrin
