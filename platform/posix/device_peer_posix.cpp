// POSIX backend of device_peer.h: a pseudo-terminal in raw mode. The peer holds the master; the
// library opens the slave's path.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "platform/device_peer.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/socket_posix.h"
#include "platform/posix/text_posix.h"

namespace tavrin::platform {

namespace {

class PtyPeer final : public DevicePeer {
public:
    PtyPeer(int master, std::string slave) : master_(master), slave_(std::move(slave)) {}
    ~PtyPeer() override { close(); }

    std::u16string path() const override { return posix::fromUtf8(slave_); }

    long read(void* buffer, std::size_t length, int timeoutMs) override {
        if (!master_.valid()) return -1;
        pollfd p{master_.get(), POLLIN, 0};
        const int r = posix::pollFor(&p, 1, timeoutMs);  // the whole wait, however often interrupted
        if (r <= 0) return r == 0 ? 0 : -1;
        ssize_t n = ::read(master_.get(), buffer, length);
        if (n < 0 && (errno == EAGAIN || errno == EIO)) return 0;  // EIO: the slave is not open now
        return n < 0 ? -1 : static_cast<long>(n);
    }

    bool write(const void* data, std::size_t length) override {
        const auto* p = static_cast<const unsigned char*>(data);
        while (length > 0 && master_.valid()) {
            ssize_t n = ::write(master_.get(), p, length);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN) return false;
                pollfd w{master_.get(), POLLOUT, 0};
                ::poll(&w, 1, 100);
                continue;
            }
            p += n;
            length -= static_cast<std::size_t>(n);
        }
        return length == 0;
    }

    bool released(int timeoutMs) override {
        // The library holds an exclusive lock on the slave while it has it open.
        for (int waited = 0;; waited += 10) {
            if (posix::openExclusive(slave_.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY)) return true;
            if (waited >= timeoutMs) return false;
            ::usleep(10000);
        }
    }

    void close() override { master_.reset(); }

private:
    posix::ScopedFd master_;
    std::string slave_;
};

}  // namespace

std::unique_ptr<DevicePeer> DevicePeer::create(const std::string&) {
    posix::ScopedFd owner(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!owner) return nullptr;
    const int master = owner.get();
    termios raw{};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::tcgetattr(master, &raw) != 0) return nullptr;
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) return nullptr;
    return std::make_unique<PtyPeer>(owner.release(), name);
}

}  // namespace tavrin::platform
