// ScopedHandle: the one owner of an OS resource. It closes what it holds when it goes, when it is
// given another one (reset) and never twice; release hands the resource on without closing it.
// Each kind of resource has its traits, declared next to the backend that uses it
// (win32/win32_handles.h, posix/posix_handles.h):
//
//     struct Traits {
//         using Type = ...;                   // the OS's own handle type
//         static Type invalid();              // the value that holds nothing
//         static void close(Type handle);     // called only for a value that is not invalid()
//     };
//
// Portable code without OS calls; the traits carry the OS.
#pragma once

#include <utility>

namespace tavrin::platform {

template <typename Traits>
class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept : handle_(Traits::invalid()) {}
    explicit ScopedHandle(Type handle) noexcept : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~ScopedHandle() { reset(); }

    Type get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes what is held and holds handle instead.
    void reset(Type handle = Traits::invalid()) noexcept {
        if (handle == handle_) return;
        const Type old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // Lets go of the resource without closing it.
    Type release() noexcept { return std::exchange(handle_, Traits::invalid()); }

private:
    Type handle_;
};

}  // namespace tavrin::platform
