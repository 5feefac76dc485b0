// A configuration description and a packet for it, through the model as the exports use it (load,
// take the packet in, every item's line and value, set and pack): no text is written past its
// buffer or reported longer than it, and a packet taken in is the one handed over.
//
// Input: 2 bytes (little-endian) n, then n bytes of description (in the thread's code page, as a
// device hands it out), then the packet.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/dev_app.h"
#include "platform/code_page.h"
#include "platform/xml_document.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {
namespace {

// Fills a text of capacity units and checks what the call says it wrote.
template <typename Call>
void fillText(std::uint16_t capacity, Call call) {
    std::vector<char16_t> buffer(capacity + 1u, u'\xFFFF');
    std::uint16_t size = capacity;
    if (call(buffer.data(), &size)) {
        FUZZ_CHECK(size <= capacity);
    }
    FUZZ_CHECK(buffer[capacity] == u'\xFFFF');  // nothing past the capacity
}

}  // namespace

int configDescription(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t n = static_cast<std::size_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
    if (n > size) n = size;
    const std::u16string text =
        platform::fromThreadCodePage(std::string(reinterpret_cast<const char*>(data), n));
    const std::vector<std::uint8_t> packet(data + n, data + size);

    const platform::XmlThreadScope com;
    CDevCfgXml model(theLog());  // the log has no text buffer here: its lines go nowhere
    if (!model.loadCfgXml(nullptr, text.c_str())) return 0;
    if (model.takeCfgDat(packet.data(), packet.size())) {
        const std::vector<std::uint8_t> taken = model.packetBytes();
        FUZZ_CHECK(taken.size() == model.configLength() + std::size_t{8});
        FUZZ_CHECK(std::equal(taken.begin(), taken.end(), packet.begin()));
    }

    for (std::uint16_t i = 0; i <= model.itemCount(); ++i) {
        for (const std::uint16_t capacity : {std::uint16_t{16}, std::uint16_t{2048}}) {
            fillText(capacity, [&](char16_t* b, std::uint16_t* s) { return model.getItemFmt(i, b, s); });
            const CfgItem* item = model.item(i);
            if (item == nullptr) continue;
            fillText(capacity, [&](char16_t* b, std::uint16_t* s) { return model.getItemVal(item->name, b, s); });
        }
    }
    if (const CfgItem* first = model.item(0)) {
        const std::u16string name(first->name);
        const std::u16string value = packet.empty() ? u"1" : std::u16string(1, static_cast<char16_t>(u'0' + packet[0] % 10));
        model.setCfgVal(name.c_str(), value.c_str(), true);
        model.setCfgVal(name.c_str(), u"0a 1B,ff", true);
    }
    const std::vector<std::uint8_t> bytes = model.packetBytes();
    if (!bytes.empty()) model.takeCfgDat(bytes.data(), bytes.size());
    return 0;
}

}  // namespace tavrin::fuzz
