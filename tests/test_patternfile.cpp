#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

#include "audio/MMReverb.h"
#include "engine/Tables.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// First offset at which two files differ, for a readable failure.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
    return "none";
}
int32_t I32(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
                   uint32_t(b.at(at + 3)) << 24);
}

// Gives every step of every pattern its own sound parameters, written straight into the
// store as a user would have left them step by step.
void MakeStepsDistinct(MainForm& f) {
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            StepRecord& r = f.Store.Step(p, s);
            const int k = p * 16 + s;
            r.BassCutoff = k % 127;
            r.BassResonance = (k * 3) % 106;
            r.BassAttack = 1 + k % 127;
            r.BassDecay = 1 + (k * 7) % 127;
            r.NoiseColour = (k * 5) % 121;
            r.TwinTVolume = k % 128;
            r.BassNote = 1 + k % 37;
            r.BassFreq = Note2Freq(r.BassNote); // as the note slider writes it
            r.BassPlay = uint8_t(k & 1);
            r.BassSlide = uint8_t((k >> 1) & 1);
        }
}

} // namespace

TEST(PatternFile, ADefaultSaveHoldsTheStartUpState) {
    TempDir dir;
    HeadlessProgram prog;
    SavePatternFile(prog.Form, prog.Envelopes, dir / "default.zvx");
    const auto b = ReadAll(dir / "default.zvx");
    ASSERT_EQ(b.size(), 27372u);
    for (size_t i = 0; i < 1600; ++i)
        ASSERT_EQ(b[i], 0);
    for (size_t i = 27236; i < 27244; ++i)
        ASSERT_EQ(b[i], 0);
    // Sixteen patterns of identical steps: note 13, bass playing, Reserved2 1.0.
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            const size_t at = 1600 * size_t(p) + 100 * size_t(s - 1);
            ASSERT_EQ(std::memcmp(&b[at], &b[1600], 100), 0) << p << "/" << s;
        }
    EXPECT_EQ(I32(b, 1600), 13);
    EXPECT_EQ(b[1600 + 92], 1);
    float reserved2;
    std::memcpy(&reserved2, &b[1600 + 52], 4);
    EXPECT_EQ(reserved2, 1.0f);
    EXPECT_EQ(I32(b, 27200), 0);     // Delay
    EXPECT_EQ(I32(b, 27204), 0);     // Depth
    EXPECT_EQ(I32(b, 27208), 26125); // Volume
    for (size_t at : {27212u, 27216u, 27220u, 27224u})
        EXPECT_EQ(I32(b, at), 20);
    EXPECT_EQ(I32(b, 27228), 140);
    EXPECT_EQ(I32(b, 27232), 16);
    for (size_t at = 27244; at < 27372; ++at)
        ASSERT_EQ(b[at], 0);
}

TEST(PatternFile, SaveAndLoadKeepEveryStepsValuesInAllNotesMode) {
    TempDir dir;
    std::vector<uint8_t> saved;
    {
        HeadlessProgram a;
        MakeStepsDistinct(a.Form);
        a.Form.PhrasePatternSpin(1).SetValue(3);
        a.Form.PhraseCountSpin(1).SetValue(2);
        a.Form.PhrasePatternSpin(16).SetValue(16);
        a.Form.PhraseCountSpin(16).SetValue(100);
        a.Form.MMWheel6.SetValue(12345);
        a.Form.MMWheel16.SetValue(4);
        a.Form.MMWheel17.SetValue(70);
        a.Form.SpinEdit971.SetValue(12);
        a.Form.SpinEdit972.SetValue(120);
        a.Envelopes.SpinEdit971.SetValue(5);
        a.Envelopes.SpinEdit974.SetValue(39);
        SavePatternFile(a.Form, a.Envelopes, dir / "song.zvx");
        saved = ReadAll(dir / "song.zvx");
    }
    HeadlessProgram b;
    ASSERT_FALSE(b.Form.SelectedNoteMode); // All Notes
    b.Form.PlayPattern = 7;
    LoadPatternFile(b.Form, b.Envelopes, dir / "song.zvx");
    EXPECT_FALSE(b.Form.SelectedNoteMode);
    EXPECT_EQ(b.Form.PlayPattern, 1);
    SavePatternFile(b.Form, b.Envelopes, dir / "again.zvx");
    EXPECT_EQ(ReadAll(dir / "again.zvx"), saved)
        << FirstDifference(ReadAll(dir / "again.zvx"), saved);
    EXPECT_EQ(b.Form.PhraseTable[1].Pattern, 3);
    EXPECT_EQ(b.Form.PhraseCountSpin(16).Value(), 100);
    EXPECT_EQ(b.Form.MMWheel3.Value(), b.Form.Store.Step(1, b.Form.EditStep).BassCutoff);
    // The contour spin edits ran their handlers: the curve follows the loaded setting.
    std::vector<float> expected(kTableSize);
    BuildAttackCurve(expected.data(), AttackExponent(5));
    EXPECT_EQ(std::memcmp(expected.data(), b.Form.Synth.Eng.Curves.Curve(0), sizeof(float) * kTableSize), 0);
}

TEST(PatternFile, TheDelayHandlerSeesTheTempoShownBeforeTheLoad) {
    TempDir dir;
    {
        HeadlessProgram a;
        a.Form.SpinEdit972.SetValue(120);
        a.Form.MMWheel16.SetValue(4); // 500 ms at 120
        SavePatternFile(a.Form, a.Envelopes, dir / "t120.zvx");
    }
    HeadlessProgram b; // tempo 140 shown
    LoadPatternFile(b.Form, b.Envelopes, dir / "t120.zvx");
    EXPECT_EQ(b.Form.SpinEdit972.Value(), 120);
    EXPECT_EQ(b.Chain.MMReverb1.Echos()[0].Delay(), 429); // 4 steps at 140
    EXPECT_EQ(b.Chain.MMReverb1.Echos()[0].Gain(), 50);
}

TEST(PatternFile, AShortFileIsRefusedAndNothingChanges) {
    TempDir dir;
    HeadlessProgram prog;
    MakeStepsDistinct(prog.Form);
    prog.Form.PhrasePatternSpin(2).SetValue(9);
    SavePatternFile(prog.Form, prog.Envelopes, dir / "before.zvx");
    const auto before = ReadAll(dir / "before.zvx");
    auto other = before;
    for (size_t i = 1600; i < other.size(); ++i)
        other[i] ^= 0x55;
    other.resize(27371);
    WriteAll(dir / "short.zvx", other);
    try {
        LoadPatternFile(prog.Form, prog.Envelopes, dir / "short.zvx");
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Read beyond end of file: " + (dir / "short.zvx"), 0), 0u)
            << e.what();
    }
    SavePatternFile(prog.Form, prog.Envelopes, dir / "after.zvx");
    EXPECT_EQ(ReadAll(dir / "after.zvx"), before);
}

TEST(PatternFile, ALongerFileLoadsItsFirstRecordAndAReadOnlyFileLoads) {
    TempDir dir;
    std::vector<uint8_t> record;
    {
        HeadlessProgram a;
        MakeStepsDistinct(a.Form);
        a.Form.SpinEdit972.SetValue(99);
        SavePatternFile(a.Form, a.Envelopes, dir / "rec.zvx");
        record = ReadAll(dir / "rec.zvx");
    }
    auto longer = record;
    longer.resize(30000, 0xEE);
    WriteAll(dir / "long.zvx", longer);
    fs::permissions(dir / "long.zvx",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    HeadlessProgram b;
    LoadPatternFile(b.Form, b.Envelopes, dir / "long.zvx");
    EXPECT_EQ(b.Form.SpinEdit972.Value(), 99);
    SavePatternFile(b.Form, b.Envelopes, dir / "back.zvx");
    EXPECT_EQ(ReadAll(dir / "back.zvx"), record)
        << FirstDifference(ReadAll(dir / "back.zvx"), record);
}

TEST(PatternFile, AFailedSaveLeavesTheOldFileIntact) {
    TempDir dir;
    HeadlessProgram prog;
    const std::vector<uint8_t> old(27372, 0x33);
    WriteAll(dir / "keep.zvx", old);
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096; // the disk takes only part of the record
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        SavePatternFile(prog.Form, prog.Envelopes, dir / "keep.zvx");
    } catch (const EInOutError&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadAll(dir / "keep.zvx"), old);
    // Into a folder that does not exist: reported, nothing created.
    EXPECT_THROW(SavePatternFile(prog.Form, prog.Envelopes, dir / "nowhere/x.zvx"), EInOutError);
    if (::geteuid() != 0) {
        fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(SavePatternFile(prog.Form, prog.Envelopes, dir / "keep.zvx"), EInOutError);
        fs::permissions(dir.path, fs::perms::owner_all);
        EXPECT_EQ(ReadAll(dir / "keep.zvx"), old);
    }
}
