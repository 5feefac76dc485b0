// Loading a shared library at run time and looking up its functions by name.
#pragma once

#include <string>

namespace tavrin::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary() { close(); }

    // A file name (searched the system's way) or a path, in the system's narrow encoding.
    bool open(const std::string& file);
    void close();
    bool isOpen() const { return module_ != nullptr; }
    void* symbol(const char* name) const;
    // Lets go of the library without unloading it: it stays loaded until the process ends.
    void release() { module_ = nullptr; }

private:
    void* module_ = nullptr;
};

}  // namespace tavrin::platform
