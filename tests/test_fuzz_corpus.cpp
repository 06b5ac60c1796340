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

#include "files/MMWave.h"
#include "fuzz/FuzzMidiParse.h"
#include "fuzz/FuzzMidiStream.h"
#include "fuzz/FuzzPatternDecode.h"
#include "fuzz/FuzzSettingsRead.h"
#include "fuzz/FuzzWaveRead.h"
#include "fuzz/FuzzPatternFile.h"
#include "fuzz/FuzzSettings.h"
#include "fuzz/FuzzWaveLayout.h"
#include "support/TempFiles.h"

namespace fs = std::filesystem;
using namespace zelvox;
using namespace zelvox::test;
using namespace zelvox::fuzz;

namespace {

fs::path DataDir() {
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    return d ? fs::path(d) : fs::path("tests/data");
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

TEST(FuzzCorpus, PatternFileInputsReplayCleanly) {
    // A fresh program for each file: a kept finding must fail on its own.
    EXPECT_GE(Replay("pattern", PatternFileOne), 4u);
}

TEST(FuzzCorpus, SettingsInputsReplayCleanly) {
    EXPECT_GE(Replay("settings", SettingsOne), 2u);
}

TEST(FuzzCorpus, WaveLayoutInputsReplayCleanly) {
    EXPECT_GE(Replay("wave", WaveLayoutOne), 5u);
}

// The parser-level bodies on their areas' inputs (the plugin's are replayed by
// test_lv2_hostile, which loads the plugin).
TEST(FuzzCorpus, ParserInputsReplayCleanly) {
    EXPECT_GE(Replay("pattern", PatternDecodeOne), 4u);
    Replay("pattern_decode", PatternDecodeOne); // their own findings, once there are any
    EXPECT_GE(Replay("settings", SettingsReadOne), 2u);
    EXPECT_GE(Replay("wave", WaveReadOne), 5u);
    EXPECT_GE(Replay("midi", MidiParseOne), 3u);
    Replay("midi_parse", MidiParseOne);
}

// Findings of the WAV layout fuzzer.
TEST(FuzzRegress, AWaveRateAboveInt32MaxGivesNoNegativeLengths) {
    // nSamplesPerSec 0x5266AC44 makes nAvgBytesPerSec (block align x rate) larger than
    // INT32_MAX: the conversions between bytes, samples and time treated the unsigned rates
    // as signed and gave a negative length.
    const fs::path file = DataDir() / "regress" / "wave" / "rate-above-int32-max.wav";
    auto info = ReadWaveLayout(file.string());
    ASSERT_NE(info, nullptr);
    EXPECT_GT(info->Format.nAvgBytesPerSec, uint32_t(INT32_MAX));
    EXPECT_GE(info->TotalSamples, 0);
    TMMWave wave;
    wave.SetFileMustExist(true);
    wave.SetFileName(file.string());
    for (auto tf : {TMMTimeFormats::tfSample, TMMTimeFormats::tfByte,
                    TMMTimeFormats::tfMillisecond}) {
        wave.TimeFormat = tf;
        EXPECT_GE(wave.DataSize(), 0);
    }
    wave.SetFileName("");
    // The same rates in a format record: every conversion stays non-negative.
    WAVEFORMATEX f = PcmWaveFormat(16, 1, 44100);
    f.nSamplesPerSec = 0x80000000u;
    f.nAvgBytesPerSec = 0xFFFFFFFEu;
    EXPECT_EQ(wioBytesToSamples(f, 1000), 500);
    EXPECT_EQ(wioSamplesToBytes(f, 500), 1000);
    EXPECT_GE(wioSamplesToTime(f, 1000), 0);
    EXPECT_EQ(wioTimeToSamples(f, 1000), INT32_MAX);
}

TEST(FuzzRegress, AWaveWithHugeChannelsAndBitsComputesItsBlockAlignWithoutOverflow) {
    // nChannels 0xFF44-ish times wBitsPerSample 0xFFFF overflowed a signed int (found under
    // UndefinedBehaviorSanitizer); the block align is the 16-bit product divided by 8.
    const fs::path file = DataDir() / "regress" / "wave" / "channels-times-bits-overflow.wav";
    auto info = ReadWaveLayout(file.string());
    ASSERT_NE(info, nullptr);
    const WAVEFORMATEX& w = info->Format;
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_GT(uint32_t(w.nChannels) * w.wBitsPerSample, uint32_t(INT32_MAX));
    EXPECT_EQ(w.nBlockAlign, uint16_t(uint16_t(uint32_t(w.nChannels) * w.wBitsPerSample) / 8));
    EXPECT_GE(info->TotalSamples, 0);
}
