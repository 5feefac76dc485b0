// Loads the device library at run time, opens its log, opens a network device and ends the process
// without unloading the library, as Python's ctypes and plug-in hosts do:
//
//   tavrin_exit_program LIBRARY LOGFILE
//
// The library's detach then runs while the process exits; it must find its objects alive and leave
// its detach lines in the log file. Exit codes: 0 all calls worked, 2 usage, 3 the library did not
// load, 4 a call failed.
#include <cstdlib>
#include <string>

#include "platform/dynamic_library.h"
#include "tavrin/tavrin.h"

namespace {

template <typename F>
F lookUp(const tavrin::platform::DynamicLibrary& library, const char* name) {
    return reinterpret_cast<F>(library.symbol(name));
}

std::basic_string<tavrin_wchar_t> widen(const std::string& ascii) {
    return std::basic_string<tavrin_wchar_t>(ascii.begin(), ascii.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    // Never closed: std::exit below leaves this object alone, so the library stays loaded.
    tavrin::platform::DynamicLibrary library;
    if (!library.open(argv[1])) return 3;
    const auto openLog = lookUp<decltype(&dllFunc_OpenLog)>(library, "dllFunc_OpenLog");
    const auto setLogRecord = lookUp<decltype(&dllFunc_SetLogRecord)>(library, "dllFunc_SetLogRecord");
    const auto openDev = lookUp<decltype(&dllFunc_OpenDev)>(library, "dllFunc_OpenDev");
    if (openLog == nullptr || setLogRecord == nullptr || openDev == nullptr) return 3;

    if (openLog(widen(argv[2]).c_str()) != 1) return 4;
    setLogRecord(widen("exit without unloading").c_str(), 1, 0, 0);
    // A device left open: its port and transmit thread are the library's to end at detach. Port 1
    // on loopback: nothing answers there.
    const auto path = widen("127.0.0.1:1");
    const _DEVOPEN_INFO info = {path.c_str(), 0, 0, PORT_NET_DATA, MODE_DATA};
    if (openDev(&info) != 0) return 4;
    std::exit(0);
}
