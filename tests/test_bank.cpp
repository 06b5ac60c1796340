// The factory bank: the files kept in the repository are what its generator makes, the
// renderer lists them from the build tree's copy, and every one renders to sound that is
// neither silent nor clipped.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "files/PatternFileFormat.h"
#include "program/ExampleBank.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

fs::path SourceBank() {
    return fs::path(std::getenv("ZELVOX_TEST_DATA")) / ".." / ".." / "patterns";
}

std::set<std::string> ZvxNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".zvx") names.insert(e.path().stem().string());
    return names;
}

// What a shell command prints on its standard output, with "<failed>" after it when it fails.
std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        if (::pclose(p) != 0) out += "<failed>";
    }
    return out;
}

} // namespace

TEST(FactoryBank, TheGeneratorRemakesTheKeptFilesByteForByte) {
    TempDir dir;
    const std::string gen =
        (fs::path(RendererPath()).parent_path() / ".." / "patterns" / "zelvox-make-bank").string();
    ASSERT_EQ(std::system((Quote(gen) + " " + Quote(dir.path.string()) + " >/dev/null").c_str()),
              0);
    const auto names = ZvxNames(SourceBank());
    ASSERT_GE(names.size(), 16u);
    EXPECT_EQ(ZvxNames(dir.path), names) << "a file was added to or dropped from the generator";
    for (const std::string& n : names) {
        const auto kept = ReadAll(SourceBank() / (n + ".zvx"));
        EXPECT_EQ(kept.size(), kPatternFileSize) << n;
        EXPECT_TRUE(kept == ReadAll(dir / (n + ".zvx")))
            << n << " differs from what the generator makes";
    }
}

TEST(FactoryBank, EveryExampleIsListedAndRendersToSoundBelowFullScale) {
    const std::string listed = Output(Quote(RendererPath()) + " --list-examples");
    std::string expected;
    for (const std::string& n : ZvxNames(SourceBank()))
        expected += n + "\n";
    ASSERT_EQ(listed, expected);

    TempDir dir;
    int songs = 0;
    for (const std::string& n : ZvxNames(SourceBank())) {
        const std::string wav = dir / (n + ".wav");
        ASSERT_EQ(Output(Quote(RendererPath()) + " --example " + n + " -o " + Quote(wav)), "") << n;
        const auto s = WavSamples(wav);
        const bool song = PatternFileHasSong(ReadAll(SourceBank() / (n + ".zvx")));
        songs += song;
        // A loop plays the default 10 s; a song to its end (the bank's last 5 to 60 s).
        if (song) {
            EXPECT_GT(s.size(), 5u * 44100) << n;
            EXPECT_LT(s.size(), 60u * 44100) << n;
        } else {
            EXPECT_EQ(s.size(), 441000u) << n;
        }
        double sum = 0;
        int peak = 0;
        for (int16_t v : s) {
            sum += double(v) * v;
            peak = std::max(peak, std::abs(int(v)));
        }
        const double rms = std::sqrt(sum / double(std::max<size_t>(s.size(), 1)));
        // Headroom of at least 2 dB, and a level a listener hears (above -30 dBFS RMS).
        EXPECT_LT(peak, 26000) << n;
        EXPECT_GT(rms, 32768 * std::pow(10.0, -30 / 20.0)) << n;
    }
    EXPECT_GE(songs, 3) << "the bank should hold songs for the arranger";
}
