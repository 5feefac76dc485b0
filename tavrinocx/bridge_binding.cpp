// Binding the bridge library: its file in the binder's own folder first, then its plain name
// (Windows: ".\TavrinDll.dll", relative to the current directory; elsewhere: the soname, looked
// for the system's way), and every function of the export list looked up by its name.
#include "tavrinocx/bridge_binding.h"

#ifndef TAVRIN_BRIDGE_LIBRARY_FILE
#error "TAVRIN_BRIDGE_LIBRARY_FILE must name the bridge library's file"
#endif
#ifndef TAVRIN_BRIDGE_LIBRARY_FALLBACK
#error "TAVRIN_BRIDGE_LIBRARY_FALLBACK must name the bridge library when it is not in the binder's folder"
#endif

namespace tavrin::ocx {
namespace {

bool endsWithSeparator(const std::string& folder) {
    const char last = folder.back();
#ifdef _WIN32
    return last == '\\' || last == '/';
#else
    return last == '/';
#endif
}

}  // namespace

bool BridgeBinding::bind(const std::string& ownFolder) {
    entries_ = BridgeEntries{};
    library_.close();
    if (!ownFolder.empty()) {
#ifdef _WIN32
        const char* separator = "\\";
#else
        const char* separator = "/";
#endif
        library_.open(ownFolder + (endsWithSeparator(ownFolder) ? "" : separator) + TAVRIN_BRIDGE_LIBRARY_FILE);
    }
    if (!library_.isOpen()) library_.open(TAVRIN_BRIDGE_LIBRARY_FALLBACK);
    if (!library_.isOpen()) return false;
#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters)                                                          \
    entries_.name = reinterpret_cast<decltype(entries_.name)>(library_.symbol("DE" #name));
#define TAVRIN_BRIDGE_CXX_FUNCTION TAVRIN_BRIDGE_FUNCTION
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
    return true;
}

}  // namespace tavrin::ocx
