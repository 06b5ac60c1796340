// The four pages of the Synth-mode menu: what each shows, the captions, and the transport.

#include <gtest/gtest.h>

#include "support/FormHarness.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {
struct Page {
    MenuItem MainForm::*Item;
    bool Bass, TwinT, Noise, Editor, Arranger, Labels;
    const char* Start;
    uint8_t Mode;
    bool ArrangerMode;
    const char* Caption;
};
const Page kPages[] = {
    {&MainForm::Synth1, true, false, false, true, false, true, "Loop", 0, false, "Zelvox Bass-Synth"},
    {&MainForm::SSynth1, false, true, false, true, false, true, "Loop", 1, false, "Zelvox Twin-T Synth"},
    {&MainForm::Noisesynth1, false, false, true, true, false, false, "Loop", 2, false, "Zelvox Noise Synth"},
    {&MainForm::Arranger1, true, false, false, false, true, true, "Play", 3, true, "Zelvox Arranger"},
};
} // namespace

TEST(Pages, EachSwitchShowsItsPanelAndArea) {
    FormHarness h;
    MainForm& f = h.F();
    EXPECT_TRUE(f.BassPanel.Visible());
    EXPECT_TRUE(f.EditorPanel.Visible());
    EXPECT_FALSE(f.TwinTPanel.Visible() || f.NoisePanel.Visible() || f.ArrangerPanel.Visible());
    // Every page from every other page.
    for (const Page& from : kPages)
        for (const Page& to : kPages) {
            (f.*from.Item).Click();
            (f.*to.Item).Click();
            SCOPED_TRACE(to.Caption);
            EXPECT_EQ(f.BassPanel.Visible(), to.Bass);
            EXPECT_EQ(f.TwinTPanel.Visible(), to.TwinT);
            EXPECT_EQ(f.NoisePanel.Visible(), to.Noise);
            EXPECT_EQ(f.EditorPanel.Visible(), to.Editor);
            EXPECT_EQ(f.ArrangerPanel.Visible(), to.Arranger);
            if (to.Mode != 3) {
                EXPECT_EQ(f.NoteLabel(5).Visible(), to.Labels);
            }
            EXPECT_EQ(f.Button1.Caption(), to.Start);
            EXPECT_EQ(f.SynthMode, to.Mode);
            EXPECT_EQ(f.Eng.S.ArrangerMode, to.ArrangerMode);
            EXPECT_EQ(f.Form1.Caption(), to.Caption);
        }
}

TEST(Pages, SynthPagesKeepPlayingAndTheArrangerStops) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button1.Click();
    h.RenderSteps(2);
    f.SSynth1.Click();
    f.Noisesynth1.Click();
    f.Synth1.Click();
    EXPECT_EQ(h.Device.Stops, 0);
    EXPECT_TRUE(f.Eng.S.Playing);
    h.RenderSteps(2);
    EXPECT_EQ(h.Loads.back().Step, 5);
    f.Arranger1.Click();
    EXPECT_EQ(h.Device.Stops, 1);
    EXPECT_FALSE(f.Eng.S.Playing);
    EXPECT_FALSE(h.Device.Running);
}

TEST(Pages, EachSynthPageShowsItsVoicesNotesAndFlags) {
    FormHarness h;
    MainForm& f = h.F();
    f.MMSlider(2).SetValue(20);
    f.Noisesynth1.Click();
    f.MMSlider(2).SetValue(30);
    f.MMSlider(2).FocusIn();
    f.Play1Click();
    f.SSynth1.Click();
    EXPECT_EQ(f.MMSlider(2).Value(), 13);
    EXPECT_EQ(f.MMSlider(2).ThumbColour(), Colours::Grey);
    f.Noisesynth1.Click();
    EXPECT_EQ(f.MMSlider(2).Value(), 30);
    EXPECT_EQ(f.MMSlider(2).ThumbColour(), Colours::Lime);
    f.Synth1.Click();
    EXPECT_EQ(f.MMSlider(2).Value(), 20);
    EXPECT_TRUE(f.NoteLabel(2).Visible());
    EXPECT_EQ(f.NoteLabel(2).Caption(), "G2");
}

TEST(Pages, ControlsAreFoundByTheirNames) {
    FormHarness h;
    MainForm& f = h.F();
    EXPECT_EQ(f.FindControl("MMWheel6"), &f.MMWheel6);
    EXPECT_EQ(f.FindControl("Label22"), &f.NoteLabel(16));
    EXPECT_EQ(f.FindControl("spin1p"), &f.PhrasePatternSpin(1));
    EXPECT_EQ(f.FindControl("Spin16c"), &f.PhraseCountSpin(16));
    EXPECT_EQ(f.FindControl("Label33"), &f.PhraseLabel(1));
    EXPECT_EQ(f.FindControl("Label49"), &f.PhraseLabel(9));
    EXPECT_EQ(f.FindControl("Label42"), &f.PhraseLabel(14));
    EXPECT_EQ(f.FindControl("Label43"), &f.PhraseLabel(16));
    EXPECT_EQ(f.FindControl("nonsense"), nullptr);
    EXPECT_EQ(f.PhraseLabel(12).Caption(), "12");
    EXPECT_EQ(f.MMWheel14.Caption(), "Colour");
    EXPECT_EQ(f.MMWheel14.Max(), 120);
    EXPECT_EQ(f.MMWheel9.Min(), 32);
    EXPECT_EQ(f.MMWheel4.Max(), 105);
    EXPECT_EQ(f.MMSwitch1.TopCaption, "Saw");
    EXPECT_EQ(f.MMSlider17.BottomCaption, "Off");
    // Each name once.
    for (Control* c : f.AllControls()) EXPECT_EQ(f.FindControl(c->Name), c) << c->Name;
}
