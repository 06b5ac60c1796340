#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "files/PatternFileFormat.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// Every field different, so a swapped or shifted field shows.
PatternFileRecord Distinct() {
    PatternFileRecord r;
    int32_t v = 1;
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            StepRecord& x = r.Store.Step(p, s);
            int32_t* ints[] = {&x.BassNote,      &x.TwinTNote,   &x.NoiseNote,    &x.TwinTDecay,
                               &x.NoiseDecay,    &x.TwinTVolume, &x.NoiseVolume,  &x.TwinTEnvMod,
                               &x.BassAmpSwitch, &x.Reserved1,   &x.BassCutoff,   &x.BassResonance,
                               &x.NoiseColour,   &x.BassAttack,  &x.BassDecay,    &x.BassEnvMod,
                               &x.NoiseEnvMod,   &x.BassVolume,  &x.BassWaveform, &x.BassLength};
            for (int32_t* f : ints)
                *f = v++;
            x.TwinTFreq = float(v++) + 0.25f;
            x.BassFreq = float(v++) + 0.5f;
            x.Reserved2 = -float(v++);
            x.TwinTPlay = uint8_t(v++);
            x.BassPlay = uint8_t(v++);
            x.BassSlide = uint8_t(v++);
            x.NoisePlay = uint8_t(v++);
            x.Pad41[1] = uint8_t(v++); // padding bytes travel as they are
            x.Pad95 = uint8_t(v++);
        }
    r.Delay = 4;
    r.Depth = 55;
    r.Volume = 20000;
    r.BassAttackContour = 1;
    r.BassDecayContour = 40;
    r.TwinTDecayContour = 3;
    r.NoiseDecayContour = 39;
    r.Tempo = 133;
    r.Steps = 12;
    for (int k = 1; k <= 16; ++k)
        r.Phrases[size_t(k)] = {k % 17, 100 - k};
    return r;
}

} // namespace

TEST(PatternFileFormat, ExactSizeZeroAreasAndFieldOffsets) {
    PatternFileRecord r = Distinct();
    r.Store.Step(0, 5).BassNote = 99; // slot 0 is never written
    r.Phrases[0] = {7, 7};            // nor is phrase 0
    const auto b = EncodePatternFile(r);
    ASSERT_EQ(b.size(), 27372u);
    for (size_t i = 0; i < 1600; ++i)
        ASSERT_EQ(b[i], 0) << i;
    for (size_t i = 27236; i < 27244; ++i)
        ASSERT_EQ(b[i], 0) << i;
    auto i32 = [&](size_t at) {
        return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                       uint32_t(b[at + 3]) << 24);
    };
    // Pattern 3, step 5 at 1600*3 + 100*4.
    const StepRecord& s = r.Store.Step(3, 5);
    const size_t at = 1600 * 3 + 400;
    EXPECT_EQ(i32(at), s.BassNote);
    EXPECT_EQ(i32(at + 36), s.BassAmpSwitch);
    EXPECT_EQ(b[at + 40], s.TwinTPlay);
    EXPECT_EQ(b[at + 42], s.Pad41[1]);
    EXPECT_EQ(i32(at + 96), s.BassLength);
    float f;
    std::memcpy(&f, &b[at + 44], 4);
    EXPECT_EQ(f, s.BassFreq);
    EXPECT_EQ(i32(27200), 4);
    EXPECT_EQ(i32(27204), 55);
    EXPECT_EQ(i32(27208), 20000);
    EXPECT_EQ(i32(27212), 1);
    EXPECT_EQ(i32(27216), 40);
    EXPECT_EQ(i32(27220), 3);
    EXPECT_EQ(i32(27224), 39);
    EXPECT_EQ(i32(27228), 133);
    EXPECT_EQ(i32(27232), 12);
    EXPECT_EQ(i32(27244), 1);  // phrase 1 pattern
    EXPECT_EQ(i32(27248), 99); // phrase 1 count
    EXPECT_EQ(i32(27244 + 8 * 15 + 4), 84);
}

TEST(PatternFileFormat, DecodeIsTheInverseOfEncodeByteForByte) {
    const auto b = EncodePatternFile(Distinct());
    PatternFileRecord back;
    back.Store.Step(0, 1).BassNote = 5; // decoding starts from a clean record
    DecodePatternFile(b.data(), back);
    EXPECT_EQ(EncodePatternFile(back), b);
    EXPECT_EQ(back.Store.Step(0, 1).BassNote, 0);
    EXPECT_EQ(back.Store.Step(16, 16).Pad95, Distinct().Store.Step(16, 16).Pad95);
    // Hostile values load as they are: the file enforces nothing.
    auto hostile = b;
    for (size_t i = 1600; i < hostile.size(); ++i)
        hostile[i] = 0xFF;
    DecodePatternFile(hostile.data(), back);
    EXPECT_EQ(back.Tempo, -1);
    EXPECT_EQ(back.Store.Step(1, 1).BassNote, -1);
    EXPECT_TRUE(std::isnan(back.Store.Step(1, 1).BassFreq));
}

TEST(PatternFileIO, ShortFilesAreRefusedAndLongFilesGiveTheirFirstRecord) {
    TempDir dir;
    const auto good = EncodePatternFile(Distinct());
    const fs::path shortFile = dir.path / "short.zvx";
    WriteAll(shortFile, std::vector<uint8_t>(good.begin(), good.end() - 1));
    try {
        ReadPatternFileBytes(shortFile.string());
        ADD_FAILURE() << "accepted 27,371 bytes";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "Read beyond end of file: " + shortFile.string() +
                                             " (27371 bytes, a pattern file has 27372)");
    }
    auto longer = good;
    longer.resize(30000, 0xAB);
    const fs::path longFile = dir.path / "long.zvx";
    WriteAll(longFile, longer);
    EXPECT_EQ(ReadPatternFileBytes(longFile.string()), good);
    try {
        ReadPatternFileBytes((dir.path / "missing.zvx").string());
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "File not found: " + (dir.path / "missing.zvx").string() + " (No such file or directory)");
    }
    try {
        ReadPatternFileBytes(dir.path.string());
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "File access denied: " + dir.path.string() + " (Is a directory)");
    }
}

// A folder that exists but takes no new files answers "no such file" when one is made there:
// the save says that it was refused, and where.
TEST(PatternFileIO, SavingWhereNothingCanBeWrittenSaysWhy) {
    try {
        WriteFileReplacing("/proc/song.zvx", EncodePatternFile(Distinct()));
        ADD_FAILURE() << "a pattern was saved under /proc";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "File access denied: /proc/song.zvx (this folder does not take new files)");
    }
}

TEST(PatternFileIO, AReadOnlyFileLoads) {
    TempDir dir;
    const auto good = EncodePatternFile(Distinct());
    const fs::path file = dir.path / "ro.zvx";
    WriteAll(file, good);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(ReadPatternFileBytes(file.string()), good);
}

TEST(PatternFileIO, SavingReplacesTheFileWhole) {
    TempDir dir;
    const fs::path file = dir.path / "song.zvx";
    WriteAll(file, std::vector<uint8_t>(40000, 7)); // a longer old file
    const auto b = EncodePatternFile(Distinct());
    WriteFileReplacing(file.string(), b);
    EXPECT_EQ(ReadAll(file), b);
    // No temporary file is left next to it.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir.path))
        (void)e, ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(PatternFileIO, AFailedSaveLeavesTheOldFileIntact) {
    TempDir dir;
    const fs::path file = dir.path / "keep.zvx";
    const std::vector<uint8_t> old(27372, 0x5A);
    WriteAll(file, old);
    const auto b = EncodePatternFile(Distinct());

    // The disk refuses the write part-way (a file size limit works for every user).
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 10000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        WriteFileReplacing(file.string(), b);
    } catch (const EInOutError&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadAll(file), old);
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir.path))
        (void)e, ++entries;
    EXPECT_EQ(entries, 1) << "the temporary file was removed";
}

TEST(PatternFileIO, ASaveIntoAnUnwritableFolderReportsAccessDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind the superuser";
    TempDir dir;
    const fs::path file = dir.path / "keep.zvx";
    const std::vector<uint8_t> old(27372, 0x5A);
    WriteAll(file, old);
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
    try {
        WriteFileReplacing(file.string(), EncodePatternFile(Distinct()));
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "File access denied: " + file.string() + " (Permission denied)");
    }
    fs::permissions(dir.path, fs::perms::owner_all);
    EXPECT_EQ(ReadAll(file), old);
}
