// The public header as a C++ program sees it, built once per C++ standard from C++11 on: the
// records keep their natural layout under a packing the includer set, the export list gives a
// function table whose entries have the exports' exact types, TAVRIN_TEXT gives literals of the
// interface's text type, and the exports link and answer.
#include <cstdio>
#include <cstring>
#include <type_traits>

#pragma pack(push, 2)
#include "tavrin/tavrin.h"
#pragma pack(pop)

namespace {

constexpr std::size_t kPointer = sizeof(void*);
static_assert(sizeof(_DEVOPEN_INFO) == (kPointer == 8 ? 24 : 16), "open record size");
static_assert(offsetof(_DEVOPEN_INFO, readTimeout) == kPointer, "open record readTimeout");
static_assert(offsetof(_DEVOPEN_INFO, writeTimeout) == kPointer + 4, "open record writeTimeout");
static_assert(offsetof(_DEVOPEN_INFO, portType) == kPointer + 8, "open record portType");
static_assert(offsetof(_DEVOPEN_INFO, portMode) == kPointer + 10, "open record portMode");
static_assert(sizeof(_DEVACK_INFO) == (kPointer == 8 ? 16 : 12), "answer record size");
static_assert(offsetof(_DEVACK_INFO, bufLen) == kPointer, "answer record bufLen");
static_assert(offsetof(_DEVACK_INFO, datLen) == kPointer + 2, "answer record datLen");
static_assert(offsetof(_DEVACK_INFO, ackCode) == kPointer + 4, "answer record ackCode");
static_assert(sizeof(tavrin_wchar_t) == 2, "UTF-16 text");
static_assert(std::is_same<std::remove_reference<decltype(TAVRIN_TEXT("x")[0])>::type, const tavrin_wchar_t>::value,
              "TAVRIN_TEXT gives a literal of tavrin_wchar_t");
static_assert(sizeof(TAVRIN_TEXT("CTRL")) == 5 * sizeof(tavrin_wchar_t), "TAVRIN_TEXT keeps the characters");
static_assert(TAVRIN_VERSION ==
                  TAVRIN_VERSION_MAJOR * 10000L + TAVRIN_VERSION_MINOR * 100L + TAVRIN_VERSION_PATCH,
              "one version number");

// Each entry's types are those of the declared function.
#define TAVRIN_FUNCTION(name, bytes, result, parameters)                                            \
    static_assert(std::is_same<result(TAVRIN_API*) parameters, decltype(&dllFunc_##name)>::value,     \
                  "type of dllFunc_" #name);
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION

struct Functions {
#define TAVRIN_FUNCTION(name, bytes, result, parameters) result(TAVRIN_API* name) parameters;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
};

int failures = 0;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

bool sameText(const tavrin_wchar_t* a, const tavrin_wchar_t* b) {
    if (a == nullptr) return false;
    for (; *b != 0; ++a, ++b) {
        if (*a != *b) return false;
    }
    return *a == 0;
}

}  // namespace

int main() {
    Functions api;
    std::size_t count = 0;
#define TAVRIN_FUNCTION(name, bytes, result, parameters) api.name = &dllFunc_##name; ++count;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
    expect(count >= 12, "the export list names the functions");

    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d", TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR,
                  TAVRIN_VERSION_PATCH);
    expect(std::strcmp(version, TAVRIN_VERSION_STRING) == 0, "TAVRIN_VERSION_STRING is major.minor.patch");

    uint16_t code = 0xFFFF;
    expect(sameText(api.EnumProtoCode(24, &code), TAVRIN_TEXT("CTRL_DEVCMD_ST")) && code == 0x80,
           "the last row of the command names");
    expect(api.EnumProtoCode(25, &code) == nullptr && code == 0x80, "past the end of the command names");

    _DEVOPEN_INFO info{};
    info.portType = 0x0303;
    info.portMode = MODE_DATA;
    expect(api.OpenDev(&info) == -1, "an open of an unknown port type");
    expect(api.CloseDev(10) == 0, "closing no device");

    if (failures == 0) std::printf("header and exports from C++ (%ld): passed\n", static_cast<long>(__cplusplus));
    return failures == 0 ? 0 : 1;
}
