// The built bridge as the browser control binds it: once for the program, from its own folder
// (TAVRIN_BRIDGE_FOLDER, given by the build); it keeps the device library loaded.
#pragma once

#include "tavrinocx/bridge_binding.h"

#ifndef TAVRIN_BRIDGE_FOLDER
#error "TAVRIN_BRIDGE_FOLDER must name the bridge's folder"
#endif

namespace tavrin::test {

inline const ocx::BridgeBinding& binding() {
    static ocx::BridgeBinding b;
    static const bool bound = b.bind(TAVRIN_BRIDGE_FOLDER);
    (void)bound;
    return b;
}

}  // namespace tavrin::test
