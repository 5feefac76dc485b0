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
/* overlapped: an LPOVERLAPPED on Windows, or null; elsewhere pass null. */
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

/* Device configuration: one model in the library, shared by every device and caller. A
 * description (XML) names the items; the configuration packet holds their values. hDev -1 stands
 * for no device: the description comes from a file and the packet from and to "devCfg.dat" in the
 * user data folder. Configuration calls must not run at the same time: one that finds another
 * running returns 0 at once.
 *
 * dllFunc_LoadDevCfg: the description from the device, or (hDev -1) from path, or with a null path
 * from "devCfg.xml" in the user data folder. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_LoadDevCfg(int32_t hDev, const tavrin_wchar_t* path);
/* An item's description line (byName 0, key points to a uint16_t index: "Name=..,Type=..,..\r\n")
 * or its value (byName non-zero, key is the item's name) as text. Unless noRefresh is set the
 * packet is read again first (from the device or "devCfg.dat"). *size: the buffer's capacity in
 * characters on entry; the characters written (no terminator) or, when 0 is returned for want of
 * room, the characters to provide. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_GetDevCfgInfo(int32_t hDev, const void* key, tavrin_wchar_t* buffer,
                                                       uint16_t* size, uint16_t byName, uint16_t noRefresh);
/* Sets the named item's value (numbers and selections in decimal; a text item takes the text,
 * hexadecimal digits when its Tag has bit 1). With write set the packet goes to the device (or
 * "devCfg.dat") as well; a packet must have been read before. reserved: pass 0. A name that
 * matches no item changes nothing. */
TAVRIN_EXPORT int32_t TAVRIN_API dllFunc_SetDevCfgInfo(int32_t hDev, const tavrin_wchar_t* name,
                                                       const tavrin_wchar_t* value, int32_t reserved, uint16_t write);

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
