// What the bridge's exports share: the return code's trace, the guard that keeps exceptions
// inside, the conversion of the bridge's own UTF-16 literals, and the command exchange.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/device_functions.h"
#include "bridge/trace_log.h"
#include "tavrin/bridge.h"

namespace tavrin::bridge {

// Writes the result line, sets the thread's failed flag for any code but DE_OK, returns rc.
inline std::int32_t finish(std::int32_t rc) {
    traceResult(rc);
    setTraceFailed(rc != DE_OK);
    return rc;
}

// Runs an export's body; an exception (out of memory) becomes DE_ERR_DEVICE.
template <typename Body>
std::int32_t guardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return DE_ERR_DEVICE;
    }
}

inline std::basic_string<tavrin_wchar_t> exportText(const char16_t* text) {
    const std::u16string s(text);
    return std::basic_string<tavrin_wchar_t>(s.begin(), s.end());
}

// Sends the command CTLCODE with inLen bytes of inDatas and copies the answer into buffer when
// buffer is larger than it (nLen bytes); traced.
std::int32_t M_DEVIOCTL(std::int32_t handle, char* buffer, std::int32_t nLen, const char16_t* CTLCODE,
                        const char* inDatas, std::int32_t inLen, _DEVACK_INFO* outDatas);

}  // namespace tavrin::bridge
