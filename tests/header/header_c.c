/* The public header as a C program sees it, built once per C standard from C89 on (with the
 * standard's strict settings). The records must keep their natural layout although this file
 * asks for byte packing around the include, the export list must give a function table whose
 * entries take the functions without a cast, and the exports must link and answer. */
#include <stdio.h>
#include <string.h>

#pragma pack(push, 1)
#include "tavrin/tavrin.h"
#pragma pack(pop)
#include "c_checks.h"

/* A compile-time check that C89 can express: an array of negative size does not compile. */
#define LAYOUT_CHECK(name, condition) typedef char name[(condition) ? 1 : -1]
#define POINTER_SIZE sizeof(void*)
LAYOUT_CHECK(open_record_size, sizeof(_DEVOPEN_INFO) == (POINTER_SIZE == 8 ? 24 : 16));
LAYOUT_CHECK(open_record_timeouts, offsetof(_DEVOPEN_INFO, readTimeout) == POINTER_SIZE &&
                                       offsetof(_DEVOPEN_INFO, writeTimeout) == POINTER_SIZE + 4);
LAYOUT_CHECK(open_record_port, offsetof(_DEVOPEN_INFO, portType) == POINTER_SIZE + 8 &&
                                   offsetof(_DEVOPEN_INFO, portMode) == POINTER_SIZE + 10);
LAYOUT_CHECK(answer_record_size, sizeof(_DEVACK_INFO) == (POINTER_SIZE == 8 ? 16 : 12));
LAYOUT_CHECK(answer_record_fields, offsetof(_DEVACK_INFO, bufLen) == POINTER_SIZE &&
                                       offsetof(_DEVACK_INFO, datLen) == POINTER_SIZE + 2 &&
                                       offsetof(_DEVACK_INFO, ackCode) == POINTER_SIZE + 4);
LAYOUT_CHECK(wide_char_size, sizeof(tavrin_wchar_t) == 2);
LAYOUT_CHECK(version_number, TAVRIN_VERSION == TAVRIN_VERSION_MAJOR * 10000L + TAVRIN_VERSION_MINOR * 100L +
                                                   TAVRIN_VERSION_PATCH);

/* One pointer per export, as a program that binds the library at run time declares them. */
struct functions {
#define TAVRIN_FUNCTION(name, bytes, result, parameters) result(TAVRIN_API* name) parameters;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
};

int main(void) {
    struct functions api;
    char version[32];
    uint16_t code = 0xFFFF;
    _DEVOPEN_INFO info;
    const tavrin_wchar_t* name;
    size_t count = 0;
#ifdef __STDC_VERSION__
    const long standard = (long)__STDC_VERSION__;
#else
    const long standard = 198900L;
#endif

#define TAVRIN_FUNCTION(name, bytes, result, parameters) api.name = dllFunc_##name; ++count;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
    expect(count >= 12, "the export list names the functions");

    sprintf(version, "%d.%d.%d", TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR, TAVRIN_VERSION_PATCH);
    expect(strcmp(version, TAVRIN_VERSION_STRING) == 0, "TAVRIN_VERSION_STRING is major.minor.patch");

    name = api.EnumProtoCode(1, &code);
    expect(sameText(name, "CTRL_CMDGET_MODEL") && code == 0x01, "row 1 of the command names");
#if defined(_WIN32) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
    {
        static const tavrin_wchar_t model[] = TAVRIN_TEXT("CTRL_CMDGET_MODEL");
        expect(sizeof(model) == 18 * sizeof(tavrin_wchar_t) && sameText(model, "CTRL_CMDGET_MODEL"),
               "TAVRIN_TEXT gives a UTF-16 literal");
    }
#endif
    expect(api.EnumProtoCode(25, &code) == NULL && code == 0x01, "past the end of the command names");

    memset(&info, 0, sizeof info);
    info.portType = PORT_NET_DATA;
    info.portMode = 0x0004;
    expect(dllFunc_OpenDev(&info) == -1, "an open without a port to open");
    expect(dllFunc_CloseDev(-1) == 0, "closing no device");
    expect(dllFunc_GetDevHandle(9, TAVRIN_SELECT_DATA) == -1, "the handle of no device");

    if (failures == 0) printf("header and exports from C (%ld): passed\n", standard);
    return failures == 0 ? 0 : 1;
}
