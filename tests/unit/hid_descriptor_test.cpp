// The HID report descriptor parser of the hidraw backend, on descriptors as devices state them
// (the boot keyboard and mouse examples of the USB HID class documents, vendor-defined printer
// interfaces) and on broken ones.
#include "platform/posix/hid_descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin::platform::posix {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kBootKeyboard = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25,
                             0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05,
                             0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91,
                             0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
                             0x81, 0x00, 0xC0};
const Bytes kBootMouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01,
                          0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
                          0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F,
                          0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
// A printer's command interface with two report ids: 0xA5 (63 bytes in, out and in again after
// the pop) and 0xA6 (31 data bytes and 32 padding out, between a push and a pop of the globals),
// behind a long item, with an extended usage naming its own page.
const Bytes kTwoReports = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x15, 0x00, 0x26,
                           0xFF, 0x00, 0x75, 0x08, 0x85, 0xA5, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91,
                           0x02, 0xA4, 0x85, 0xA6, 0x95, 0x1F, 0x0B, 0x01, 0x00, 0x00, 0xFF, 0x91, 0x02, 0x95, 0x20,
                           0x91, 0x03, 0xB4, 0x09, 0x01, 0x81, 0x02, 0xC0};

struct Expected {
    std::uint16_t page, usage, in, out, feature;
    std::vector<std::uint8_t> valueReportIds;
};

TEST(HidDescriptor, RecordedDescriptors) {
    const struct {
        const char* what;
        Bytes bytes;
        Expected expected;
    } cases[] = {
        {"boot keyboard", kBootKeyboard, {0x01, 0x06, 9, 2, 0, {}}},  // the LEDs are one-bit buttons
        {"boot mouse", kBootMouse, {0x01, 0x02, 4, 0, 0, {}}},
        {"vendor 0xA6, 65 bytes", vendorReportDescriptor(0xA6, 65, 65), {0xFF00, 0x01, 65, 65, 0, {0xA6}}},
        {"vendor 0xA5, 64 bytes", vendorReportDescriptor(0xA5, 64, 64), {0xFF00, 0x01, 64, 64, 0, {0xA5}}},
        {"vendor, long reports", vendorReportDescriptor(0xA6, 1025, 513), {0xFF00, 0x01, 1025, 513, 0, {0xA6}}},
        {"two report ids", kTwoReports, {0xFF00, 0x01, 127, 64, 0, {0xA5, 0xA6}}},
    };
    for (const auto& c : cases) {
        HidReportLayout l;
        ASSERT_TRUE(parseHidReportDescriptor(c.bytes.data(), c.bytes.size(), l)) << c.what;
        EXPECT_EQ(l.usagePage, c.expected.page) << c.what;
        EXPECT_EQ(l.usage, c.expected.usage) << c.what;
        EXPECT_EQ(l.inputReportLength, c.expected.in) << c.what;
        EXPECT_EQ(l.outputReportLength, c.expected.out) << c.what;
        EXPECT_EQ(l.featureReportLength, c.expected.feature) << c.what;
        std::vector<std::uint8_t> ids;
        for (const auto& v : l.outputValues) ids.push_back(v.reportId);
        EXPECT_EQ(ids, c.expected.valueReportIds) << c.what;
    }
    // The extended usage carries its own page; the constant field is no capability.
    HidReportLayout l;
    ASSERT_TRUE(parseHidReportDescriptor(kTwoReports.data(), kTwoReports.size(), l));
    ASSERT_EQ(l.outputValues.size(), 2u);
    EXPECT_EQ(l.outputValues[1].usagePage, 0xFF00);
    EXPECT_EQ(l.outputValues[1].usageMin, 1);
}

TEST(HidDescriptor, RefusesWhatIsNoDescriptor) {
    Bytes tooLong(kMaxHidDescriptor + 1, 0xC0);
    Bytes deepPush(17, 0xA4);
    deepPush.push_back(0x81);
    deepPush.push_back(0x02);
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"cut inside an item", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x26, 0xFF}},
        {"cut inside a long item", {0xFE, 0x05, 0x10, 0x01}},
        {"long item without its size", {0xFE}},
        {"longer than any descriptor", tooLong},
        {"pushes nested too deep", deepPush},
        {"no main item", {0x05, 0x01, 0x09, 0x06}},
    };
    for (const auto& c : cases) {
        HidReportLayout l;
        EXPECT_FALSE(parseHidReportDescriptor(c.bytes.data(), c.bytes.size(), l)) << c.what;
    }
}

TEST(HidDescriptor, HugeCountsDoNotWrapTheLengths) {
    // Report size and count at their largest: the length saturates instead of wrapping round.
    const Bytes huge = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF,
                        0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x01, 0x91, 0x02, 0xC0};
    HidReportLayout l;
    ASSERT_TRUE(parseHidReportDescriptor(huge.data(), huge.size(), l));
    EXPECT_EQ(l.outputReportLength, 0xFFFF);
}

}  // namespace
}  // namespace tavrin::platform::posix
