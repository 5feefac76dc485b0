// The bridge's device functions: each checks its arguments, calls one device library function
// through the device function table, turns the result into a bridge return code and traces the
// call. No exception leaves an export.
#include <cstring>
#include <exception>
#include <string>

#include "bridge/de_common.h"

namespace tavrin::bridge {
namespace {

constexpr std::size_t kAnswerArea = 1024;

bool acceptedPortType(std::uint16_t t) {
    switch (t) {
    case 0x0100: case 0x0200: case 0x0300: case 0x0301: case 0x0302: case 0x0400: case 0x0401: case 0x0402: return true;
    default: return false;
    }
}

// Joins the device library's list (count NUL-terminated paths) into one text with CR LF between
// the paths, in place. False, with the characters needed, when the text and its NUL would not
// fit capacity; nothing is written then.
bool joinPaths(tavrin_wchar_t* list, std::uint16_t count, std::uint32_t capacity, std::uint32_t& needed) {
    std::basic_string<tavrin_wchar_t> joined;
    const tavrin_wchar_t* p = list;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t n = std::char_traits<tavrin_wchar_t>::length(p);
        if (i > 0) joined += TAVRIN_TEXT("\r\n");
        joined.append(p, n);
        p += n + 1;
    }
    needed = static_cast<std::uint32_t>(joined.size() + 1);
    if (needed > capacity) return false;
    std::memcpy(list, joined.c_str(), needed * sizeof(tavrin_wchar_t));
    return true;
}

// A control query or the connection pair: clear, check, exchange.
std::int32_t query(const char16_t* command, std::int32_t hDev, char* buffer, std::int32_t nLen, bool clear) {
    if (clear && buffer != nullptr && nLen > 0) std::memset(buffer, 0, static_cast<std::size_t>(nLen));
    if (hDev == -1 || buffer == nullptr) return DE_ERR_PARAM;
    std::uint8_t area[kAnswerArea] = {};
    _DEVACK_INFO answer{area, static_cast<std::uint16_t>(kAnswerArea), 0, 0};
    return M_DEVIOCTL(hDev, buffer, nLen, command, nullptr, 0, &answer);
}

}  // namespace

std::int32_t M_DEVIOCTL(std::int32_t handle, char* buffer, std::int32_t nLen, const char16_t* CTLCODE,
                        const char* inDatas, std::int32_t inLen, _DEVACK_INFO* outDatas) {
    TraceScope scope(u"M_DEVIOCTL");
    const std::basic_string<tavrin_wchar_t> code = exportText(CTLCODE);
    scope.param("buffer", buffer);
    scope.param("nLen", nLen);
    scope.param("CTLCODE", code.c_str());
    scope.paramAs<char*>("inDatas", inDatas);
    scope.param("inLen", inLen);
    scope.param("outDatas", outDatas);
    const auto& f = deviceFunctions();
    std::int32_t rc = DE_ERR_DEVICE;
    if (f.DevIoCtrl != nullptr &&
        f.DevIoCtrl(handle, code.c_str(), reinterpret_cast<const std::uint8_t*>(inDatas),
                    static_cast<std::uint32_t>(inLen), outDatas) != 0) {
        const std::int32_t length = outDatas->datLen;
        if (length == 0) {
            rc = DE_OK;
        } else if (buffer != nullptr && nLen > length) {
            std::memcpy(buffer, outDatas->lpBuf, static_cast<std::size_t>(length));
            rc = DE_OK;
        } else {
            rc = DE_ERR_BUFSIZE;
        }
    }
    return finish(rc);
}

}  // namespace tavrin::bridge

using namespace tavrin::bridge;

extern "C" {

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEEnumDevPath(uint16_t* DevCount, uint16_t portType, tavrin_wchar_t* pathStr,
                                                      uint32_t& sizes, uint16_t vID, uint16_t pID) {
    return guardedCall([&] {
        TraceScope scope(u"DEEnumDevPath");
        scope.param("DevCount", DevCount);
        scope.param("portType", portType);
        scope.paramBuffer("pathStr", pathStr, sizes);
        scope.param("sizes", sizes);
        scope.param("vID", vID);
        scope.param("pID", pID);
        if (!acceptedPortType(portType)) return finish(DE_ERR_PORTTYPE);
        if (DevCount == nullptr) return finish(DE_ERR_PARAM);
        const auto& f = deviceFunctions();
        if (f.EnumDevPath == nullptr) return finish(DE_ERR_DEVICE);
        const std::uint32_t capacity = sizes;
        *DevCount = static_cast<std::uint16_t>(f.EnumDevPath(portType, pathStr, &sizes, vID, pID));
        if (*DevCount != 0 && pathStr != nullptr) {
            std::uint32_t needed = 0;
            if (!joinPaths(pathStr, *DevCount, capacity, needed)) {
                sizes = needed;
                return finish(DE_ERR_BUFSIZE);
            }
        }
        return finish(DE_OK);
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEEnumProtoCode(const tavrin_wchar_t*& szDesc, uint16_t idx, uint16_t& code) {
    return guardedCall([&] {
        TraceScope scope(u"DEEnumProtoCode");
        scope.param("szDesc", szDesc);
        scope.param("idx", idx);
        scope.param("code", code);
        const auto& f = deviceFunctions();
        if (f.EnumProtoCode == nullptr) return finish(DE_ERR_DEVICE);
        szDesc = f.EnumProtoCode(idx, &code);
        return finish(DE_OK);
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEOpenDev(int32_t* hDev, const tavrin_wchar_t* path, int32_t readTimeout,
                                                  int32_t writeTimeout, int16_t portType, int16_t portMode) {
    return guardedCall([&] {
        TraceScope scope(u"DEOpenDev");
        scope.param("hDev", hDev);
        scope.param("path", path);
        scope.param("readTimeout", readTimeout);
        scope.param("writeTimeout", writeTimeout);
        scope.param("portType", portType);
        scope.param("portMode", portMode);
        if (path == nullptr || hDev == nullptr) return finish(DE_ERR_PARAM);
        const auto& f = deviceFunctions();
        if (f.OpenDev == nullptr) return finish(DE_ERR_DEVICE);
        _DEVOPEN_INFO info{};
        info.path = path;
        info.readTimeout = readTimeout;
        info.writeTimeout = writeTimeout;
        info.portType = static_cast<std::uint16_t>(portType);
        info.portMode = static_cast<std::uint16_t>(portMode);
        *hDev = f.OpenDev(&info);
        return finish(*hDev == -1 ? DE_ERR_DEVICE : DE_OK);
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DECloseDev(int32_t pHandle) {
    return guardedCall([&] {
        TraceScope scope(u"DECloseDev");
        scope.param("pHandle", pHandle);
        const auto& f = deviceFunctions();
        if (f.CloseDev == nullptr) return finish(DE_ERR_DEVICE);
        return finish(f.CloseDev(pHandle) != 0 ? DE_OK : DE_ERR_DEVICE);
    });
}

namespace {

std::int32_t controlQuery(const char16_t* function, const char16_t* command, int32_t hDev, char* buffer, int32_t nLen) {
    return guardedCall([&] {
        TraceScope scope(function);
        scope.param("hDev", hDev);
        scope.param("buffer", buffer);
        scope.param("nLen", nLen);
        return finish(query(command, hDev, buffer, nLen, true));
    });
}

}  // namespace

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEGetDevType(int32_t hDev, char* buffer, int32_t nLen) {
    return controlQuery(u"DEGetDevType", u"CTRL_CMDGET_MODEL", hDev, buffer, nLen);
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEGetDevSN(int32_t hDev, char* buffer, int32_t nLen) {
    return controlQuery(u"DEGetDevSN", u"CTRL_CMDGET_DEVNO", hDev, buffer, nLen);
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEGetEmulationVersion(int32_t hDev, char* buffer, int32_t nLen) {
    return controlQuery(u"DEGetEmulationVersion", u"CTRL_CMDGET_PROTVER", hDev, buffer, nLen);
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEConnect(int32_t hDev, const char* pwd, int32_t nLen) {
    return guardedCall([&] {
        TraceScope scope(u"DEConnect");
        scope.param("hDev", hDev);
        // The password is bytes with a count, not a terminated text: shown as its address.
        scope.paramAs<char*>("pwd", pwd);
        scope.param("nLen", nLen);
        if (hDev == -1 || pwd == nullptr) return finish(DE_ERR_PARAM);
        std::uint8_t area[kAnswerArea] = {};
        _DEVACK_INFO answer{area, static_cast<std::uint16_t>(kAnswerArea), 0, 0};
        return finish(M_DEVIOCTL(hDev, nullptr, 0, u"CTRL_CMD_CONNT", pwd, nLen, &answer));
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEDisconnect(int32_t hDev) {
    return guardedCall([&] {
        TraceScope scope(u"DEDisconnect");
        scope.param("hDev", hDev);
        if (hDev == -1) return finish(DE_ERR_PARAM);
        std::uint8_t area[kAnswerArea] = {};
        _DEVACK_INFO answer{area, static_cast<std::uint16_t>(kAnswerArea), 0, 0};
        return finish(M_DEVIOCTL(hDev, nullptr, 0, u"CTRL_CMD_CONNT", nullptr, 0, &answer));
    });
}

TAVRIN_BRIDGE_EXPORT int32_t TAVRIN_API DEDevIoCtrl(int32_t hDev, const tavrin_wchar_t* name, const uint8_t* data,
                                                    int32_t count, _DEVACK_INFO* answer) {
    return guardedCall([&] {
        TraceScope scope(u"DEDevIoCtrl");
        scope.param("hDev", hDev);
        scope.param("name", name);
        scope.paramAs<unsigned char*>("data", data);
        scope.param("count", count);
        scope.param("answer", answer);
        if (name == nullptr || answer == nullptr) return finish(DE_ERR_PARAM);
        const auto& f = deviceFunctions();
        if (f.DevIoCtrl == nullptr) return finish(DE_ERR_DEVICE);
        return finish(f.DevIoCtrl(hDev, name, data, static_cast<std::uint32_t>(count), answer) != 0 ? DE_OK
                                                                                                   : DE_ERR_DEVICE);
    });
}

}  // extern "C"
