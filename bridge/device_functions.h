// The device function table of the bridge: one entry per export of the device library, filled
// once when the bridge is loaded and only read afterwards. Every DE* function and the trace log
// reach the device library through it.
#pragma once

#include <cstdint>
#include <string>

#include "tavrin/tavrin.h"

namespace tavrin::bridge {

struct DeviceFunctions {
#define TAVRIN_FUNCTION(name, bytes, result, parameters) result(TAVRIN_API* name) parameters = nullptr;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
};

// What binding needs of the system: loading a library by file name, looking up its functions and
// showing a message. The bridge uses the platform's; tests put their own in.
class BindingServices {
public:
    virtual ~BindingServices() = default;
    virtual bool load(const std::string& file) = 0;
    virtual void* lookup(const char* name) = 0;
    virtual void messageWide(const std::u16string& text, const std::u16string& caption) = 0;
    virtual void messageNarrow(const std::string& text, const std::string& caption) = 0;
};

// Outcomes of bindDeviceLibrary.
enum BindResult : std::int32_t { kBound = 0, kLibraryMissing = 1, kExportMissing = 2 };

// Loads the device library by file name and looks up all its exports into table: every lookup is
// made before any result is tested; one message tells a missing library or a missing export.
std::int32_t bindDeviceLibrary(const std::string& file, BindingServices& services, DeviceFunctions& table);

// The process-wide table (all null until the bridge is attached and after a failed binding).
const DeviceFunctions& deviceFunctions();
// Binds the process-wide table to the device library beside the bridge (process attach).
std::int32_t BindDeviceLibrary();
// Binds the process-wide table through other services (tests of the portable library).
std::int32_t bindProcessTable(const std::string& file, BindingServices& services);

}  // namespace tavrin::bridge
