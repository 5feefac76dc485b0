// The POSIX backend's settings-file parser.
#include "platform/posix/ini_reader.h"

#include <gtest/gtest.h>

namespace tavrin::platform::posix {
namespace {

TEST(IniReader, FindsValuesByTheRulesOfTheProfileFunctions) {
    const std::string_view content =
        "\xEF\xBB\xBF; comment\n[General]\nCfgID = 42 \n[ Port ]\r\nkey=first\nKEY=second\n"
        "empty=\n'q'='x'\nsingle='quoted'\nhalf=\"open\n[port]\nlater=1\n";
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"general", "cfgid", "42"},      {"Port", "key", "first"},  // the first of two keys
        {"Port", "empty", ""},           {"Port", "single", "quoted"},
        {"Port", "half", "\"open"},      {"Port", "missing", std::nullopt},
        {"Absent", "key", std::nullopt}, {"General", "key", std::nullopt},
        {"port", "later", "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(findIniValue(content, c.section, c.key), c.want) << c.section << "/" << c.key;
}

TEST(IniReader, IntegersAreDecimal) {
    struct Case {
        const char* text;
        std::int32_t want;
    };
    const Case cases[] = {{"100", 100},         {"-5", -5},       {"+7", 7},   {"12abc", 12},
                          {"abc", 0},           {"  33", 33},     {"0x10", 0}, {"1684418609", 1684418609},
                          {"4294967295", -1}};
    for (const auto& c : cases) EXPECT_EQ(parseIniInt(c.text), c.want) << c.text;
}

}  // namespace
}  // namespace tavrin::platform::posix
