/*
 * Tavrin device library: the public interface.
 *
 * Plain C functions that return status numbers. Every text that crosses this interface is UTF-16
 * (tavrin_wchar_t: wchar_t on Windows, char16_t elsewhere; TAVRIN_TEXT("...") writes a literal of
 * that type); the device's own answers are bytes. A device handle is a small integer 0..9 (-1 means
 * none); only its low 16 bits are looked at.
 *
 * Include from C (C89 and later; TAVRIN_TEXT needs C11 outside Windows) or C++ (C++11 and later).
 * On Windows the functions use __stdcall and are exported under their plain names; link to the
 * library (-lTavrin; on Windows the import library libTavrin.dll.a) or load it by name
 * ("Tavrin.dll", "libTavrin.so.<major version>") and look the functions up: tavrin_exports.h lists
 * them. The records below are
 * laid out with the compiler's natural alignment, whatever packing the includer has set.
 */
#ifndef TAVRIN_TAVRIN_H
#define TAVRIN_TAVRIN_H

#include <stddef.h>
#include <stdint.h>

/* The version of this interface and of the library built from it. */
#define TAVRIN_VERSION_MAJOR 0
#define TAVRIN_VERSION_MINOR 1
#define TAVRIN_VERSION_PATCH 0
/* One number for comparisons: major * 10000 + minor * 100 + patch. */
#define TAVRIN_VERSION (TAVRIN_VERSION_MAJOR * 10000L + TAVRIN_VERSION_MINOR * 100L + TAVRIN_VERSION_PATCH)
#define TAVRIN_STRINGIZE_(x) #x
#define TAVRIN_STRINGIZE(x) TAVRIN_STRINGIZE_(x)
/* "major.minor.patch" */
#define TAVRIN_VERSION_STRING                                                                      \
    TAVRIN_STRINGIZE(TAVRIN_VERSION_MAJOR) "." TAVRIN_STRINGIZE(TAVRIN_VERSION_MINOR) "."          \
        TAVRIN_STRINGIZE(TAVRIN_VERSION_PATCH)

#if defined(_WIN32)
#define TAVRIN_API __stdcall
typedef wchar_t tavrin_wchar_t;
#define TAVRIN_TEXT(text) L##text
#else
#define TAVRIN_API
#if defined(__cplusplus)
typedef char16_t tavrin_wchar_t;
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#include <uchar.h>
typedef char16_t tavrin_wchar_t;
#else
/* Before C11 there is no char16_t; it is this type in C11. */
typedef uint_least16_t tavrin_wchar_t;
#endif
/* A UTF-16 literal (C11, C++11). */
#define TAVRIN_TEXT(text) u##text
#endif

#if defined(TAVRIN_BUILDING_LIBRARY) && !defined(_WIN32)
#define TAVRIN_EXPORT __attribute__((visibility("default")))
#else
#define TAVRIN_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Port types (16-bit): high byte the transport, low byte the role. */
#define PORT_USBPRN 0x0301u   /* USB printer-class interface, the data port */
#define PORT_HID 0x0302u      /* USB HID interface of the same device, the control port */
#define PORT_NET_DATA 0x0401u /* TCP data connection */
#define PORT_NET_CTRL 0x0402u /* TCP control connection */

/* Port mode bits (16-bit): which ports dllFunc_OpenDev opens. */
#define MODE_DATA 0x0001u
#define MODE_CTRL 0x0002u

/* Selector of dllFunc_GetDevHandle (low byte). */
#define TAVRIN_SELECT_CTRL 0u
#define TAVRIN_SELECT_DATA 1u

/* The records that cross the interface keep the natural layout of the platform's compilers. */
#pragma pack(push, 8)

/* The operating-system handle of an open port: a HANDLE on Windows, a file descriptor elsewhere;
 * -1 when there is none. */
typedef intptr_t tavrin_os_handle_t;

/* The open record of dllFunc_OpenDev. The library works on a private copy. */
typedef struct _DEVOPEN_INFO {
    const tavrin_wchar_t* path; /* device path as the enumeration gives it */
    int32_t readTimeout;        /* ms; below 1: the setting ReadTimeout */
    int32_t writeTimeout;       /* ms; below 1: the setting WriteTimeout */
    uint16_t portType;          /* PORT_* of the path */
    uint16_t portMode;          /* MODE_DATA | MODE_CTRL */
} _DEVOPEN_INFO;

/* The answer record of a command exchange: owned by the caller, filled by the library. */
typedef struct _DEVACK_INFO {
    uint8_t* lpBuf;  /* the caller's buffer for the answer data; may be null */
    uint16_t bufLen; /* size of lpBuf in bytes (in) */
    uint16_t datLen; /* length of the answer data (out) */
    uint8_t ackCode; /* the device's acknowledge code (out); 0 when the reply carried data */
} _DEVACK_INFO;

#pragma pack(pop)

/* Firmware update (dllFunc_OpenDfu ... dllFunc_DFUStart). Progress and steps reach the caller as
 * WM_DFU_NOTIFY notifications, with wParam DFU_NOTIFY_TEXT (a text line was added to the log
 * record; lParam the device handle; only while the library log is open) or DFU_NOTIFY_PROGRESS +
 * percent (0..100; lParam 0). */
#define WM_DFU_NOTIFY 0x0500u
#define DFU_NOTIFY_TEXT 0x10000u
#define DFU_NOTIFY_PROGRESS 0x20000u
/* Option bit of dllFunc_DFUStart: restart the device after a successful update. */
#define DFU_OPTION_RESTART 0x1u

/* The information fields of an open firmware file (dllFunc_fwInfo), 42 bytes. */
typedef struct _FW_INFO {
    uint8_t magic[4];  /* "udf1" */
    uint8_t zero1;
    uint8_t fieldA[4]; /* header bytes 24..27 */
    uint8_t fieldB[32]; /* header bytes 39..70 */
    uint8_t zero2;
} _FW_INFO;

#if !defined(_WIN32)
/* Outside Windows there are no windows: the window argument of dllFunc_OpenDfu is a pointer to
 * this record (or null), owned by the caller and kept alive until dllFunc_CloseDfu or the close of
 * the device. The library calls notify(context, wParam, lParam) with the values a WM_DFU_NOTIFY
 * message would carry, on the update's own thread (the progress of the update, the text lines),
 * or on the thread calling dllFunc_DFUStart (the lines of the update start). The callback must
 * return soon and must not call dllFunc_CloseDfu or dllFunc_CloseDev itself. */
typedef struct _DFU_NOTIFY {
    void (*notify)(void* context, uint32_t wParam, intptr_t lParam);
    void* context;
} _DFU_NOTIFY;
#endif


/* The exported functions, each with what it returns and what it logs: tavrin_exports.h. */
#define TAVRIN_FUNCTION(name, bytes, result, parameters) TAVRIN_EXPORT result TAVRIN_API dllFunc_##name parameters;
#include "tavrin_exports.h"
#undef TAVRIN_FUNCTION

#ifdef __cplusplus
}
#endif

#endif /* TAVRIN_TAVRIN_H */
