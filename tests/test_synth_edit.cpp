// Edits handed over as what they are: every edit of the window, applied to another synth,
// leaves it with the window's state; the low-latency synth takes edits and whole states in
// the editor's order, a full queue included; edit bytes from another process are untrusted.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "program/ProgramCore.h"
#include "synth/LiveSynth.h"
#include "synth/SynthEdit.h"

using namespace zelvox;

TEST(SynthEdit, EveryWindowEditAppliedAsWhatItIsGivesTheWindowsState) {
    ProgramCore core;
    core.StartUp();
    MainForm& f = core.Form;
    PatternSynth copy;
    PatternFileRecord scratch;
    const std::vector<uint8_t> start = f.Synth.SaveState();
    copy.ApplyState(start.data(), start.size(), scratch);
    int whole = 0, typed = 0;
    f.OnSynthEdit = [&](const SynthEdit& e) {
        if (e.What != SynthEdit::Kind::Whole) {
            ++typed;
            ApplyEdit(copy, e);
            return;
        }
        ++whole;
        const std::vector<uint8_t> now = f.Synth.SaveState();
        copy.ApplyState(now.data(), now.size(), scratch);
    };
    auto same = [&](const char* what) { EXPECT_EQ(copy.SaveState(), f.Synth.SaveState()) << what; };

    f.MMWheel3.SetValue(90); // "All Notes": every step of every pattern
    same("knob, All Notes");
    f.MMSlider(4).SetValue(20);
    same("note slider");
    f.MMSliderEnter(6);
    f.Play1Click();
    f.Slide1Click();
    same("play and slide");
    f.SelectedNote1Click();
    f.MMWheel1.SetValue(50);
    same("knob, Selected Note");
    f.MMLabel1Click();
    f.MMLabel3Click();
    same("transpose and rotate");
    f.Copy2Click();
    f.LEDButtonClick(2);
    f.Paste2Click();
    same("pattern chosen and pasted");
    f.PhrasePatternSpin(3).SetValue(5);
    f.ControlFor(ControlId::Tempo)->SetValue(151);
    core.Envelopes.ControlFor(ControlId::BassAttackContour)->SetValue(31);
    same("phrase, tempo, contour");
    f.MMWheel2.SetValue(99); // pattern 2's step 1 alone
    EXPECT_EQ(whole, 0);
    // Pattern 3's step 1 sound goes to every pattern: more than a pattern.
    f.AllNotes1Click();
    f.LEDButtonClick(3);
    same("pattern chosen, All Notes");
    f.Undo1Click();
    same("undo");
    EXPECT_EQ(whole, 2);
    EXPECT_GE(typed, 13);
}

TEST(SynthEdit, TheLiveSynthTakesEditsAndStatesInTheEditorsOrderAFullQueueIncluded) {
    LiveSynth live;
    PatternSynth editor;
    std::vector<int16_t> out(64);
    auto period = [&] { live.Process(out.data(), 64, nullptr, 0, nullptr); };
    auto turn = [&](ControlId id, int32_t v) {
        editor.SetControl(id, v);
        SynthEdit e;
        e.What = SynthEdit::Kind::Control;
        e.Id = id;
        e.Value = v;
        live.Edit(e, 0);
    };
    live.Publish(editor, 0);
    period();
    // A state between two edits, all in one period, then two states with an edit between.
    turn(ControlId::BassCutoff, 10);
    live.Publish(editor, 0);
    turn(ControlId::BassCutoff, 20);
    period();
    EXPECT_EQ(live.Synth().SaveState(), editor.SaveState()) << "the older state undid the edit";
    live.Publish(editor, 0);
    turn(ControlId::BassCutoff, 30);
    turn(ControlId::BassDecay, 40);
    live.Publish(editor, 0);
    turn(ControlId::BassCutoff, 50);
    period();
    EXPECT_EQ(live.Synth().SaveState(), editor.SaveState());

    // More edits than the queue holds: the editor is behind until it publishes; the state
    // then holds every edit, and edits flow again.
    for (int i = 0; i < 100; ++i) turn(ControlId::BassCutoff, i);
    EXPECT_TRUE(live.Behind());
    live.Publish(editor, 0); // no room for its place yet
    period();
    EXPECT_EQ(live.Synth().SaveState(), editor.SaveState());
    live.Publish(editor, 0);
    EXPECT_FALSE(live.Behind());
    turn(ControlId::BassResonance, 70);
    period();
    EXPECT_EQ(live.Synth().SaveState(), editor.SaveState());
    EXPECT_EQ(live.EditsTaken(), live.EditsHanded());
}

TEST(SynthEdit, BytesFromAnotherProcessAreCheckedAndAnyOfThemAreSafeToApply) {
    SynthEdit e;
    e.What = SynthEdit::Kind::Pattern;
    e.Pattern = 7;
    e.Steps[3].BassNote = 29;
    const std::vector<uint8_t> bytes = EncodeEdit(e);
    ASSERT_EQ(bytes.size(), kEditHeadSize + 16 * sizeof(StepRecord));
    SynthEdit back;
    ASSERT_TRUE(DecodeEdit(bytes.data(), bytes.size(), back));
    EXPECT_EQ(EncodeEdit(back), bytes);
    EXPECT_FALSE(DecodeEdit(bytes.data(), bytes.size() - 1, back)) << "a short pattern";
    std::vector<uint8_t> unknown = bytes;
    unknown[0] = 9;
    EXPECT_FALSE(DecodeEdit(unknown.data(), unknown.size(), back)) << "an unknown kind";

    PatternSynth synth;
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> any = EncodeEdit(e);
        any.resize(kEditHeadSize + (i % 3 == 0 ? 0 : i % 3 == 1 ? 100 : 1600));
        for (auto& b : any) b = uint8_t(random());
        any[0] = uint8_t(i % 6);
        any[1] = uint8_t(i % 2);
        any[20] = uint8_t(i % 25), any[21] = any[22] = any[23] = 0;
        if (DecodeEdit(any.data(), any.size(), back)) ApplyEdit(synth, back);
    }
    for (int s = 1; s <= 16; ++s) EXPECT_EQ(synth.Store.Step(0, s).BassVolume, 0) << "slot 0 written";
    for (int k = 1; k <= kPhraseCount; ++k) {
        EXPECT_LE(synth.Seq.Phrases[size_t(k)].Pattern, kPhrasePatternMax);
        EXPECT_LE(synth.Seq.Phrases[size_t(k)].Count, kPhraseCountMax);
    }
}
