// tavrin-bench: the library side by side with the physical limit on this machine. Each row runs
// the library and its raw-socket baseline alternately, round after round, in one process, and
// prints the medians and their ratio. The reference device is a minimal C peer (peer.c) that
// answers at once; one row uses the simulator instead. Linux only. Run it pinned to one CPU
// (scripts/bench.sh does): then the caller, the peer and the library's threads share that CPU.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tavrin/tavrin.h"
#include "tools/bench/peer.h"

namespace {

using Clock = std::chrono::steady_clock;

int rounds = 7;
double secondsPerSide = 0.25;  // per round and side

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Runs op until the time is up; returns nanoseconds per call.
template <typename Op>
double timePerCall(Op op) {
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(secondsPerSide);
    long calls = 0;
    do {
        for (int i = 0; i < 64; ++i) op();
        calls += 64;
    } while (Clock::now() < until);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(calls);
}

struct Pair {
    double library, raw;
};

// Library and baseline alternately, rounds times; medians of each.
template <typename Lib, typename Raw>
Pair interleaved(Lib lib, Raw raw) {
    std::vector<double> l, r;
    for (int i = 0; i < rounds; ++i) {
        l.push_back(timePerCall(lib));
        r.push_back(timePerCall(raw));
    }
    return {median(l), median(r)};
}

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

const tavrin_wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const tavrin_wchar_t*>(s.c_str()); }

int rawConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One command and its reply on a raw socket: what an exchange costs at the least.
bool rawExchange(int fd) {
    static const unsigned char command[] = {0x10, 0x01, 0x00, 0x00};
    if (::send(fd, command, sizeof command, MSG_NOSIGNAL) != sizeof command) return false;
    unsigned char reply[64];
    std::size_t have = 0;
    while (have < 4 || have < 4u + reply[2]) {
        const ssize_t n = ::recv(fd, reply + have, sizeof reply - have, 0);
        if (n <= 0) return false;
        have += static_cast<std::size_t>(n);
    }
    return true;
}

bool rawWrite(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Opens a network device with both channels and waits until it answers a command.
std::int32_t openNet(const std::u16string& path) {
    _DEVOPEN_INFO info;
    std::memset(&info, 0, sizeof info);
    info.path = const_cast<tavrin_wchar_t*>(wide(path));
    info.readTimeout = 1000;
    info.writeTimeout = 2000;
    info.portType = PORT_NET_DATA;
    info.portMode = MODE_DATA | MODE_CTRL;
    const std::int32_t h = dllFunc_OpenDev(&info);
    if (h < 0) return h;
    for (int i = 0; i < 300; ++i) {
        std::uint8_t buf[64];
        _DEVACK_INFO answer{};
        answer.lpBuf = buf;
        answer.bufLen = sizeof buf;
        std::uint32_t n = 0;
        if (dllFunc_DevIoCtrl(h, TAVRIN_TEXT("CTRL_CMDGET_MODEL"), nullptr, 0, &answer) &&
            dllFunc_Write(h, "", 1, &n, nullptr))
            return h;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    dllFunc_CloseDev(h);
    return -1;
}

bool libraryExchange(std::int32_t h) {
    std::uint8_t buf[64];
    _DEVACK_INFO answer{};
    answer.lpBuf = buf;
    answer.bufLen = sizeof buf;
    return dllFunc_DevIoCtrl(h, TAVRIN_TEXT("CTRL_CMDGET_MODEL"), nullptr, 0, &answer) != 0;
}

bool libraryWrite(std::int32_t h, const char* data, std::uint32_t size) {
    while (size > 0) {
        std::uint32_t n = 0;
        if (!dllFunc_Write(h, data, size, &n, nullptr)) return false;
        data += n;
        size -= n;
    }
    return true;
}

int failures = 0;
void check(bool ok) {
    if (!ok) ++failures;
}

void row(const char* what, const Pair& p, const char* unit, double scale, bool higherIsBetter, const char* goal) {
    const double lib = scale / p.library, raw = scale / p.raw;
    if (higherIsBetter)
        std::printf("%-44s %10.0f %10.0f %s  ratio %.2f   goal %s\n", what, lib, raw, unit, lib / raw, goal);
    else
        std::printf("%-44s %10.2f %10.2f %s  ratio %.2fx  goal %s\n", what, p.library / 1000, p.raw / 1000, unit,
                    p.library / p.raw, goal);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            rounds = 1;
            secondsPerSide = 0.05;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: tavrin-bench [--quick] [--rounds N]\n");
            return 2;
        }
    }
    const int port = bench_peer_start();
    if (port == 0) {
        std::fprintf(stderr, "tavrin-bench: cannot start the reference peer\n");
        return 1;
    }
    const std::u16string peerPath = ascii("127.0.0.1:" + std::to_string(port));
    const std::int32_t h = openNet(peerPath);
    const int rawCtrl = rawConnect(port + 100);
    const int rawData = rawConnect(port);
    if (h < 0 || rawCtrl < 0 || rawData < 0) {
        std::fprintf(stderr, "tavrin-bench: cannot reach the reference peer\n");
        return 1;
    }
    std::printf("%d rounds of %.2f s per side; library first, raw socket second\n", rounds, secondsPerSide);
    std::printf("%-44s %10s %10s\n", "", "library", "raw");

    row("exchange (DevIoCtrl, 4 bytes out, 10 back)",
        interleaved([&] { check(libraryExchange(h)); }, [&] { check(rawExchange(rawCtrl)); }), "us", 1, false,
        "<= 1.10x");

    const std::vector<char> block(65536, 'p');
    for (const std::uint32_t size : {4096u, 65536u}) {
        const Pair p = interleaved([&] { check(libraryWrite(h, block.data(), size)); },
                                   [&] { check(rawWrite(rawData, block.data(), size)); });
        const std::string what = "Write in " + std::to_string(size / 1024) + " KiB chunks";
        row(what.c_str(), p, "MB/s", size * 1e3, true, size == 4096 ? ">= 0.95" : ">= 0.98");
    }

    {
        tavrin::sim::Simulator sim;
        tavrin::sim::SimDevice* device = sim.addNetDevice({}, {{127, 0, 0, 1}, 0});
        const std::int32_t s = device != nullptr ? openNet(device->networkPath()) : -1;
        if (s < 0) {
            std::fprintf(stderr, "tavrin-bench: cannot reach the simulator\n");
            return 1;
        }
        row("exchange against the simulator",
            interleaved([&] { check(libraryExchange(s)); }, [&] { check(rawExchange(rawCtrl)); }), "us", 1, false,
            "<= 1.5x");
        dllFunc_CloseDev(s);
    }

    // The log: a line the library writes for a transfer on an unknown handle, into a log file
    // flushed every 256 lines.
    const std::filesystem::path logPath = std::filesystem::temp_directory_path() / ("tavrin-bench-" + std::to_string(::getpid()) + ".log");
    const std::u16string logName = logPath.u16string();
    dllFunc_CloseLog();
    check(dllFunc_OpenLog(wide(logName)) != 0);
    {
        int lines = 0;
        std::vector<double> ns;
        for (int r = 0; r < rounds; ++r)
            ns.push_back(timePerCall([&] {
                std::uint32_t n = 0;
                dllFunc_Write(9, "x", 1, &n, nullptr);
                if (++lines % 256 == 0) dllFunc_SetLogRecord(nullptr, 0, 0, 1);
            }));
        std::printf("%-44s %10.0f %10s ns                goal <= 150 ns\n", "one library log line", median(ns), "-");
    }

    // Exchanges per second while another thread logs as fast as it can (and so flushes whenever
    // the text buffer is full), against the same without it, alternately.
    {
        std::vector<double> with, without;
        for (int r = 0; r < rounds; ++r) {
            without.push_back(1e9 / timePerCall([&] { check(libraryExchange(h)); }));
            std::atomic<bool> stop{false};
            std::thread logger([&] {
                while (!stop.load(std::memory_order_relaxed))
                    dllFunc_SetLogRecord(TAVRIN_TEXT("a record of a busy program, somewhat like a trace line"), 1, 1, 0);
            });
            with.push_back(1e9 / timePerCall([&] { check(libraryExchange(h)); }));
            stop.store(true);
            logger.join();
        }
        const double a = median(with), b = median(without);
        std::printf("%-44s %10.0f %10.0f /s    ratio %.2f   goal >= 0.5\n", "exchanges/s with a heavy logger, without",
                    a, b, a / b);
    }
    dllFunc_CloseLog();
    std::error_code ec;
    std::filesystem::remove(logPath, ec);

    dllFunc_CloseDev(h);
    ::close(rawCtrl);
    ::close(rawData);
    bench_peer_stop();
    if (failures != 0) std::fprintf(stderr, "tavrin-bench: %d operations failed\n", failures);
    return failures == 0 ? 0 : 1;
}
