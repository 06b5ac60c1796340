#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include <sndfile.h>

#include "support/WindowModel.h"
#include "engine/Tables.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

struct RunResult {
    int Status = -1;
    std::string Err;
};

// Runs the renderer program with the given arguments; stderr is captured. `prefix` runs in
// the same shell first (e.g. a ulimit).
RunResult Render(const std::string& args, const TempDir& dir, const std::string& prefix = "") {
    const std::string exe = RendererPath();
    const std::string errFile = dir / "stderr.txt";
    const std::string cmd = prefix + "timeout -k 5 600 " + Quote(exe) + " " + args + " 2>" + Quote(errFile);
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream f(errFile);
    r.Err.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    fs::remove(errFile);
    return r;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& wav) {
    // 46-byte header, samples, 12-byte "fact".
    std::vector<int16_t> s((wav.size() - 58) / 2);
    std::memcpy(s.data(), wav.data() + 46, s.size() * 2);
    return s;
}

} // namespace

TEST(Renderer, ADefaultRenderIsWhatTheWindowLogicRenders) {
    TempDir dir;
    const auto r = Render("--buffers 60 -o " + Quote(dir / "out.wav"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto wav = ReadAll(dir / "out.wav");
    ASSERT_EQ(wav.size(), 58u + 60 * 882);

    // The window: start-up, then "Loop", and the render loop asked for 882-byte buffers. At
    // start-up no echo tap is active, so the chain passes the render loop's output unchanged.
    NoiseSeed = 0; // as in a freshly started program
    test::WindowModel w;
    MainForm& form = w.Form;
    EnvelopeForm envelopes;
    form.FormCreate();
    envelopes.FormCreate();
    form.Button1Click();
    std::vector<int16_t> expected;
    for (int b = 0; b < 60; ++b) {
        int16_t buf[441];
        uint32_t bytes = 0;
        bool more = false;
        form.Eng.RenderBuffer(buf, 882, bytes, more);
        ASSERT_EQ(bytes, 882u);
        expected.insert(expected.end(), buf, buf + 441);
    }
    EXPECT_EQ(Samples(wav), expected);
}

TEST(Renderer, ALoadedFileRendersAsInTheProgramWithItsEcho) {
    TempDir dir;
    {
        HeadlessProgram p;
        p.Form.MMWheel16.SetValue(3); // an echo 3 steps late
        p.Form.MMWheel17.SetValue(80);
        p.Form.SpinEdit972.SetValue(125);
        SavePatternFile(p.Form, p.Envelopes, dir / "echo.zvx");
    }
    const auto r =
        Render(Quote(dir / "echo.zvx") + " --buffers 300 -o " + Quote(dir / "out.wav"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;

    NoiseSeed = 0;
    HeadlessProgram p;
    p.Load(dir / "echo.zvx");
    EXPECT_EQ(p.Render(dir / "inproc.wav", false, 300), 300);
    EXPECT_EQ(ReadAll(dir / "out.wav"), ReadAll(dir / "inproc.wav"));

    // And the echo is really there: without it the samples differ from the echo's onset on.
    NoiseSeed = 0;
    HeadlessProgram dry;
    dry.Load(dir / "echo.zvx");
    dry.Chain.MMReverb1.SetEnabled(false);
    dry.Render(dir / "dry.wav", false, 300);
    const auto wet = Samples(ReadAll(dir / "out.wav"));
    const auto plain = Samples(ReadAll(dir / "dry.wav"));
    ASSERT_EQ(wet.size(), plain.size());
    size_t first = 0;
    while (first < wet.size() && wet[first] == plain[first])
        ++first;
    // Loading sets "Delay" while the tempo shown is still 140: 3 steps = 321 ms = 14156
    // samples. The echo of the first, tiny samples vanishes in the halving of the wet path,
    // so the difference shows within a few samples after the tap.
    EXPECT_GE(first, 14156u);
    EXPECT_LT(first, 14156u + 8);
}

TEST(Renderer, AnArrangedSongStopsAfterTheBufferInWhichItEnds) {
    TempDir dir;
    {
        HeadlessProgram p;
        p.Form.PhrasePatternSpin(1).SetValue(1);
        p.Form.PhraseCountSpin(1).SetValue(1);
        SavePatternFile(p.Form, p.Envelopes, dir / "song.zvx");
    }
    const auto r =
        Render(Quote(dir / "song.zvx") + " --arranger -o " + Quote(dir / "song.wav"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;
    // One pass of 16 steps at tempo 140; the song ends as its last step begins: after
    // 4725 + 14 * 4726 = 70889 samples, in the 161st buffer, which is written whole.
    EXPECT_EQ(fs::file_size(dir / "song.wav"), 58u + 161 * 882);

    // Without --arranger the same file loops until the buffer count.
    const auto loop =
        Render(Quote(dir / "song.zvx") + " --buffers 200 -o " + Quote(dir / "loop.wav"), dir);
    ASSERT_EQ(loop.Status, 0) << loop.Err;
    EXPECT_EQ(fs::file_size(dir / "loop.wav"), 58u + 200 * 882);
}

// Choosing the pattern to render never edits: pattern 2 plays each step's own knobs (as the
// same steps in pattern 1 play without --pattern), and a mutate of none of its steps saves
// the file as it was.
TEST(Renderer, ChoosingAPatternChangesNoStep) {
    TempDir dir;
    std::vector<uint8_t> copied;
    {
        HeadlessProgram p;
        for (int s = 1; s <= 16; ++s) {
            StepRecord& r = p.Form.Store.Step(2, s);
            r.BassPlay = 1;
            r.BassCutoff = 8 * s - 4; // a sweep across the pattern
            r.BassEnvMod = 127 - 7 * s;
        }
        SavePatternFile(p.Form, p.Envelopes, dir / "a.zvx");
        for (int s = 1; s <= 16; ++s) p.Form.Store.Step(1, s) = p.Form.Store.Step(2, s);
        SavePatternFile(p.Form, p.Envelopes, dir / "as1.zvx");
    }
    const std::string a = Quote(dir / "a.zvx");
    auto r = Render(a + " --pattern 2 --mutate 1,0 --save " + Quote(dir / "b.zvx"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadAll(dir / "b.zvx"), ReadAll(dir / "a.zvx"));

    r = Render(a + " --pattern 2 --buffers 200 -o " + Quote(dir / "p2.wav"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;
    r = Render(Quote(dir / "as1.zvx") + " --buffers 200 -o " + Quote(dir / "p1.wav"), dir);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadAll(dir / "p2.wav"), ReadAll(dir / "p1.wav"));
}

// The renderer owns its synth: nothing of the window's model is linked into it, so nothing
// the window does on a click (the "All Notes" copy above) can happen in a render.
TEST(Renderer, IsBuiltWithoutTheWindowsModel) {
    TempDir dir;
    const std::string list = dir / "symbols.txt";
    ASSERT_EQ(std::system(("nm -C " + Quote(RendererPath()) + " > " + Quote(list)).c_str()), 0);
    std::ifstream f(list);
    size_t symbols = 0, window = 0;
    for (std::string line; std::getline(f, line); ++symbols)
        window += line.find("zelvox::MainForm") != std::string::npos ||
                  line.find("zelvox::EnvelopeForm") != std::string::npos;
    EXPECT_GT(symbols, 1000u) << "the renderer's symbols could not be listed";
    EXPECT_EQ(window, 0u);
}

TEST(Renderer, BadInputGivesOneLineAndLeavesNoFile) {
    TempDir dir;
    const std::string out = dir / "out.wav";
    { std::ofstream(dir / "short.zvx", std::ios::binary) << std::string(27371, '\0'); }
    struct Case {
        std::string args;
        int status;
        std::string says;
    } cases[] = {
        {Quote(dir / "missing.zvx") + " -o " + Quote(out), 1, "File not found"},
        {Quote(dir / "short.zvx") + " -o " + Quote(out), 1, "Read beyond end of file"},
        {"-o " + Quote(dir / "no-such-folder/out.wav"), 1, "Unable to create wave file"},
        {"-o " + Quote(dir.path.string()), 1, "is a folder"},
        {"--buffers abc -o " + Quote(out), 2, "--buffers"},
        {"--buffers 0 -o " + Quote(out), 2, "--buffers"},
        {"--bogus -o " + Quote(out), 2, "unknown option"},
        {"", 2, "no output file"},
        {"-o", 2, "needs a value"},
        {"--swing --save " + Quote(out), 2, "--swing needs a value"},
        {"a.zvx b.zvx -o " + Quote(out), 2, "more than one"},
    };
    for (const auto& c : cases) {
        const auto r = Render(c.args, dir);
        EXPECT_EQ(r.Status, c.status) << c.args;
        EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.args << " said: " << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_FALSE(fs::exists(out)) << c.args;
    }
    EXPECT_EQ(dir.Entries(), 1); // only short.zvx: no partial output anywhere

    // An existing output file survives a failed render.
    { std::ofstream(out) << "keep me"; }
    Render(Quote(dir / "short.zvx") + " -o " + Quote(out), dir);
    EXPECT_EQ(fs::file_size(out), 7u);
}

TEST(Renderer, AWriteFailureMidwayFailsTheRenderAndLeavesNoFile) {
    TempDir dir;
    // The file may not grow beyond 100 KiB: the render of 10 s (882 KB) cannot complete.
    const auto r = Render("--buffers 1000 -o " + Quote(dir / "big.wav"), dir, "ulimit -f 200; ");
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_NE(r.Err.find("big.wav"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("error"), std::string::npos) << r.Err;
    EXPECT_EQ(dir.Entries(), 0);
}

// FLAC holds the 16-bit WAV's samples exactly, 24 bits hold each one times 256, Ogg Vorbis
// decodes within -40 dBFS RMS and -20 dBFS peak of them (measured on the factory bank: -50
// to -59 dBFS RMS, -32 to -39 dBFS peak); the stems take the format and its extension.
TEST(Renderer, FlacOggAnd24BitFilesHoldTheWavsSamples) {
    TempDir dir;
    auto decode = [](const std::string& path, SF_INFO& info) {
        info = {};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        std::vector<int> s(f ? size_t(info.frames) : 0);
        if (f) {
            EXPECT_EQ(sf_readf_int(f, s.data(), info.frames), info.frames);
            sf_close(f);
        }
        return s; // full scale is 2^31
    };
    const std::string song = "--buffers 300 ";
    ASSERT_EQ(Render(song + "-o " + Quote(dir / "m.wav"), dir).Status, 0);
    for (const char* out : {"m.flac", "m.ogg", "m24.wav", "m24.flac"}) {
        const std::string bits = std::string(out).find("24") != std::string::npos ? " --bits 24" : "";
        const auto r = Render(song + "-o " + Quote(dir / out) + bits + " --stems " + Quote(dir / (std::string(out) + "-stems")), dir);
        ASSERT_EQ(r.Status, 0) << out << r.Err;
    }
    const std::vector<int16_t> wav = WavSamples(dir / "m.wav");
    ASSERT_EQ(wav.size(), 300u * 441);
    SF_INFO info;
    for (const char* lossless : {"m.flac", "m24.wav", "m24.flac"}) {
        const std::vector<int> got = decode(dir / lossless, info);
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, std::string(lossless).find("24") != std::string::npos ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16) << lossless;
        ASSERT_EQ(got.size(), wav.size()) << lossless;
        for (size_t i = 0; i < wav.size(); ++i)
            ASSERT_EQ(got[i], int(wav[i]) * 65536) << lossless << " sample " << i;
    }
    const std::vector<int> ogg = decode(dir / "m.ogg", info);
    EXPECT_EQ(info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    ASSERT_EQ(ogg.size(), wav.size());
    double sum = 0, peak = 0;
    for (size_t i = 0; i < wav.size(); ++i) {
        const double d = double(ogg[i]) / 65536.0 - wav[i];
        sum += d * d;
        peak = std::max(peak, std::abs(d));
    }
    EXPECT_LT(std::sqrt(sum / double(wav.size())), 32768 * 0.01) << "RMS of the difference below -40 dBFS";
    EXPECT_LT(peak, 32768 * 0.1) << "peak of the difference below -20 dBFS";
    // The stems: bass.flac (exactly the WAV stem's samples) ...; nothing else in the folder.
    ASSERT_EQ(Render(song + "--stems " + Quote(dir / "wav-stems"), dir).Status, 0);
    EXPECT_EQ(decode(dir / "m.flac-stems/bass.flac", info).size(), wav.size());
    const std::vector<int16_t> bass = WavSamples(dir / "wav-stems/bass.wav");
    const std::vector<int> bassFlac = decode(dir / "m.flac-stems/bass.flac", info);
    ASSERT_EQ(bassFlac.size(), bass.size());
    for (size_t i = 0; i < bass.size(); ++i)
        ASSERT_EQ(bassFlac[i], int(bass[i]) * 65536) << i;
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir / "m.ogg-stems")) entries += e.path().extension() == ".ogg";
    EXPECT_EQ(entries, 4);
    // Lossy Ogg has no bits; encoded files are not streamed.
    EXPECT_EQ(Render(song + "-o " + Quote(dir / "x.ogg") + " --bits 24", dir).Status, 2);
    const auto toDevice = Render(song + "--bits 24 -o /dev/null", dir);
    EXPECT_EQ(toDevice.Status, 1);
    EXPECT_NE(toDevice.Err.find("finished files"), std::string::npos) << toDevice.Err;
}

TEST(Renderer, HelpDescribesTheContract) {
    TempDir dir;
    const std::string cmd = "timeout -k 5 60 " + Quote(RendererPath()) + " --help > " + Quote(dir / "help.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f(dir / "help.txt");
    const std::string help((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    for (const char* s : {"[FILE.zvx]", "--arranger", "--buffers N", "-o OUT.wav", "1000", "--play",
                          "--start-delay MS", "underruns", "No wave audio", "--stems DIR",
                          "twin-t.wav", "--pattern N", "--seconds S"})
        EXPECT_NE(help.find(s), std::string::npos) << s;
}

namespace {
// A settings folder of the test's own, choosing the sound output: the prefix for Render.
std::string WithAudioApi(const TempDir& dir, const std::string& api) {
    fs::create_directories(dir.path / "config" / "zelvox");
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=" << api << "\n";
    return "XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) + " timeout 60 ";
}
} // namespace

TEST(RendererPlay, WithoutASoundDeviceSaysSoInOneLineAndFails) {
    TempDir dir;
    const auto r = Render("--play --buffers 10", dir, WithAudioApi(dir, "none"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "zelvox-render: No wave audio playing device found\n");

    struct Case {
        std::string args;
        std::string says;
    } bad[] = {
        {"--play -o " + Quote(dir / "out.wav"), "--play writes no file"},
        {"--start-delay 100 -o " + Quote(dir / "out.wav"), "--start-delay goes with --play"},
        {"--play --start-delay -5", "--start-delay wants"},
    };
    for (const auto& c : bad) {
        const auto b = Render(c.args, dir, WithAudioApi(dir, "none"));
        EXPECT_EQ(b.Status, 2) << c.args;
        EXPECT_NE(b.Err.find(c.says), std::string::npos) << c.args << " said: " << b.Err;
        EXPECT_EQ(std::count(b.Err.begin(), b.Err.end(), '\n'), 1) << b.Err;
    }
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
}

TEST(RendererPlay, AnArrangedSongPlaysToItsEndAndAnEmptyOneEndsAtOnce) {
    TempDir dir;
    {
        HeadlessProgram p;
        p.Form.PhrasePatternSpin(1).SetValue(1);
        p.Form.PhraseCountSpin(1).SetValue(1);
        p.Form.SpinEdit972.SetValue(240); // 16 steps: under a second
        SavePatternFile(p.Form, p.Envelopes, dir / "song.zvx");
        p.Form.PhraseCountSpin(1).SetValue(0); // phrase 1 with count 0: no song at all
        SavePatternFile(p.Form, p.Envelopes, dir / "empty.zvx");
    }
    // No --buffers: only the song's end stops it (timeout gives 124 if it never does).
    const auto r = Render("--play --arranger " + Quote(dir / "song.zvx"), dir, WithAudioApi(dir, "virtual"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto e = Render("--play --arranger " + Quote(dir / "empty.zvx"), dir, WithAudioApi(dir, "virtual"));
    EXPECT_EQ(e.Status, 0) << e.Err;
    EXPECT_EQ(e.Err, "");
    // A missing file is named, as when rendering.
    const auto m = Render("--play " + Quote(dir / "missing.zvx"), dir, WithAudioApi(dir, "virtual"));
    EXPECT_EQ(m.Status, 1);
    EXPECT_NE(m.Err.find("File not found: " + (dir / "missing.zvx") + " (No such file or directory)"),
              std::string::npos)
        << m.Err;
}
