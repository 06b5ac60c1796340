// Undo and redo of the window's edits: every kind of edit, mixed with playing, page and step
// changes, undone to the very bytes the pattern file had at the start and redone to the end;
// what merges into one step; and that undo leaves playback alone.

#include <gtest/gtest.h>

#include <iostream>
#include <random>

#include "engine/Tables.h"
#include "files/PatternFileFormat.h"
#include "program/ProgramCore.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {

struct Playback {
    bool Playing;
    int32_t PlayPattern, QueuedPattern, PhraseIndex, RepeatsLeft, CurStep, EditStep;
    uint8_t SynthMode;
    bool SelectedNoteMode;
    bool operator==(const Playback&) const = default;
};
Playback PlaybackOf(const MainForm& f) {
    return {f.Eng.S.Playing, f.PlayPattern, f.QueuedPattern, f.PhraseIndex,     f.RepeatsLeft,
            f.Eng.S.CurStep, f.EditStep,    f.SynthMode,     f.SelectedNoteMode};
}

size_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? SIZE_MAX : std::min(a.size(), b.size());
}

class Undo : public ::testing::Test {
protected:
    void SetUp() override {
        P.StartUp();
        F.History.Now = [this] { return Clock; };
    }
    void Render(int buffers) {
        std::vector<int16_t> buf(441);
        for (int i = 0; i < buffers; ++i) {
            uint32_t bytes = 0;
            bool more = true;
            F.Eng.RenderBuffer(buf.data(), uint32_t(buf.size() * 2), bytes, more);
        }
    }
    ProgramCore P;
    MainForm& F = P.Form;
    EditHistory::Clock::time_point Clock{};
};

} // namespace

TEST_F(Undo, TenThousandRandomEditsUndoToTheStartBytesAndRedoToTheEnd) {
    TempDir dir;
    std::mt19937 rng(15);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Two files to load: a song of other patterns, and bytes the knobs and sliders cannot all
    // show (they write their limits back, which undo must still take back exactly).
    {
        PatternSynth other;
        for (int p = 1; p <= 16; ++p)
            for (int s = 1; s <= 16; ++s) {
                other.Store.Step(p, s).BassCutoff = (p * s) % 127;
                other.Store.Step(p, s).BassNote = 1 + (p + s) % 37;
                other.Store.Step(p, s).TwinTPlay = uint8_t(s & 1);
            }
        other.SetTempo(97);
        other.SetControl(ControlId::Steps, 12);
        WriteAll(dir / "song.zvx", other.SaveState());
        std::vector<uint8_t> noise(kPatternFileSize);
        for (uint8_t& b : noise)
            b = uint8_t(pick(0, 255));
        WriteAll(dir / "noise.zvx", noise);
    }
    const std::vector<uint8_t> start = F.Synth.SaveState();

    std::vector<ValueControl*> knobs;
    for (const ControlRow& row : kControls)
        knobs.push_back(F.ControlFor(row.Id) ? F.ControlFor(row.Id)
                                             : P.Envelopes.ControlFor(row.Id));
    int edits = 0;
    while (edits < 10000) {
        Clock += std::chrono::milliseconds(pick(0, 1500)); // some knob changes merge, some not
        const int n = pick(1, 16);
        int kind = pick(0, 15); // 0..11 edits, 12..15 not
        if (kind == 11 && pick(0, 19) != 0) kind = 0; // loads are rarer (each step is ~50 KB)
        if (kind <= 11) ++edits;
        switch (kind) {
        case 0:
        case 1:
        case 2: { // a knob, switch, spin edit or contour, as a drag or MIDI sets it
            ValueControl* c = knobs[size_t(pick(0, int(knobs.size()) - 1))];
            c->SetValue(pick(c->Min() - 5, c->Max() + 5));
            break;
        }
        case 3:
        case 4:
            F.MMSlider(n).SetValue(pick(1, kNoteCount));
            break;
        case 5:
            F.MMLED(n).Click();
            pick(0, 1) ? F.Play1Click() : F.Slide1Click();
            break;
        case 6:
            pick(0, 1) ? F.MMLabel1Click() : F.MMLabel2Click();
            break;
        case 7:
            pick(0, 1) ? F.MMLabel3Click() : F.MMLabel4Click();
            break;
        case 8: // copy the hovered pattern, paste onto the hovered or the shown one
            F.SpeedButtonMouseMove(n);
            pick(0, 1) ? F.Copy1Click() : (pick(0, 1) ? F.Paste1Click() : F.Paste2Click());
            break;
        case 9:
            pick(0, 1) ? F.PhrasePatternSpin(n).SetValue(pick(0, 16))
                       : F.PhraseCountSpin(n).SetValue(pick(0, 100));
            break;
        case 10:
            pick(0, 1) ? F.SpinEdit971.SetValue(pick(1, 16))
                       : F.SpinEdit972.SetValue(pick(20, 240));
            break;
        case 11:
            P.LoadPattern(dir / (pick(0, 1) ? "song.zvx" : "noise.zvx"));
            break;
        // Not edits, though some change data as the window always did (a pattern button in
        // "All Notes" mode writes its step 1 into every step): recorded when they do.
        case 12:
            F.LEDButton(n).Click();
            break;
        case 13:
            pick(0, 1) ? F.AllNotes1Click() : F.SelectedNote1Click();
            break;
        case 14:
            F.ShowPage(uint8_t(pick(0, 3)));
            break;
        default:
            if (F.Eng.S.Playing)
                F.Button2Click();
            else
                F.Button1Click();
            Render(pick(0, 40));
            break;
        }
    }
    if (!F.Eng.S.Playing) F.Button1Click();
    Render(7);
    const std::vector<uint8_t> end = F.Synth.SaveState();
    const size_t steps = F.History.UndoCount();
    EXPECT_GT(steps, 1000u);
    std::cout << "undo steps " << steps << ", history " << F.History.MemoryBytes() << " bytes\n";

    // Undo everything while playing: playback stays as it is at every step, except that
    // fewer Steps send a position past the end back to step 1 as Steps always does.
    size_t undone = 0;
    while (F.Undo1.Enabled()) {
        const Playback before = PlaybackOf(F);
        const int32_t stepsBefore = F.Steps();
        F.Undo1.Click();
        Playback after = PlaybackOf(F);
        if (F.Steps() != stepsBefore) after.CurStep = before.CurStep;
        ASSERT_EQ(before, after) << "undo " << undone;
        ++undone;
        if (undone % 500 == 0) Render(1);
    }
    EXPECT_EQ(undone, steps);
    const std::vector<uint8_t> undoneAll = F.Synth.SaveState();
    EXPECT_TRUE(undoneAll == start)
        << "first difference at byte " << FirstDifference(undoneAll, start);
    EXPECT_EQ(F.Undo1.Caption(), "&Undo");
    EXPECT_FALSE(F.Undo1.Enabled());

    size_t redone = 0;
    while (F.Redo1.Enabled()) {
        F.Redo1.Click();
        ++redone;
    }
    EXPECT_EQ(redone, steps);
    const std::vector<uint8_t> redoneAll = F.Synth.SaveState();
    EXPECT_TRUE(redoneAll == end) << "first difference at byte " << FirstDifference(redoneAll, end);
    // What the window shows is the state: the controls carry the values that are saved.
    EXPECT_EQ(CollectPatternFile(F, P.Envelopes).Tempo, F.Synth.Control(ControlId::Tempo));
    EXPECT_TRUE(EncodePatternFile(CollectPatternFile(F, P.Envelopes)) == redoneAll);
}

TEST_F(Undo, OneDragIsOneStepNamedAfterItsControlAndAnotherEditEndsIt) {
    EXPECT_FALSE(F.Undo1.Enabled());
    const int32_t cutoff = F.MMWheel3.Value();
    const int32_t elsewhere = F.Store.Step(7, 9).BassCutoff;
    for (int v = 1; v <= 40; ++v) { // a drag: changes 20 ms apart
        Clock += std::chrono::milliseconds(20);
        F.MMWheel3.SetValue(cutoff + v);
    }
    EXPECT_EQ(F.Undo1.Caption(), "&Undo Cut-off");
    EXPECT_EQ(F.History.UndoCount(), 1u);
    F.MMLabel1Click();
    F.MMWheel3.SetValue(cutoff + 50); // after another edit: a step of its own
    Clock += std::chrono::seconds(2);
    F.MMWheel3.SetValue(cutoff + 60); // after a pause: another
    EXPECT_EQ(F.History.UndoCount(), 4u);

    F.Undo1.Click();
    F.Undo1.Click();
    EXPECT_EQ(F.MMWheel3.Value(), cutoff + 40);
    EXPECT_EQ(F.Undo1.Caption(), "&Undo Transpose up");
    EXPECT_EQ(F.Redo1.Caption(), "&Redo Cut-off");
    F.Undo1.Click();
    F.Undo1.Click();
    EXPECT_EQ(F.MMWheel3.Value(), cutoff);
    EXPECT_EQ(F.Store.Step(7, 9).BassCutoff, elsewhere); // "All Notes": every step went back
    // A new edit clears what could be redone.
    F.SpinEdit972.SetValue(100);
    EXPECT_EQ(F.Undo1.Caption(), "&Undo Tempo");
    EXPECT_FALSE(F.Redo1.Enabled());
    EXPECT_EQ(F.Redo1.Caption(), "&Redo");
}

TEST_F(Undo, UndoOfALoadKeepsThePatternThatPlaysAndItsPosition) {
    TempDir dir;
    PatternSynth other;
    other.Store.Step(3, 2).BassNote = 30;
    other.Store.Step(3, 2).BassFreq = Note2Freq(30); // as the note slider writes it
    WriteAll(dir / "a.zvx", other.SaveState());
    F.SelectedNote1Click(); // pattern buttons then write nothing
    const std::vector<uint8_t> start = F.Synth.SaveState();
    P.LoadPattern(dir / "a.zvx");
    EXPECT_EQ(F.Undo1.Caption(), "&Undo Load pattern");
    F.LEDButton(3).Click();
    F.Button1Click();
    Render(30);
    const Playback playing = PlaybackOf(F);
    ASSERT_EQ(playing.PlayPattern, 3);
    ASSERT_NE(playing.CurStep, 1);
    EXPECT_EQ(F.Undo1.Caption(), "&Undo Load pattern");
    EXPECT_EQ(F.History.UndoCount(), 1u);
    F.Undo1.Click();
    EXPECT_EQ(PlaybackOf(F), playing);
    EXPECT_TRUE(F.Synth.SaveState() == start);
    EXPECT_EQ(F.MMSlider(2).Value(), F.Store.Step(3, 2).BassNote); // the sliders follow
    EXPECT_NE(F.MMSlider(2).Value(), 30);
}
