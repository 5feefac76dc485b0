// The texts of the browser control's script methods, as pure functions of what the bridge
// answered: JSON string escaping, hexadecimal text to bytes and back, the item array of the
// configuration listing, and the JSON text of each method and outcome. No bridge call and no OS
// call here: ControlMethods makes the calls and hands their results in.
//
// Every JSON text is UTF-16. Result codes are written as "%x" of their 32 bits (lower-case
// hexadecimal, no prefix): success is 0, the device failure is 20000000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ocx {

// The data areas of a method call: the joined paths of EnumDevPath (characters), the bytes of
// DevIoCtrl's input and answer, and GetDevType's answer buffer.
inline constexpr std::size_t kPathCapacity = 4096;
inline constexpr std::size_t kDataCapacity = 4096;
inline constexpr std::size_t kTypeCapacity = 4096;
// An item text is split into at most this many parts; parts after them are dropped.
inline constexpr std::size_t kMaxItemParts = 20;

// Outcomes of hexToBytes.
enum HexResult : std::uint32_t {
    kHexOk = 0,
    kHexEmpty = 0xC0001,      // the text is empty
    kHexTooLong = 0xC0002,    // more digits than the output holds
    kHexCapacity = 0xC0003,   // a capacity above kDataCapacity
    kHexOddDigits = 0xC0004,  // an odd number of digits
};

// Each character copied, except backspace, tab, line feed, form feed, carriage return, double
// quote, solidus and reverse solidus, which become \b \t \n \f \r \" \/ \\. Other control
// characters and non-ASCII characters pass unchanged.
std::u16string jsonEscape(std::u16string_view text);

// The digits of text (case-insensitive; every other character is skipped) as bytes, two digits
// a byte, the first the high nibble, into out[0..capacity). out is cleared first; count is the
// number of bytes. On any error nothing is written beyond out's capacity and count is 0.
std::uint32_t hexToBytes(std::u16string_view text, std::uint8_t* out, std::size_t capacity, std::size_t& count);

// "0x%.2x " for each byte: 0x01 0xab and a closing blank; empty for no bytes.
std::u16string bytesToHex(const std::uint8_t* bytes, std::size_t count);

// The JSON array of the configuration listing: one object per item text (key=value parts split
// at every comma, at most kMaxItemParts; every member a JSON string). An item text without a
// comma writes no object, but the commas between objects stay where they were. [] for no items.
std::u16string itemArray(const std::vector<std::u16string>& items);

// "%x" of the 32 bits of code.
std::u16string hexCode(std::int32_t code);

// The texts of the methods. rc is the bridge's return code.
// {"RtnCode":%x}
std::u16string rtnCodeText(std::int32_t rc);
// {"Result":%x}
std::u16string resultText(std::int32_t rc);
// EnumDevPath: the paths (joined by CR LF) with their count when rc is 0 and count > 0, else
// {"RtnCode":20000000}.
std::u16string enumDevPathText(std::int32_t rc, std::uint32_t count, std::u16string_view paths);
// EnumProtoCode: the command name and its code when rc is 0 and a name came back
// (description not null), else {"Result":%x} with rc.
std::u16string enumProtoCodeText(std::int32_t rc, const std::u16string* description, std::uint16_t code);
// DevIoCtrl: {"Result":1,"lpBuf":"..."} with the answer as hexadecimal text when the call
// succeeded, the answer has data and its acknowledge code is 0; else {"Result":0}.
std::u16string devIoCtrlText(bool succeeded, const std::uint8_t* answer, std::size_t length, std::uint8_t ackCode);
// GetDevType: the class byte (signed) and the type text when rc is 0, else {"RtnCode":%x}.
std::u16string devTypeText(std::int32_t rc, std::int8_t devClass, std::u16string_view type);
// GetCfgInfo: {"RtnCode":0,"Info":[...]} when rc is 0, else {"RtnCode":%x}.
std::u16string cfgInfoText(std::int32_t rc, const std::vector<std::u16string>& items);

}  // namespace tavrin::ocx
