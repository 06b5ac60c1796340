// The synth object a host drives: the same samples as the window's chain in any block size,
// its state as the pattern-file bytes, and its controls acting as the window's knobs do.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "files/PatternFileFormat.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/TempFiles.h"
#include "synth/PatternSynth.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// A pattern file the program saved: every voice busy, slides, Delay 3 and Depth 60, and a
// song whose phrase 2 repeats until Stop.
std::vector<uint8_t> BusyFile() {
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    const fs::path data = d ? fs::path(d) : fs::path("tests/data");
    std::vector<uint8_t> bytes =
        ReadAll(data.parent_path() / "fuzz" / "corpus" / "pattern" / "busy");
    EXPECT_EQ(bytes.size(), kPatternFileSize);
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    r.Delay = 3;
    r.Depth = 60;
    r.Phrases[1] = {2, 1};
    r.Phrases[2] = {1, 0};
    return EncodePatternFile(r);
}

// What the program's chain (render loop, echo, offline output, WAV sink) delivers for the
// file, `buffers` buffers of 441 samples.
std::vector<int16_t> ChainRender(const std::vector<uint8_t>& file, bool song, int buffers) {
    TempDir dir;
    WriteFileReplacing(dir / "in.zvx", file);
    HeadlessProgram p;
    p.Load(dir / "in.zvx");
    p.Render(dir / "out.wav", song, buffers);
    const std::vector<uint8_t> wav = ReadAll(dir / "out.wav");
    std::vector<int16_t> s((wav.size() - 58) / 2); // 46-byte header, 12-byte "fact" after
    std::memcpy(s.data(), wav.data() + 46, s.size() * 2);
    return s;
}

std::vector<int16_t> SynthRender(const std::vector<uint8_t>& file, bool song, size_t frames,
                                 uint32_t block) {
    PatternSynth synth;
    EXPECT_TRUE(synth.LoadState(file.data(), file.size()));
    synth.Activate();
    synth.SetSongMode(song);
    EXPECT_TRUE(synth.Start());
    std::vector<int16_t> out(frames);
    for (size_t at = 0; at < frames; at += block)
        synth.Render(out.data() + at, uint32_t(std::min<size_t>(block, frames - at)));
    return out;
}

} // namespace

TEST(PatternSynth, RendersTheChainsSamplesInEveryBlockSize) {
    const std::vector<uint8_t> file = BusyFile();
    for (bool song : {false, true}) {
        const std::vector<int16_t> chain = ChainRender(file, song, 150);
        ASSERT_EQ(chain.size(), 150u * 441);
        size_t loud = 0;
        for (int16_t v : chain)
            loud += v > 1000 || v < -1000;
        ASSERT_GT(loud, chain.size() / 10) << "the reference must be sound, not silence";
        for (uint32_t block : {1u, 64u, 441u, 1000u, 4096u, 8192u}) {
            const std::vector<int16_t> synth = SynthRender(file, song, chain.size(), block);
            size_t first = 0;
            while (first < chain.size() && chain[first] == synth[first])
                ++first;
            EXPECT_EQ(first, chain.size()) << "song " << song << ", blocks of " << block
                                           << ": first difference at sample " << first;
        }
    }
}

TEST(PatternSynth, StateIsThePatternFileAndLoadsAsTheWindowLoadsIt) {
    const std::vector<uint8_t> file = BusyFile();
    PatternSynth synth;
    ASSERT_TRUE(synth.LoadState(file.data(), file.size()));
    EXPECT_EQ(synth.SaveState(), file) << "a file the program wrote comes back byte for byte";

    // The window's File > Load pattern leaves the same patterns, knobs and song.
    TempDir dir;
    WriteFileReplacing(dir / "in.zvx", file);
    HeadlessProgram window;
    window.Load(dir / "in.zvx");
    EXPECT_EQ(EncodePatternFile(CollectPatternFile(window.Form, window.Envelopes)), file);
    EXPECT_EQ(std::memcmp(&synth.Store, &window.Form.Store, sizeof(PatternStore)), 0);
    // The panel controls agree; the sound knobs show each one's edit step, which the window's
    // note sliders move while they show the loaded notes (the synth's stays on step 1).
    for (const ControlRow& row : kControls) {
        const ValueControl* c = window.Form.ControlFor(row.Id);
        if (c && !row.Field) {
            EXPECT_EQ(synth.Control(row.Id), c->Value()) << row.RoleName;
        }
    }

    // Too short: refused, nothing changed.
    const std::vector<uint8_t> before = synth.SaveState();
    std::vector<uint8_t> junk(kPatternFileSize - 1, 0xFF);
    EXPECT_FALSE(synth.LoadState(junk.data(), junk.size()));
    EXPECT_EQ(synth.SaveState(), before);
}

TEST(PatternSynth, ControlsActAsTheWindowsKnobs) {
    PatternSynth synth;
    // "All Notes": every step of patterns 1..16, never slot 0; the value is limited.
    const int32_t silent = synth.Store.Step(0, 1).BassCutoff;
    EXPECT_TRUE(synth.SetControl(ControlId::BassCutoff, 500));
    EXPECT_EQ(synth.Control(ControlId::BassCutoff), 126);
    EXPECT_EQ(synth.Store.Step(16, 16).BassCutoff, 126);
    EXPECT_EQ(synth.Store.Step(0, 1).BassCutoff, silent);
    // The same value again does nothing, even where a step differs.
    synth.Store.Step(3, 3).BassCutoff = 7;
    EXPECT_FALSE(synth.SetControl(ControlId::BassCutoff, 126));
    EXPECT_EQ(synth.Store.Step(3, 3).BassCutoff, 7);
    // "Selected Note": the edit step of the pattern shown only.
    synth.SelectedNoteMode = true;
    synth.ChoosePattern(5);
    synth.EditStep = 9;
    synth.SetControl(ControlId::NoiseColour, 33);
    EXPECT_EQ(synth.Store.Step(5, 9).NoiseColour, 33);
    EXPECT_NE(synth.Store.Step(5, 8).NoiseColour, 33);
    // Tempo and Steps retime the clock; choosing a pattern while playing queues it.
    synth.SetTempo(120);
    EXPECT_EQ(synth.Eng.S.StepLength, 5512); // 5512.5 samples, rounded to even
    ASSERT_TRUE(synth.Start());
    synth.ChoosePattern(2);
    EXPECT_EQ(synth.Seq.PlayPattern, 5);
    EXPECT_EQ(synth.Seq.QueuedPattern, 2);
}

// A host that jumps: Locate(k) leaves the clock, the pattern and the song exactly where
// Start and k steps of the render loop leave them, for loops with a queued pattern and for
// songs with repeats, a phrase that repeats until stopped, and a song that ends; also when
// the jump comes from the middle of the song.
TEST(PatternSynth, LocateLandsWhereTheStepsWouldHaveLed) {
    struct Case {
        bool song;
        int32_t steps;
        std::vector<PhraseEntry> phrases;
    };
    const std::vector<Case> cases = {
        {false, 16, {}}, {false, 5, {}}, {false, 1, {}},
        {true, 16, {{3, 2}, {5, 1}, {2, 3}}},        // ends after six passes
        {true, 7, {{1, 1}, {4, 0}}},                 // phrase 2 repeats until stopped
        {true, 1, {{2, 3}, {6, 2}, {1, 100}, {9, 4}}},
    };
    auto key = [](PatternSynth& s) {
        const EngineState& e = s.Eng.S;
        std::vector<int64_t> k{s.Playing(), s.Seq.PlayPattern, s.Seq.PhraseIndex,
                               s.Seq.RepeatsLeft};
        if (s.Playing()) k.insert(k.end(), {e.CurStep, e.NextStep, e.PrevStep});
        return k;
    };
    for (const Case& c : cases) {
        for (uint64_t k : {0ull, 1ull, 2ull, 4ull, 5ull, 6ull, 15ull, 16ull, 17ull, 31ull, 95ull,
                           96ull, 97ull, 500ull, 1601ull}) {
            PatternSynth stepped, located, midway;
            for (PatternSynth* s : {&stepped, &located, &midway}) {
                s->SetControl(ControlId::Steps, c.steps);
                for (size_t i = 0; i < c.phrases.size(); ++i) s->Seq.Phrases[i + 1] = c.phrases[i];
                s->SetSongMode(c.song);
                s->Start();
                s->ChoosePattern(4); // queued for the next pattern end when looping
            }
            for (uint64_t i = 0; i < k && stepped.Playing(); ++i) stepped.Seq.SeqStep();
            located.Locate(k);
            EXPECT_EQ(key(located), key(stepped))
                << (c.song ? "song" : "loop") << ", " << c.steps << " steps, step " << k;
            for (int i = 0; i < 37; ++i) midway.Seq.SeqStep();
            midway.Locate(k);
            if (c.song) {
                EXPECT_EQ(key(midway), key(stepped)) << "song from its middle, step " << k;
            } else if (stepped.Playing()) { // the loop plays whatever pattern it has now
                EXPECT_EQ(midway.Eng.S.CurStep, stepped.Eng.S.CurStep) << "loop, step " << k;
            }
        }
    }
}
