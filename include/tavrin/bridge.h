/*
 * TavrinDll, the bridge library: plain functions DE* over the device library Tavrin, with the
 * bridge's return codes. The bridge loads the device library by file name when it is loaded
 * itself ("Tavrin.dll" on Windows, "libTavrin.so.<major>" on Linux, found beside the bridge) and
 * reaches it only through the functions it looked up then. Link with the bridge (Windows:
 * libTavrinDll.dll.a; Linux: -lTavrinDll) or load it at run time and look the functions up by
 * their plain names.
 *
 * Texts: paths, command names and configuration texts are wide (Windows wchar_t, elsewhere
 * UTF-16 char16_t); a device's answers and the connect password are bytes.
 */
#ifndef TAVRIN_BRIDGE_H
#define TAVRIN_BRIDGE_H

#include "tavrin.h"

#ifdef __cplusplus
#include <map>
#include <string>
#include <vector>
#endif

/* Return codes of every DE* function. */
#define DE_OK 0
#define DE_ERR_BUFSIZE 0x10000001
#define DE_ERR_PARAM 0x10000002
#define DE_ERR_PORTTYPE 0x10000005
#define DE_ERR_DEVICE 0x20000000

#if defined(_WIN32) || !defined(TAVRIN_BUILDING_BRIDGE)
#define TAVRIN_BRIDGE_EXPORT
#else
#define TAVRIN_BRIDGE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
/* The wide string of the target: std::wstring on Windows, std::u16string elsewhere. */
typedef std::basic_string<tavrin_wchar_t> tavrin_bridge_text;
typedef std::map<tavrin_bridge_text, tavrin_bridge_text> tavrin_bridge_text_map;
typedef std::vector<tavrin_bridge_text> tavrin_bridge_text_list;
#define TAVRIN_BRIDGE_REF(type) type&
extern "C" {
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters) TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DE##name parameters;
#else
#define TAVRIN_BRIDGE_REF(type) type*
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters)
#endif

#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters) TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DE##name parameters;
#include "bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION

#ifdef __cplusplus
}
#endif

#endif /* TAVRIN_BRIDGE_H */
