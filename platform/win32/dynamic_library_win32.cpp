// Win32 backend of dynamic_library.h: LoadLibraryA, GetProcAddress, FreeLibrary.
#include "platform/dynamic_library.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform {

bool DynamicLibrary::open(const std::string& file) {
    close();
    module_ = reinterpret_cast<void*>(LoadLibraryA(file.c_str()));
    return module_ != nullptr;
}

void DynamicLibrary::close() {
    if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
    module_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name));
}

}  // namespace tavrin::platform
