#include "devicelib/config/cfg_transfer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "devicelib/config/cfg_codec.h"
#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/log_file.h"
#include "platform/code_page.h"
#include "platform/data_file.h"
#include "platform/system_info.h"

namespace tavrin::config {

namespace {

constexpr const char16_t* kRefresh = u"RefreshDevCfgDat";
constexpr const char16_t* kDataFileFunction = u"DBG_LoadDevCfgDat";
constexpr const char16_t* kDataFileName = u"devCfg.dat";
// The file holds one packet; anything larger is read whole only for the packet check to refuse.
constexpr std::size_t kMaxDataFile = 1u << 20;

void bigEndian(std::size_t value, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

}  // namespace

std::optional<std::string> readDescription(const CfgExchange& exchange) {
    std::uint8_t answer[kDescriptionAnswer];
    _DEVACK_INFO ack{answer, kDescriptionAnswer, 0, 0};
    if (!exchange(kCmdReadDescription, nullptr, 0, ack) || ack.ackCode != 0 || ack.datLen > ack.bufLen)
        return std::nullopt;
    const std::optional<DescriptionHeader> header = parseDescriptionHeader(answer, ack.datLen);
    if (!header) return std::nullopt;

    std::string document(header->length, '\0');
    std::size_t offset = 0;
    while (offset < document.size()) {
        std::uint8_t at[2];
        bigEndian(offset, at);
        ack = {answer, kDescriptionAnswer, 0, 0};
        if (!exchange(kCmdReadDescription, at, sizeof at, ack) || ack.ackCode != 0 || ack.datLen == 0 ||
            ack.datLen > ack.bufLen || offset + ack.datLen > document.size())
            break;
        std::memcpy(document.data() + offset, answer, ack.datLen);
        offset += ack.datLen;
    }
    if (offset != document.size()) return std::nullopt;
    // The device steps its check over D bits, not D bytes.
    if (crc16Bits(reinterpret_cast<const std::uint8_t*>(document.data()), header->length) != header->check)
        return std::nullopt;
    return document;
}

std::size_t readPacket(const CfgExchange& exchange, std::uint8_t* buffer, std::uint16_t capacity, CLogFile& log,
                       const std::function<void(std::size_t total)>& take) {
    std::size_t total = 0;
    for (;;) {
        std::uint8_t at[2];
        bigEndian(total, at);
        _DEVACK_INFO ack{buffer + total, static_cast<std::uint16_t>(capacity - total), 0, 0};
        if (!exchange(kCmdReadPacket, at, sizeof at, ack) || ack.ackCode != 0 || ack.datLen > ack.bufLen) {
            total = 0;
            break;
        }
        if (ack.datLen == 0) break;  // the end of the packet
        total += ack.datLen;
    }
    if (take && total != 0) take(total);
    log.funcLine(kRefresh, u"读 配 置 数 据 从 设 备(%d)\r\n", total);
    return total;
}

bool writePacket(const CfgExchange& exchange, const std::vector<std::uint8_t>& bytes, CLogFile& log) {
    if (bytes.empty()) return false;
    std::uint8_t answer[kWriteAnswer] = {};
    _DEVACK_INFO ack{answer, kWriteAnswer, 0, 0};
    std::uint8_t chunk[2 + kWriteChunk];
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t offered = std::min(kWriteChunk, bytes.size() - offset);
        bigEndian(offset, chunk);
        std::memcpy(chunk + 2, bytes.data() + offset, offered);
        ack.datLen = 0;
        if (!exchange(kCmdWritePacket, chunk, static_cast<std::uint16_t>(2 + offered), ack)) return false;
        if (ack.ackCode != 0) {
            log.funcLine(kRefresh, u"写 配 置 数 据 应 答 错 误1(%d)\r\n", ack.ackCode);
            return false;
        }
        std::size_t taken = offered;
        if (ack.datLen != 0) {
            // The count the device took; a count beyond the chunk would skip bytes never sent.
            if (ack.datLen < 2 || ack.datLen > ack.bufLen) return false;
            taken = std::size_t{answer[0]} << 8 | answer[1];
            if (taken == 0 || taken > offered) return false;
        }
        offset += taken;
    }
    const std::uint8_t end[2] = {0xFF, 0xFF};
    exchange(kCmdWritePacket, end, sizeof end, ack);  // its outcome is the device's business
    log.funcLine(kRefresh, u"写 配 置 数 据(%d)\r\n", ack.ackCode);
    return true;
}

bool DBG_LoadDevCfgDat(const std::u16string& userFolder, std::vector<std::uint8_t>& bytes, bool write,
                       CLogFile& log) {
    std::u16string path;
    if (userFolder.empty() || !platform::joinPath(userFolder, kDataFileName, path)) return false;
    if (!write) return platform::readDataFile(path, kMaxDataFile, bytes);
    log.funcLine(kDataFileFunction, u"写 设 备 配 置 数 据 到 devCfg.dat\r\n");
    return platform::writeDataFile(path, bytes.data(), bytes.size(), nullptr);
}

std::int32_t RefreshDevCfgDat(CDevCfgXml& model, const CfgExchange* device, const std::u16string& userFolder,
                              bool write, CLogFile& log) {
    if (write) {
        std::vector<std::uint8_t> bytes = model.packetBytes();
        if (bytes.empty()) return 0;
        if (device == nullptr) return DBG_LoadDevCfgDat(userFolder, bytes, true, log) ? 1 : 0;
        return writePacket(*device, bytes, log) ? 1 : 0;
    }
    if (device == nullptr) {
        std::vector<std::uint8_t> bytes;
        if (!DBG_LoadDevCfgDat(userFolder, bytes, false, log) || bytes.empty()) return 0;
        const bool taken = model.takeCfgDat(bytes.data(), bytes.size());
        log.funcLine(kRefresh, u"读 配 置 数 据 从 devCfg.dat\r\n");
        return taken ? 1 : 0;
    }
    auto buffer = std::make_unique<std::uint8_t[]>(kCfgPacketSize);
    bool taken = false;
    readPacket(*device, buffer.get(), kCfgPacketSize, log,
               [&](std::size_t total) { taken = model.takeCfgDat(buffer.get(), total); });
    return taken ? 1 : 0;
}

bool loadDescriptionFromDevice(CDevCfgXml& model, const CfgExchange& exchange) {
    const std::optional<std::string> document = readDescription(exchange);
    if (!document) return false;
    const std::u16string text = platform::fromThreadCodePage(*document);
    return model.loadCfgXml(nullptr, text.c_str());
}

}  // namespace tavrin::config
