// The LV2 plugin in a host built on lilv, loaded from the build tree's bundle: it plays what
// zelvox-render writes, keeps to the host's grid, follows the transport, keeps its patterns
// in the host's state, takes MIDI controllers, and its run() allocates nothing, locks
// nothing and makes no system call.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sys/wait.h>

#include "engine/Tables.h"
#include "files/PatternFileFormat.h"
#include "synth/ControlChange.h"
#include "dsp/RateStage.h"
#include "synth/LiveSynth.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/Lv2Host.h"
#include "support/RateChecks.h"
#include "support/RealtimeProbe.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

const std::string kUri = "https://zelvox.github.io/lv2/zelvox";
const char* const kPatternFile = "https://zelvox.github.io/lv2/zelvox#patternFile";

// A busy pattern file as the desktop program saves it: the bass on every step with slides,
// the Twin-T on every fourth step, the noise on every other one, the echo on (Delay 3 steps,
// Depth 60 %). (Loading puts the note values through the window's note sliders; a file the
// program saved comes back as it was.)
std::vector<uint8_t> BusyFile(int32_t tempo, int32_t depth = 60, int32_t delay = 3) {
    PatternFileRecord r;
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            StepRecord& st = r.Store.Step(p, s);
            st.BassPlay = 1;
            st.BassFreq = Note2Freq(1 + (s * 5 + p) % 37);
            st.BassSlide = s % 3 == 0;
            st.BassVolume = 100;
            st.BassAttack = 3;
            st.BassDecay = 40;
            st.BassCutoff = 50;
            st.BassResonance = 80;
            st.BassEnvMod = 60;
            st.BassLength = 80;
            st.BassAmpSwitch = 1;
            st.TwinTPlay = s % 4 == 1;
            st.TwinTFreq = Note2Freq(13);
            st.TwinTDecay = 64;
            st.TwinTEnvMod = 40;
            st.TwinTVolume = 110;
            st.NoisePlay = s % 2 == 0;
            st.NoiseNote = 1 + (s * 7) % 37;
            st.NoiseDecay = 30;
            st.NoiseEnvMod = 50;
            st.NoiseColour = 100;
            st.NoiseVolume = 90;
        }
    r.Delay = delay;
    r.Depth = depth;
    r.Volume = 26125;
    r.BassAttackContour = r.BassDecayContour = r.TwinTDecayContour = r.NoiseDecayContour = 20;
    r.Tempo = tempo;
    r.Steps = 16;
    r.Phrases[1] = {1, 2};
    r.Phrases[2] = {2, 1};
    HeadlessProgram program;
    ApplyPatternFile(program.Form, program.Envelopes, r);
    return EncodePatternFile(CollectPatternFile(program.Form, program.Envelopes));
}

int16_t ToSample(float v) {
    return static_cast<int16_t>(std::lround(v * 32767.0f));
}

// Loads a pattern file into the plugin through the host's file property.
void LoadFile(Lv2Host& host, const fs::path& file) {
    host.SendPath(0, kPatternFile, file.string());
    host.Run(1); // the worker reads it after this block...
    host.Run(1); // ...and the plugin takes it before this one
}

// The plugin rolling from bar 1 at `bpm`, in blocks of `block`, for `frames` frames.
std::vector<int16_t> Play(Lv2Host& host, float bpm, uint32_t block, size_t frames) {
    std::vector<int16_t> out;
    out.reserve(frames);
    bool first = true;
    while (out.size() < frames) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(block, frames - out.size()));
        if (first) host.SendPosition(0, 1.0f, 0, 0.0, bpm);
        first = false;
        host.Run(n);
        for (uint32_t i = 0; i < n; ++i) out.push_back(ToSample(host.Out()[i]));
    }
    return out;
}

size_t FirstMismatch(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return n;
}

} // namespace

// On the synth's own step clock, a host rolling from bar 1 at the pattern's tempo hears
// what zelvox-render writes, sample for sample, from the first sample, in any block size.
// On the host's grid it is the same until the design's step (one sample longer than the
// grid's after the first) parts from the grid at the third step.
TEST(Lv2Plugin, PlaysWhatTheRendererWritesAtTheHostsTempo) {
    TempDir dir;
    std::vector<int16_t> ref140;
    for (int32_t tempo : {140, 105, 126}) {
        const fs::path file = dir.path / ("busy" + std::to_string(tempo) + ".zvx");
        WriteAll(file, BusyFile(tempo));
        const fs::path wav = dir.path / ("ref" + std::to_string(tempo) + ".wav");
        const std::string cmd = "timeout -k 5 300 " + Quote(RendererPath()) + " " + Quote(file.string()) +
                                " --buffers 300 -o " + Quote(wav.string());
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const std::vector<int16_t> reference = WavSamples(wav);
        ASSERT_EQ(reference.size(), 300u * 441u);
        if (tempo == 140) ref140 = reference;

        for (uint32_t block : {1u, 64u, 441u, 1000u, 4096u}) {
            if (block == 1 && tempo != 140) continue; // one frame a block: once is enough
            Lv2Host host(kUri);
            ASSERT_TRUE(host.Ok());
            host.SetPort("step_clock", 1.0f);
            LoadFile(host, file);
            const std::vector<int16_t> out = Play(host, float(tempo), block, reference.size());
            const size_t m = FirstMismatch(out, reference);
            EXPECT_EQ(m, reference.size())
                << "tempo " << tempo << ", blocks of " << block;
        }
    }
    // The host's grid at 140 BPM: 4,725 frames a step; the render's third step begins at
    // 9,451, the grid's at 9,450.
    Lv2Host host(kUri);
    LoadFile(host, dir.path / "busy140.zvx");
    const std::vector<int16_t> out = Play(host, 140.0f, 441, 441 * 300);
    EXPECT_GE(FirstMismatch(out, ref140), 9450u);
    ASSERT_GE(host.Steps.size(), 3u);
    EXPECT_EQ(host.Steps[2].Frame - host.Steps[0].Frame, 9450u);
}

// 1,000 bars at 123.4 BPM (5,360.6 frames a step): every step begins within one frame after
// its place on the host's grid, whether the host says where it is every block or only once.
// At 48 kHz a step is heard (less the reported latency) within half a 44.1 kHz frame (0.544
// frames) of the grid, and the notify port gives the whole frame nearest to that: within
// 1.044 frames.
TEST(Lv2Plugin, StepsKeepToTheHostsGridWithoutDrift) {
    TempDir dir;
    WriteAll(dir.path / "busy.zvx", BusyFile(140, 0));
    // The host's tempo as it sends it (a float): the grid is the one this tempo makes.
    const double kBpm = double(123.4f);
    constexpr uint64_t kSteps = 1000 * 16;
    for (const double rate : {44100.0, 48000.0})
    for (bool everyBlock : {true, false}) {
        const double framesPerStep = rate * 60.0 / kBpm / 4.0;
        const double early = rate == 44100.0 ? -1e-6 : -0.5 - 0.5 * rate / 44100.0 - 1e-6;
        Lv2Host host(kUri, rate);
        LoadFile(host, dir.path / "busy.zvx");
        const uint64_t start = host.Frames();
        const auto total = static_cast<uint64_t>(std::ceil(double(kSteps) * framesPerStep));
        for (uint64_t at = 0; at < total;) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(4096, total - at));
            if (everyBlock || at == 0) {
                const double beats = double(at) * kBpm / 60.0 / rate;
                const auto bar = static_cast<int64_t>(beats / 4.0);
                host.SendPosition(0, 1.0f, bar, beats - double(bar) * 4.0, float(kBpm));
            }
            host.Run(n);
            at += n;
        }
        ASSERT_EQ(host.Steps.size(), kSteps) << rate << " Hz, " << (everyBlock ? "every block" : "once");
        double worst = 0.0;
        for (uint64_t j = 0; j < kSteps; ++j) {
            const Lv2Host::Step& s = host.Steps[j];
            const double late = double(s.Frame - start) - double(j) * framesPerStep;
            worst = std::max(worst, std::fabs(late));
            ASSERT_TRUE(late > early && (rate == 44100.0 ? late < 1.0 : late < -early))
                << rate << " Hz: step " << j << " is " << late << " frames off";
            ASSERT_EQ(s.Step, int32_t(j % 16) + 1);
        }
        EXPECT_LT(worst, rate == 44100.0 ? 1.0 : -early);
    }
}

// Swing on the plugin's port is the renderer's --swing: on the synth's own clock, what the
// host hears at 50 % is what zelvox-render --swing 50 writes, sample for sample.
TEST(Lv2Plugin, SwingIsTheRenderersSwing) {
    TempDir dir;
    WriteAll(dir.path / "busy.zvx", BusyFile(140));
    const fs::path wav = dir.path / "swing.wav";
    ASSERT_EQ(std::system(("timeout -k 5 300 " + Quote(RendererPath()) + " " +
                           Quote((dir.path / "busy.zvx").string()) + " --swing 50 --buffers 300 -o " +
                           Quote(wav.string())).c_str()), 0);
    const std::vector<int16_t> reference = WavSamples(wav);
    Lv2Host host(kUri);
    host.SetPort("step_clock", 1.0f);
    host.SetPort("swing", 50.0f);
    LoadFile(host, dir.path / "busy.zvx");
    const std::vector<int16_t> out = Play(host, 140.0f, 441, reference.size());
    EXPECT_EQ(FirstMismatch(out, reference), reference.size());
}

// A host as the big DAWs are: a position every block, its bar and beat rounded to whole
// ticks (1,920 a beat) beside its exact frame, in blocks of uneven sizes. On the host's grid
// every step begins within one frame after its place over 1,000 bars, also after a
// relocation and after a block the host skipped; on the synth's own clock the host hears
// what zelvox-render writes, sample for sample.
TEST(Lv2Plugin, AHostThatRoundsToTicksMovesNothing) {
    TempDir dir;
    auto send = [](Lv2Host& host, double bpm, uint64_t hostFrame) {
        const double beats = double(hostFrame) * bpm / 60.0 / 44100.0;
        const double ticks = std::round(beats * 1920.0); // the host's rounding
        const auto bar = static_cast<int64_t>(ticks / (4 * 1920));
        host.SendPosition(0, 1.0f, bar, (ticks - double(bar) * 4 * 1920) / 1920.0, float(bpm),
                          int64_t(hostFrame));
    };
    const uint32_t blocks[] = {512, 300, 1024, 77, 512};
    {
        const double bpm = double(123.4f), framesPerStep = 44100.0 * 60.0 / bpm / 4.0;
        WriteAll(dir.path / "busy.zvx", BusyFile(140, 0));
        Lv2Host host(kUri);
        LoadFile(host, dir.path / "busy.zvx");
        const uint64_t start = host.Frames();
        const auto total = static_cast<uint64_t>(std::ceil(16000 * framesPerStep));
        const uint64_t jumpAt = total / 2, skipAt = total / 4;
        uint64_t at = 0, hostFrame = 0;
        for (size_t i = 0; at < total; ++i) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(blocks[i % 5], total - at));
            if (hostFrame >= skipAt && hostFrame < skipAt + n) hostFrame += 512; // a block lost
            if (hostFrame >= jumpAt && hostFrame < jumpAt + n) hostFrame += 1000003; // relocated
            send(host, bpm, hostFrame);
            host.Run(n);
            at += n;
            hostFrame += n;
        }
        // Each step against the grid of the host frame it began at. The first step after the
        // relocation or the lost block begins where the host went on (inside its step).
        uint64_t checked = 0;
        at = 0;
        hostFrame = 0;
        size_t next = 0;
        bool jumped = false;
        for (size_t i = 0; at < total; ++i) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(blocks[i % 5], total - at));
            if (hostFrame >= skipAt && hostFrame < skipAt + n) hostFrame += 512, jumped = true;
            if (hostFrame >= jumpAt && hostFrame < jumpAt + n) hostFrame += 1000003, jumped = true;
            for (; next < host.Steps.size() && host.Steps[next].Frame - start < at + n; ++next) {
                const uint64_t h = hostFrame + (host.Steps[next].Frame - start - at);
                // Grid times are doubles: one within 1e-4 of a whole frame is that frame.
                const auto k = static_cast<int64_t>(std::floor((double(h) + 1e-4) / framesPerStep));
                const double after = double(h) - double(k) * framesPerStep;
                if (!jumped) {
                    ASSERT_LT(after, 1.0) << "step " << next << " at host frame " << h;
                    ++checked;
                }
                jumped = false;
                ASSERT_EQ(host.Steps[next].Step, int32_t(k % 16) + 1) << "at host frame " << h;
            }
            at += n;
            hostFrame += n;
        }
        EXPECT_GT(checked, 15000u);
    }
    {
        // The synth's own clock at 126 BPM: nothing placed again, the render sample for sample.
        WriteAll(dir.path / "busy126.zvx", BusyFile(126));
        const fs::path wav = dir.path / "ref126.wav";
        ASSERT_EQ(std::system(("timeout -k 5 300 " + Quote(RendererPath()) + " " +
                               Quote((dir.path / "busy126.zvx").string()) + " --buffers 600 -o " +
                               Quote(wav.string())).c_str()), 0);
        const std::vector<int16_t> reference = WavSamples(wav);
        Lv2Host host(kUri);
        host.SetPort("step_clock", 1.0f);
        LoadFile(host, dir.path / "busy126.zvx");
        std::vector<int16_t> out;
        for (size_t i = 0; out.size() < reference.size(); ++i) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(blocks[i % 5], reference.size() - out.size()));
            send(host, 126.0, out.size());
            host.Run(n);
            for (uint32_t k = 0; k < n; ++k) out.push_back(ToSample(host.Out()[k]));
        }
        EXPECT_EQ(FirstMismatch(out, reference), reference.size());
    }
}

// At 48 and 96 kHz the plugin plays the 44.1 kHz render converted by sox, within -60 dBFS
// RMS once its reported latency is taken off, the same samples in every block size, with
// nothing above 22.05 kHz (no images) louder than -90 dBFS; the stereo plugin's two outputs
// carry it too. Rates it cannot serve are refused with a message that says which it can.
TEST(Lv2Plugin, PlaysAtOtherRatesAsTheRenderConvertedBySox) {
    TempDir dir;
    const fs::path file = dir.path / "busy.zvx";
    WriteAll(file, BusyFile(140));
    const fs::path wav = dir.path / "ref.wav";
    const std::string cmd = Quote(RendererPath()) + " " + Quote(file.string()) +
                            " --buffers 200 -o " + Quote(wav.string());
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const uint32_t rate : {48000u, 96000u}) {
        const fs::path converted = dir.path / ("sox" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(SoxConvert(wav, converted, rate));
        const std::vector<int16_t> reference = WavSamples(converted);
        ASSERT_EQ(reference.size(), 200u * 441u * size_t(rate) / 44100u);
        std::vector<int16_t> first;
        for (uint32_t block : {64u, 1u, 441u, 1000u, 4096u}) {
            Lv2Host host(kUri, rate);
            ASSERT_TRUE(host.Ok());
            host.SetPort("step_clock", 1.0f);
            LoadFile(host, file);
            // The transport starts where a host frame is a whole synth frame (160 frames at
            // 48 kHz are 147 at 44.1 kHz), as the render starts on one.
            host.Run(rate / 300 - 2);
            const auto latency = size_t(host.Port("latency"));
            EXPECT_GT(latency, 0u);
            EXPECT_LT(latency, rate / 50) << "at most 20 ms";
            const std::vector<int16_t> out = Play(host, 140.0f, block, reference.size() + latency);
            if (first.empty()) {
                first = out;
                const size_t n = reference.size() - 2 * 4096; // the render's end is cut off
                const double rms = RmsDifferenceDb(out, latency, reference, n);
                std::printf("%u Hz: latency %zu frames, difference from sox %.1f dBFS RMS\n", rate, latency, rms);
                EXPECT_LT(rms, -60.0) << rate << " Hz";
                if (rate == 96000) {
                    const double images = LoudestAboveDb(out, rate, 22050.0);
                    std::printf("96000 Hz: loudest above 22.05 kHz %.1f dBFS\n", images);
                    EXPECT_LT(images, -90.0);
                }
            } else {
                EXPECT_EQ(FirstMismatch(out, first), out.size()) << rate << " Hz, blocks of " << block;
            }
        }
    }
    Lv2Host stereo("https://zelvox.github.io/lv2/zelvox-stereo", 48000.0);
    LoadFile(stereo, file);
    stereo.SendPosition(0, 1.0f, 0, 0.0, 140.0f);
    stereo.Run(4096);
    stereo.Run(4096);
    ASSERT_EQ(stereo.OutCount(), 2u);
    EXPECT_GT(stereo.Port("latency"), 0.0f);
    EXPECT_NE(stereo.Out(0)[4000], 0.0f);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(stereo.Out(0)[i], stereo.Out(1)[i]);

    for (const double bad : {16000.0, 200000.0, 48000.5}) {
        Lv2Host host(kUri, bad);
        EXPECT_FALSE(host.Ok()) << bad;
        ASSERT_EQ(host.Log.size(), 1u) << bad;
        EXPECT_NE(host.Log[0].find("22050 to 192000 Hz"), std::string::npos) << host.Log[0];
        char asked[32];
        std::snprintf(asked, sizeof asked, "%.6g Hz", bad);
        EXPECT_NE(host.Log[0].find(asked), std::string::npos) << host.Log[0];
    }
}

// Stop silences the voices (with the echo off, at once); start and a jump land on the step
// where the host is, on the host's grid from there.
TEST(Lv2Plugin, FollowsTheTransportsStopsStartsAndJumps) {
    TempDir dir;
    WriteAll(dir.path / "busy.zvx", BusyFile(120, 0, 0));
    Lv2Host host(kUri);
    LoadFile(host, dir.path / "busy.zvx");
    // 120 BPM: 5,512.5 frames a step.
    host.SendPosition(0, 1.0f, 0, 0.0, 120.0f);
    host.Run(4096);
    host.Run(4096);
    bool sound = false;
    for (uint32_t i = 0; i < 4096; ++i) sound |= host.Out()[i] != 0.0f;
    EXPECT_TRUE(sound);
    host.SendPosition(100, 0.0f, 0, 0.0, 120.0f); // the host stops 100 frames in
    host.Run(4096);
    for (uint32_t i = 100; i < 4096; ++i) ASSERT_EQ(host.Out()[i], 0.0f) << "frame " << i;
    host.Run(4096);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(host.Out()[i], 0.0f);

    // Start in bar 3, beat 2.6 (step 11 of the pattern, 0.1 beat after its beginning).
    host.Steps.clear();
    const uint64_t startAt = host.Frames() + 10;
    host.SendPosition(10, 1.0f, 2, 1.6 + 1.0, 120.0f);
    host.Run(4096);
    ASSERT_FALSE(host.Steps.empty());
    EXPECT_EQ(host.Steps[0].Frame, startAt);
    EXPECT_EQ(host.Steps[0].Step, 11);
    host.Run(4096);
    ASSERT_GE(host.Steps.size(), 2u);
    // Step 12 begins 0.15 beat (3,307.5 frames) later: on frame 3,308.
    EXPECT_EQ(host.Steps[1].Step, 12);
    EXPECT_EQ(host.Steps[1].Frame - startAt, 3308u);

    // A jump to bar 10 while rolling: step 1 there, then on.
    host.Steps.clear();
    const uint64_t jumpAt = host.Frames() + 500;
    host.SendPosition(500, 1.0f, 9, 0.0, 120.0f);
    host.Run(4096);
    host.Run(4096);
    ASSERT_GE(host.Steps.size(), 2u);
    EXPECT_EQ(host.Steps[0].Frame, jumpAt);
    EXPECT_EQ(host.Steps[0].Step, 1);
    EXPECT_EQ(host.Steps[1].Step, 2);
    EXPECT_EQ(host.Steps[1].Frame - jumpAt, 5513u);
}

// "Run" plays on the plugin's own clock at "Tempo" while the host's transport is stopped
// (jalv sends a stopped position at its start); once the host rolls it leads from its place
// at its tempo; stopped again, Run plays on; Run off is silence.
TEST(Lv2Plugin, RunPlaysWhileTheHostsTransportIsStopped) {
    TempDir dir;
    WriteAll(dir.path / "busy.zvx", BusyFile(120, 0, 0));
    Lv2Host host(kUri);
    LoadFile(host, dir.path / "busy.zvx");
    host.SendPosition(0, 0.0f, 0, 0.0, 120.0f);
    host.Run(4096);
    host.SetPort("tempo", 140.0f);
    host.SetPort("run", 1.0f);
    host.Steps.clear();
    for (int i = 0; i < 4; ++i) host.Run(4096);
    ASSERT_GE(host.Steps.size(), 3u) << "Run gave no play with the host stopped";
    EXPECT_EQ(host.Steps[0].Step, 1);
    EXPECT_EQ(host.Steps[2].Frame - host.Steps[1].Frame, 4726u) << "not the synth's own step at 140 BPM";

    host.Steps.clear();
    const uint64_t rollAt = host.Frames() + 200;
    host.SendPosition(200, 1.0f, 9, 0.0, 120.0f);
    host.Run(4096);
    host.Run(4096);
    ASSERT_GE(host.Steps.size(), 2u);
    EXPECT_EQ(host.Steps[0].Frame, rollAt);
    EXPECT_EQ(host.Steps[0].Step, 1);
    EXPECT_EQ(host.Steps[1].Frame - rollAt, 5513u) << "not the host's grid at 120 BPM";

    host.SendPosition(0, 0.0f, 9, 1.5, 120.0f);
    host.Steps.clear();
    for (int i = 0; i < 3; ++i) host.Run(4096);
    bool sound = false;
    for (uint32_t i = 0; i < 4096; ++i) sound |= host.Out()[i] != 0.0f;
    EXPECT_TRUE(sound && host.Steps.size() >= 2) << "Run stopped with the host";

    host.SetPort("run", 0.0f);
    host.Run(4096);
    host.Run(4096);
    for (uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(host.Out()[i], 0.0f) << "frame " << i;
}

// The patterns travel in the host's state file, byte for byte; a bad path or a short file
// changes nothing and is reported in the host's log.
TEST(Lv2Plugin, PatternsTravelWithTheProjectAndBadFilesChangeNothing) {
    TempDir dir;
    const std::vector<uint8_t> bytes = BusyFile(133);
    WriteAll(dir.path / "busy.zvx", bytes);
    Lv2Host a(kUri);
    LoadFile(a, dir.path / "busy.zvx");
    ASSERT_EQ(a.StateBytes(), bytes);
    ASSERT_FALSE(a.PathsReported.empty()) << "the loaded file is reported to the host";
    EXPECT_EQ(a.PathsReported.back(), (dir.path / "busy.zvx").string());

    const std::string saved = a.SaveState();
    Lv2Host b(kUri);
    ASSERT_NE(b.StateBytes(), bytes);
    ASSERT_TRUE(b.RestoreState(saved));
    EXPECT_EQ(b.StateBytes(), bytes);
    EXPECT_EQ(b.StateBytes().size(), kPatternFileSize);

    std::vector<uint8_t> shortFile(bytes.begin(), bytes.end() - 1);
    WriteAll(dir.path / "short.zvx", shortFile);
    for (const fs::path& bad : {dir.path / "missing.zvx", dir.path / "short.zvx", dir.path}) {
        b.Log.clear();
        LoadFile(b, bad);
        EXPECT_EQ(b.StateBytes(), bytes) << bad;
        ASSERT_EQ(b.Log.size(), 1u) << bad;
        EXPECT_NE(b.Log[0].find(bad.string()), std::string::npos) << b.Log[0];
        if (bad.filename() == "short.zvx") {
            EXPECT_NE(b.Log[0].find("Read beyond end of file"), std::string::npos) << b.Log[0];
        }
    }
    // An empty path (a cleared chooser) says so, rather than "File not found" with no name.
    b.Log.clear();
    LoadFile(b, "");
    EXPECT_EQ(b.StateBytes(), bytes);
    ASSERT_EQ(b.Log.size(), 1u);
    EXPECT_NE(b.Log[0].find("the pattern file path is empty"), std::string::npos) << b.Log[0];
}

// The factory bank is the plugin's preset list, and a preset restores what loading its file
// does: the same state bytes, and the same sound.
TEST(Lv2Plugin, FactoryPresetsAreListedAndLoadAsTheirFiles) {
    const fs::path bank = fs::path(std::getenv("ZELVOX_TEST_DATA")) / ".." / ".." / "patterns";
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(bank))
        if (e.path().extension() == ".zvx") files.insert(e.path().stem().string());
    Lv2Host byPreset(kUri), byFile(kUri);
    std::set<std::string> presets;
    for (const auto& [uri, label] : byPreset.Presets()) {
        EXPECT_EQ(uri.rfind(kUri + "/presets#", 0), 0u) << uri;
        EXPECT_FALSE(label.empty()) << uri;
        presets.insert(uri.substr(uri.find('#') + 1));
    }
    ASSERT_GE(files.size(), 16u);
    EXPECT_EQ(presets, files);

    const std::string name = "song-dub-chain";
    ASSERT_TRUE(byPreset.LoadPreset(kUri + "/presets#" + name));
    LoadFile(byFile, bank / (name + ".zvx"));
    const std::vector<uint8_t> file = ReadAll(bank / (name + ".zvx"));
    EXPECT_TRUE(byPreset.StateBytes() == file);
    EXPECT_TRUE(byFile.StateBytes() == file);
    // Patterns, song, tempo, steps and echo: without a transport, "Run" plays the song's
    // first phrase at the file's tempo on both, sample for sample.
    for (Lv2Host* h : {&byPreset, &byFile}) h->SetPort("run", 1.0f);
    std::vector<int16_t> a, b;
    for (int block = 0; block < 200; ++block) {
        byPreset.Run(441);
        byFile.Run(441);
        for (uint32_t i = 0; i < 441; ++i) {
            a.push_back(ToSample(byPreset.Out()[i]));
            b.push_back(ToSample(byFile.Out()[i]));
        }
    }
    EXPECT_EQ(FirstMismatch(a, b), a.size());
    EXPECT_GT(*std::max_element(a.begin(), a.end()), 1000) << "the preset plays";
}

// MIDI controllers turn the knobs by the plugin's own controller table, with the desktop
// program's scaling, on the channel chosen. The table is the project's: a new instance does
// not read the desktop program's settings, a saved state brings it back, and a preset (which
// has none) leaves it.
TEST(Lv2Plugin, MidiControllersTurnTheKnobsByTheProjectsTable) {
    TempDir dir;
    fs::create_directories(dir.path / "zelvox");
    std::ofstream(dir.path / "zelvox" / "ZLVX3.INI") << "[MIDI]\n3=74\n5=7\n";
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    Lv2Host host(kUri);
    ::unsetenv("XDG_CONFIG_HOME");
    auto step = [](Lv2Host& h) {
        PatternFileRecord r;
        DecodePatternFile(h.StateBytes().data(), r);
        return r.Store.Step(1, 16);
    };
    host.Run(1);
    host.SetPort("midi_channel", 2.0f);
    const int32_t untouched = step(host).BassResonance;
    host.SendMidi(0, 0xB1, 74, 127);
    host.Run(64);
    EXPECT_EQ(step(host).BassResonance, untouched) << "the desktop program's table was read";

    // The window's patch:Set of the table: Resonance (slot 3) on 74, bass Volume (5) on 7.
    CcTable table{};
    table[3] = 74;
    table[5] = 7;
    std::vector<uint64_t> set(64);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, host.UridMap());
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(set.data()), set.size() * 8);
    LV2_Atom_Forge_Frame f;
    lv2_atom_forge_object(&forge, &f, 0, host.Map(LV2_PATCH__Set));
    lv2_atom_forge_key(&forge, host.Map(LV2_PATCH__property));
    lv2_atom_forge_urid(&forge, host.Map("https://zelvox.github.io/lv2/zelvox#controllers"));
    lv2_atom_forge_key(&forge, host.Map(LV2_PATCH__value));
    lv2_atom_forge_vector(&forge, 4, host.Map(LV2_ATOM__Int), uint32_t(table.size()), table.data());
    lv2_atom_forge_pop(&forge, &f);
    host.SendAtom(0, reinterpret_cast<const LV2_Atom*>(set.data()));
    host.SendMidi(1, 0xB1, 74, 127); // channel 2: Resonance to 105 (scaled)
    host.SendMidi(2, 0xB1, 7, 50);   // bass Volume 50
    host.SendMidi(3, 0xB0, 7, 90);   // channel 1: not ours
    host.SendMidi(4, 0xB1, 75, 90);  // a controller nobody has
    host.Run(64);
    PatternFileRecord r;
    DecodePatternFile(host.StateBytes().data(), r);
    for (int s = 1; s <= 16; ++s) { // "All notes": every step of the pattern
        EXPECT_EQ(r.Store.Step(1, s).BassResonance, 105);
        EXPECT_EQ(r.Store.Step(1, s).BassVolume, 50);
    }

    // The project reopened elsewhere: the table comes with it, and a preset keeps it.
    const std::string saved = host.SaveState();
    Lv2Host again(kUri);
    ASSERT_TRUE(again.RestoreState(saved));
    const auto presets = again.Presets();
    ASSERT_FALSE(presets.empty());
    ASSERT_TRUE(again.LoadPreset(presets.front().first));
    again.SetPort("midi_channel", 2.0f);
    again.SendMidi(0, 0xB1, 7, 33);
    again.Run(64);
    EXPECT_EQ(step(again).BassVolume, 33);
}

// The turtle loads in lilv without a warning, and lv2info lists every port.
TEST(Lv2Plugin, TheBundleDescribesEveryPort) {
    const std::string lv2Path = fs::path(Lv2BundleDir()).parent_path().string();
    const std::string cmd = "LV2_PATH=" + Quote(lv2Path) + ":/usr/lib/lv2 timeout -k 5 60 lv2info " + Quote(kUri) +
                            " 2>&1";
    FILE* f = ::popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, f)) text.append(buf, n);
    ASSERT_EQ(::pclose(f), 0) << text;
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
    EXPECT_EQ(text.find("error"), std::string::npos) << text;
    for (const char* symbol : {"out", "control", "notify", "volume", "delay", "depth", "steps",
                               "tempo", "pattern", "song", "run", "midi_channel", "step_clock",
                               "edit_mode", "edit_step", "bass_cutoff", "noise_volume", "latency",
                               "swing", "midi_out", "notes_out", "notes_noise_note",
                               "notes_transpose", "notes_first_pattern"})
        EXPECT_NE(text.find(std::string("Symbol:      ") + symbol + "\n"), std::string::npos)
            << symbol;
}

namespace {

// What a host does while audio runs: blocks of changing sizes from 1 to 8,192 frames, the
// transport starting, jumping and stopping, tempo changes, MIDI controllers, every control
// port moved, the plugin's window asking for the state and sending its edits, and (with
// `load`) a pattern file taken in.
void HostSession(Lv2Host& host, const fs::path& file, bool load) {
    std::minstd_rand rng(11);
    // The window's messages, made once before any blocks (the host's memory: the second
    // session runs where a system call ends the process).
    static std::vector<uint64_t> get(16), set(kPatternFileSize / 8 + 16);
    if (get[0] == 0) {
        const LV2_URID patterns = host.Map("https://zelvox.github.io/lv2/zelvox#patterns");
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, host.UridMap());
        LV2_Atom_Forge_Frame f;
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(get.data()), get.size() * 8);
        lv2_atom_forge_object(&forge, &f, 0, host.Map(LV2_PATCH__Get));
        lv2_atom_forge_key(&forge, host.Map(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, patterns);
        lv2_atom_forge_pop(&forge, &f);
        const std::vector<uint8_t> edited = BusyFile(150, 30, 2);
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(set.data()), set.size() * 8);
        lv2_atom_forge_object(&forge, &f, 0, host.Map(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, host.Map(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, patterns);
        lv2_atom_forge_key(&forge, host.Map(LV2_PATCH__value));
        lv2_atom_forge_atom(&forge, uint32_t(edited.size()), host.Map(LV2_ATOM__Chunk));
        lv2_atom_forge_write(&forge, edited.data(), uint32_t(edited.size()));
        lv2_atom_forge_pop(&forge, &f);
    }
    constexpr uint32_t sizes[] = {1, 2, 63, 64, 441, 1000, 4096, 8192};
    const char* ports[] = {"volume", "delay", "depth", "steps", "tempo", "pattern", "song",
                           "run", "step_clock", "edit_mode", "edit_step", "bass_cutoff",
                           "noise_colour", "bass_waveform"};
    host.SetPort("notes_transpose", 1.0f);
    host.SetPort("notes_patterns", 1.0f);
    for (int round = 0; round < 60; ++round) {
        const uint32_t n = round % 3 == 0 ? sizes[rng() % 8] : 1 + rng() % 8192;
        if (round % 10 == 0)
            host.SendPosition(0, round % 20 == 10 ? 0.0f : 1.0f, int64_t(rng() % 50),
                              double(rng() % 400) / 100.0, 60.0f + float(rng() % 180));
        host.SendMidi(n / 2, 0xB0, 0, uint8_t(rng() % 128));
        host.SendMidi(n / 2, 0x90, uint8_t(rng() % 128), 100); // transposes or chooses a pattern
        host.SetPort(ports[rng() % std::size(ports)], float(rng() % 20));
        if (round % 15 == 5) host.SendAtom(0, reinterpret_cast<const LV2_Atom*>(get.data()));
        if (round % 15 == 7) host.SendAtom(n - 1, reinterpret_cast<const LV2_Atom*>(set.data()));
        if (load && round == 30) host.SendPath(0, kPatternFile, file.string());
        if (load && round == 31) host.SendPath(0, kPatternFile, (file.string() + ".missing"));
        host.Run(n);
    }
}

} // namespace

TEST(Lv2Plugin, RunAllocatesNothingTakesNoLockAndMakesNoSystemCall) {
    for (const double rate : {44100.0, 48000.0}) {
    SCOPED_TRACE(rate);
    Allocations = 0;
    Locks = 0;
    TempDir dir;
    WriteAll(dir.path / "busy.zvx", BusyFile(140));
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1); // every controller slot CC 0
    Lv2Host host(kUri, rate);
    ::unsetenv("XDG_CONFIG_HOME");
    host.SetPort("notes_out", 1.0f); // the notes' path too
    host.Run(64);
    // What the plugin tells an open window on the way: knobs MIDI turned, and stops.
    const LV2_URID turn = host.Map("https://zelvox.github.io/lv2/zelvox#ControlTurn");
    const LV2_URID stopped = host.Map("https://zelvox.github.io/lv2/zelvox#Stopped");
    const LV2_URID object = host.Map(LV2_ATOM__Object);
    int turns = 0, stops = 0;
    host.OnNotify = [&](const LV2_Atom* a) {
        if (a->type != object) return;
        const LV2_URID type = reinterpret_cast<const LV2_Atom_Object*>(a)->body.otype;
        turns += type == turn;
        stops += type == stopped;
    };
    host.AudioThread = [](bool on) { Counting = on; };
    HostSession(host, dir.path / "busy.zvx", true);
    host.AudioThread = [](bool) {};
    host.OnNotify = nullptr;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_EQ(Locks.load(), 0);
    EXPECT_GT(turns, 0);
    EXPECT_GT(stops, 0);
    EXPECT_EQ(host.PathsReported.size(), 1u) << "the file was taken in";
    EXPECT_EQ(host.Log.size(), 1u) << "the missing one was reported";
    EXPECT_FALSE(host.Notes.empty());
    host.Steps.reserve(host.Steps.size() + 100000); // the host's own bookkeeping, set aside
    host.Notes.reserve(host.Notes.size() + 100000);

    const int status = UnderNoSyscallFilter([&] { HostSession(host, {}, false); });
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a block made a system call (killed by signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
    }
}

// The plugin and the low-latency output run one driver: played on its own clock from the
// same state, with the same MIDI, they give the host the same samples at its rate.
TEST(Lv2Plugin, ThePluginAndTheLiveOutputPlayTheSameSamples) {
    for (const uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        Lv2Host host(kUri, rate);
        host.SetPort("run", 1.0f);
        LiveSynth live;
        std::unique_ptr<RateStage> stage;
        if (rate != 44100) stage = std::make_unique<RateStage>(rate);
        live.SetRate(stage.get(), 0);
        live.Post({LiveCommand::Kind::Start, 0});
        NotesInSetup notesIn;
        notesIn.Transpose = true;
        live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(notesIn)});
        host.SetPort("notes_transpose", 1.0f);
        std::vector<float> out(777);
        double worst = 0.0, peak = 0.0;
        for (int b = 0; b < 120; ++b) {
            const uint32_t n = b % 2 ? 300 : 777;
            const LiveMidi note{n / 3, 3, {0x90, uint8_t(36 + b % 12), 100}}; // transposes
            if (b % 10 == 3) host.SendMidi(note.Frame, 0x90, note.Bytes[1], 100);
            host.Run(n);
            live.ProcessHost(out.data(), n, &note, b % 10 == 3 ? 1 : 0, nullptr);
            for (uint32_t i = 0; i < n; ++i) {
                worst = std::max(worst, std::fabs(double(out[i]) - host.Out()[i]));
                peak = std::max(peak, std::fabs(double(out[i])));
            }
        }
        EXPECT_GT(peak, 0.1);
        EXPECT_EQ(worst, 0.0);
        EXPECT_TRUE(live.Synth().Playing());
    }
}

// The sequence as MIDI notes on the plugin's output port: each note at the frame its step is
// told at (on the host's grid, at 44.1 and 48 kHz), a slide as the next note on before the
// held one's off, the drums on their chosen channel and notes, and nothing left on at stop or
// when switched off.
TEST(Lv2Plugin, MidiNotesOutAtTheStepsFrames) {
    PatternSynth editor;
    editor.SetControl(ControlId::Steps, 4);
    const int notes[4] = {13, 15, 17, 17};
    for (int s = 1; s <= 4; ++s) {
        StepRecord& r = editor.Store.Step(1, s);
        r.BassNote = notes[s - 1];
        r.BassPlay = s != 4;
        r.BassSlide = s == 2;
        r.BassLength = 63;
        r.TwinTPlay = s == 1;
        r.NoisePlay = s == 4;
    }
    TempDir dir;
    WriteAll(dir.path / "notes.zvx", editor.SaveState());
    for (const double rate : {44100.0, 48000.0}) {
        SCOPED_TRACE(rate);
        Lv2Host host(kUri, rate);
        LoadFile(host, dir.path / "notes.zvx");
        host.SetPort("notes_out", 1.0f);
        host.SetPort("notes_bass_channel", 2.0f);
        host.SetPort("notes_noise_channel", 11.0f);
        host.SetPort("notes_noise_note", 50.0f);
        host.SendPosition(0, 1.0f, 0, 0.0, 120.0f);
        for (int i = 0; i < 200; ++i) host.Run(i % 2 ? 300 : 777);
        host.SendPosition(0, 0.0f, 4, 0.0, 120.0f); // stopped
        host.Run(64);

        ASSERT_GE(host.Steps.size(), 12u);
        using V = std::vector<std::array<int, 3>>;
        auto at = [&](uint64_t frame) {
            V r;
            for (const auto& n : host.Notes)
                if (n.Frame == frame) r.push_back({n.Bytes[0], n.Bytes[1], n.Bytes[2] > 0});
            return r;
        };
        const V expected[5] = {{},
                               {{0x8A, 50, 0}, {0x91, 13 + 24, 1}, {0x99, 36, 1}},
                               {{0x89, 36, 0}, {0x91, 15 + 24, 1}},
                               {{0x91, 17 + 24, 1}, {0x81, 15 + 24, 0}},
                               {{0x9A, 50, 1}}};
        for (size_t i = 1; i < host.Steps.size(); ++i) {
            const Lv2Host::Step& s = host.Steps[i];
            EXPECT_EQ(at(s.Frame), expected[s.Step]) << "step " << s.Step << " at " << s.Frame;
        }
        auto sounding = [&] {
            int on = 0;
            for (const auto& n : host.Notes) on += (n.Bytes[0] & 0xF0) == 0x90 ? 1 : -1;
            return on;
        };
        EXPECT_EQ(sounding(), 0);
        // Switched off while step 1's notes sound: they end in that block.
        host.SendPosition(0, 1.0f, 0, 0.0, 120.0f);
        host.Run(300);
        ASSERT_GT(sounding(), 0);
        host.SetPort("notes_out", 0.0f);
        host.Run(64);
        EXPECT_EQ(sounding(), 0) << "switching the notes off left them sounding";
    }
}

// MIDI notes in: a note-on atom on the control port transposes the bass from the next step
// (notes beyond the range fold back by octaves): the host hears, sample for sample, what the
// same line stored transposed from that step plays. Off by default: a note changes nothing.
TEST(Lv2Plugin, ANoteTransposesFromTheNextStep) {
    auto file = [](int from, int semitones) {
        PatternSynth editor;
        for (int s = 1; s <= 16; ++s) {
            StepRecord& r = editor.Store.Step(1, s);
            const int note = 20 + s; // 21..36: the last ones fold back at +7
            r.BassNote = s >= from ? TransposedNote(note, semitones) : note;
            r.BassFreq = Note2Freq(r.BassNote);
            r.BassSlide = s == 8;
        }
        return editor.SaveState();
    };
    TempDir dir;
    WriteAll(dir.path / "played.zvx", file(1, 0));
    WriteAll(dir.path / "stored.zvx", file(3, 7));
    Lv2Host played(kUri), stored(kUri), off(kUri);
    for (Lv2Host* h : {&played, &stored, &off}) {
        h->SetPort("step_clock", 1.0f);
        LoadFile(*h, dir.path / (h == &stored ? "stored.zvx" : "played.zvx"));
    }
    played.SetPort("notes_transpose", 1.0f);
    played.SetPort("notes_in_channel", 4.0f);
    played.SetPort("notes_root", 50.0f);
    std::vector<int16_t> a, b, c;
    for (int i = 0; i < 170; ++i) {
        for (Lv2Host* h : {&played, &stored, &off}) {
            if (i == 0) h->SendPosition(0, 1.0f, 0, 0.0, 140.0f);
            // In step 2 (4,725..9,450): +7 on channel 4; channel 1 is not the notes' channel.
            if (i == 14 && h != &stored) {
                h->SendMidi(100, 0x93, 57, 100);
                h->SendMidi(101, 0x90, 62, 100);
            }
            h->Run(441);
        }
        for (uint32_t k = 0; k < 441; ++k) {
            a.push_back(ToSample(played.Out()[k]));
            b.push_back(ToSample(stored.Out()[k]));
            c.push_back(ToSample(off.Out()[k]));
        }
    }
    EXPECT_EQ(FirstMismatch(a, b), a.size());
    const size_t parted = FirstMismatch(a, c); // the untransposed play parts at step 3
    EXPECT_GE(parted, 9451u);
    EXPECT_LT(parted, 9451u + 4726u);
}
