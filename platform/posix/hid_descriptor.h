// The report layout a HID report descriptor states, as the system's HID parser gives it on
// Windows (HidP_GetCaps, HidP_GetSpecificValueCaps): the top-level collection's usage, the
// longest input, output and feature report in bytes with the report id byte, and the output value
// capabilities. A pure parser, tested on recorded descriptors and fuzzed; the hidraw backend
// feeds it the descriptor the kernel hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin::platform::posix {

// The kernel's limit for a report descriptor (HID_MAX_DESCRIPTOR_SIZE).
inline constexpr std::size_t kMaxHidDescriptor = 4096;

struct HidReportLayout {
    std::uint16_t usagePage = 0;  // of the first top-level collection
    std::uint16_t usage = 0;
    std::uint16_t inputReportLength = 0;  // 0 when the device has no such report
    std::uint16_t outputReportLength = 0;
    std::uint16_t featureReportLength = 0;
    // One output value capability per usage (or usage range) of a data field wider than one bit.
    struct ValueCap {
        std::uint16_t usagePage = 0;
        std::uint16_t usageMin = 0;
        std::uint16_t usageMax = 0;
        std::uint8_t reportId = 0;
    };
    std::vector<ValueCap> outputValues;
};

// False when the bytes are no report descriptor (cut in the middle of an item, longer than
// kMaxHidDescriptor, pushes nested too deep, or no main item at all).
bool parseHidReportDescriptor(const std::uint8_t* data, std::size_t length, HidReportLayout& layout);

// A descriptor of the vendor-defined kind the stand-in devices state: one application collection
// of usage page 0xFF00, usage 1, with one input and one output report of the given lengths
// (report id byte included) under one report id.
std::vector<std::uint8_t> vendorReportDescriptor(std::uint8_t reportId, std::uint16_t inputLength,
                                                 std::uint16_t outputLength);

}  // namespace tavrin::platform::posix
