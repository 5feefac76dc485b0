// Every input kept in corpus/NAME/ (the seeds of each fuzz target and the inputs that once went
// wrong) fed to its target's entry, as an ordinary unit test: a property that does not hold, or a
// sanitizer's report, fails it.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "tests/fuzz/corpus.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {

void checkFailed(const char* condition, const char* file, int line) {
    throw std::runtime_error(std::string(file) + ":" + std::to_string(line) + ": property does not hold: " +
                             condition);
}

namespace {

const std::map<std::string, Entry>& targets() {
    static const std::map<std::string, Entry> all = {
        {"utf", utfConversion},
        {"net_address", netAddress},
        {"search_reply", searchReply},
#ifndef _WIN32
        {"ini_reader", iniReader},
        {"hid_descriptor", hidDescriptor},
#endif
        {"cli", toolCommandLine},
        {"packet", packetReassembly},
        {"config_description", configDescription},
        {"service_request", serviceRequest},
    };
    return all;
}

TEST(FuzzCorpus, EveryKeptInputPassesItsTarget) {
    std::map<std::string, int> fed;
    for (std::size_t i = 0; i < kCorpusCount; ++i) {
        const CorpusFile& f = kCorpus[i];
        const auto target = targets().find(f.target);
        if (target == targets().end()) {
#ifdef _WIN32
            // Readers of the POSIX backend.
            if (std::string(f.target) == "ini_reader" || std::string(f.target) == "hid_descriptor") continue;
#endif
            ADD_FAILURE() << "corpus/" << f.target << " belongs to no fuzz target";
            continue;
        }
        try {
            target->second(f.data, f.size);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "corpus/" << f.target << "/" << f.name << ": " << e.what();
        }
        ++fed[f.target];
    }
    for (const auto& [name, entry] : targets()) EXPECT_GT(fed[name], 0) << "no inputs kept for " << name;
}

}  // namespace
}  // namespace tavrin::fuzz
