// The HID report descriptor parser (see hid_descriptor.h). Pure: no system calls.
#include "platform/posix/hid_descriptor.h"

#include <algorithm>
#include <map>

namespace tavrin::platform::posix {

namespace {

constexpr int kMaxPushDepth = 16;

struct Globals {
    std::uint16_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

struct Locals {
    std::vector<std::uint32_t> usages;  // extended usages carry their page in the high half
    std::uint32_t usageMin = 0;
    std::uint32_t usageMax = 0;
    bool hasMin = false;
    bool hasMax = false;
};

std::uint32_t unsignedData(const std::uint8_t* p, int size) {
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}

std::uint16_t bytesOf(std::uint64_t bits) {
    const std::uint64_t bytes = (bits + 7) / 8 + 1;  // the report id byte is always counted
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(bytes, 0xFFFF));
}

}  // namespace

bool parseHidReportDescriptor(const std::uint8_t* data, std::size_t length, HidReportLayout& layout) {
    layout = HidReportLayout{};
    if (data == nullptr || length == 0 || length > kMaxHidDescriptor) return false;

    Globals g;
    std::vector<Globals> stack;
    Locals l;
    int depth = 0;
    bool haveTop = false;
    bool anyMain = false;
    // Bits per report id, per kind (0 input, 1 output, 2 feature).
    std::map<std::uint8_t, std::uint64_t> bits[3];

    std::size_t at = 0;
    while (at < length) {
        const std::uint8_t prefix = data[at];
        if (prefix == 0xFE) {  // long item: size, tag, data; nothing of it is used
            if (at + 2 >= length) return false;
            const std::size_t size = data[at + 1];
            if (at + 3 + size > length) return false;
            at += 3 + size;
            continue;
        }
        const int sizeCode = prefix & 3;
        const int size = sizeCode == 3 ? 4 : sizeCode;
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (at + 1 + static_cast<std::size_t>(size) > length) return false;
        const std::uint32_t value = unsignedData(data + at + 1, size);
        at += 1 + static_cast<std::size_t>(size);

        if (type == 0) {  // main
            switch (tag) {
            case 0x8:    // input
            case 0x9:    // output
            case 0xB: {  // feature
                anyMain = true;
                const int kind = tag == 0x8 ? 0 : tag == 0x9 ? 1 : 2;
                bits[kind][g.reportId] += static_cast<std::uint64_t>(g.reportSize) * g.reportCount;
                const bool constant = (value & 1) != 0;
                if (kind == 1 && !constant && g.reportSize > 1 && g.reportCount > 0) {
                    auto addCap = [&](std::uint32_t lo, std::uint32_t hi) {
                        HidReportLayout::ValueCap cap;
                        cap.usagePage = (lo >> 16) != 0 ? static_cast<std::uint16_t>(lo >> 16) : g.usagePage;
                        cap.usageMin = static_cast<std::uint16_t>(lo);
                        cap.usageMax = static_cast<std::uint16_t>(hi);
                        cap.reportId = g.reportId;
                        layout.outputValues.push_back(cap);
                    };
                    if (l.hasMin && l.hasMax) {
                        addCap(l.usageMin, std::max(l.usageMin, l.usageMax));
                    } else if (!l.usages.empty()) {
                        for (std::uint32_t u : l.usages) addCap(u, u);
                    } else {
                        addCap(0, 0);
                    }
                }
                break;
            }
            case 0xA:  // collection
                if (depth == 0 && !haveTop && value == 1) {  // the first application collection
                    const std::uint32_t u = l.usages.empty() ? 0 : l.usages.front();
                    layout.usagePage = (u >> 16) != 0 ? static_cast<std::uint16_t>(u >> 16) : g.usagePage;
                    layout.usage = static_cast<std::uint16_t>(u);
                    haveTop = true;
                }
                ++depth;
                break;
            case 0xC:  // end collection
                if (depth > 0) --depth;
                break;
            default: break;
            }
            l = Locals{};
        } else if (type == 1) {  // global
            switch (tag) {
            case 0x0: g.usagePage = static_cast<std::uint16_t>(value); break;
            case 0x7: g.reportSize = value; break;
            case 0x8: g.reportId = static_cast<std::uint8_t>(value); break;
            case 0x9: g.reportCount = value; break;
            case 0xA:  // push
                if (stack.size() >= kMaxPushDepth) return false;
                stack.push_back(g);
                break;
            case 0xB:  // pop
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default: break;  // logical and physical ranges, unit: not needed here
            }
        } else if (type == 2) {  // local
            // A usage of one or two bytes takes the page of the moment; four bytes name their own.
            const std::uint32_t usage = size == 4 ? value : (static_cast<std::uint32_t>(g.usagePage) << 16) | value;
            switch (tag) {
            case 0x0:
                if (l.usages.size() < kMaxHidDescriptor) l.usages.push_back(usage);
                break;
            case 0x1:
                l.usageMin = usage;
                l.hasMin = true;
                break;
            case 0x2:
                l.usageMax = usage;
                l.hasMax = true;
                break;
            default: break;
            }
        }
    }
    if (!anyMain && !haveTop) return false;

    std::uint16_t* lengths[3] = {&layout.inputReportLength, &layout.outputReportLength, &layout.featureReportLength};
    for (int kind = 0; kind < 3; ++kind) {
        std::uint64_t most = 0;
        bool any = false;
        for (const auto& [id, n] : bits[kind]) {
            if (n == 0) continue;
            any = true;
            most = std::max(most, n);
        }
        *lengths[kind] = any ? bytesOf(most) : 0;
    }
    return true;
}

std::vector<std::uint8_t> vendorReportDescriptor(std::uint8_t reportId, std::uint16_t inputLength,
                                                 std::uint16_t outputLength) {
    const std::uint16_t in = inputLength > 0 ? static_cast<std::uint16_t>(inputLength - 1) : 0;
    const std::uint16_t out = outputLength > 0 ? static_cast<std::uint16_t>(outputLength - 1) : 0;
    return {
        0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
        0x09, 0x01,        // usage 1
        0xA1, 0x01,        // collection (application)
        0x85, reportId,    //   report id
        0x15, 0x00,        //   logical minimum 0
        0x26, 0xFF, 0x00,  //   logical maximum 255
        0x75, 0x08,        //   report size 8
        0x09, 0x01,        //   usage 1
        0x96, static_cast<std::uint8_t>(in & 0xFF), static_cast<std::uint8_t>(in >> 8),  // report count
        0x81, 0x02,        //   input (data, variable, absolute)
        0x09, 0x01,        //   usage 1
        0x96, static_cast<std::uint8_t>(out & 0xFF), static_cast<std::uint8_t>(out >> 8),
        0x91, 0x02,        //   output (data, variable, absolute)
        0xC0,              // end collection
    };
}

}  // namespace tavrin::platform::posix
