// The HID port: report framing (0xA5 and 0xA6 layouts) on a scripted transfer and on a stand-in
// device, the report layout learned at open, and finding the device again after it re-enumerated.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "devicelib/ports/hid_port.h"
#include "platform/device_peer.h"
#include "tests/usb/usb_tree_fixture.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
}

// The payload lengths of output reports, checking each report's header on the way.
std::vector<std::size_t> payloadsOf(const std::vector<Bytes>& reports, std::uint8_t id, std::size_t length,
                                    Bytes& joined) {
    std::vector<std::size_t> out;
    for (const Bytes& r : reports) {
        EXPECT_EQ(r.size(), length);
        EXPECT_EQ(r[0], id);
        std::size_t n, at;
        if (id == 0xA6) {
            EXPECT_EQ(r[1], 0);
            n = static_cast<std::size_t>(r[2]) << 8 | r[3];
            at = 4;
        } else {
            n = r[1];
            at = 2;
        }
        out.push_back(n);
        joined.insert(joined.end(), r.begin() + static_cast<std::ptrdiff_t>(at),
                      r.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return out;
}

// A HID port whose report transfers are scripted: writes are recorded (one may fail), reads are
// served from a list.
class ScriptedHidPort : public CHidPort {
public:
    ScriptedHidPort(std::uint8_t id, std::uint16_t in, std::uint16_t out) : CHidPort(theApp()) {
        reportId_ = id;
        inputLength_ = in;
        outputLength_ = out;
    }
    std::vector<Bytes> written;
    std::size_t failWrite = SIZE_MAX;  // index of the report whose write fails
    std::vector<Bytes> reads;
    std::vector<Bytes> waiting;  // reports a read without waiting finds, in order
    int transfers = 0;
    int waitingReads = 0;

protected:
    std::int32_t readWaitingReport(std::uint8_t* report, std::uint32_t length, std::uint32_t* count) override {
        ++waitingReads;
        *count = 0;
        if (waiting.empty()) return 1;
        const Bytes r = waiting.front();
        waiting.erase(waiting.begin());
        std::memcpy(report, r.data(), std::min<std::size_t>(r.size(), length));
        *count = static_cast<std::uint32_t>(std::min<std::size_t>(r.size(), length));
        return 1;
    }

    std::int32_t transferReport(std::uint8_t direction, void*, std::uint8_t* report, std::uint32_t length,
                                std::uint32_t* count, std::int32_t) override {
        ++transfers;
        *count = 0;
        if (direction == 1) {
            if (written.size() == failWrite) return 0;
            written.emplace_back(report, report + length);
            *count = length;
            return 1;
        }
        if (reads.empty()) return 0;
        const Bytes r = reads.front();
        reads.erase(reads.begin());
        std::memcpy(report, r.data(), std::min<std::size_t>(r.size(), length));
        *count = static_cast<std::uint32_t>(r.size());
        return 1;
    }
};

TEST(HidReportFraming, AWriteIsCutIntoWholeReports) {
    const struct {
        std::uint8_t id;
        std::uint16_t out;
        std::size_t bytes;
        std::vector<std::size_t> payloads;
    } cases[] = {
        {0xA6, 65, 200, {61, 61, 61, 17}},
        {0xA5, 65, 200, {63, 63, 63, 11}},
        {0xA5, 64, 62, {62}},  // exactly one report
        {0xA6, 5, 3, {1, 1, 1}},
        {0xA6, 265, 600, {261, 261, 78}},  // the longest report the buffers take
        // The short header's length byte says at most 255, whatever room the report has.
        {0xA5, 265, 600, {255, 255, 90}},
        {0xA5, 258, 256, {255, 1}},
        {0xA5, 257, 256, {255, 1}},
    };
    for (const auto& c : cases) {
        ScriptedHidPort port(c.id, 65, c.out);
        const Bytes data = pattern(c.bytes);
        std::uint32_t count = 0;
        ASSERT_EQ(port.syncIOAccess(1, nullptr, const_cast<std::uint8_t*>(data.data()),
                                    static_cast<std::uint32_t>(data.size()), &count, 100),
                  1);
        EXPECT_EQ(count, c.bytes);
        Bytes joined;
        EXPECT_EQ(payloadsOf(port.written, c.id, c.out, joined), c.payloads) << int(c.id) << " " << c.out;
        EXPECT_EQ(joined, data);
    }
}

TEST(HidReportFraming, AFailingReportEndsTheWriteWithTheCountOfTheReportsBefore) {
    for (const auto& [id, sentBefore] : {std::pair<std::uint8_t, std::uint32_t>{0xA6, 122}, {0xA5, 126}}) {
        ScriptedHidPort port(id, 65, 65);
        port.failWrite = 2;  // the third report
        const Bytes data = pattern(200);
        std::uint32_t count = 0;
        EXPECT_EQ(port.syncIOAccess(1, nullptr, const_cast<std::uint8_t*>(data.data()), 200, &count, 100), 0);
        EXPECT_EQ(count, sentBefore);
        EXPECT_EQ(port.written.size(), 2u);
    }
}

TEST(HidReportFraming, AReadTakesThePayloadOfOneReport) {
    auto report = [](std::uint8_t id, std::size_t length, std::size_t payload) {
        Bytes r(length, 0xEE);
        r[0] = id;
        if (id == 0xA6) {
            r[1] = 0;
            r[2] = static_cast<std::uint8_t>(payload >> 8);
            r[3] = static_cast<std::uint8_t>(payload);
            for (std::size_t i = 0; i < payload && 4 + i < length; ++i) r[4 + i] = static_cast<std::uint8_t>(i);
        } else {
            r[1] = static_cast<std::uint8_t>(payload);
            for (std::size_t i = 0; i < payload && 2 + i < length; ++i) r[2 + i] = static_cast<std::uint8_t>(i);
        }
        return r;
    };
    const struct {
        const char* what;
        std::uint8_t layoutId;
        Bytes incoming;
        std::uint32_t bufferSize;
        bool ok;
        std::uint32_t count;
    } cases[] = {
        {"0xA6 layout", 0xA6, report(0xA6, 65, 10), 64, true, 10},
        {"0xA5 layout", 0xA5, report(0xA5, 65, 63), 64, true, 63},
        {"the report's own id decides", 0xA6, report(0xA5, 65, 5), 64, true, 5},
        {"empty payload", 0xA6, report(0xA6, 65, 0), 64, true, 0},
        {"longer than the caller's buffer", 0xA6, report(0xA6, 65, 20), 19, false, 0},
        {"longer than the report holds", 0xA6, report(0xA6, 65, 62), 260, false, 0},
        {"0xA5 longer than the report holds", 0xA5, report(0xA5, 65, 64), 260, false, 0},
        {"short read", 0xA6, Bytes{0xA6, 0, 0, 3, 1, 2, 3}, 64, false, 0},
        {"another report id", 0xA6, report(0x11, 65, 3), 64, false, 0},
    };
    for (const auto& c : cases) {
        ScriptedHidPort port(c.layoutId, 65, 65);
        port.reads.push_back(c.incoming);
        Bytes buffer(c.bufferSize, 0x55);
        std::uint32_t count = 99;
        EXPECT_EQ(port.syncIOAccess(0, nullptr, buffer.data(), c.bufferSize, &count, 100) != 0, c.ok) << c.what;
        EXPECT_EQ(count, c.count) << c.what;
        for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(buffer[i], i) << c.what;
    }
}

TEST(HidReportFraming, NothingToMoveAndBadRequests) {
    ScriptedHidPort port(0xA6, 65, 65);
    std::uint8_t b[8] = {};
    std::uint32_t count = 5;
    EXPECT_EQ(port.syncIOAccess(1, nullptr, b, 0, &count, 100), 1);
    EXPECT_EQ(port.syncIOAccess(0, nullptr, b, 0, &count, 100), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.syncIOAccess(2, nullptr, b, 8, &count, 100), 0);  // no such direction
    EXPECT_EQ(port.transfers, 0);
    ScriptedHidPort other(0x11, 65, 65);  // a report id of no known layout
    EXPECT_EQ(other.syncIOAccess(1, nullptr, b, 8, &count, 100), 0);
    EXPECT_EQ(other.transfers, 0);
}

// Draining takes the payload of one waiting report per call and skips reports that carry
// nothing, so that the discard before a command empties the port of every stale report.
TEST(HidReportFraming, DrainTakesWaitingPayloadsAndSkipsEmptyOrForeignReports) {
    auto report = [](std::uint8_t id, std::size_t payload) {
        Bytes r(65, 0);
        r[0] = id;
        const std::size_t at = id == 0xA5 ? 2 : 4;
        if (id == 0xA5) r[1] = static_cast<std::uint8_t>(payload);
        else r[3] = static_cast<std::uint8_t>(payload);
        for (std::size_t i = 0; i < payload; ++i) r[at + i] = static_cast<std::uint8_t>(0x30 + i);
        return r;
    };
    auto claiming = [](Bytes r, std::uint8_t length) {  // a 0xA6 report whose header says length
        r[3] = length;
        return r;
    };
    const struct {
        const char* what;
        std::vector<Bytes> waiting;
        std::vector<std::uint32_t> counts;  // of the calls until one finds nothing
    } cases[] = {
        {"nothing waiting", {}, {0}},
        {"two replies", {report(0xA6, 7), report(0xA6, 61)}, {7, 61, 0}},
        {"either header", {report(0xA5, 3), report(0xA6, 4)}, {3, 4, 0}},
        {"empty and foreign reports skipped", {report(0xA6, 0), report(0x11, 5), report(0xA6, 2)}, {2, 0}},
        {"a report cut short skipped", {Bytes{0xA6, 0, 0, 3, 1, 2, 3}, report(0xA6, 1)}, {1, 0}},
        {"a header beyond the report skipped", {claiming(report(0xA6, 0), 62), report(0xA6, 9)}, {9, 0}},
    };
    for (const auto& c : cases) {
        ScriptedHidPort port(0xA6, 65, 65);
        port.waiting = c.waiting;
        for (std::uint32_t expected : c.counts) {
            std::uint8_t buffer[264] = {};
            std::uint32_t count = 99;
            ASSERT_EQ(port.drainInput(buffer, sizeof buffer, &count), 1) << c.what;
            EXPECT_EQ(count, expected) << c.what;
            for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(buffer[i], 0x30 + i) << c.what;
        }
        EXPECT_TRUE(port.waiting.empty()) << c.what;
        EXPECT_EQ(port.transfers, 0) << c.what;  // never a read that waits
    }
    // A port without a report layout (never opened) has nothing to drain.
    ScriptedHidPort closed(0xA6, 0, 0);
    closed.waiting.push_back(report(0xA6, 3));
    std::uint8_t buffer[16];
    std::uint32_t count = 99;
    EXPECT_EQ(closed.drainInput(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(closed.waitingReads, 0);
}

// The HID port on stand-in devices plugged into the tree.
class HidPortDevice : public UsbTreeFixture {
protected:
    // A stand-in HID device; on Windows its path is the interface path, with its fields.
    std::unique_ptr<platform::DevicePeer> peer(const std::string& fields) {
        auto p = platform::DevicePeer::create("hid#" + fields + "#x");
        EXPECT_NE(p, nullptr);
        return p;
    }
    Bytes readReports(platform::DevicePeer& p, std::size_t bytes) {
        Bytes got;
        std::uint8_t chunk[512];
        for (int tries = 0; got.size() < bytes && tries < 100; ++tries) {
            const long n = p.read(chunk, std::min(sizeof chunk, bytes - got.size()), 100);
            if (n < 0) break;
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }
};

TEST_F(HidPortDevice, OpensWithTheDevicesLayoutAndCarriesReports) {
    auto p = peer("vid_0fe6&pid_8120");
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "6", {hidInterface(0, p->path(), 0xA6, 65, 65)})));
    CHidPort port(theApp());
    const std::u16string hidPath = path("6", 0);
    const _DEVOPEN_INFO info{toExport(hidPath.c_str()), 300, 300, PORT_HID, MODE_CTRL};
    ASSERT_EQ(port.openPort(&info, 0), 1);
    EXPECT_EQ(port.reportId(), 0xA6);
    EXPECT_EQ(port.outputReportLength(), 65);
    EXPECT_EQ(port.inputReportLength(), 65);
    EXPECT_TRUE(logHas(u"#CHidPort::getDevReportInfo : reportID(0xa6) outLen(65) inLen(65)\r\n"));

    const Bytes data = pattern(200);
    std::uint32_t count = 0;
    ASSERT_EQ(port.writePort(data.data(), 200, &count, nullptr), 1);
    EXPECT_EQ(count, 200u);
    const Bytes wire = readReports(*p, 4 * 65);
    ASSERT_EQ(wire.size(), 4u * 65);
    std::vector<Bytes> reports;
    for (std::size_t i = 0; i < 4; ++i)
        reports.emplace_back(wire.begin() + static_cast<std::ptrdiff_t>(i * 65),
                             wire.begin() + static_cast<std::ptrdiff_t>((i + 1) * 65));
    Bytes joined;
    EXPECT_EQ(payloadsOf(reports, 0xA6, 65, joined), (std::vector<std::size_t>{61, 61, 61, 17}));
    EXPECT_EQ(joined, data);

    // One input report in, its payload out; a report cut short fails.
    Bytes in(65, 0);
    in[0] = 0xA6;
    in[3] = 3;
    in[4] = 'a', in[5] = 'b', in[6] = 'c';
    ASSERT_TRUE(p->write(in.data(), in.size()));
    std::uint8_t buffer[64] = {};
    ASSERT_EQ(port.readPort(buffer, sizeof buffer, &count, nullptr), 1);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
    ASSERT_TRUE(p->write(in.data(), 10));
    EXPECT_EQ(port.readPort(buffer, sizeof buffer, &count, nullptr), 0);
    EXPECT_EQ(count, 0u);

    // Reports that are waiting are drained one payload a call; with none waiting the drain
    // returns at once, far within the port's read time-out of 300 ms.
    in[3] = 2;
    ASSERT_TRUE(p->write(in.data(), in.size()));
    in[3] = 3;
    ASSERT_TRUE(p->write(in.data(), in.size()));
    std::uint32_t drained = 0;
    for (int tries = 0; tries < 200 && drained < 5; ++tries) {
        ASSERT_EQ(port.drainInput(buffer, sizeof buffer, &count), 1);
        drained += count;
        if (count == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(drained, 5u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.drainInput(buffer, sizeof buffer, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST_F(HidPortDevice, LongShortHeaderReportsCarryAtMost255BytesEach) {
    auto p = peer("vid_0fe6&pid_8120");
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "7", {hidInterface(0, p->path(), 0xA5, 65, 265)})));
    CHidPort port(theApp());
    ASSERT_EQ(port.openUsbPort(path("7", 0).c_str(), 0, 0), 1);
    const Bytes data = pattern(300);
    std::uint32_t count = 0;
    ASSERT_EQ(port.writePort(data.data(), 300, &count, nullptr), 1);
    EXPECT_EQ(count, 300u);
    const Bytes wire = readReports(*p, 2 * 265);
    ASSERT_EQ(wire.size(), 2u * 265);
    const std::vector<Bytes> reports{Bytes(wire.begin(), wire.begin() + 265), Bytes(wire.begin() + 265, wire.end())};
    Bytes joined;
    EXPECT_EQ(payloadsOf(reports, 0xA5, 265, joined), (std::vector<std::size_t>{255, 45}));
    EXPECT_EQ(joined, data);
}

TEST_F(HidPortDevice, ADeviceWhoseReportsDoNotFitTheBuffersIsRefused) {
    const struct {
        std::uint8_t id;
        std::uint16_t in, out;
    } cases[] = {
        {0xA6, 300, 65},  // input longer than the report buffer
        {0xA6, 65, 266},  // output longer
        {0xA6, 65, 4},    // an output report with no room for payload
        {0xA5, 1, 65},    // an input report shorter than its header
    };
    int port = 10;
    for (const auto& c : cases) {
        const std::string at = std::to_string(port++);
        auto p = peer("vid_0fe6&pid_8120");
        ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, at, {hidInterface(0, p->path(), c.id, c.in, c.out)})));
        CHidPort hid(theApp());
        EXPECT_EQ(hid.openUsbPort(path(at, 0).c_str(), 0, 0), 0) << c.in << "/" << c.out;
        EXPECT_EQ(hid.isPortOpen(), 0);
        EXPECT_TRUE(logHas(u"#CHidPort::getDevReportInfo : report length unusable"));
        // Reads and writes fail rather than run past the buffers.
        std::uint8_t b[300] = {};
        std::uint32_t count = 0;
        EXPECT_EQ(hid.syncIOAccess(0, nullptr, b, sizeof b, &count, 50), 0);
        EXPECT_EQ(hid.syncIOAccess(1, nullptr, b, sizeof b, &count, 50), 0);
        tree_->unplug(at);  // one HID layout in the tree at a time
    }
}

TEST_F(HidPortDevice, ResolveOnlyOpensNothing) {
    auto p = peer("vid_0fe6&pid_811e&mi_01");
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x811E, "6", {printerInterface(0), hidInterface(1, p->path())})));
    CHidPort port(theApp());
    const std::u16string hidPath = path("6", 1);
    const _DEVOPEN_INFO info{toExport(hidPath.c_str()), 0, 0, PORT_USBPRN, MODE_CTRL};
    EXPECT_EQ(port.openPort(&info, kOpenResolveOnly), 1);  // the type is not even looked at
    EXPECT_EQ(port.isPortOpen(), 0);
    EXPECT_EQ(port.vendorId(), 0x0FE6);
    EXPECT_EQ(port.parentInstanceId(), tree_->deviceInstanceId("6"));
    EXPECT_EQ(port.openPort(&info, 0), 0);  // a record of another type
}

class HidReopen : public HidPortDevice {};

TEST_F(HidReopen, FindsTheDeviceAgainAfterItReenumerated) {
    // The device restarts into another mode: a new product id and instance at the same place.
    const struct {
        std::uint16_t level;
        bool otherVendorFirst;
    } cases[] = {{2, false}, {2, true}, {1, false}, {1, true}, {0, false}};
    for (const auto& c : cases) {
        theApp().osLevel = c.level;
        auto before = peer("vid_0fe6&pid_811e&mi_01");
        auto after = peer("vid_0fe6&pid_7001&mi_01");
        auto stranger = peer("vid_1fc9&pid_2016&mi_01");
        if (c.otherVendorFirst) {
            ASSERT_TRUE(tree_->plug(usbDevice(0x1FC9, 0x2016, "2", {printerInterface(0), hidInterface(1, stranger->path())})));
        }
        ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x811E, "5", {printerInterface(0), hidInterface(1, before->path())})));
        CHidPort port(theApp());
        const std::u16string first = path("5", 1);
        ASSERT_EQ(port.openUsbPort(first.c_str(), 0, 0), 1);
        const std::u16string location = port.locationPath();

        tree_->unplug("5");
        auto restarted = usbDevice(0x0FE6, 0x7001, "5", {printerInterface(0), hidInterface(1, after->path())});
        restarted.instance = "BOOT";
        ASSERT_TRUE(tree_->plug(restarted));
        ASSERT_NE(path("5", 1), first);

        ASSERT_EQ(port.reOpenPort(0), 1) << c.level << " " << c.otherVendorFirst;
        EXPECT_EQ(port.isPortOpen(), 1);
        EXPECT_EQ(port.locationPath(), location);  // what it found the device by stays
        const std::uint8_t byte = 0x42;
        std::uint32_t count = 0;
        ASSERT_EQ(port.writePort(&byte, 1, &count, nullptr), 1);
        const Bytes report = readReports(*after, 65);
        ASSERT_EQ(report.size(), 65u);
        EXPECT_EQ(report[4], 0x42);  // on the restarted device
        port.closePort();
        tree_->unplug("5");
        tree_->unplug("2");
    }
}

TEST_F(HidReopen, APortNeverOpenedFindsNoDeviceByLocationButTheFirstByVendorIdZero) {
    auto p = peer("vid_0fe6&pid_8120");
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "6", {hidInterface(0, p->path())})));
    CHidPort atLevel2(theApp());
    theApp().osLevel = 2;
    EXPECT_EQ(atLevel2.reOpenPort(0), 0);
    EXPECT_TRUE(logHas(u"#CHidPort::reOpenPort : Fail(1)\r\n"));

    theApp().osLevel = 1;
    CHidPort atLevel1(theApp());
    EXPECT_EQ(atLevel1.reOpenPort(0), 1);  // stored VID 0: the first HID interface present
    EXPECT_EQ(atLevel1.isPortOpen(), 1);
    EXPECT_EQ(atLevel1.readTimeout(), 100);
    EXPECT_EQ(atLevel1.writeTimeout(), 2000);
}

TEST_F(HidReopen, TellsWhichStepFailed) {
    theApp().osLevel = 1;
    // A HID interface that cannot be opened (no device behind its path).
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "6", {hidInterface(0)})));
    CHidPort port(theApp());
    const std::u16string unreachable = path("6", 0);
    EXPECT_EQ(port.openUsbPort(unreachable.c_str(), kOpenResolveOnly, 0), 1);
    EXPECT_EQ(port.reOpenPort(0), 0);
    // Linux: the node is a plain file, which opens but states no report layout.
    EXPECT_TRUE(logHas(u"#CHidPort::reOpenPort : Fail(3)\r\n") || logHas(u"#CHidPort::reOpenPort : Fail(2)\r\n"));
    EXPECT_EQ(port.isPortOpen(), 0);
}

}  // namespace
}  // namespace tavrin::test
