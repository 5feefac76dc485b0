// The Windows kinds of ScopedHandle: kernel handles of files and devices (INVALID_HANDLE_VALUE
// holds nothing), of events and the like (null holds nothing)
// and modules. Win32 backend only. Sockets have theirs in socket_win32.h, device information sets
// in device_tree_api.h.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform::win32 {

struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type handle) { CloseHandle(handle); }
};
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type handle) { CloseHandle(handle); }
};
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;

struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type module) { FreeLibrary(module); }
};
using ScopedModule = ScopedHandle<ModuleTraits>;

}  // namespace tavrin::platform::win32
