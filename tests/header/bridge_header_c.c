/* The bridge's public header as a C program sees it, from C89 on: the functions callable from C
 * are declared (those with C++ containers are not), the export list gives a function table whose
 * entries take the functions without a cast, and the bridge links, loads the device library
 * beside it and answers. */
#include <stdio.h>

#include "tavrin/bridge.h"
#include "c_checks.h"

struct bridge_functions {
#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters) int32_t(TAVRIN_API* name) parameters;
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters)
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
};

int main(void) {
    struct bridge_functions de;
    size_t count = 0;
    const tavrin_wchar_t* name = NULL;
    uint16_t code = 0xFFFF;
    uint16_t devices = 7;
    uint32_t size = 16;
    tavrin_wchar_t paths[16];
    int32_t handle = 5;

#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters) de.name = DE##name; ++count;
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters)
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
    expect(count >= 10, "the export list names the functions callable from C");

    expect(de.EnumProtoCode(&name, 1, &code) == DE_OK && sameText(name, "CTRL_CMDGET_MODEL") && code == 0x01,
           "row 1 of the command names through the bridge");
    expect(de.EnumDevPath(&devices, 0x0999, paths, &size, 0, 0) == DE_ERR_PORTTYPE, "an unknown port type");
    expect(de.OpenDev(&handle, NULL, 0, 0, PORT_NET_DATA, MODE_DATA) == DE_ERR_PARAM && handle == 5,
           "an open without a path");
    expect(de.CloseDev(-1) == DE_ERR_DEVICE, "closing no device");

    if (failures == 0) printf("bridge header and exports from C: passed\n");
    return failures == 0 ? 0 : 1;
}
