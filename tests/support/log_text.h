// What the tests look for in the library's log: how often a line (or a piece of one) occurs, in
// the text collected in memory (UTF-16) or in what reached the file (the system's code page).
#pragma once

#include <cstddef>
#include <string>

namespace tavrin::test {

template <typename Text>
std::size_t occurrences(const Text& text, const Text& piece) {
    std::size_t n = 0;
    for (auto at = text.find(piece); at != Text::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

}  // namespace tavrin::test
