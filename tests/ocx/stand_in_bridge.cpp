// A library under the bridge's file name that is not the bridge: it has one of the bridge's
// functions, which answers a code of its own, so a test can tell which library was bound.
#include <cstdint>

#include "tavrin/tavrin.h"

#ifdef _WIN32
#define STAND_IN_EXPORT __declspec(dllexport)
#else
#define STAND_IN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" STAND_IN_EXPORT std::int32_t TAVRIN_API DEEnumProtoCode(const tavrin_wchar_t*& szDesc, std::uint16_t,
                                                                    std::uint16_t&) {
    szDesc = nullptr;
    return 0x7777;
}
