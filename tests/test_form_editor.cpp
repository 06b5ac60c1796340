// The sound panels and the pattern editor, driven through the controls: knobs in both edit
// modes, UpdateSynth, note sliders, step and pattern selection, the step context menu,
// transpose and rotate.

#include <gtest/gtest.h>

#include "engine/Tables.h"
#include "support/FormHarness.h"

using namespace zelvox;
using namespace zelvox::test;

TEST(SoundControls, AllNotesSpreadsAKnobOverEveryStepButSlotZero) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMWheel3.SetValue(80);
    f.MMWheel12.SetValue(20);
    f.MMSwitch1.SetValue(1);
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            EXPECT_EQ(f.Store.Step(p, s).BassCutoff, 80);
            EXPECT_EQ(f.Store.Step(p, s).NoiseDecay, 20);
            EXPECT_EQ(f.Store.Step(p, s).BassWaveform, 1);
        }
    for (int s = 1; s <= 16; ++s) {
        EXPECT_EQ(f.Store.Step(0, s).BassCutoff, 32);
        EXPECT_EQ(f.Store.Step(0, s).NoiseDecay, 64);
    }
    // The engine plays what the knob wrote.
    f.Button1.Click();
    EXPECT_EQ(f.Eng.S.Filter1Cutoff, 80);
    EXPECT_EQ(f.Eng.S.Osc1Wave, 1);
}

TEST(SoundControls, SelectedNoteWritesOnlyTheEditStepAndShowsItsValues) {
    FormHarness h;
    MainForm& f = h.F();
    f.SelectedNote1.Click();
    EXPECT_TRUE(f.SelectedNote1.Checked());
    EXPECT_FALSE(f.AllNotes1.Checked());
    f.MMLED(3).Click();
    f.MMWheel3.SetValue(90);
    f.MMWheel11.SetValue(40);
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            const bool edited = p == 1 && s == 3;
            EXPECT_EQ(f.Store.Step(p, s).BassCutoff, edited ? 90 : 32);
            EXPECT_EQ(f.Store.Step(p, s).TwinTVolume, edited ? 40 : 127);
        }
    f.MMSlider(5).FocusIn(); // clicking slider 5: the knobs show step 5
    EXPECT_EQ(f.MMWheel3.Value(), 32);
    EXPECT_EQ(f.MMWheel11.Value(), 127);
    f.MMLED(3).Click();
    EXPECT_EQ(f.MMWheel3.Value(), 90);
    EXPECT_EQ(f.MMWheel11.Value(), 40);
    // Only step 3 sounds with the new cut-off.
    f.Button1.Click();
    h.RenderSteps(2);
    EXPECT_EQ(f.Eng.S.CurStep, 3);
    EXPECT_EQ(f.Eng.S.Filter1Cutoff, 90);
    h.RenderSteps(1);
    EXPECT_EQ(f.Eng.S.Filter1Cutoff, 32);
}

TEST(SoundControls, AllNotesSelectingAStepLeavesTheKnobs) {
    FormHarness h;
    MainForm& f = h.F();
    f.SelectedNote1.Click();
    f.MMLED(6).Click();
    f.MMWheel2.SetValue(99);
    f.MMLED(1).Click();
    f.AllNotes1.Click();
    f.MMLED(6).Click();
    EXPECT_EQ(f.MMWheel2.Value(), 35);
    EXPECT_EQ(f.Store.Step(1, 6).BassDecay, 99);
    EXPECT_EQ(f.Store.Step(1, 1).BassDecay, 35);
}

TEST(SoundControls, UpdateSynthFiresOnlyTheControlsWhoseValueChanges) {
    FormHarness h;
    MainForm& f = h.F();
    // Selected Note mode: give single steps values of their own.
    f.SelectedNote1.Click();
    f.LEDButton(2).Click();
    f.MMWheel3.SetValue(80); // pattern 2 step 1: Cut-off 80
    f.LEDButton(7).Click();
    f.MMLED(9).Click();
    f.MMWheel1.SetValue(50); // pattern 7 step 9: Attack 50
    f.LEDButton(2).Click();
    f.MMLED(5).Click();
    f.MMWheel2.SetValue(99); // pattern 2 step 5: Decay 99; the knobs now show that step
    EXPECT_EQ(f.MMWheel3.Value(), 32);
    EXPECT_EQ(f.MMWheel1.Value(), 3);
    // All Notes mode: choosing pattern 2 (stopped) shows its step 1 on the knobs.
    f.AllNotes1.Click();
    int views = 0;
    for (Knob* k : {&f.MMWheel4, &f.MMWheel5, &f.MMWheel7, &f.MMWheel9, &f.MMWheel8,
                    &f.MMWheel10, &f.MMWheel11, &f.MMWheel12, &f.MMWheel13, &f.MMWheel14,
                    &f.MMWheel15, &f.MMWheel1})
        k->AddViewListener([&] { ++views; });
    f.LEDButton(2).Click();
    EXPECT_EQ(f.MMWheel3.Value(), 80);
    EXPECT_EQ(f.MMWheel2.Value(), 35);
    EXPECT_EQ(views, 0); // no other control moved
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            // Cut-off and Decay changed on the knobs, so their handlers spread them ...
            EXPECT_EQ(f.Store.Step(p, s).BassCutoff, 80);
            EXPECT_EQ(f.Store.Step(p, s).BassDecay, 35);
            // ... while Attack did not change, so its handler did not run.
            EXPECT_EQ(f.Store.Step(p, s).BassAttack, p == 7 && s == 9 ? 50 : 3);
        }
}

TEST(SoundControls, ALengthOfZeroIsShownAs32AndSpread) {
    FormHarness h;
    MainForm& f = h.F();
    f.LEDButton(3).Click();
    f.Paste2.Click(); // before any Copy: pattern 3 becomes all zero
    f.LEDButton(4).Click();
    f.LEDButton(3).Click(); // stopped, All Notes: the knobs take pattern 3's edit step
    EXPECT_EQ(f.MMWheel9.Value(), 32);
    EXPECT_EQ(f.MMWheel1.Value(), 1);
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) {
            EXPECT_EQ(f.Store.Step(p, s).BassLength, 32);
            EXPECT_EQ(f.Store.Step(p, s).BassAttack, 1);
        }
    EXPECT_EQ(f.Store.Step(0, 1).BassLength, 60);
}

TEST(SoundControls, AZeroLengthStaysWhenTheKnobAlreadyShows32) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMWheel9.SetValue(32);
    f.LEDButton(3).Click();
    f.Paste2.Click();
    f.LEDButton(4).Click();
    f.LEDButton(3).Click();
    EXPECT_EQ(f.MMWheel9.Value(), 32);
    EXPECT_EQ(f.Store.Step(3, 16).BassLength, 0); // the knob did not move: nothing written
    EXPECT_EQ(f.Store.Step(4, 16).BassLength, 32);
}

TEST(NoteEditor, ASliderWritesTheNoteAndPitchOfTheVoiceShown) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMSlider(4).SetValue(25);
    EXPECT_EQ(f.EditStep, 4);
    EXPECT_EQ(f.Store.Step(1, 4).BassNote, 25);
    EXPECT_EQ(f.Store.Step(1, 4).BassFreq, Note2Freq(25));
    EXPECT_EQ(f.NoteLabel(4).Caption(), "C3");
    EXPECT_EQ(f.NoteLabel(4).Name, "Label10");
    f.SSynth1.Click();
    EXPECT_EQ(f.MMSlider(4).Value(), 13); // Twin-T note
    f.MMSlider(4).SetValue(21);
    EXPECT_EQ(f.Store.Step(1, 4).TwinTNote, 21);
    EXPECT_EQ(f.Store.Step(1, 4).TwinTFreq, Note2Freq(21));
    EXPECT_EQ(f.NoteLabel(4).Caption(), "G#");
    f.Noisesynth1.Click();
    EXPECT_FALSE(f.NoteLabel(4).Visible());
    f.MMSlider(4).SetValue(99); // clamps to 37
    EXPECT_EQ(f.Store.Step(1, 4).NoiseNote, 37);
    EXPECT_EQ(f.Store.Step(1, 4).BassNote, 25);
    EXPECT_EQ(f.Store.Step(1, 4).TwinTNote, 21);
    // The engine loads the bass pitch the slider wrote.
    f.Synth1.Click();
    f.Button1.Click();
    h.RenderSteps(3);
    EXPECT_EQ(h.Loads[3], (StepLoad{1, 4, 25}));
}

TEST(NoteEditor, SelectingAStepPaintsItsLedMaroon) {
    FormHarness h;
    MainForm& f = h.F();
    f.SpinEdit971.SetValue(10);
    f.MMSlider(7).FocusIn();
    EXPECT_EQ(f.EditStep, 7);
    EXPECT_TRUE(f.MMSlider(7).Focused());
    EXPECT_FALSE(f.MMSlider(1).Focused());
    for (int n = 1; n <= 16; ++n)
        EXPECT_EQ(f.MMLED(n).Color(),
                  n == 7 ? Colours::Maroon : (n <= 10 ? Colours::Lime : Colours::Black));
    f.MMLED(2).Click(); // selects without moving the focus
    EXPECT_EQ(f.EditStep, 2);
    EXPECT_TRUE(f.MMSlider(7).Focused());
    EXPECT_EQ(f.MMLED(7).Color(), Colours::Lime);
    EXPECT_EQ(f.MMLED(2).Color(), Colours::Maroon);
}

TEST(NoteEditor, ChoosingAPatternEndsOnTheHighestStepWhoseNoteChanged) {
    FormHarness h;
    MainForm& f = h.F();
    f.LEDButton(4).Click();
    f.MMSlider(12).SetValue(20);
    f.MMSlider(3).SetValue(22);
    f.LEDButton(1).Click();
    EXPECT_EQ(f.EditStep, 12);
    f.SelectedNote1.Click();
    f.LEDButton(4).Click();
    EXPECT_EQ(f.EditStep, 12);
    EXPECT_TRUE(f.LEDButton(4).LedOn());
    EXPECT_FALSE(f.LEDButton(1).LedOn());
    EXPECT_EQ(f.MMSlider(12).Value(), 20);
    f.MMWheel3.SetValue(100);
    EXPECT_EQ(f.Store.Step(4, 12).BassCutoff, 100);
    EXPECT_EQ(f.Store.Step(4, 1).BassCutoff, 32);
}

TEST(NoteEditor, StepMenuOnTheTwinTPage) {
    FormHarness h;
    MainForm& f = h.F();
    f.SSynth1.Click();
    f.MMSlider(5).FocusIn(); // a right-click focuses the slider first
    f.PopupMenu1Popup();
    EXPECT_FALSE(f.Slide1.Enabled());
    EXPECT_FALSE(f.Slide1.Checked());
    EXPECT_FALSE(f.Play1.Checked());
    f.Play1.Click();
    EXPECT_EQ(f.Store.Step(1, 5).TwinTPlay, 1);
    EXPECT_EQ(f.Store.Step(1, 5).BassPlay, 1);
    EXPECT_EQ(f.MMSlider(5).ThumbColour(), Colours::Lime);
    EXPECT_EQ(f.MMSlider(4).ThumbColour(), Colours::Grey);
    f.PopupMenu1Popup();
    EXPECT_TRUE(f.Play1.Checked());
    f.Slide1Click(); // greyed in the menu; the handler changes nothing on this page
    EXPECT_EQ(f.Store.Step(1, 5).BassSlide, 0);
    f.Play1.Click();
    EXPECT_EQ(f.Store.Step(1, 5).TwinTPlay, 0);
    EXPECT_EQ(f.MMSlider(5).ThumbColour(), Colours::Grey);
}

TEST(NoteEditor, StepMenuOnTheBassPage) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMSlider(2).FocusIn();
    f.PopupMenu1Popup();
    EXPECT_TRUE(f.Slide1.Enabled());
    EXPECT_TRUE(f.Play1.Checked());
    EXPECT_FALSE(f.Slide1.Checked());
    f.Slide1.Click();
    EXPECT_EQ(f.MMSlider(2).ThumbColour(), Colours::Red);
    f.PopupMenu1Popup();
    EXPECT_TRUE(f.Slide1.Checked());
    f.Play1.Click();
    EXPECT_EQ(f.Store.Step(1, 2).BassPlay, 0);
    EXPECT_EQ(f.MMSlider(2).ThumbColour(), Colours::Grey);
    // The engine: step 2 rests, step 1 was not sliding.
    f.Button1.Click();
    EXPECT_TRUE(f.Eng.S.Osc1On);
    h.RenderSteps(1);
    EXPECT_FALSE(f.Eng.S.Osc1On);
    EXPECT_TRUE(f.Eng.S.Osc1Slide);
}

TEST(NoteEditor, TransposeOnTheBassPageStopsAtTheTopNote) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMSlider(3).SetValue(37);
    f.MMLED(8).Click();
    f.MMLabel1.Click();
    for (int s = 1; s <= 16; ++s) {
        const int32_t want = s == 3 ? 37 : 14;
        EXPECT_EQ(f.Store.Step(1, s).BassNote, want) << s;
        EXPECT_EQ(f.Store.Step(1, s).BassFreq, Note2Freq(want)) << s;
        EXPECT_EQ(f.MMSlider(s).Value(), want) << s;
    }
    EXPECT_EQ(f.NoteLabel(3).Caption(), "C4");
    EXPECT_EQ(f.NoteLabel(1).Caption(), "C#2");
    EXPECT_EQ(f.EditStep, 8);
    EXPECT_EQ(f.Store.Step(2, 1).BassNote, 13); // other patterns untouched
    // Selected Note mode moves the edit step only.
    f.SelectedNote1.Click();
    f.MMLED(5).Click();
    f.MMLabel2.Click();
    EXPECT_EQ(f.Store.Step(1, 5).BassNote, 13);
    EXPECT_EQ(f.Store.Step(1, 6).BassNote, 14);
    f.Button1.Click();
    h.RenderSteps(5);
    EXPECT_EQ(h.Loads[2], (StepLoad{1, 3, 37}));
    EXPECT_EQ(h.Loads[4], (StepLoad{1, 5, 13}));
    EXPECT_EQ(h.Loads[5], (StepLoad{1, 6, 14}));
}

TEST(NoteEditor, TransposeOnTheTwinTPageMovesHiddenNotesNotTheSound) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMSlider(3).SetValue(37);
    f.SSynth1.Click();
    f.MMLabel1.Click();
    EXPECT_EQ(f.Store.Step(1, 1).BassNote, 14);
    EXPECT_EQ(f.Store.Step(1, 1).BassFreq, Note2Freq(13));
    EXPECT_EQ(f.Store.Step(1, 3).BassNote, 38); // nothing clamps it on this page
    EXPECT_EQ(f.MMSlider(1).Value(), 13);        // the sliders show Twin-T notes
    EXPECT_EQ(f.Store.Step(1, 1).TwinTNote, 13);
    f.Button1.Click();
    h.RenderSteps(1);
    EXPECT_EQ(h.Loads[0], (StepLoad{1, 1, 13}));
    EXPECT_EQ(h.Loads[1], (StepLoad{1, 2, 13}));
    // Showing the Bass page writes the moved notes back with their pitch.
    f.Synth1.Click();
    EXPECT_EQ(f.Store.Step(1, 3).BassNote, 37);
    h.RenderSteps(2);
    EXPECT_EQ(h.Loads[2], (StepLoad{1, 3, 37}));
    EXPECT_EQ(h.Loads[3], (StepLoad{1, 4, 14}));
}

TEST(NoteEditor, RotateMovesWholeStepsWithinTheStepsCount) {
    FormHarness h;
    MainForm& f = h.F();
    for (int n = 1; n <= 16; ++n) f.MMSlider(n).SetValue(n + 10);
    f.SelectedNote1.Click();
    f.MMLED(1).Click();
    f.MMWheel3.SetValue(99); // step 1 carries its own cut-off
    f.SpinEdit971.SetValue(8);
    f.MMLabel3.Click();
    const int32_t left[16] = {12, 13, 14, 15, 16, 17, 18, 11, 19, 20, 21, 22, 23, 24, 25, 26};
    for (int s = 1; s <= 16; ++s) {
        EXPECT_EQ(f.Store.Step(1, s).BassNote, left[s - 1]) << s;
        EXPECT_EQ(f.MMSlider(s).Value(), left[s - 1]) << s;
        EXPECT_EQ(f.Store.Step(1, s).BassCutoff, s == 8 ? 99 : 32) << s;
    }
    f.MMLabel4.Click();
    for (int s = 1; s <= 16; ++s) EXPECT_EQ(f.Store.Step(1, s).BassNote, s + 10) << s;
    f.MMLabel4.Click();
    EXPECT_EQ(f.Store.Step(1, 1).BassNote, 18);
    EXPECT_EQ(f.Store.Step(1, 2).BassNote, 11);
    EXPECT_EQ(f.Store.Step(1, 9).BassNote, 19);
    f.SpinEdit971.SetValue(1);
    const StepRecord before = f.Store.Step(1, 1);
    f.MMLabel3.Click();
    f.MMLabel4.Click();
    EXPECT_EQ(f.Store.Step(1, 1).BassNote, before.BassNote);
    EXPECT_EQ(f.Store.Step(1, 2).BassNote, 11);
}
