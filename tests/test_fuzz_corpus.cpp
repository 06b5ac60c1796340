// Replays every fuzz target's checked-in inputs through the same bodies the fuzzers run: the
// seed corpus (tests/fuzz/corpus/<target>/) and the inputs of earlier findings
// (tests/data/regress/<target>/). Runs in every build, so a fixed crash stays fixed under the
// ordinary and the sanitizer builds, without clang or libFuzzer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzMidiStream.h"

namespace fs = std::filesystem;
using namespace zelvox::fuzz;

namespace {

fs::path DataDir() {
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    return d ? fs::path(d) : fs::path("tests/data");
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs body over every file of the target's corpus and regression folders; returns how many.
size_t Replay(const std::string& target, const std::function<void(const uint8_t*, size_t)>& body) {
    FuzzFailuresThrow() = true;
    size_t n = 0;
    for (const fs::path& dir : {DataDir().parent_path() / "fuzz" / "corpus" / target,
                                DataDir() / "regress" / target}) {
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            const std::vector<uint8_t> bytes = ReadAll(entry.path());
            SCOPED_TRACE(entry.path().string());
            EXPECT_NO_THROW(body(bytes.data(), bytes.size())) << entry.path();
            ++n;
        }
    }
    return n;
}

} // namespace

TEST(FuzzCorpus, MidiStreamInputsReplayCleanly) {
    EXPECT_GE(Replay("midi", MidiStreamOne), 3u);
}
