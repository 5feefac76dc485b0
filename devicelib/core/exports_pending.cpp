// Stand-ins for the configuration and firmware update exports until those are built: each one
// fails (0) and logs nothing, so that programs binding the whole export table find every entry.
#include "tavrin/tavrin.h"

extern "C" {

TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_LoadDevCfg(int32_t, const tavrin_wchar_t*) { return 0; }
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_GetDevCfgInfo(int32_t, const void*, tavrin_wchar_t*, uint16_t*, uint16_t,
                                                       uint16_t) {
    return 0;
}
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_SetDevCfgInfo(int32_t, const tavrin_wchar_t*, const tavrin_wchar_t*, int32_t,
                                                       uint16_t) {
    return 0;
}
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_OpenDfu(int32_t, const tavrin_wchar_t*, void*) { return 0; }
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_CloseDfu(int32_t) { return 0; }
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_fwInfo(int32_t, struct _FW_INFO*, int32_t) { return 0; }
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_DFUStart(int32_t, uint32_t) { return 0; }

}  // extern "C"
