// The libFuzzer entry of one fuzz target; the build names the target's entry in TAVRIN_FUZZ_ENTRY.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_check.h"

#ifndef TAVRIN_FUZZ_ENTRY
#error "TAVRIN_FUZZ_ENTRY must name the fuzz target's entry"
#endif

namespace tavrin::fuzz {

void checkFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

}  // namespace tavrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tavrin::fuzz::TAVRIN_FUZZ_ENTRY(data, size);
}
