// Binding the device library: loaded by bare file name when the bridge is attached, never
// unloaded; its exports looked up by name in one table.
#include "bridge/device_functions.h"

#include <cstddef>
#include <string_view>

#include "platform/bridge_services.h"
#include "platform/dynamic_library.h"

#ifndef TAVRIN_DEVICE_LIBRARY_FILE
#error "TAVRIN_DEVICE_LIBRARY_FILE must name the device library's file"
#endif

namespace tavrin::bridge {
namespace {

// The lookups in the order the bridge makes them (names without "dllFunc_").
constexpr std::string_view kBindingOrder[] = {
    "EnumDevPath", "EnumProtoCode", "OpenDev",      "DevIoCtrl", "Write",      "Read",          "CloseDev",
    "GetDevHandle", "OpenLog",      "SetLogRecord", "CloseLog",  "GetLogRecord", "OpenDfu",     "CloseDfu",
    "fwInfo",       "DFUStart",     "LoadDevCfg",   "GetDevCfgInfo", "SetDevCfgInfo"};

// One entry of the table: its name and how to store a looked-up address in it.
struct Slot {
    std::string_view name;
    void (*store)(DeviceFunctions&, void*);
};

constexpr Slot kSlots[] = {
#define TAVRIN_FUNCTION(name, bytes, result, parameters)                                                 \
    {#name, [](DeviceFunctions& t, void* p) { t.name = reinterpret_cast<decltype(t.name)>(p); }},
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
};

constexpr bool everyExportInOrder() {
    if (std::size(kSlots) != std::size(kBindingOrder)) return false;
    for (const Slot& s : kSlots) {
        bool found = false;
        for (std::string_view n : kBindingOrder) found = found || n == s.name;
        if (!found) return false;
    }
    return true;
}
static_assert(everyExportInOrder(), "the binding order names every export of the device library once");

constexpr const Slot& slotOf(std::string_view name) {
    for (const Slot& s : kSlots)
        if (s.name == name) return s;
    return kSlots[0];
}

DeviceFunctions& table() {
    static DeviceFunctions functions;
    return functions;
}

class PlatformBinding final : public BindingServices {
public:
    // The device library beside the bridge first: a program that loads the bridge from another
    // folder (a browser loading the control) would look for the bare name only in its own
    // folder, the system's and the current directory. Then the bare name, the system's way.
    bool load(const std::string& file) override {
        const std::string folder = platform::bridge::ownModuleFolder();
        if ((folder.empty() || !library_.open(folder + file)) && !library_.open(file)) return false;
        module_ = &library_;
        return true;
    }
    void* lookup(const char* name) override { return module_ != nullptr ? module_->symbol(name) : nullptr; }
    void messageWide(const std::u16string& text, const std::u16string& caption) override {
        platform::bridge::showMessageWide(text, caption);
    }
    void messageNarrow(const std::string& text, const std::string& caption) override {
        platform::bridge::showMessageNarrow(text, caption);
    }
    // The device library stays loaded for the rest of the process.
    ~PlatformBinding() override { library_.release(); }

private:
    platform::DynamicLibrary library_;
    platform::DynamicLibrary* module_ = nullptr;
};

}  // namespace

std::int32_t bindDeviceLibrary(const std::string& file, BindingServices& services, DeviceFunctions& functions) {
    if (!services.load(file)) {
        services.messageWide(u"加载Tavrin.dll失败", u"tip");
        return kLibraryMissing;
    }
    void* found[std::size(kBindingOrder)] = {};
    for (std::size_t i = 0; i < std::size(kBindingOrder); ++i) {
        const std::string name = "dllFunc_" + std::string(kBindingOrder[i]);
        found[i] = services.lookup(name.c_str());
        slotOf(kBindingOrder[i]).store(functions, found[i]);
    }
    for (void* address : found) {
        if (address == nullptr) {
            services.messageNarrow(platform::bridge::toNarrowText(u"获取函数地址失败"), "tip");
            return kExportMissing;
        }
    }
    return kBound;
}

const DeviceFunctions& deviceFunctions() { return table(); }

std::int32_t BindDeviceLibrary() {
    PlatformBinding binding;
    return bindDeviceLibrary(TAVRIN_DEVICE_LIBRARY_FILE, binding, table());
}

std::int32_t bindProcessTable(const std::string& file, BindingServices& services) {
    table() = DeviceFunctions{};
    return bindDeviceLibrary(file, services, table());
}

}  // namespace tavrin::bridge
