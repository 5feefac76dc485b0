// POSIX standard streams and stop signals (see console.h).
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/console.h"

namespace tavrin::platform {
namespace {

volatile sig_atomic_t stopFlag = 0;

extern "C" void onStopSignal(int) { stopFlag = 1; }

int descriptorOf(StdStream stream) {
    switch (stream) {
    case StdStream::In: return STDIN_FILENO;
    case StdStream::Out: return STDOUT_FILENO;
    case StdStream::Err: return STDERR_FILENO;
    }
    return -1;
}

}  // namespace

bool isTerminal(StdStream stream) { return ::isatty(descriptorOf(stream)) == 1; }

void setBinaryInput() {}

InputWait waitForInput(int timeoutMs) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (n == 0 || (n < 0 && errno == EINTR)) return InputWait::TimedOut;
    if (n < 0 || (p.revents & POLLNVAL) != 0) return InputWait::Ended;
    return InputWait::Ready;  // data, or its end (POLLHUP): the read tells
}

long readInput(void* buffer, std::size_t length) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, length);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

void catchStopRequests() {
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return stopFlag != 0; }

void surviveClosedPipes() { ::signal(SIGPIPE, SIG_IGN); }

std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string file(path, static_cast<std::size_t>(n));
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : file.substr(0, slash);
}

}  // namespace tavrin::platform
