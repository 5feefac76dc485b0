// The POSIX kinds of ScopedHandle: file descriptors (files, devices, eventfds, pseudo-terminals),
// sockets (descriptors too, named apart so that their owners say what they hold) and libraries
// loaded at run time. POSIX backend only.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/scoped_handle.h"

namespace tavrin::platform::posix {

struct FdTraits {
    using Type = int;
    static Type invalid() { return -1; }
    static void close(Type fd) { ::close(fd); }
};
using ScopedFd = ScopedHandle<FdTraits>;

struct SocketTraits : FdTraits {};
using ScopedSocket = ScopedHandle<SocketTraits>;

struct LibraryTraits {
    using Type = void*;
    static Type invalid() { return nullptr; }
    static void close(Type library) { ::dlclose(library); }
};
using ScopedLibrary = ScopedHandle<LibraryTraits>;

// Opens path (flags, and O_CLOEXEC) and takes the exclusive lock that keeps every other such open
// out; holds nothing when either fails. mode: for a file that O_CREAT makes.
inline ScopedFd openExclusive(const char* path, int flags, mode_t mode = 0644) {
    ScopedFd fd(::open(path, flags | O_CLOEXEC, mode));
    if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) fd.reset();
    return fd;
}

}  // namespace tavrin::platform::posix
