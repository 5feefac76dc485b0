// The HID report descriptor parser of the hidraw backend: any input is parsed without reading past
// its end, and a layout it accepts is one a port can judge (lengths within 16 bits, saturated;
// value capabilities only for output fields, at most one per item). The descriptors the stand-in
// devices state come back as they were made.
//
// Input: the descriptor. Its first five bytes also give a stand-in descriptor to make and parse
// again: report id, input length and output length (16 bits each, low byte first; 2 and above).
#include "platform/posix/hid_descriptor.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {

int hidDescriptor(const std::uint8_t* data, std::size_t size) {
    using namespace platform::posix;
    HidReportLayout layout;
    const bool ok = parseHidReportDescriptor(data, size, layout);
    FUZZ_CHECK(!ok || size <= kMaxHidDescriptor);
    FUZZ_CHECK(!ok || layout.outputValues.size() <= size);

    if (size >= 5) {
        const std::uint8_t id = data[0];
        const auto in = static_cast<std::uint16_t>(data[1] | data[2] << 8);
        const auto out = static_cast<std::uint16_t>(data[3] | data[4] << 8);
        // A length of 1 is the report id byte alone: no field, so no such report at all.
        if (in > 1 && out > 1) {
            const auto made = vendorReportDescriptor(id, in, out);
            HidReportLayout back;
            FUZZ_CHECK(parseHidReportDescriptor(made.data(), made.size(), back));
            FUZZ_CHECK(back.inputReportLength == in && back.outputReportLength == out);
            FUZZ_CHECK(!back.outputValues.empty() && back.outputValues[0].reportId == id);
        }
    }
    return 0;
}

}  // namespace tavrin::fuzz
