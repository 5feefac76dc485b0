// The device library at work on a stand-in printer: the demo plays the device's side of a
// USB printer interface itself, opens it through the library's exports, prints a receipt on it,
// reads the printer's status back and shows what the library logged.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/device_peer.h"
#include "tavrin/tavrin.h"

namespace {

std::basic_string<tavrin_wchar_t> widen(const std::u16string& text) {
    return std::basic_string<tavrin_wchar_t>(text.begin(), text.end());
}

std::string narrow(const tavrin_wchar_t* text, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

void note(const char* text) {
    std::u16string t(text, text + std::strlen(text));
    dllFunc_SetLogRecord(widen(t).c_str(), 1, 1, 0);
    std::printf("  %s\n", text);
}

}  // namespace

int main() {
    std::printf("Tavrin demo: a receipt on a stand-in USB printer\n\n");
    auto printer = tavrin::platform::DevicePeer::create("demo-printer");
    if (!printer) {
        std::fprintf(stderr, "tavrin-demo: cannot create a stand-in device on this system\n");
        return 2;
    }
    const auto path = widen(printer->path());
    std::printf("stand-in printer at %s\n", narrow(path.c_str(), path.size()).c_str());

    _DEVOPEN_INFO info = {path.c_str(), 500, 1000, PORT_USBPRN, MODE_DATA};
    const std::int32_t handle = dllFunc_OpenDev(&info);
    if (handle < 0) {
        std::fprintf(stderr, "tavrin-demo: dllFunc_OpenDev failed (see the library log)\n");
        return 1;
    }
    std::printf("opened as device handle %d\n\n", handle);

    const std::string receipt =
        "\x1b@TAVRIN CAFE\n--------------------\nEspresso        2.40\nCroissant       1.90\n"
        "--------------------\nTOTAL           4.30\n\n\x1dV\x01";
    std::uint32_t written = 0;
    if (!dllFunc_Write(handle, receipt.data(), static_cast<std::uint32_t>(receipt.size()), &written, nullptr)) {
        std::fprintf(stderr, "tavrin-demo: dllFunc_Write failed\n");
        return 1;
    }
    note("receipt sent");

    std::string received(receipt.size(), '\0');
    std::size_t got = 0;
    while (got < written) {
        long n = printer->read(received.data() + got, received.size() - got, 1000);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    std::printf("\nthe printer received %zu of %u bytes:\n", got, written);
    for (std::size_t i = 0; i < got; ++i) {
        unsigned char c = static_cast<unsigned char>(received[i]);
        if (c == '\n' || (c >= 0x20 && c < 0x7f)) std::putchar(c);
        else std::printf("<%02X>", c);
    }
    std::printf("\n\n");

    const unsigned char status = 0x12;  // the printer answers with a status byte
    printer->write(&status, 1);
    unsigned char answer = 0;
    std::uint32_t read = 0;
    if (dllFunc_Read(handle, &answer, 1, &read, nullptr) && read == 1)
        std::printf("status byte read back: 0x%02X\n", answer);
    else
        std::printf("no status byte came back\n");

    dllFunc_CloseDev(handle);
    note("device closed");

    std::uint32_t count = 0;
    const tavrin_wchar_t* records = dllFunc_GetLogRecord(&count, 1);
    std::printf("\nrecords kept by the library log:\n%s", records ? narrow(records, count).c_str() : "");
    return got == written ? 0 : 1;
}
