// The operating-system services of the bridge library: message boxes, process and system facts
// for the trace log's header and lines, the trace folder and its day files, the narrow texts of
// the system, and the hook that tells the bridge when one of its threads ends.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::platform::bridge {

// A message with an OK button and no owner window. Windows: MessageBoxW / MessageBoxA (an empty
// caption is the system's default caption); elsewhere the caption and text go to standard error.
void showMessageWide(const std::u16string& text, const std::u16string& caption);
void showMessageNarrow(const std::string& text, const std::string& caption);

// The narrow form of a text in the bridge's fixed narrow encoding (Windows: GBK, code page 936;
// elsewhere UTF-8), and narrow text of the system's ANSI code page back to wide text.
std::string toNarrowText(const std::u16string& text);
std::u16string fromAnsiCodePage(const std::string& text);

std::uint32_t processId();
std::uint32_t threadId();

struct LocalDateTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalDateTime localDateTimeNow();

// The operating system's name (Windows: from its version, product type and architecture, or
// "unknown OperatingSystem."; Linux: "Linux " and the kernel release).
std::string operatingSystemName();
// Whether the process runs on a 64-bit system (a 32-bit process under WOW64 or a 64-bit one).
bool onSixtyFourBitSystem();
// The full path of the bridge library's own file, narrow (at most 1024 bytes).
std::string ownModulePath();
// The folder of that file with its closing separator, or empty when the path is not known.
std::string ownModuleFolder();
// The "FileVersion" string of the version resource (\StringFileInfo\080404b0) of the library
// file found by name the system's way; empty when the file or the value is missing (always
// empty where libraries have no version resource).
std::string libraryFileVersion(const char* fileName);

// The trace folder with its closing separator: "D:\ORVANE Log\" on Windows, elsewhere
// "ORVANE Log/" in the user data folder (the local application data folder's "Tavrin").
std::u16string traceFolder();
// Opens path for appending, creating it when missing, and closes it again.
void touchFile(const std::u16string& path);

// Calls onEnd when the calling thread ends (Windows: the library entry point's thread detach
// does it, so this does nothing). The hook is set up on the first call of each thread and
// removed for every thread by releaseThreadEndHooks (before the library is unloaded).
void armThreadEndHook(void (*onEnd)());
void releaseThreadEndHooks();

}  // namespace tavrin::platform::bridge

namespace tavrin::bridge::entry {
// What the bridge does when the system loads it into a process, when one of the process's
// threads ends (Windows) and when it leaves the process; the bridge defines them, the backends'
// entry points call them.
void processAttach();
void threadDetach();
void processDetach();
}  // namespace tavrin::bridge::entry
