// Binding the bridge library by name at run time, as the browser control and the local device
// service do: the library is looked for in the caller's own folder first (never only relative to
// the process's current directory, where another program may have put a library of that name),
// then by its plain name.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "tavrinocx/control_methods.h"

namespace tavrin::ocx {

class BridgeBinding {
public:
    // ownFolder: the folder of the module that binds (narrow, the system's encoding), or empty.
    // True when the library was loaded; entries it lacks stay null.
    bool bind(const std::string& ownFolder);
    bool bound() const { return library_.isOpen(); }
    const BridgeEntries& entries() const { return entries_; }

private:
    platform::DynamicLibrary library_;
    BridgeEntries entries_;
};

}  // namespace tavrin::ocx
