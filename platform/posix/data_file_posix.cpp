// POSIX backend of data_file.h: open(2) with an exclusive advisory lock (flock) standing in for
// Windows' share mode 0; the descriptor is closed on every path.
#include "platform/data_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_handles.h"
#include "platform/posix/text_posix.h"

namespace tavrin::platform {

namespace {

posix::ScopedFd openLocked(const std::u16string& path, int flags) {
    const std::string p = posix::toUtf8(path.c_str());  // empty: not well-formed
    if (p.empty()) return posix::ScopedFd();
    return posix::openExclusive(p.c_str(), flags | O_NOCTTY);
}

}  // namespace

bool readDataFile(const std::u16string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    posix::ScopedFd file(openLocked(path, O_RDONLY));
    if (!file.valid()) return false;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return false;
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(file.get(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

bool writeDataFile(const std::u16string& path, const std::uint8_t* bytes, std::size_t count,
                   std::size_t* written) {
    if (written != nullptr) *written = 0;
    // Truncated only once the lock is held, so that a reader holding the file sees it whole.
    posix::ScopedFd file(openLocked(path, O_WRONLY | O_CREAT));
    if (!file.valid()) return false;
    if (::ftruncate(file.get(), 0) != 0) return false;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(file.get(), bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (written != nullptr) *written = done;
    return true;
}

}  // namespace tavrin::platform
