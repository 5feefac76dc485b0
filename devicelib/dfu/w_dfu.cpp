#include "devicelib/dfu/w_dfu.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <system_error>

#include "devicelib/core/dev_app.h"
#include "devicelib/core/device_table.h"
#include "devicelib/core/proto_code.h"
#include "devicelib/ports/b_port.h"
#include "platform/sync.h"

namespace tavrin {

namespace {

constexpr std::uint8_t kCmdConnect = 0x04, kCmdModel = 0x01, kCmdDeviceNumber = 0x02, kCmdWorkMode = 0x14,
                       kCmdRestart = 0x11;
constexpr std::uint8_t kCmdUpdateRequest = 0x16, kCmdBegin = 0x63, kCmdHeader = 0x60, kCmdPiece = 0x61,
                       kCmdFinish = 0x62;
constexpr int kAttempts = 6;
constexpr int kBootAttempts = 21;
constexpr std::uint32_t kWaitUnitMs = 25;
constexpr std::uint8_t kAlreadyInBoot = 2;
constexpr std::uint32_t kWndText = 0x10000, kWndProgress = 0x20000;

// A wait count of an answer's payload (bytes 1 and 2) in milliseconds.
std::uint32_t waitOf(const std::uint8_t* payload) {
    return (static_cast<std::uint32_t>(payload[1]) * 256 + payload[2]) * kWaitUnitMs;
}

void sendWndMsg(const DfuNotices& to, int kind, std::uint16_t percent, std::intptr_t lParam) {
    if (to.window == nullptr) return;
    const std::uint32_t wParam = kind == 1 ? kWndText : kWndProgress + percent;
    std::uint32_t error = 0;
    if (!platform::notifyCaller(to.window, wParam, lParam, &error))
        theLog().funcLine(u"CWDfu::sendWndMsg", u"PostMessage Fail %d\n", error);
}

// A text line for the caller: to the log and the record buffer, then the text notification.
// Nothing at all without a log object.
void dfuNotice(const DfuNotices& to, const std::u16string& text, bool stamp = true, bool newLine = true) {
    if (to.log == nullptr) return;
    to.log->setLogRecord(text.c_str(), newLine ? 1 : 0, stamp ? 1 : 0, 0);
    sendWndMsg(to, 1, 0, to.device);
}

constexpr const char16_t* kProgressTexts[] = {
    nullptr,
    u"PHDL(%d)#启 动 设 备 失 败(%d)",
    u"PHDL(%d)#同 步 设 备 失 败(%d)",
    u"PHDL(%d)#开 始 更 新",
    u"PHDL(%d)#发 送 数 据 失 败(%d)",
    u"PHDL(%d)#发 送 数 据 完 成，等 待 设 备 更 新...",
    u"PHDL(%d)#设 备 更 新 失 败(%d)",
    u"PHDL(%d)#更 新 完 成 OK...",
    u"PHDL(%d)#更 新 操 作 被 取 消",
    u"PHDL(%d)#设 备 重 新 启 动(%d)",
    u"PHDL(%d)#命 令 发 送 超 时(%d)",
    u"PHDL(%d)#命 令 读 取 超 时(%d)",
};

void dfuProgressText(const DfuRun& run, int kind, std::int32_t value = 0) {
    if (run.notices.log == nullptr) return;  // formatted only for the log
    std::u16string line = formatWide(kProgressTexts[kind], run.notices.device, static_cast<std::int16_t>(value));
    if (line.size() > 127) line.resize(127);  // a buffer of 128 units
    dfuNotice(run.notices, line);
}

// A text of an answer's payload from byte 1 to its end or its first zero byte.
std::u16string payloadText(const std::uint8_t* payload, std::uint16_t length) {
    std::uint16_t end = 1;
    while (end < length && payload[end] != 0) ++end;
    return length > 1 ? platform::fromAnsiCodePage(payload + 1, end - 1u) : std::u16string();
}

// A header length the file cannot carry: refused, never sent.
void badLengthLine(std::uint8_t headerLength, std::uint32_t fileSize) {
    theLog().funcLine(u"CWDfu::checkFwHeader", u"固 件 头 长 度 错 误(H = %d, 文 件 = %u)\r\n", headerLength, fileSize);
}

bool writePacket(CBPort& port, const PacketView& packet) {
    std::uint32_t written = 0;
    return port.writePort(packet.data, packet.length, &written, nullptr) != 0 && written == packet.length;
}

}  // namespace

bool DfuRun::sleepUnlessCancelled(std::uint32_t ms) {
    std::unique_lock<std::mutex> guard(lock);
    return !changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return cancel.load() != 0; });
}

std::int16_t dfuCommand(DfuRun& run, std::uint8_t code, const std::uint8_t* payload, std::uint32_t* inOut) {
    CBPort& port = *run.port;
    const std::uint32_t given = inOut != nullptr ? *inOut : 0;
    const std::uint16_t length = static_cast<std::uint16_t>(given < kMaxPayload ? given : kMaxPayload);
    // What is still waiting on the control channel (the answer to a command given up, or to the
    // 0x63 that abandoned an earlier update) must not pass for this command's answer.
    discardStaleInput(port, run.emul);
    const PacketView packet = run.emul.buildPacket(code, payload, length);
    if (packet.data == nullptr) return -1;
    // The packet stays in the protocol object's buffer until an answer is read into it: keep a copy.
    std::uint8_t sent[kMaxPacket];
    std::memcpy(sent, packet.data, packet.length);
    const PacketView copy{sent, packet.length};

    bool written = writePacket(port, copy);
    for (int n = kAttempts - 1; !written && n >= 0; --n) {
        dfuProgressText(run, 10, n);
        written = writePacket(port, copy);
    }
    if (!written) return -2;
    if (inOut != nullptr) *inOut = length;

    for (int n = kAttempts - 1; n >= 0; --n) {
        if (run.cancel.load() != 0) return -1;
        std::uint32_t got = 0;
        const bool read = port.readPort(run.answer, kMaxPacket, &got, nullptr) != 0;
        // An answer whose header came alone, or cut, is completed with the bytes it lacks.
        auto whole = [&] { return static_cast<std::uint32_t>(kPacketHeader + run.answer[2]); };
        for (int more = 0; read && got >= kPacketHeader && got < whole() && more < 3; ++more) {
            std::uint32_t rest = 0;
            if (!port.readPort(run.answer + got, whole() - got, &rest, nullptr) || rest == 0) break;
            got += rest;
        }
        run.answerLength = static_cast<std::uint16_t>(read ? got : 0);
        if (!read || got < kPacketHeader) {
            dfuProgressText(run, 11, n);
            continue;
        }
        // A late answer to an earlier command may stand before this one's in the same read: the
        // first valid packet with this code counts, wherever it starts.
        std::uint32_t at = 0;
        while (at + kPacketHeader <= got) {
            const std::uint32_t size = kPacketHeader + run.answer[at + 2];
            if (run.answer[at] == kPacketSync && at + size <= got) {
                if (run.answer[at + 1] == code && checkPacket(run.answer + at, size)) break;
                at += size;
            } else {
                ++at;
            }
        }
        if (at + kPacketHeader > got) continue;
        if (at != 0) std::memmove(run.answer, run.answer + at, got - at);
        const std::uint8_t payloadLength = run.answer[2];
        if (payloadLength == 0) return run.answer[3];
        if (code == kCmdFinish) {
            // Still busy: the payload says how long to wait before asking again.
            const std::uint32_t wait = payloadLength >= 3 ? waitOf(run.answer + kPacketHeader) : 0;
            if (wait != 0 && !run.sleepUnlessCancelled(wait)) return -1;
            continue;
        }
        return 0;
    }
    return -1;
}

// The update thread's last line. A caller who sees it may start again at once: the start then
// waits the moment the thread takes to end rather than find it still running.
void dfuLastText(DfuRun& run, int kind, std::int32_t value = 0) {
    {
        std::lock_guard<std::mutex> guard(run.lock);
        run.finishing = true;
    }
    dfuProgressText(run, kind, value);
}

std::uint32_t runUpdateSteps(DfuRun& run) {
    const std::vector<std::uint8_t>& image = *run.image;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(image.size());
    const std::uint32_t headerLength = image[4];
    const std::uint8_t* data = image.data() + headerLength;
    std::uint32_t remaining = imageSize - headerLength;
    std::uint64_t sent = 0;

    std::int16_t result = dfuCommand(run, kCmdBegin, nullptr, nullptr);
    if (result != 0) {
        dfuLastText(run, 1, result);
        return CWDfu::kThreadExitCode;
    }
    // The header body comes from the loaded image, so a header longer than 128 bytes is sent whole.
    std::uint32_t bodyLength = headerLength - 8;
    result = dfuCommand(run, kCmdHeader, image.data() + 8, &bodyLength);
    if (result != 0) {
        dfuLastText(run, 2, result);
        return CWDfu::kThreadExitCode;
    }
    run.percent = 0;
    dfuProgressText(run, 3);
    while (remaining > 0 && run.cancel.load() == 0) {
        std::uint32_t count = remaining;
        result = dfuCommand(run, kCmdPiece, data, &count);
        if (result != 0) {
            dfuLastText(run, 4, result);
            return CWDfu::kThreadExitCode;
        }
        data += count;
        sent += count;
        remaining -= count;
        const std::uint16_t percent = fwPercent(sent, imageSize);
        if (percent != run.percent) {
            run.percent = percent;
            sendWndMsg(run.notices, 2, percent, 0);
        }
    }
    if (remaining > 0) {
        dfuProgressText(run, 8);
        // Abandoned on the device; its answer is not awaited (the cancel flag is set), and the
        // next command discards it.
        dfuCommand(run, kCmdBegin, nullptr, nullptr);
        return CWDfu::kThreadExitCode;
    }
    dfuProgressText(run, 5);
    result = dfuCommand(run, kCmdFinish, nullptr, nullptr);
    if (result != 0) {
        dfuLastText(run, 6, result);
        return CWDfu::kThreadExitCode;
    }
    run.percent = 100;
    sendWndMsg(run.notices, 2, 100, 0);
    if ((run.options & 1) == 0) {
        dfuLastText(run, 7);
    } else {
        dfuProgressText(run, 7);
        dfuLastText(run, 9, dfuCommand(run, kCmdRestart, nullptr, nullptr));
    }
    return CWDfu::kThreadExitCode;
}

namespace {

// Collects an update thread that has done its work. While the library leaves the process the
// system lets no thread finish until it is unloaded (Windows), so it is then let go as the
// network port's threads are.
void collectThread(platform::BoundedWorker& worker) { worker.collect(theApp().detaching.load()); }

}  // namespace

CWDfu::~CWDfu() {
    shutDown();
    std::lock_guard<std::mutex> guard(threadLock_);
    collectThread(worker_);
}

void CWDfu::joinEndedThread() { collectThread(worker_); }

bool CWDfu::updateRunning() {
    std::lock_guard<std::mutex> guard(threadLock_);
    if (!run_) return false;
    std::unique_lock<std::mutex> runGuard(run_->lock);
    const std::shared_ptr<DfuRun> run = run_;
    if (run->finishing)
        run->changed.wait_for(runGuard, std::chrono::milliseconds(kFinishingWaitMs), [&run] { return run->ended; });
    return !run->ended;
}

std::int32_t CWDfu::openDfu(const char16_t* path, void* window) {
    std::lock_guard<std::mutex> guard(apiLock_);
    if (file_.isOpen() || path == nullptr) return 0;
    if (!file_.open(path)) return 0;
    std::uint32_t got = 0, size = 0;
    if (!file_.read(header_, kFwHeaderSize, &got) || got < kFwHeaderSize || !file_.size(&size)) {
        file_.close();
        return 0;
    }
    const FwCheckResult check = checkFwHeader(header_, size);
    const DfuNotices notices{heldLog_, window_, device_};
    if (check.outcome == FwCheck::BadCheck)
        dfuNotice(notices, formatWide(u"检 验 码 不 匹 配(0x%x", check.computed));
    if (check.outcome == FwCheck::BadLength) badLengthLine(header_[4], size);
    if (check.outcome != FwCheck::Ok) {
        file_.close();
        return 0;
    }
    window_ = window;
    return 1;
}

std::int32_t CWDfu::fwInfo(std::uint8_t* record, bool get) {
    std::lock_guard<std::mutex> guard(apiLock_);
    if (!file_.isOpen() || record == nullptr) return 0;
    if (get) {
        fwInfoFromHeader(header_, record);
        return 1;
    }
    switch (fwInfoIntoHeader(record, header_)) {
    case FwInfoSet::WrongMagic: return 0;
    case FwInfoSet::Unchanged: return 1;
    case FwInfoSet::Changed: break;
    }
    if (!sealFwHeader(header_)) return 0;
    std::uint32_t written = 0;
    const bool ok = file_.seekToStart() && file_.write(header_, kFwHeaderSize, &written) && written == kFwHeaderSize;
    // The in-memory copy keeps the stand-in of its check value, as after a check.
    header_[5] = 0xE3;
    header_[6] = 0xD8;
    return ok ? 1 : 0;
}

bool CWDfu::loadFirmware(DfuRun& run) {
    std::uint32_t size = 0;
    if (!file_.isOpen() || !file_.size(&size) || size == 0 || !file_.seekToStart()) return false;
    image_.reset();
    auto image = std::make_shared<std::vector<std::uint8_t>>();
    try {
        image->reserve((size + 3u) / 4u * 4u);
        image->resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint32_t at = 0; at < size;) {
        std::uint32_t got = 0;
        if (!file_.read(image->data() + at, size - at, &got) || got == 0) {
            dfuNotice(run.notices, u"读 取 固 件 文 件 失 败");
            return false;
        }
        at += got;
    }
    const FwCheckResult check = checkFwHeader(image->data(), size);
    if (check.outcome != FwCheck::Ok) {
        if (check.outcome == FwCheck::BadCheck)
            dfuNotice(run.notices, formatWide(u"检 验 码 不 匹 配(0x%x", check.computed));
        if (check.outcome == FwCheck::BadLength) badLengthLine((*image)[4], size);
        dfuNotice(run.notices, u"非 法 的 固 件 文 件 ");
        return false;
    }
    image_ = image;
    imageSize_ = size;
    run.image = image;
    return true;
}

bool CWDfu::prepareDevice(DfuRun& run) {
    const DfuNotices& to = run.notices;
    std::int16_t result = dfuCommand(run, kCmdConnect, nullptr, nullptr);
    if (result == 5) {
        // The device asks for its work mode to be switched first: only a switch that succeeded
        // lets the update go on.
        const std::uint8_t mode = 0x00;
        std::uint32_t length = 1;
        if (dfuCommand(run, kCmdWorkMode, &mode, &length) != 0) {
            dfuNotice(to, u"模　式　切　换 失 败 ");
            return false;
        }
    } else if (result != 0) {
        dfuNotice(to, u"连 接 请 求 失 败 ");
        return false;
    }

    result = dfuCommand(run, kCmdModel, nullptr, nullptr);
    if (result != 0) {
        dfuNotice(to, u" 获 取 设 备 型 号 失 败 ");
    } else if (run.answer[2] != 0) {
        dfuNotice(to, u"设 备 型 号 = ", true, false);
        dfuNotice(to, payloadText(run.answer + kPacketHeader, run.answer[2]), false, true);
    }

    result = dfuCommand(run, kCmdDeviceNumber, nullptr, nullptr);
    if (result != 0) {
        dfuNotice(to, u" 获 取 设 备 机 号 失 败 ");
    } else if (run.answer[2] != 0) {
        const std::uint8_t* payload = run.answer + kPacketHeader;
        const std::uint8_t length = run.answer[2];
        dfuNotice(to, u"设 备 机 号 = ", true, false);
        if (payload[0] == 1) {
            dfuNotice(to, payloadText(payload, length), false, true);
        } else if (to.log != nullptr) {
            // A binary number: its bytes in hexadecimal, to the log only.
            const std::uint8_t count = payload[0] < length ? payload[0] : static_cast<std::uint8_t>(length - 1);
            to.log->logHexDump(payload + 1, count);
        }
    }

    result = dfuCommand(run, kCmdUpdateRequest, nullptr, nullptr);
    if (result != 0) {
        dfuNotice(to, u" UDF 请 求 失 败 ");
        return false;
    }
    if (run.answer[2] >= 3 && run.answer[kPacketHeader] != kAlreadyInBoot) {
        const std::uint32_t wait = waitOf(run.answer + kPacketHeader);
        dfuNotice(to, u" 重 启 设 备 进 入 Boot 模 式");
        for (int attempt = 0; attempt < kBootAttempts; ++attempt) {
            if (!run.sleepUnlessCancelled(wait)) return false;  // the device is being closed
            if (run.port->reOpenPort(0) != 0) {
                dfuNotice(to, u" 打　开 设 备 成　功");
                return true;
            }
        }
        dfuNotice(to, u" 枚 举 设 备");
        return false;
    }
    return true;
}

std::int32_t CWDfu::updateStart(const std::shared_ptr<DeviceSession>& session, std::int32_t device,
                                std::uint32_t options) {
    std::lock_guard<std::mutex> guard(apiLock_);
    CLogFile& log = theLog();
    if (updateRunning()) {
        if (log.isOpen()) dfuNotice(DfuNotices{&log, window_, device}, u"DFU 更 新 尚 未 完 成");
        return 0;
    }
    auto run = std::make_shared<DfuRun>();
    // A start that ends without a thread leaves no update behind it.
    struct EndUnlessStarted {
        DfuRun& run;
        bool started = false;
        ~EndUnlessStarted() {
            if (started) return;
            std::lock_guard<std::mutex> guard(run.lock);
            run.ended = true;
        }
    } endUnlessStarted{*run};
    device_ = device;
    heldLog_ = log.isOpen() ? &log : nullptr;
    run->notices = DfuNotices{heldLog_, window_, device};
    run->port = session->controlPort();
    run->options = options;
    {
        // A stop of the slot that comes while the device is being prepared cuts its waits short.
        std::lock_guard<std::mutex> threadGuard(threadLock_);
        joinEndedThread();
        if (startRefused()) return 0;
        run_ = run;
    }
    if (run->port == nullptr || run->port->isPortOpen() == 0) {
        dfuNotice(run->notices, u"端　口 尚 未 打　开");
        return 0;
    }
    dfuNotice(run->notices, u"加 载 固 件 文 件");
    if (!loadFirmware(*run)) {
        dfuNotice(run->notices, u"文 件 加 载 失 败");
        return 0;
    }
    if (!prepareDevice(*run)) return 0;

    std::lock_guard<std::mutex> threadGuard(threadLock_);
    if (startRefused() || run->cancel.load() != 0) return 0;
    try {
        std::unique_lock<std::mutex> runGuard(run->lock);
        // The update thread: the steps, then its end. The session keeps the port alive for as
        // long as the thread runs, also when it was left behind by a stop that could not wait for
        // it; it goes with the thread, after its end.
        worker_.start(runGuard, run, [run, session]() -> std::function<void()> {
            runUpdateSteps(*run);
            // The end and a stop agree under the run's lock: without a stop the thread is done
            // with itself (its cancel flag is cleared, its handle is the owner's to collect);
            // once a stop has begun, the stopper owns the handle.
            return [run] {
                if (!run->stopBegun) run->cancel.store(0);
                run->ended = true;
            };
        });
    } catch (const std::system_error&) {
        dfuNotice(run->notices, u"创 建 更 新 线 程 失 败");
        return 0;
    }
    endUnlessStarted.started = true;
    return 1;
}

void CWDfu::stopUpdate() {
    std::lock_guard<std::mutex> threadGuard(threadLock_);
    std::shared_ptr<DfuRun> run = run_;
    if (!run) return;
    {
        std::lock_guard<std::mutex> guard(run->lock);
        if (run->ended || !worker_.hasThread()) {
            // No update thread: a start under way is told to give up.
            if (!run->ended) run->cancel.store(1);
            run->changed.notify_all();
            if (run->ended) joinEndedThread();
            return;
        }
    }
    const DfuNotices& to = run->notices;
    dfuNotice(to, u"等 待 更 新 线 程 关 闭");
    std::unique_lock<std::mutex> guard(run->lock);
    auto askToStop = [&run](std::unique_lock<std::mutex>&) {
        run->cancel.store(1);
        run->changed.notify_all();
    };
    // Not killed: told to leave. The transfer it waits in ends now.
    auto tellToLeave = [&run](std::unique_lock<std::mutex>& held) {
        held.unlock();
        if (run->port != nullptr) run->port->abortTransfers();
        held.lock();
    };
    const auto outcome = worker_.stop(guard, platform::BoundedWorker::Clock::now() + std::chrono::milliseconds(kStopWaitMs),
                                      std::chrono::milliseconds(kLeaveWaitMs), askToStop, tellToLeave);
    guard.unlock();
    switch (outcome) {
    case platform::BoundedWorker::Outcome::Ended:
        dfuNotice(to, u"更 新 线 程 正 常 关 闭");
        collectThread(worker_);
        break;
    case platform::BoundedWorker::Outcome::LeftLate:
        dfuNotice(to, u"更 新 线 程 异 常 关 闭");
        collectThread(worker_);
        break;
    case platform::BoundedWorker::Outcome::NoEnd:
        dfuNotice(to, u"更 新 线 程 无 法 关 闭");  // it holds its own share of everything it uses
        break;
    }
    // A thread left behind keeps its run: no new update starts on this object until it ends.
    if (run->ended) {
        run->cancel.store(0);
        run_.reset();
    }
}

void CWDfu::shutDown() {
    shutDown_.store(true);
    stopUpdate();
}

std::int32_t CWDfu::closeDfu() {
    std::lock_guard<std::mutex> guard(apiLock_);
    stopUpdate();
    file_.close();
    image_.reset();
    imageSize_ = 0;
    return 1;
}

}  // namespace tavrin
