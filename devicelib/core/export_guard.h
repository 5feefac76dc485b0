// What every export wraps its body in: no exception leaves the library; a failure becomes the
// export's failure value.
#pragma once

namespace tavrin {

template <typename Result, typename Body>
Result guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace tavrin
