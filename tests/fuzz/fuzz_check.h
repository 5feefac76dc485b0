// The fuzz targets: one entry per parser, each taking one input as libFuzzer hands it over. The
// same entries run as ordinary unit tests over the inputs kept in corpus/NAME/ (corpus_test.cpp).
// A target checks what must hold for every input with FUZZ_CHECK; the sanitizers check the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin::fuzz {

// Reports a property that did not hold. Under libFuzzer it aborts (the input is saved as a crash);
// in the unit tests it throws, so that the test names the corpus file.
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

using Entry = int (*)(const std::uint8_t* data, std::size_t size);

int utfConversion(const std::uint8_t* data, std::size_t size);
int netAddress(const std::uint8_t* data, std::size_t size);
int searchReply(const std::uint8_t* data, std::size_t size);
int iniReader(const std::uint8_t* data, std::size_t size);  // POSIX backend only
int toolCommandLine(const std::uint8_t* data, std::size_t size);
int packetReassembly(const std::uint8_t* data, std::size_t size);
int configDescription(const std::uint8_t* data, std::size_t size);
int hidDescriptor(const std::uint8_t* data, std::size_t size);  // POSIX backend only
int serviceRequest(const std::uint8_t* data, std::size_t size);

}  // namespace tavrin::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tavrin::fuzz::checkFailed(#condition, __FILE__, __LINE__))
