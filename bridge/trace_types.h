// The type names the trace log shows for parameters, in the forms of the Microsoft compiler's
// type information ("unsigned int", "wchar_t const *", "char * __ptr64" in 64-bit builds), made
// from the declared type at compile time so that every compiler writes the same names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "tavrin/tavrin.h"

namespace tavrin::bridge {

template <typename T>
struct TraceBaseName {
    static constexpr const char* value = "(unnamed type)";
};
#define TAVRIN_TRACE_NAME(type, text)                                                                  \
    template <>                                                                                        \
    struct TraceBaseName<type> {                                                                       \
        static constexpr const char* value = text;                                                     \
    };
TAVRIN_TRACE_NAME(bool, "bool")
TAVRIN_TRACE_NAME(char, "char")
TAVRIN_TRACE_NAME(signed char, "signed char")
TAVRIN_TRACE_NAME(unsigned char, "unsigned char")
TAVRIN_TRACE_NAME(short, "short")
TAVRIN_TRACE_NAME(unsigned short, "unsigned short")
TAVRIN_TRACE_NAME(int, "int")
TAVRIN_TRACE_NAME(unsigned int, "unsigned int")
TAVRIN_TRACE_NAME(float, "float")
TAVRIN_TRACE_NAME(double, "double")
TAVRIN_TRACE_NAME(void, "void")
// The platform's wide character is the one the device library's texts use.
TAVRIN_TRACE_NAME(tavrin_wchar_t, "wchar_t")
TAVRIN_TRACE_NAME(_DEVACK_INFO, "struct _DEVACK_INFO")
TAVRIN_TRACE_NAME(_DEVOPEN_INFO, "struct _DEVOPEN_INFO")
using TraceTextMap = std::map<std::basic_string<tavrin_wchar_t>, std::basic_string<tavrin_wchar_t>>;
using TraceTextList = std::vector<std::basic_string<tavrin_wchar_t>>;
TAVRIN_TRACE_NAME(TraceTextMap, "class std::map<class std::basic_string<wchar_t>,class std::basic_string<wchar_t> >")
TAVRIN_TRACE_NAME(TraceTextList, "class std::vector<class std::basic_string<wchar_t> >")
#undef TAVRIN_TRACE_NAME

// The name of a declared type; a reference takes the name of the type it refers to.
template <typename T>
std::string traceTypeName() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_pointer_v<U>) {
        using P = std::remove_pointer_t<U>;
        std::string name = traceTypeName<std::remove_cv_t<P>>();
        if (std::is_const_v<P>) name += " const";
        name += " *";
        if (sizeof(void*) == 8) name += " __ptr64";
        return name;
    } else {
        return TraceBaseName<U>::value;
    }
}

}  // namespace tavrin::bridge
