// The command name table: the names callers send commands by, and their command codes. The codes
// 0x16 to 0x20 have no name; "CTRL_DEVCMD_ST" is not sent as 0x80 but stands for a device command
// 0x80..0x9F given as the first data byte.
#pragma once

#include <array>
#include <cstdint>

namespace tavrin {

struct ProtoCode {
    const char16_t* name;
    std::uint16_t code;
};

inline constexpr std::uint16_t kDevCmdSt = 0x80;
inline constexpr std::uint8_t kDevCmdFirst = 0x80;
inline constexpr std::uint8_t kDevCmdLast = 0x9F;

inline constexpr std::array<ProtoCode, 25> kProtoCodes = {{
    {u"CTRL_CMD_NOUSE", 0x00},
    {u"CTRL_CMDGET_MODEL", 0x01},
    {u"CTRL_CMDGET_DEVNO", 0x02},
    {u"CTRL_CMDGET_PROTVER", 0x03},
    {u"CTRL_CMD_CONNT", 0x04},
    {u"CTRL_CMD_UNCONNT", 0x05},
    {u"CTRL_CMDSET_PSW", 0x06},
    {u"CTRL_CMDGET_USERDAT", 0x07},
    {u"CTRL_CMDSET_USERDAT", 0x08},
    {u"CTRL_CMDGET_DEVSTAT", 0x09},
    {u"CTRL_CMDGET_PWSSTAT", 0x0A},
    {u"CTRL_CMDSET_ENCRYPT", 0x0B},
    {u"CTRL_CMDGET_DEVINFO", 0x0C},
    {u"CTRL_CMD_RESETCFG", 0x0D},
    {u"CTRL_CMD_CLSBUF", 0x0E},
    {u"CTRL_CMDGET_STATISINFO", 0x0F},
    {u"CTRL_CMDGET_MAINTAININFO", 0x10},
    {u"CTRL_CMD_DEVRESTART", 0x11},
    {u"CTRL_CMD_DEVCHKSLF", 0x12},
    {u"CTRL_CMDGET_WORKMODE", 0x13},
    {u"CTRL_CMDSET_WORKMODE", 0x14},
    {u"CTRL_CMDGET_VERINFO", 0x15},
    {u"CTRL_CMDGET_FEAT", 0x21},
    {u"CTRL_CMDSET_FEAT", 0x22},
    {u"CTRL_DEVCMD_ST", kDevCmdSt},
}};

}  // namespace tavrin
