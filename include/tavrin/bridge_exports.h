/*
 * TavrinDll, the bridge library: the list of its exported functions, in the order of its export
 * table. bridge.h declares them from it, the build writes the Windows module-definition file and
 * checks the built library against it, and programs that load the bridge at run time build their
 * function tables from it.
 *
 * Each entry is
 *     TAVRIN_BRIDGE_FUNCTION(name, stack bytes, (parameters))        a function callable from C
 *     TAVRIN_BRIDGE_CXX_FUNCTION(name, stack bytes, (parameters))    a function with C++ containers
 * for the export DE<name>; every one returns a bridge return code (int32_t, DE_OK or DE_ERR_*).
 * "stack bytes" is what a 32-bit __stdcall caller pushes. Define both macros before including
 * this file (TAVRIN_BRIDGE_CXX_FUNCTION empty for C); the file has no include guard.
 *
 * TAVRIN_BRIDGE_REF(type) is a reference for C++ callers and a pointer for C callers (the same
 * thing at the machine level). Every call leaves a trace of its entry, parameters, result and
 * exit; the traces of failed calls are written to the device library's log (see README).
 */
#if !defined(TAVRIN_BRIDGE_FUNCTION) || !defined(TAVRIN_BRIDGE_CXX_FUNCTION)
#error "define TAVRIN_BRIDGE_FUNCTION and TAVRIN_BRIDGE_CXX_FUNCTION before including bridge_exports.h"
#endif

/* DEEnumDevPath: the device paths of portType (0x0100, 0x0200, 0x0300, PORT_USBPRN, PORT_HID,
 * 0x0400, PORT_NET_DATA, PORT_NET_CTRL; for the network types vID is the UDP port of the search),
 * *DevCount set to their number and pathStr to the paths joined by CR LF with one terminating
 * NUL. sizes: the capacity of pathStr in characters on entry; on return the device library's
 * value (the characters its own list took). DE_ERR_PORTTYPE for another port type (tested
 * first), DE_ERR_PARAM for a null DevCount, DE_ERR_BUFSIZE when the joined text and its NUL do
 * not fit the capacity given (sizes then holds the characters needed, *DevCount the count),
 * else DE_OK, also when nothing was found. */
TAVRIN_BRIDGE_FUNCTION(EnumDevPath, 24,
                       (uint16_t* DevCount, uint16_t portType, tavrin_wchar_t* pathStr,
                        TAVRIN_BRIDGE_REF(uint32_t) sizes, uint16_t vID, uint16_t pID))

/* DEEnumProtoCode: szDesc set to the command name of row idx of the device library's command
 * name table (its text, valid while the library is loaded) and code to its command code; past the
 * end of the table szDesc is null and code unchanged. Always DE_OK once the device library is
 * bound. */
TAVRIN_BRIDGE_FUNCTION(EnumProtoCode, 12,
                       (TAVRIN_BRIDGE_REF(const tavrin_wchar_t*) szDesc, uint16_t idx,
                        TAVRIN_BRIDGE_REF(uint16_t) code))

/* DEOpenDev: opens path (an enumerated path of portType) with the ports of portMode (MODE_*);
 * *hDev the device handle, -1 on failure. Time-outs below 1 take the settings' values.
 * DE_ERR_PARAM for a null path or hDev, DE_ERR_DEVICE when the device could not be opened. */
TAVRIN_BRIDGE_FUNCTION(OpenDev, 24,
                       (int32_t* hDev, const tavrin_wchar_t* path, int32_t readTimeout, int32_t writeTimeout,
                        int16_t portType, int16_t portMode))

/* DECloseDev: closes the device; DE_ERR_DEVICE when the handle named no open device. */
TAVRIN_BRIDGE_FUNCTION(CloseDev, 4, (int32_t pHandle))

/* DEGetDevType, DEGetDevSN, DEGetEmulationVersion: the device's model, device number or protocol
 * version as bytes in buffer. The first nLen bytes of buffer are cleared first; the answer is
 * copied only when nLen is larger than it, so the text always ends with a NUL. DE_ERR_PARAM for
 * handle -1 or a null buffer, DE_ERR_DEVICE when the exchange failed, DE_ERR_BUFSIZE when the
 * buffer is not larger than the answer. */
TAVRIN_BRIDGE_FUNCTION(GetDevType, 12, (int32_t hDev, char* buffer, int32_t nLen))
TAVRIN_BRIDGE_FUNCTION(GetDevSN, 12, (int32_t hDev, char* buffer, int32_t nLen))
TAVRIN_BRIDGE_FUNCTION(GetEmulationVersion, 12, (int32_t hDev, char* buffer, int32_t nLen))

/* DEConnect: sends the connect command with the nLen password bytes pwd; DEDisconnect: the same
 * command without data. DE_ERR_PARAM for handle -1 (or a null pwd), DE_ERR_DEVICE when the
 * exchange failed, DE_ERR_BUFSIZE when the device answered with data. */
TAVRIN_BRIDGE_FUNCTION(Connect, 12, (int32_t hDev, const char* pwd, int32_t nLen))
TAVRIN_BRIDGE_FUNCTION(Disconnect, 4, (int32_t hDev))

/* DEGetDevPars (C++): connects, then appends every configuration item of the device to
 * vFormatArr as its description line with ",CurVal=" and its value ("null" for an empty one)
 * appended and every CR LF removed, and maps each item's name to its value in metaData (the first
 * value of a name stays). Expects vFormatArr empty. DE_ERR_DEVICE when the connect command
 * failed (nothing is touched), else DE_OK, also when an item could not be read (the listing stops
 * there). The containers are the caller's: the bridge appends with the C runtime's allocator that
 * the caller's containers free. */
TAVRIN_BRIDGE_CXX_FUNCTION(GetDevPars, 12,
                           (int32_t HDEV, tavrin_bridge_text_map& metaData, tavrin_bridge_text_list& vFormatArr))

/* DESetDevCfgInfo: connects, then sets the named configuration item to val on the device.
 * DE_ERR_DEVICE when the connect command or the setting failed. */
TAVRIN_BRIDGE_FUNCTION(SetDevCfgInfo, 12, (int32_t HDEV, const tavrin_wchar_t* name, const tavrin_wchar_t* val))

/* DEDevIoCtrl (extension): one named command exchange (a command name of DEEnumProtoCode), data
 * the count bytes sent with it, answer the caller's answer record filled by the device library.
 * DE_ERR_PARAM for a null name or answer, DE_ERR_DEVICE when the exchange failed, else DE_OK. */
TAVRIN_BRIDGE_FUNCTION(DevIoCtrl, 20,
                       (int32_t hDev, const tavrin_wchar_t* name, const uint8_t* data, int32_t count,
                        _DEVACK_INFO* answer))

/* DEGetDevParsText (extension, for callers without C++ containers): the entries of DEGetDevPars
 * as one text, CR LF between entries, with a terminating NUL. size: the capacity of text in
 * characters on entry, the characters written or needed (NUL included) on return.
 * DE_ERR_PARAM for a null size, DE_ERR_BUFSIZE when text is null or too small (nothing
 * written), DE_ERR_DEVICE when the connect command failed, else DE_OK. */
TAVRIN_BRIDGE_FUNCTION(GetDevParsText, 12, (int32_t HDEV, tavrin_wchar_t* text, uint32_t* size))
