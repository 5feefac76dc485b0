// A first look at the device library through its exports: writes a record to the library log,
// tries to open the device path given on the command line (or a path that does not exist) and
// prints what the library logged.
#include <cstdio>
#include <string>

#include "tavrin/tavrin.h"

namespace {

std::basic_string<tavrin_wchar_t> widen(const char* text) {
    std::basic_string<tavrin_wchar_t> out;
    for (; *text != 0; ++text) out += static_cast<tavrin_wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

void printRecords() {
    std::uint32_t count = 0;
    const tavrin_wchar_t* text = dllFunc_GetLogRecord(&count, 1);
    for (std::uint32_t i = 0; text != nullptr && i < count; ++i)
        std::putchar(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "/nonexistent/tavrin-device";
    dllFunc_SetLogRecord(widen("tavrin-smoke: opening a device").c_str(), 1, 1, 0);

    auto wpath = widen(path.c_str());
    _DEVOPEN_INFO info = {wpath.c_str(), 0, 0, PORT_USBPRN, MODE_DATA};
    const std::int32_t handle = dllFunc_OpenDev(&info);
    if (handle < 0) {
        dllFunc_SetLogRecord(widen("open failed").c_str(), 1, 0, 0);
        printRecords();
        return argc > 1 ? 1 : 0;
    }
    const char message[] = "hello from tavrin-smoke\n";
    std::uint32_t written = 0;
    const bool ok = dllFunc_Write(handle, message, sizeof message - 1, &written, nullptr) != 0;
    dllFunc_SetLogRecord(widen(ok ? "written" : "write failed").c_str(), 1, 0, 0);
    dllFunc_CloseDev(handle);
    printRecords();
    return ok ? 0 : 1;
}
