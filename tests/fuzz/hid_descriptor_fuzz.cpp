// libFuzzer target: the HID report descriptor parser of the hidraw backend. Any input is parsed
// without reading past its end, and a layout it accepts is one a port can judge: lengths within
// 16 bits (saturated), value capabilities only for output fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavrin::platform::posix;
    HidReportLayout layout;
    const bool ok = parseHidReportDescriptor(data, size, layout);
    if (size > kMaxHidDescriptor && ok) std::abort();
    if (ok && layout.outputValues.size() > size) std::abort();  // at most one per usage item
    // The stand-in devices' descriptors come back as they were made.
    if (size >= 5) {
        const std::uint8_t id = data[0];
        const std::uint16_t in = static_cast<std::uint16_t>(data[1] | data[2] << 8);
        const std::uint16_t out = static_cast<std::uint16_t>(data[3] | data[4] << 8);
        if (in > 0 && out > 0) {
            const auto made = vendorReportDescriptor(id, in, out);
            HidReportLayout back;
            if (!parseHidReportDescriptor(made.data(), made.size(), back)) std::abort();
            if (back.inputReportLength != in || back.outputReportLength != out) std::abort();
            if (back.outputValues.empty() || back.outputValues[0].reportId != id) std::abort();
        }
    }
    return 0;
}
