/*
 * Tavrin device library: the public interface.
 *
 * Plain C functions that return status numbers. Every text that crosses this interface is UTF-16
 * (tavrin_wchar_t: wchar_t on Windows, char16_t elsewhere); the device's own answers are bytes.
 * A device handle is a small integer 0..9 (-1 means none); only its low 16 bits are looked at.
 *
 * Include from C (C11 for char16_t) or C++. On Windows the functions use __stdcall and are exported
 * under their plain names; load the library by name ("Tavrin.dll" / "libTavrin.so") or link to it.
 */
#ifndef TAVRIN_TAVRIN_H
#define TAVRIN_TAVRIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TAVRIN_API __stdcall
typedef wchar_t tavrin_wchar_t;
#else
#define TAVRIN_API
#ifdef __cplusplus
typedef char16_t tavrin_wchar_t;
#else
#include <uchar.h>
typedef char16_t tavrin_wchar_t;
#endif
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

/* Device paths of a port type: each path with its terminator, then an empty string. *size is the
 * buffer's capacity in characters on entry and the characters needed on return. For PORT_NET_*
 * (and 0x400) vid is the UDP port of the search; the paths are "a.b.c.d:port". Returns the
 * number of paths written. */
TAVRIN_EXPORT uint32_t TAVRIN_API dllFunc_EnumDevPath(uint16_t portType, tavrin_wchar_t* buffer,
                                                      uint32_t* size, uint32_t vid, uint32_t pid);

/* Devices and raw transfers. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_OpenDev(const _DEVOPEN_INFO* info);
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_CloseDev(int32_t hDev);
TAVRIN_EXPORT tavrin_os_handle_t TAVRIN_API dllFunc_GetDevHandle(int32_t hDev, uint32_t selector);
/* Raw transfers on the data port. overlapped: null, or on Windows the caller's LPOVERLAPPED.
 * - null: the call waits for the transfer, up to the device's time-out (a write: four of them).
 * - Windows, a block with an event of its own (hEvent): on a USB printer port the transfer is
 *   started on the block; when it does not complete at once the call returns 0 at once, and a
 *   transfer that started stays pending on the block (its event is set when it ends; then
 *   GetOverlappedResult on dllFunc_GetDevHandle(hDev, 1) gives its count; block and buffer must
 *   live until then). On a network port the call waits as with null and the transfer sets hEvent.
 * - Windows, a block without an event: the call fails (0).
 * - other systems: the argument is ignored; any value gives the result of null.
 * Every call of the same kind gives the same result, the first one included. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_Write(int32_t hDev, const void* data, uint32_t length,
                                               uint32_t* written, void* overlapped);
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_Read(int32_t hDev, void* buffer, uint32_t length,
                                              uint32_t* read, void* overlapped);

/* Command exchanges on the control port. name: a command name of dllFunc_EnumProtoCode, or
 * "TAVR_DUMP" to write data unframed and (when answer->lpBuf is given) read once into lpBuf.
 * "CTRL_DEVCMD_ST" takes the device command 0x80..0x9F as the first data byte. A device busy with
 * another exchange fails at once (0). */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_DevIoCtrl(int32_t hDev, const tavrin_wchar_t* name,
                                                   const uint8_t* data, uint32_t length,
                                                   _DEVACK_INFO* answer);
/* The command name of a row of the command name table (index 0..24) and its code; null past the
 * end (code left alone). The text belongs to the library. */
TAVRIN_EXPORT const tavrin_wchar_t* TAVRIN_API dllFunc_EnumProtoCode(uint16_t index, uint16_t* code);

/* The library log. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_OpenLog(const tavrin_wchar_t* path);
/* The result carries no meaning. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_SetLogRecord(const tavrin_wchar_t* text, int32_t newLine,
                                                      int32_t timeStamp, int32_t flush);
/* Points into the library's record buffer: copy the text before logging again. */
TAVRIN_EXPORT const tavrin_wchar_t* TAVRIN_API dllFunc_GetLogRecord(uint32_t* count, int32_t reset);
TAVRIN_EXPORT void TAVRIN_API dllFunc_CloseLog(void);

#ifdef __cplusplus
}
#endif

#endif /* TAVRIN_TAVRIN_H */
