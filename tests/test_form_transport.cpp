// The transport as the user drives it: start-up state, Loop, Stop, Steps and Tempo, the
// queued pattern switch, the step LEDs, and the Delay/Depth knobs.

#include <gtest/gtest.h>

#include "engine/Tables.h"
#include "support/FormHarness.h"

using namespace zelvox;
using namespace zelvox::test;


TEST(FormStartUp, WindowComesUpOnPatternOneStepOneStopped) {
    FormHarness h;
    MainForm& f = h.F();
    EXPECT_EQ(f.Form1.Caption(), "Zelvox");
    EXPECT_EQ(f.PlayPattern, 1);
    EXPECT_EQ(f.QueuedPattern, 1);
    EXPECT_EQ(f.EditStep, 1);
    EXPECT_TRUE(f.MMSlider(1).Focused());
    EXPECT_EQ(f.Button1.Caption(), "Loop");
    EXPECT_FALSE(f.Eng.S.Playing);
    EXPECT_EQ(h.Device.Starts, 0);
    EXPECT_EQ(f.Eng.S.StepLength, 4725);
    EXPECT_EQ(f.Eng.S.PrevStep, 16);
    for (int n = 1; n <= 16; ++n) {
        EXPECT_EQ(f.MMSlider(n).Value(), 13) << n;
        EXPECT_EQ(f.NoteLabel(n).Caption(), "C2") << n;
        EXPECT_EQ(f.MMSlider(n).ThumbColour(), Colours::Lime) << n;
        EXPECT_TRUE(f.MMSlider(n).Enabled()) << n;
        // The final Steps/Tempo pass repaints every LED of a played step lime.
        EXPECT_EQ(f.MMLED(n).Color(), Colours::Lime) << n;
        EXPECT_EQ(f.LEDButton(n).LedOn(), n == 1) << n;
    }
    // The knobs show step 1 of pattern 1, not the layout's start values.
    EXPECT_EQ(f.MMWheel5.Value(), 0);
    EXPECT_EQ(f.MMWheel9.Value(), 60);
    EXPECT_EQ(f.MMWheel13.Value(), 0);
    EXPECT_EQ(f.MMWheel14.Value(), 0);
    EXPECT_EQ(f.MMWheel7.Value(), 127);
    EXPECT_EQ(f.MMWheel3.Value(), 32);
    EXPECT_EQ(f.MMWheel6.Value(), 26125);
    // Slot 0 is silent, the user's patterns are not.
    for (int s = 1; s <= 16; ++s) {
        EXPECT_EQ(f.Store.Step(0, s).BassVolume, 0);
        EXPECT_EQ(f.Store.Step(7, s).BassVolume, 127);
        EXPECT_EQ(f.Store.Step(7, s).BassLength, 60);
        EXPECT_EQ(f.Store.Step(7, s).NoiseColour, 0);
    }
    // The echo: all taps at 0 ms, input gain 100 %, switched in; no tap gain yet.
    for (int e = 0; e < 8; ++e) EXPECT_EQ(h.Reverb.Echos()[e].Delay(), 0);
    EXPECT_EQ(h.Reverb.Echos()[0].Gain(), 0);
    EXPECT_EQ(h.Reverb.InputGain(), 100);
    EXPECT_TRUE(h.Reverb.Enabled());
}

TEST(FormTransport, LoopPlaysTheStepsInOrderAndTheLedsFollow) {
    FormHarness h;
    MainForm& f = h.F();
    // The LED picture the moment each step has been loaded.
    std::vector<std::array<Colour, 17>> leds;
    auto log = f.OnStepLoaded;
    f.OnStepLoaded = [&] {
        log();
        std::array<Colour, 17> l{};
        for (int n = 1; n <= 16; ++n) l[n] = f.MMLED(n).Color();
        leds.push_back(l);
    };
    f.MMLED(9).Click(); // step 9 becomes the edit step: maroon
    f.Button1.Click();
    EXPECT_EQ(h.Device.Starts, 1);
    EXPECT_TRUE(f.Eng.S.Playing);
    h.RenderSteps(17);
    ASSERT_EQ(h.Loads.size(), 18u);
    EXPECT_EQ(h.Loads, Pass(1, 13, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2}));
    for (size_t i = 1; i < leds.size(); ++i) {
        const int cur = h.Loads[i].Step;
        const int prev = h.Loads[i - 1].Step;
        if (cur != 9) {
            EXPECT_EQ(leds[i][cur], Colours::Red) << i;
        }
        if (prev != 9) {
            EXPECT_EQ(leds[i][prev], Colours::Lime) << i;
        }
        // The edit step's maroon survives every pass of the sequencer.
        EXPECT_EQ(leds[i][9], Colours::Maroon) << i;
    }
}

TEST(FormTransport, PatternChosenWhilePlayingTakesOverWithTheLastStepOfThePass) {
    FormHarness h;
    MainForm& f = h.F();
    h.SetPatternNotes(5, 5);
    h.SetPatternNotes(2, 2);
    f.Button1.Click();
    h.RenderSteps(4); // steps 1..5 of pattern 2 loaded
    f.LEDButton(5).Click();
    // The button lights at once; the editor and the engine stay on pattern 2.
    EXPECT_TRUE(f.LEDButton(5).LedOn());
    EXPECT_FALSE(f.LEDButton(2).LedOn());
    EXPECT_EQ(f.PlayPattern, 2);
    EXPECT_EQ(f.QueuedPattern, 5);
    h.RenderSteps(10); // up to step 15
    EXPECT_EQ(f.PlayPattern, 2);
    EXPECT_EQ(f.MMSlider(1).Value(), 2);
    h.RenderSteps(3);
    EXPECT_EQ(h.Loads, Concat({Pass(2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}),
                               Pass(5, 5, {16, 1, 2})}));
    // The editor followed when step 16 began.
    EXPECT_EQ(f.PlayPattern, 5);
    for (int n = 1; n <= 16; ++n) EXPECT_EQ(f.MMSlider(n).Value(), 5);
}

TEST(FormTransport, ChoosingThePlayingPatternAgainCancelsTheSwitch) {
    FormHarness h;
    MainForm& f = h.F();
    h.SetPatternNotes(5, 5);
    h.SetPatternNotes(2, 2);
    f.Button1.Click();
    h.RenderSteps(3);
    f.LEDButton(5).Click();
    f.LEDButton(2).Click();
    h.RenderSteps(16);
    for (const StepLoad& l : h.Loads) EXPECT_EQ(l, (StepLoad{2, l.Step, 2}));
    EXPECT_EQ(h.Loads.back().Step, 4);
}

TEST(FormTransport, ReducingStepsWhilePlayingContinuesAtStepTwo) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button1.Click();
    h.RenderSteps(11); // step 12 sounds
    ASSERT_EQ(f.Eng.S.CurStep, 12);
    f.LEDButton(3).Click(); // queued: must switch at the new pattern end (step 8)
    f.SpinEdit971.SetValue(8);
    for (int n = 1; n <= 16; ++n) {
        EXPECT_EQ(f.MMLED(n).Color(), n <= 8 ? Colours::Lime : Colours::Black) << n;
        EXPECT_EQ(f.MMSlider(n).Enabled(), n <= 8) << n;
    }
    const size_t before = h.Loads.size();
    h.RenderSteps(9);
    std::vector<StepLoad> after(h.Loads.begin() + static_cast<long>(before), h.Loads.end());
    EXPECT_EQ(after, Concat({Pass(1, 13, {2, 3, 4, 5, 6, 7}), Pass(3, 13, {8, 1, 2})}));
}

TEST(FormTransport, OneStepPatternEndsOnEveryStepAfterTheFirst) {
    FormHarness h;
    MainForm& f = h.F();
    h.SetPatternNotes(4, 4);
    h.SetPatternNotes(1, 1);
    f.SpinEdit971.SetValue(1);
    for (int n = 1; n <= 16; ++n) EXPECT_EQ(f.MMSlider(n).Enabled(), n == 1) << n;
    f.Button1.Click();
    h.RenderSteps(3);
    EXPECT_EQ(h.Loads, Pass(1, 1, {1, 2, 1, 1}));
    // Every step is a pattern end, so a chosen pattern is taken at the very next step.
    f.LEDButton(4).Click();
    h.RenderSteps(2);
    EXPECT_EQ(h.Loads.back(), (StepLoad{4, 1, 4}));
    EXPECT_EQ(h.Loads[h.Loads.size() - 2], (StepLoad{4, 1, 4}));
}

TEST(FormTransport, TempoSetsTheStepLength) {
    FormHarness h;
    MainForm& f = h.F();
    const std::pair<int32_t, int32_t> cases[] = {{120, 5512}, {80, 8269}, {200, 3308},
                                                 {20, 33075}, {240, 2756}, {140, 4725}};
    for (auto [tempo, length] : cases) {
        f.SpinEdit972.SetValue(tempo);
        EXPECT_EQ(f.Eng.S.StepLength, length) << tempo;
    }
    f.SpinEdit972.SetValue(500); // the spin edit keeps to 20..240
    EXPECT_EQ(f.Eng.S.StepLength, 2756);
}

TEST(FormTransport, TempoChangeOnTheLastStepSkipsThatPatternEnd) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button1.Click();
    h.RenderSteps(15); // step 16 sounds
    f.LEDButton(6).Click();
    f.SpinEdit972.SetValue(150);
    h.RenderSteps(2);
    EXPECT_EQ(h.Loads[16], (StepLoad{1, 2, 13}));
    EXPECT_EQ(h.Loads[17], (StepLoad{1, 3, 13}));
}

TEST(FormTransport, StopHaltsTheDeviceAndKeepsThePosition) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button1.Click();
    h.RenderSteps(5);
    f.Button2.Click();
    EXPECT_EQ(h.Device.Stops, 1);
    EXPECT_FALSE(f.Eng.S.Playing);
    EXPECT_EQ(f.Eng.S.CurStep, 6);
    EXPECT_EQ(f.MMLED(6).Color(), Colours::Red); // stays until the next repaint
    h.RenderSteps(3);
    EXPECT_EQ(h.Loads.size(), 6u);
    // A pattern chosen while stopped switches at once.
    f.LEDButton(3).Click();
    EXPECT_EQ(f.PlayPattern, 3);
    // Start again begins at step 1, as does Start while playing.
    f.Button1.Click();
    h.RenderSteps(2);
    f.Button1.Click();
    EXPECT_EQ(h.Device.Starts, 3);
    EXPECT_EQ(std::vector<StepLoad>(h.Loads.begin() + 6, h.Loads.end()),
              Pass(3, 13, {1, 2, 3, 1}));
}

TEST(FormTransport, StopWhileRecordingEndsTheFileAndRestoresTheCaption) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button2.Click();
    EXPECT_EQ(h.Sink.Ends, 0);
    f.RecordingArmed = true;
    f.Button1.SetCaption("Record");
    f.Button1.Click();
    f.Button2.Click();
    EXPECT_EQ(h.Sink.Ends, 1);
    EXPECT_EQ(f.Button1.Caption(), "Loop");
    f.Arranger1.Click(); // entering the Arranger page runs Stop too
    EXPECT_EQ(h.Sink.Ends, 2);
    f.Button1.SetCaption("Record");
    f.Button2.Click();
    EXPECT_EQ(f.Button1.Caption(), "Play");
}

TEST(FormTransport, DelayFollowsTheTempoAndDepthSetsTheEchoLevel) {
    FormHarness h;
    MainForm& f = h.F();
    const TMMEcho& echo = h.Reverb.Echos()[0];
    f.MMWheel16.SetValue(4);
    EXPECT_EQ(echo.Delay(), 429);
    EXPECT_EQ(echo.Gain(), 50);
    f.SpinEdit972.SetValue(20);
    EXPECT_EQ(echo.Delay(), 429); // the tempo does not retune the echo
    f.MMWheel16.SetValue(2);
    EXPECT_EQ(echo.Delay(), 1500);
    f.MMWheel6.SetValue(0);
    f.MMWheel16.SetValue(1);
    EXPECT_EQ(echo.Delay(), 1500); // master volume 0: only the gain is set
    EXPECT_EQ(h.Reverb.OutputGain(), 100); // until Depth is first moved
    f.MMWheel17.SetValue(70);
    EXPECT_EQ(h.Reverb.OutputGain(), 70);
}

TEST(FormTransport, MasterVolumeIsReadLiveByTheRenderLoop) {
    FormHarness h;
    MainForm& f = h.F();
    f.Button1.Click();
    h.RenderBuffers(1); // the first 10 ms of step 1, well inside its gate
    bool sound = false;
    for (int16_t s : h.LastBuffer) sound |= s != 0;
    EXPECT_TRUE(sound);
    f.MMWheel6.SetValue(0);
    h.RenderBuffers(1);
    for (int16_t s : h.LastBuffer) ASSERT_EQ(s, 0);
}
