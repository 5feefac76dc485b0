// POSIX backend of dynamic_library.h: dlopen, dlsym, dlclose.
#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace tavrin::platform {

namespace {

// Something of the module this code is linked into, to ask the loader which file that is.
const char moduleAnchor = 0;

// The folder of that module, with its closing slash; empty when the loader cannot tell.
std::string folderOfThisModule() {
    Dl_info info{};
    if (::dladdr(&moduleAnchor, &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool DynamicLibrary::open(const std::string& file) {
    close();
    module_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    // A bare file name is looked for the system's way, which for a library includes its own
    // RUNPATH ($ORIGIN: the folder it was loaded from). A dlopen that a sanitizer's runtime
    // interposes is made on that runtime's behalf and loses the caller's RUNPATH; the folder of this
    // module is then tried by hand, so a library still finds the one installed beside it.
    if (module_ == nullptr && file.find('/') == std::string::npos) {
        const std::string folder = folderOfThisModule();
        if (!folder.empty()) module_ = ::dlopen((folder + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
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
