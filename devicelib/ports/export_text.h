// The library's texts are char16_t inside and tavrin_wchar_t at its exports (wchar_t on Windows,
// where both are UTF-16 code units of the same size).
#pragma once

#include "tavrin/tavrin.h"

namespace tavrin {

static_assert(sizeof(tavrin_wchar_t) == sizeof(char16_t), "export text must be UTF-16");

inline const char16_t* fromExport(const tavrin_wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}
inline const tavrin_wchar_t* toExport(const char16_t* text) {
    return reinterpret_cast<const tavrin_wchar_t*>(text);
}

}  // namespace tavrin
