/*
 * Tavrin device library: the list of its exported functions, in the order of the library's
 * export table. It is the one place that names them: tavrin.h declares them from it, the build
 * writes the Windows module-definition file and checks the built libraries against it, and
 * programs that bind the library at run time build their function tables from it.
 *
 * Each entry is
 *     TAVRIN_FUNCTION(name, stack bytes, result type, (parameters))
 * for the export dllFunc_<name>; "stack bytes" is what a 32-bit __stdcall caller pushes for the
 * parameters (the decoration "_dllFunc_<name>@bytes" of the 32-bit Windows symbol). An entry
 * starts on a line of its own with its name and stack bytes on that line. Define TAVRIN_FUNCTION
 * before including this file; the file has no include guard, so that a program can expand the list
 * as often as it needs:
 *
 *     #define TAVRIN_FUNCTION(name, bytes, result, parameters) result (TAVRIN_API* name) parameters;
 *     struct tavrin_functions {  (one pointer per export: functions.OpenDev, ...)
 *     #include "tavrin/tavrin_exports.h"
 *     };
 *     #undef TAVRIN_FUNCTION
 *
 * The types are those of tavrin.h, which must be included first. Where a result is described as
 * 0 on failure, the library also writes the reason to its log (lines "TID(n)#function : text").
 */
#ifndef TAVRIN_FUNCTION
#error "define TAVRIN_FUNCTION(name, bytes, result, parameters) before including tavrin_exports.h"
#endif

/* dllFunc_EnumDevPath: device paths of a port type into buffer: each path with its terminator,
 * then an empty string. *size is the buffer's capacity in characters on entry and the
 * characters needed on return. For PORT_NET_* (and 0x400) vid is the UDP port of the search and
 * pid the wait after the last valid answer in ms (0: the setting DiscoveryTimeout, 2000 by
 * default; the whole search ends 10 s after its request at the latest), and the paths are
 * "a.b.c.d:port". For PORT_USBPRN and PORT_HID the attached interfaces are listed, filtered by vid
 * and pid (0 for either: the settings UsbVID / UsbPID; 0 there too: no filter). Returns the number
 * of paths written; a failed search logs the socket call that failed. */
TAVRIN_FUNCTION(EnumDevPath, 20, uint32_t,
                (uint16_t portType, tavrin_wchar_t* buffer, uint32_t* size, uint32_t vid, uint32_t pid))

/* dllFunc_EnumProtoCode: the command name of row index (0..24) of the command name table, *code
 * set to its command code; null past the end of the table (*code left alone). The text belongs
 * to the library. Logs nothing. */
TAVRIN_FUNCTION(EnumProtoCode, 8, const tavrin_wchar_t*, (uint16_t index, uint16_t* code))

/* dllFunc_OpenDev: opens the ports of info (copied; read and write time-outs below 1 take the
 * settings' values) and returns the device handle 0..9, the lowest free one, or -1. Logs the
 * success with the handle and, on failure, which port could not be opened, a port mode without
 * MODE_DATA or MODE_CTRL, or an unknown port type. */
TAVRIN_FUNCTION(OpenDev, 4, int32_t, (const _DEVOPEN_INFO* info))

/* dllFunc_CloseDev: closes the device: 1 when its slot was in use, else 0. Transfers still
 * running on it end with failure. Logs the close with the handle, in both cases. */
TAVRIN_FUNCTION(CloseDev, 4, int32_t, (int32_t hDev))

/* dllFunc_GetDevHandle: the operating-system handle of the device's data port (selector's low
 * byte non-zero) or control port (low byte 0); -1 for no such device, no such port or a port
 * that is not open. Logs nothing. */
TAVRIN_FUNCTION(GetDevHandle, 8, tavrin_os_handle_t, (int32_t hDev, uint32_t selector))

/* dllFunc_DevIoCtrl: a command exchange on the control port. name: a command name of
 * dllFunc_EnumProtoCode, or "TAVR_DUMP" to write data unframed and (when answer->lpBuf is
 * given) read once into lpBuf. "CTRL_DEVCMD_ST" takes the device command 0x80..0x9F as the
 * first data byte. Fills answer (datLen, ackCode and the data in lpBuf) and returns 1; 0 on
 * failure, and at once when the device is busy with another exchange. Logs the packet sent and
 * the reply, or the reason of a failure (unknown name, no such device, write or read failed,
 * answer buffer too small). */
TAVRIN_FUNCTION(DevIoCtrl, 20, int32_t,
                (int32_t hDev, const tavrin_wchar_t* name, const uint8_t* data, uint32_t length,
                 _DEVACK_INFO* answer))

/* dllFunc_Write: writes raw data to the data port, once, with the port's write time-out:
 * non-zero on success with *written set to the bytes taken, which may be fewer than length; 0
 * on failure, and at once while another read or write runs on the device. Logs an unknown device
 * and a time-out or failure of the transfer. overlapped: null, or on Windows the caller's
 * LPOVERLAPPED:
 * - null: the call waits for the transfer, up to the device's time-out (a write: four of them).
 * - Windows, a block with an event of its own (hEvent): on a USB printer port the transfer is
 *   started on the block; when it does not complete at once the call returns 0 at once, and a
 *   transfer that started stays pending on the block (its event is set when it ends; then
 *   GetOverlappedResult on dllFunc_GetDevHandle(hDev, 1) gives its count; block and buffer must
 *   live until then). On a network port the call waits as with null and the transfer sets hEvent.
 * - Windows, a block without an event: the call fails (0).
 * - other systems: the argument is ignored; any value gives the result of null.
 * Every call of the same kind gives the same result, the first one included. */
TAVRIN_FUNCTION(Write, 20, int32_t,
                (int32_t hDev, const void* data, uint32_t length, uint32_t* written, void* overlapped))

/* dllFunc_Read: reads raw data from the data port, once, with the port's read time-out:
 * non-zero on success with *read set to the bytes received; 0 on failure, and at once while
 * another read or write runs on the device. overlapped as for dllFunc_Write. Logs an unknown
 * device and a failed transfer. */
TAVRIN_FUNCTION(Read, 20, int32_t,
                (int32_t hDev, void* buffer, uint32_t length, uint32_t* read, void* overlapped))

/* Device configuration: one model in the library, shared by every device and caller. A
 * description (XML) names the items; the configuration packet holds their values. hDev -1 stands
 * for no device: the description comes from a file and the packet from and to "devCfg.dat" in the
 * user data folder. Configuration calls must not run at the same time: one that finds another
 * running returns 0 at once and logs "Config Busy". */

/* dllFunc_LoadDevCfg: loads a description into the model: from the device, or (hDev -1) from
 * path, or with a null path from "devCfg.xml" in the user data folder. Returns 1 when the
 * description was loaded, else 0. Logs an XML document that cannot be created, a configuration
 * length beyond the packet, each item refused (the others are kept) and, from a device, the
 * exchanges' own lines; a file that cannot be read or a wrong document is not logged. */
TAVRIN_FUNCTION(LoadDevCfg, 8, int32_t, (int32_t hDev, const tavrin_wchar_t* path))

/* dllFunc_GetDevCfgInfo: an item's description line (byName 0, key points to a uint16_t index:
 * "Name=..,Type=..,..\r\n") or its value (byName non-zero, key is the item's name) as text. Unless
 * noRefresh is set the packet is read again first (from the device or "devCfg.dat"). *size: the
 * buffer's capacity in characters on entry; the characters written (no terminator) or, when 0 is
 * returned for want of room, the characters to provide. Returns 1 or 0. Logs where the packet was
 * read from (from a device, with its byte count) and a failed read (size set to 0). */
TAVRIN_FUNCTION(GetDevCfgInfo, 24, int32_t,
                (int32_t hDev, const void* key, tavrin_wchar_t* buffer, uint16_t* size, uint16_t byName,
                 uint16_t noRefresh))

/* dllFunc_SetDevCfgInfo: sets the named item's value (numbers and selections in decimal; a text
 * item takes the text, hexadecimal digits when its Tag has bit 1). With write set the packet goes
 * to the device (or "devCfg.dat") as well; a packet must have been read before. reserved: pass 0.
 * A name that matches no item changes nothing (1 without write). Returns 1 or 0; a value outside
 * the item's limits (a number with MinVal 0 or more is first cut to its item's bits) is refused
 * and nothing is sent. Logs a packet that fails its check after packing, the device's
 * answer to the write and a write that failed. */
TAVRIN_FUNCTION(SetDevCfgInfo, 20, int32_t,
                (int32_t hDev, const tavrin_wchar_t* name, const tavrin_wchar_t* value, int32_t reserved,
                 uint16_t write))

/* dllFunc_OpenLog: opens the log file at path (null: the settings' LogPath, when LogEnable is
 * set); the file is created anew. Returns 1 when a log file is open (an open one is kept), else
 * 0. */
TAVRIN_FUNCTION(OpenLog, 4, int32_t, (const tavrin_wchar_t* path))

/* dllFunc_SetLogRecord: adds text to the log, after a time stamp when timeStamp is non-zero and
 * followed by a line end when newLine is non-zero, and to the record buffer that
 * dllFunc_GetLogRecord reads; flush non-zero writes the collected lines to the log file. The
 * result carries no meaning. */
TAVRIN_FUNCTION(SetLogRecord, 16, int32_t,
                (const tavrin_wchar_t* text, int32_t newLine, int32_t timeStamp, int32_t flush))

/* dllFunc_GetLogRecord: the records added since the last call (*count characters, not
 * terminated), or null when there are none; reset non-zero empties the record buffer. Points
 * into the library's record buffer: copy the text before logging again. Logs nothing. */
TAVRIN_FUNCTION(GetLogRecord, 8, const tavrin_wchar_t*, (uint32_t* count, int32_t reset))

/* dllFunc_CloseLog: writes the collected lines to the log file and closes it; lines go on
 * collecting in memory. */
TAVRIN_FUNCTION(CloseLog, 0, void, (void))

/* dllFunc_OpenDfu: opens the firmware file path (an existing "udf1" file, held without sharing)
 * for the device and checks its header; window receives the update's notifications
 * (WM_DFU_NOTIFY): a window handle on Windows, a _DFU_NOTIFY record elsewhere, or null. 1 on
 * success; 0 for no such device, a file already open, a file shorter than 128 bytes, a wrong magic,
 * a header length below 8 or beyond the file, or a wrong check value (the line
 * "检 验 码 不 匹 配(0x..." when the log object of an earlier update is held). */
TAVRIN_FUNCTION(OpenDfu, 12, int32_t, (int32_t hDev, const tavrin_wchar_t* path, void* window))

/* dllFunc_CloseDfu: stops a running update (it ends within one command; the wait is bounded at
 * 10 s), closes the firmware file and releases the image. 1, or 0 when the handle names no
 * device. */
TAVRIN_FUNCTION(CloseDfu, 4, int32_t, (int32_t hDev))

/* dllFunc_fwInfo: get non-zero fills info from the open file's header; 0 writes info's fields
 * into the header and the file (nothing is written when they are unchanged; the magic must
 * match). 1 on success, 0 without an open file or when the write failed. */
TAVRIN_FUNCTION(fwInfo, 12, int32_t, (int32_t hDev, _FW_INFO* info, int32_t get))

/* dllFunc_DFUStart: connects, reads the model and device number, asks for the update, lets the
 * device restart into its boot mode and finds it again, then starts the update thread, which
 * sends the header and the image and waits for the device to write it. options: DFU_OPTION_RESTART.
 * 1 when the update thread was started; 0 otherwise (the reason is a text line of the record),
 * and at once while an update runs or the device is busy with a command. */
TAVRIN_FUNCTION(DFUStart, 8, int32_t, (int32_t hDev, uint32_t options))
