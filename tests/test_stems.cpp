// Stems from the renderer: each voice alone, and the echo's return, as long as the mix and
// adding up to it; the mix the same with or without them; and the renderer's --stems,
// --pattern and --seconds options through the real program.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sys/wait.h>
#include <vector>

#include "engine/Tables.h"
#include "files/PatternFileFormat.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

const char* const kStemNames[] = {"bass.wav", "twin-t.wav", "noise.wav", "echo.wav"};
enum Stem { kBass, kTwinT, kNoise, kEcho };

// A pattern file checked in with the fuzz corpus, with the echo on (Delay 3 steps, Depth
// 60 %). The files play the bass alone; the Twin-T is added on every fourth step and the
// noise on every other one, so that all three voices sound, often at once.
PatternFileRecord TestPattern(const std::string& name) {
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    const fs::path data = d ? fs::path(d) : fs::path("tests/data");
    const std::vector<uint8_t> bytes =
        ReadAll(data.parent_path() / "fuzz" / "corpus" / "pattern" / name);
    if (bytes.size() != kPatternFileSize) throw std::runtime_error(name + ": not a pattern file");
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    r.Delay = 3;
    r.Depth = 60;
    for (int p = 1; p < kPatternSlots; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s) {
            StepRecord& st = r.Store.Step(p, s);
            st.TwinTPlay = s % 4 == 1;
            st.NoisePlay = s % 2 == 1;
        }
    return r;
}

// Every voice but `keep` silenced: volume 0 in every step.
PatternFileRecord Alone(PatternFileRecord r, Stem keep) {
    for (int p = 1; p < kPatternSlots; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s) {
            StepRecord& st = r.Store.Step(p, s);
            if (keep != kBass) st.BassVolume = 0;
            if (keep != kTwinT) st.TwinTVolume = 0;
            if (keep != kNoise) st.NoiseVolume = 0;
        }
    return r;
}

struct Rendered {
    std::vector<uint8_t> MixFile;
    std::vector<int16_t> Mix;
    std::array<std::vector<uint8_t>, 4> StemFiles;
    std::array<std::vector<int16_t>, 4> Stems;
};

enum class Echo { On, ReturnOff };

// Loads the file into a freshly started program (as zelvox-render does) and renders
// `buffers` buffers of pattern 1, with or without stems. ReturnOff turns "Depth" to 0 after
// loading, which sets the echo's wet level to 0. (A file that stores Depth 0 does not: the
// knob starts at 0, so loading it changes nothing, and the echo keeps its start-up output
// gain of 100 %, as in the window.)
Rendered RenderLoop(const PatternFileRecord& r, bool stems, int buffers, Echo echo = Echo::On) {
    TempDir dir;
    WriteFileReplacing(dir / "in.zvx", EncodePatternFile(r));
    ResetNoiseSeedForTesting();
    HeadlessProgram p;
    p.Load(dir / "in.zvx");
    if (echo == Echo::ReturnOff) {
        p.Form.MMWheel17.SetValue(0);
        EXPECT_EQ(p.Form.Synth.Echo.OutputGain(), 0);
    }
    p.Render(HeadlessProgram::Targets{dir / "mix.wav", stems ? dir / "stems" : ""}, false, buffers);
    Rendered out;
    out.MixFile = ReadAll(dir / "mix.wav");
    out.Mix = WavSamples(dir / "mix.wav");
    if (stems)
        for (int s = 0; s < 4; ++s) {
            out.StemFiles[size_t(s)] = ReadAll(dir.path / "stems" / kStemNames[s]);
            out.Stems[size_t(s)] = WavSamples(dir.path / "stems" / kStemNames[s]);
        }
    return out;
}

bool Clipped(int v) {
    return v >= 32767 || v <= -32767;
}

} // namespace

TEST(Stems, EachIsItsVoiceAloneAndTogetherTheyAreTheMix) {
    constexpr int kBuffers = 300; // 3 s: the echo (3 steps, 321 ms) comes in early
    int worst = 0;
    for (const char* name : {"busy", "startup"}) {
        SCOPED_TRACE(name);
        const PatternFileRecord file = TestPattern(name);
        const Rendered full = RenderLoop(file, true, kBuffers);
        ASSERT_EQ(full.Mix.size(), size_t(kBuffers) * 441);

        // The mix's format, header layout and length, byte for byte: with equal lengths the
        // 46 header bytes and the 12-byte "fact" chunk at the end are the same.
        for (int s = 0; s < 4; ++s) {
            const std::vector<uint8_t>& f = full.StemFiles[size_t(s)];
            ASSERT_EQ(f.size(), full.MixFile.size()) << kStemNames[s];
            EXPECT_TRUE(std::equal(f.begin(), f.begin() + 46, full.MixFile.begin()));
            EXPECT_TRUE(std::equal(f.end() - 12, f.end(), full.MixFile.end() - 12));
        }

        // A voice's stem is the render with the other voices silenced and no echo return.
        for (Stem v : {kBass, kTwinT, kNoise}) {
            const Rendered alone = RenderLoop(Alone(file, v), false, kBuffers, Echo::ReturnOff);
            const size_t sounding = size_t(std::count_if(
                alone.Mix.begin(), alone.Mix.end(), [](int16_t x) { return x > 100 || x < -100; }));
            EXPECT_GT(sounding, alone.Mix.size() / 20) << kStemNames[v] << " must really play";
            const size_t first = FirstMismatch(full.Stems[v], 0, alone.Mix, 0, alone.Mix.size());
            EXPECT_EQ(first, alone.Mix.size()) << kStemNames[v] << " differs at sample " << first;
        }

        // The echo's stem is what its return adds to the mix: the mix minus the mix without
        // it, exactly, wherever the mix does not clip.
        const std::vector<int16_t> dry = RenderLoop(file, false, kBuffers, Echo::ReturnOff).Mix;
        size_t echoing = 0, echoMismatches = 0;
        for (size_t i = 0; i < dry.size(); ++i) {
            if (Clipped(full.Mix[i])) continue;
            echoing += full.Stems[kEcho][i] != 0;
            echoMismatches += full.Stems[kEcho][i] != full.Mix[i] - dry[i];
        }
        EXPECT_GT(echoing, dry.size() / 4);
        EXPECT_EQ(echoMismatches, 0u);

        // Together: each stem is rounded on its own, so their sum may miss the mix by up to
        // one step per stem where the mix does not clip.
        size_t together = 0, compared = 0;
        for (size_t i = 0; i < full.Mix.size(); ++i) {
            together += (full.Stems[kBass][i] != 0) + (full.Stems[kTwinT][i] != 0) +
                            (full.Stems[kNoise][i] != 0) >=
                        2;
            if (Clipped(full.Mix[i])) continue;
            ++compared;
            int sum = 0;
            for (int s = 0; s < 4; ++s)
                sum += full.Stems[size_t(s)][i];
            worst = std::max(worst, std::abs(sum - full.Mix[i]));
        }
        EXPECT_GT(together, full.Mix.size() / 4) << "the voices must overlap to test the sum";
        std::cout << name << ": " << together << " of " << full.Mix.size()
                  << " samples mix voices, " << compared << " do not clip\n";
        EXPECT_GT(compared, full.Mix.size() * 9 / 10);
    }
    EXPECT_LE(worst, 4);
    std::cout << "largest difference between the sum of the stems and the mix: " << worst << "\n";
    RecordProperty("max_stem_sum_difference", worst);
}

namespace {

struct RunResult {
    int Status = -1;
    std::string Err;
};

// Runs the renderer program in `dir` (relative names land there); stderr is captured.
RunResult RunRenderer(const std::string& args, const TempDir& dir, const std::string& prefix = "") {
    const std::string cmd = "cd " + Quote(dir.path.string()) + " && " + prefix + "timeout -k 5 600 " +
                            Quote(RendererPath()) + " " + args + " 2>stderr.txt";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::vector<uint8_t> err = ReadAll(dir / "stderr.txt");
    r.Err.assign(err.begin(), err.end());
    fs::remove(dir / "stderr.txt");
    return r;
}

int EntriesIn(const fs::path& p) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(p))
        (void)e, ++n;
    return n;
}

} // namespace

TEST(Stems, TheRendererWritesThemWithoutChangingTheMix) {
    TempDir dir;
    PatternFileRecord file = TestPattern("busy");
    WriteFileReplacing(dir / "busy.zvx", EncodePatternFile(file));

    ASSERT_EQ(RunRenderer("busy.zvx --buffers 200 -o plain.wav", dir).Status, 0);
    const RunResult both = RunRenderer("busy.zvx --seconds 2 -o mix.wav --stems out", dir);
    ASSERT_EQ(both.Status, 0) << both.Err;
    EXPECT_EQ(ReadAll(dir / "mix.wav"), ReadAll(dir / "plain.wav"));
    EXPECT_EQ(fs::file_size(dir / "mix.wav"), 58u + 200 * 882);
    // Without -o only the stems, the same ones; 1.991 s rounds up to 200 buffers. The folder
    // holds the four files and nothing hidden.
    const RunResult only = RunRenderer("busy.zvx --seconds 1.991 --stems only", dir);
    ASSERT_EQ(only.Status, 0) << only.Err;
    EXPECT_EQ(EntriesIn(dir.path / "out"), 4);
    EXPECT_EQ(EntriesIn(dir.path / "only"), 4);
    for (const char* s : kStemNames)
        EXPECT_EQ(ReadAll(dir.path / "only" / s), ReadAll(dir.path / "out" / s)) << s;
    // 0.07 s is 7 buffers (not 8, as 0.07 * 100 in binary floating point would round up).
    ASSERT_EQ(RunRenderer("busy.zvx --seconds 0.07 -o short.wav", dir).Status, 0);
    EXPECT_EQ(fs::file_size(dir / "short.wav"), 58u + 7 * 882);

    // A song with nothing to play: the mix has no samples, and neither has any stem.
    PatternFileRecord empty = file;
    empty.Phrases[1] = {1, 0};
    WriteFileReplacing(dir / "empty.zvx", EncodePatternFile(empty));
    ASSERT_EQ(RunRenderer("empty.zvx --arranger -o empty.wav --stems empty", dir).Status, 0);
    for (const char* s : kStemNames)
        EXPECT_EQ(ReadAll(dir.path / "empty" / s), ReadAll(dir / "empty.wav")) << s;

    // --pattern 3 loops pattern 3: the same as a file with that pattern in slot 1. Pattern 3
    // is pattern 1 with its bass line played backwards.
    for (int s = 1; s <= kStepsPerPattern; ++s)
        file.Store.Step(3, s) = file.Store.Step(1, s);
    for (int s = 1; s <= kStepsPerPattern; ++s) {
        file.Store.Step(3, s).BassNote = file.Store.Step(1, 17 - s).BassNote;
        file.Store.Step(3, s).BassFreq = file.Store.Step(1, 17 - s).BassFreq;
    }
    PatternFileRecord moved = file;
    for (int s = 1; s <= kStepsPerPattern; ++s)
        moved.Store.Step(1, s) = file.Store.Step(3, s);
    WriteFileReplacing(dir / "three.zvx", EncodePatternFile(file));
    WriteFileReplacing(dir / "moved.zvx", EncodePatternFile(moved));
    ASSERT_EQ(RunRenderer("three.zvx --pattern 3 --buffers 100 -o p3.wav", dir).Status, 0);
    ASSERT_EQ(RunRenderer("moved.zvx --buffers 100 -o moved.wav", dir).Status, 0);
    ASSERT_EQ(RunRenderer("three.zvx --buffers 100 -o p1.wav", dir).Status, 0);
    EXPECT_EQ(ReadAll(dir / "p3.wav"), ReadAll(dir / "moved.wav"));
    EXPECT_NE(ReadAll(dir / "p3.wav"), ReadAll(dir / "p1.wav"));
}

TEST(Stems, BadOptionsAndFailuresSayWhyAndLeaveNothing) {
    TempDir dir;
    { std::ofstream(dir / "afile") << "x"; }
    struct Case {
        std::string args;
        int status;
        std::string says;
    } cases[] = {
        {"--pattern 2 --arranger -o out.wav", 2, "--pattern does not go with --arranger"},
        {"--pattern 0 -o out.wav", 2, "--pattern wants a pattern number from 1 to 16"},
        {"--pattern 17 --stems s", 2, "--pattern wants"},
        {"--pattern two -o out.wav", 2, "--pattern wants"},
        {"--seconds 0 -o out.wav", 2, "--seconds wants"},
        {"--seconds -1 -o out.wav", 2, "--seconds wants"},
        {"--seconds 1e3 -o out.wav", 2, "--seconds wants"},
        {"--seconds . -o out.wav", 2, "--seconds wants"},
        {"--seconds 10000000.01 -o out.wav", 2, "--seconds wants"},
        {"--seconds 5 --buffers 100 -o out.wav", 2, "not both"},
        {"--buffers 100 --seconds 5 --stems s", 2, "not both"},
        {"--play --stems s", 2, "--play writes no file"},
        {"--stems ''", 2, "stems folder name is empty"},
        {"--buffers 5", 2, "--stems DIR"},
        {"--buffers 5 --stems afile", 1, "afile: is not a folder"},
        {"--buffers 5 --stems no/such/folder", 1, "no/such/folder: cannot make the stems folder"},
        {"--buffers 5 -o s/bass.wav --stems s", 1, "also the name of a stem"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunRenderer(c.args, dir);
        EXPECT_EQ(r.Status, c.status) << c.args;
        EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.args << " said: " << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_EQ(dir.Entries(), 1) << c.args << ": only afile may be there";
    }

    // The disk refuses the stems midway (a 100 KiB file size limit; each stem of 10 s is
    // 882 KB): the render fails naming a stem, and the folder it made is gone again.
    const RunResult r = RunRenderer("--buffers 1000 --stems s", dir, "ulimit -f 200; ");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("s/"), std::string::npos) << r.Err;
    EXPECT_EQ(dir.Entries(), 1);
    // With the mix too, and into a folder that exists: nothing is left in it.
    fs::create_directory(dir.path / "kept");
    const RunResult m =
        RunRenderer("--buffers 1000 -o mix.wav --stems kept", dir, "ulimit -f 200; ");
    EXPECT_EQ(m.Status, 1);
    EXPECT_EQ(EntriesIn(dir.path / "kept"), 0);
    EXPECT_EQ(dir.Entries(), 2);
}

// A long render with stems stopped by Ctrl-C, SIGTERM or SIGHUP: its hidden part files are
// removed (nothing new in the folder), the older file of the target's name is untouched, and
// the exit status names the signal.
TEST(Stems, AnInterruptedRenderLeavesNothingAndSaysHowItEnded) {
    TempDir dir;
    WriteAll(dir / "mix.wav", {'o', 'l', 'd'});
    for (const auto& [sig, status] : {std::pair{"INT", 130}, {"TERM", 143}, {"HUP", 129}}) {
        // The render runs in the background of a shell that stops it after a second.
        const std::string run = "cd " + Quote(dir.path.string()) + "; " + Quote(RendererPath()) +
                                " --seconds 20000 -o mix.wav --stems st 2>/dev/null & sleep 1; kill -" +
                                sig + " $!; wait $!";
        const int raw = std::system(("timeout -k 5 120 bash -c " + Quote(run)).c_str());
        RunResult r;
        r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        EXPECT_EQ(r.Status, status) << sig;
        EXPECT_EQ(EntriesIn(dir.path), 1) << sig << ": a part file or the stems folder was left";
        EXPECT_EQ(ReadAll(dir / "mix.wav"), (std::vector<uint8_t>{'o', 'l', 'd'})) << sig;
    }
}
