// Command exchanges: the internal entry DevIoCtrl and the exports dllFunc_DevIoCtrl (commands by
// name, "TAVR_DUMP" for raw bytes) and dllFunc_EnumProtoCode (the command names).
#include "devicelib/core/dev_io_ctrl.h"

#include <chrono>
#include <cstring>

#include "devicelib/core/dev_app.h"
#include "devicelib/core/dev_emul.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/export_text.h"
#include "devicelib/core/proto_code.h"

namespace tavrin {

namespace {

constexpr const char16_t* kDevIoCtrl = u"DevIoCtrl";
constexpr const char16_t* kDllDevIoCtrl = u"dllFunc_DevIoCtrl";
constexpr const char16_t* kRawName = u"TAVR_DUMP";

// A device that keeps answering other commands would hold its caller for ever: after this many
// replies to other codes in one exchange the wait ends as a failed read.
constexpr unsigned kMaxRedundantReplies = 64;
// Nor may one that keeps sending noise or broken packets: the reply waits of one exchange end
// this many read time-outs after the command went out (plus the read under way then).
constexpr std::int64_t kReplyWaitTimeouts = 10;
// The data of one command: what its 16-bit length can say (the packet carries at most 255).
constexpr std::uint32_t kMaxDataLength = 0xFFFF;

bool sameText(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// Writes all bytes, each write given the rest; false at the first write that fails or takes
// nothing. *anyWritten (when given) turns true once a write has taken bytes.
bool writeAll(CBPort& port, const std::uint8_t* bytes, std::uint32_t length, bool* anyWritten) {
    while (length > 0) {
        std::uint32_t n = 0;
        if (!port.writePort(bytes, length, &n, nullptr) || n == 0) return false;
        if (anyWritten != nullptr) *anyWritten = true;
        n = n < length ? n : length;
        bytes += n;
        length -= n;
    }
    return true;
}

std::int32_t rawPassThrough(CBPort& port, const std::uint8_t* data, std::uint32_t length,
                            _DEVACK_INFO& answer) {
    answer.ackCode = 0;
    bool written = false;
    if (data != nullptr && length != 0) writeAll(port, data, length, &written);
    if (answer.lpBuf != nullptr && answer.bufLen != 0) {
        std::uint32_t got = 0;
        if (port.readPort(answer.lpBuf, answer.bufLen, &got, nullptr)) {
            answer.datLen = static_cast<std::uint16_t>(got);
            return 1;
        }
    }
    return written ? 1 : 0;
}

// Clears the protocol object's reply deadline when the exchange ends, however it ends.
class ReplyDeadline {
public:
    ReplyDeadline(CDevEmul& emul, std::int32_t readTimeoutMs) : emul_(emul) {
        const auto budget = std::chrono::milliseconds(static_cast<std::int64_t>(readTimeoutMs) * kReplyWaitTimeouts);
        emul_.setReplyDeadline(CDevEmul::Clock::now() + budget);
    }
    ReplyDeadline(const ReplyDeadline&) = delete;
    ReplyDeadline& operator=(const ReplyDeadline&) = delete;
    ~ReplyDeadline() { emul_.setReplyDeadline(std::nullopt); }

private:
    CDevEmul& emul_;
};

std::int32_t packetExchange(CBPort& port, CDevEmul& emul, std::uint8_t code, const std::uint8_t* data,
                            std::uint32_t length, _DEVACK_INFO& answer) {
    CLogFile& log = theLog();
    // Data the packet cannot carry is refused before anything goes out: a length beyond 16 bits
    // would be cut to its low bits, and a length without data would send whatever the buffer
    // still holds.
    const PacketView packet = length <= kMaxDataLength
                                  ? emul.buildPacket(code, data, static_cast<std::uint16_t>(length))
                                  : PacketView{};
    if (packet.data == nullptr || packet.length == 0) {
        log.funcLine(kDevIoCtrl, u"生 成 命 令 包 失 败！！！\r\n");
        return 0;
    }
    // What is waiting now answers an earlier command (a reply that came after its exchange had
    // given up): the reply to this one must not be taken from it.
    if (const std::uint32_t stale = discardStaleInput(port, emul); stale != 0)
        log.funcLine(kDevIoCtrl, u"丢 弃 残 留 数 据(%d)\r\n", stale);
    log.funcLine(kDevIoCtrl, u"发 送,命令码(0x%x) 长度(%d)\r\n", code, packet.length);
    if (!writeAll(port, packet.data, packet.length, nullptr)) {
        log.funcLine(kDevIoCtrl, u"写 数 据 失 败！！！\r\n");
        return 0;
    }

    const ReplyDeadline deadline(emul, port.readTimeout());
    std::optional<Reply> reply;
    for (unsigned redundant = 0;;) {
        reply = readReply(port, emul);
        if (reply && reply->code == code) break;
        if (reply) {
            log.funcLine(kDevIoCtrl, u"冗 余 的 命 令 包(0x%x)！！！\r\n", reply->code);
            if (++redundant < kMaxRedundantReplies) continue;
        }
        log.funcLine(kDevIoCtrl, u"读 数 据 失 败！！！\r\n");
        return 0;
    }

    answer.ackCode = reply->ackCode;
    answer.datLen = reply->length;
    if (reply->payload != nullptr) {
        if (answer.lpBuf == nullptr || answer.datLen > answer.bufLen) {
            log.funcLine(kDevIoCtrl, u"失 败, 数 据 缓 冲 太 小\r\n");
            return 0;
        }
        std::memcpy(answer.lpBuf, reply->payload, reply->length);
    }
    log.funcLine(kDevIoCtrl, u"返 回, 命令码(0x%x),长度(%d),应答(0x%x)\r\n", reply->code, answer.datLen,
                 answer.ackCode);
    return 1;
}

std::int32_t devIoCtrlByName(std::int32_t handle, const char16_t* name, const std::uint8_t* data,
                             std::uint32_t length, _DEVACK_INFO* answer) {
    if (name != nullptr && sameText(name, kRawName)) return DevIoCtrl(kRawPassThrough, handle, data, length, answer);
    const ProtoCode* row = nullptr;
    if (name != nullptr) {
        for (const ProtoCode& candidate : kProtoCodes) {
            if (sameText(name, candidate.name)) {
                row = &candidate;
                break;
            }
        }
    }
    if (row == nullptr) {
        theLog().funcLine(kDllDevIoCtrl, u"无 效 的 命 令 码\r\n");
        return 0;
    }
    if (row->code != kDevCmdSt) return DevIoCtrl(row->code, handle, data, length, answer);
    if (data == nullptr || length < 1 || data[0] < kDevCmdFirst || data[0] > kDevCmdLast) {
        theLog().funcLine(kDllDevIoCtrl, u"设 备 命 令 码 格 式 错 误\r\n");
        return 0;
    }
    if (length > kMaxDataLength) {  // as for every command: the caller's data, code byte included
        theLog().funcLine(kDevIoCtrl, u"生 成 命 令 包 失 败！！！\r\n");
        return 0;
    }
    return DevIoCtrl(data[0], handle, data + 1, length - 1, answer);
}

}  // namespace

std::int32_t DevIoCtrl(std::int32_t code, std::int32_t handle, const std::uint8_t* data,
                       std::uint32_t length, _DEVACK_INFO* answer) {
    std::shared_ptr<DeviceSession> session = theApp().devices.lookup(handle);
    if (!session || answer == nullptr) {
        theLog().funcLine(kDevIoCtrl, u"获 取 设 备 端 口(%d) 失 败 \r\n", handle);
        return 0;
    }
    CBPort* port = session->controlPort();
    if (port == nullptr) return 0;
    BusyClaim claim(*session, BUSY_CTRL);
    if (!claim.held()) return 0;
    CDevEmul* emul = session->protocol();
    if (emul == nullptr) return 0;
    if (code == kRawPassThrough) return rawPassThrough(*port, data, length, *answer);
    return packetExchange(*port, *emul, static_cast<std::uint8_t>(code), data, length, *answer);
}

}  // namespace tavrin

using namespace tavrin;

extern "C" {

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_DevIoCtrl(std::int32_t hDev, const tavrin_wchar_t* name,
                                                        const std::uint8_t* data, std::uint32_t length,
                                                        _DEVACK_INFO* answer) {
    return guarded<std::int32_t>(0, [&] { return devIoCtrlByName(hDev, fromExport(name), data, length, answer); });
}

TAVRIN_EXPORT const tavrin_wchar_t* TAVRIN_API dllFunc_EnumProtoCode(std::uint16_t index, std::uint16_t* code) {
    return guarded<const tavrin_wchar_t*>(nullptr, [&]() -> const tavrin_wchar_t* {
        if (index >= kProtoCodes.size()) return nullptr;
        const ProtoCode& row = kProtoCodes[index];
        if (code != nullptr) *code = row.code;
        return toExport(row.name);
    });
}

}  // extern "C"
