// POSIX backend of dynamic_library.h: dlopen, dlsym, dlclose.
#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace tavrin::platform {

bool DynamicLibrary::open(const std::string& file) {
    close();
    module_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    return module_ != nullptr;
}

void DynamicLibrary::close() {
    if (module_ != nullptr) ::dlclose(module_);
    module_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    return module_ != nullptr ? ::dlsym(module_, name) : nullptr;
}

}  // namespace tavrin::platform
