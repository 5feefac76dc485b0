// libFuzzer target: a configuration description and a packet for it, through the model as the
// exports use it (load, take the packet in, every item's line and value, set and pack).
//
// Input: 2 bytes (little-endian) n, then n bytes of description (in the thread's code page, as a
// device hands it out), then the packet.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/dev_app.h"
#include "platform/code_page.h"
#include "platform/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavrin;
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
    model.takeCfgDat(packet.data(), packet.size());

    char16_t small[16];
    std::vector<char16_t> large(2048);
    for (std::uint16_t i = 0; i <= model.itemCount(); ++i) {
        std::uint16_t s = sizeof small / sizeof small[0];
        model.getItemFmt(i, small, &s);
        s = static_cast<std::uint16_t>(large.size());
        model.getItemFmt(i, large.data(), &s);
        const CfgItem* item = model.item(i);
        if (item == nullptr) continue;
        s = sizeof small / sizeof small[0];
        model.getItemVal(item->name, small, &s);
        s = static_cast<std::uint16_t>(large.size());
        model.getItemVal(item->name, large.data(), &s);
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
