// Copy and Paste of whole patterns, from the Edit menu and the pattern buttons' menu.

#include <gtest/gtest.h>

#include <cstring>

#include "engine/Tables.h"
#include "support/FormHarness.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {
bool SamePattern(MainForm& f, int a, int b) {
    return std::memcmp(&f.Store.Step(a, 1), &f.Store.Step(b, 1), 16 * sizeof(StepRecord)) == 0;
}
} // namespace

TEST(Clipboard, PasteBeforeAnyCopyWritesEmptySteps) {
    FormHarness h;
    MainForm& f = h.F();
    f.Paste2.Click();
    for (int s = 1; s <= 16; ++s) {
        const StepRecord& r = f.Store.Step(1, s);
        // The Bass page's sliders clamp the shown note to 1 and write its pitch back.
        EXPECT_EQ(r.BassNote, 1);
        EXPECT_EQ(r.BassFreq, Note2Freq(1));
        EXPECT_EQ(r.TwinTNote, 0);
        EXPECT_EQ(r.NoiseNote, 0);
        EXPECT_EQ(r.TwinTFreq, 0.0f);
        EXPECT_EQ(r.BassPlay, 0);
        EXPECT_EQ(r.TwinTPlay, 0);
        EXPECT_EQ(r.NoisePlay, 0);
        EXPECT_EQ(f.MMSlider(s).Value(), 1);
        EXPECT_EQ(f.NoteLabel(s).Caption(), "C1");
        EXPECT_EQ(f.MMSlider(s).ThumbColour(), Colours::Grey);
    }
    EXPECT_EQ(f.MMWheel9.Value(), 60); // the knobs are not reloaded
    f.Button1.Click();
    EXPECT_FALSE(f.Eng.S.Osc1On);
    EXPECT_FALSE(f.Eng.S.Osc2Trig);
    EXPECT_FALSE(f.Eng.S.Osc3Trig);
}

TEST(Clipboard, EditMenuCopiesTheCurrentPatternWhole) {
    FormHarness h;
    MainForm& f = h.F();
    f.LEDButton(2).Click();
    f.MMSlider(6).SetValue(30);
    f.SelectedNote1.Click();
    f.MMLED(6).Click();
    f.MMWheel4.SetValue(70);
    f.SSynth1.Click();
    f.Play1Click();
    f.Copy2.Click();
    f.LEDButton(7).Click();
    const int32_t shown = f.MMWheel4.Value();
    f.Paste2.Click();
    EXPECT_TRUE(SamePattern(f, 2, 7));
    EXPECT_EQ(f.Store.Step(7, 6).BassResonance, 70);
    EXPECT_EQ(f.Store.Step(7, 6).TwinTPlay, 1);
    EXPECT_EQ(f.MMWheel4.Value(), shown);
    EXPECT_EQ(f.MMSlider(6).ThumbColour(), Colours::Lime);
}

TEST(Clipboard, PatternButtonMenuActsOnTheHoveredPattern) {
    FormHarness h;
    MainForm& f = h.F();
    f.LEDButton(4).Click();
    f.MMSlider(1).SetValue(2);
    f.LEDButton(1).Click();
    // Before the mouse has been over any button the menu acts on slot 0.
    f.Copy1.Click();
    f.Paste2.Click();
    EXPECT_TRUE(SamePattern(f, 0, 1));
    EXPECT_EQ(f.Store.Step(1, 1).BassVolume, 0);
    f.LEDButton(4).OnMouseMove();
    f.Copy1.Click();
    f.LEDButton(9).OnMouseMove();
    f.Paste1.Click();
    EXPECT_EQ(f.HoverPattern, 9);
    EXPECT_TRUE(SamePattern(f, 4, 9));
    EXPECT_EQ(f.PlayPattern, 1);
}

TEST(Clipboard, PastingIntoThePlayingPatternSoundsFromTheNextStep) {
    FormHarness h;
    MainForm& f = h.F();
    h.SetPatternNotes(3, 20);
    f.Copy2.Click();
    f.LEDButton(1).Click();
    f.Button1.Click();
    h.RenderSteps(2);
    f.Paste2.Click();
    h.RenderSteps(2);
    EXPECT_EQ(h.Loads, Concat({Pass(1, 13, {1, 2, 3}), Pass(1, 20, {4, 5})}));
}
