// The arranger played through the window: phrases set on the spin edits, "Play" on the
// Arranger page, the song counted step by step as the engine loads it.

#include <gtest/gtest.h>

#include "support/FormHarness.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {

struct Song : FormHarness {
    // Patterns 2, 5 and 7 get notes 2, 5 and 7 so that the engine tells them apart.
    Song() {
        SetPatternNotes(7, 7);
        SetPatternNotes(5, 5);
        SetPatternNotes(2, 2);
        F().Arranger1.Click();
    }
    void SetPhrase(int k, int32_t pattern, int32_t count) {
        F().PhrasePatternSpin(k).SetValue(pattern);
        F().PhraseCountSpin(k).SetValue(count);
    }
    std::vector<StepLoad> From(size_t i) const {
        return {Loads.begin() + static_cast<long>(i), Loads.end()};
    }
};

const std::initializer_list<int32_t> k1to15 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::initializer_list<int32_t> k1to16 = {1, 2,  3,  4,  5,  6,  7, 8,
                                               9, 10, 11, 12, 13, 14, 15, 16};

} // namespace

TEST(Arranger, TwoPassesThenOneThenTheEnd) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 2);
    h.SetPhrase(2, 5, 1);
    std::vector<std::array<Colour, 3>> labels; // phrase labels 1 and 2 at each load
    auto log = f.OnStepLoaded;
    f.OnStepLoaded = [&] {
        log();
        labels.push_back({0, f.PhraseLabel(1).FontColour(), f.PhraseLabel(2).FontColour()});
    };
    EXPECT_EQ(f.Button1.Caption(), "Play");
    f.Button1.Click();
    EXPECT_EQ(h.Device.Starts, 1);
    h.RenderSteps(100);
    // The transport stopped as the step after pattern 5's step 15 began: that step comes from
    // slot 0 (default notes, bass volume 0) and the device is told to stop.
    EXPECT_EQ(h.Loads, Concat({Pass(2, 2, k1to16), Pass(2, 2, k1to15), Pass(5, 5, {16}),
                               Pass(5, 5, k1to15), Pass(0, 13, {16})}));
    EXPECT_FALSE(h.Device.Running);
    EXPECT_FALSE(f.Eng.S.Playing);
    EXPECT_EQ(f.PlayPattern, 0);
    // Label 1 aqua from the start, label 2 from pattern 5's step 16; both white after Stop.
    EXPECT_EQ(labels[0][1], Colours::Aqua);
    EXPECT_EQ(labels[30][2], Colours::White);
    EXPECT_EQ(labels[31][2], Colours::Aqua);
    EXPECT_EQ(labels[31][1], Colours::Aqua);
    EXPECT_EQ(f.PhraseLabel(1).FontColour(), Colours::White);
    EXPECT_EQ(f.PhraseLabel(2).FontColour(), Colours::White);
    // Nothing more is rendered: the render loop leaves buffers alone with pattern 0.
    h.Device.Running = true;
    h.LastBuffer.assign(441, 1234);
    h.PumpBuffer();
    EXPECT_EQ(h.LastBuffer[0], 1234);
    EXPECT_EQ(h.LastBuffer[440], 1234);
}

TEST(Arranger, CountZeroOnALaterPhraseRepeatsItUntilStop) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 1);
    h.SetPhrase(2, 5, 0);
    h.SetPhrase(3, 7, 1);
    f.Button1.Click();
    h.RenderSteps(16 * 5);
    std::vector<StepLoad> expected = Concat({Pass(2, 2, k1to15), Pass(5, 5, {16})});
    while (expected.size() < h.Loads.size())
        for (int32_t s : k1to16) expected.push_back({5, s, 5});
    expected.resize(h.Loads.size());
    EXPECT_EQ(h.Loads, expected);
    EXPECT_TRUE(h.Device.Running);
    EXPECT_EQ(f.PhraseLabel(3).FontColour(), Colours::White);
    f.Button2.Click();
    EXPECT_EQ(f.PhraseLabel(1).FontColour(), Colours::White);
    EXPECT_EQ(f.PhraseLabel(2).FontColour(), Colours::White);
}

TEST(Arranger, CountThreeOnPhraseOnePlays47StepsThenPhraseTwoFromItsLastStep) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 7, 3);
    h.SetPhrase(2, 2, 1);
    f.Button1.Click();
    h.RenderSteps(50);
    ASSERT_GE(h.Loads.size(), 49u);
    for (size_t i = 0; i < 47; ++i)
        EXPECT_EQ(h.Loads[i], (StepLoad{7, static_cast<int32_t>(i % 16) + 1, 7})) << i;
    EXPECT_EQ(h.Loads[47], (StepLoad{2, 16, 2}));
    EXPECT_EQ(h.Loads[48], (StepLoad{2, 1, 2}));
}

TEST(Arranger, ASongThroughAllSixteenPhrasesEndsAfterTheLast) {
    Song h;
    MainForm& f = h.F();
    const int32_t patterns[3] = {2, 5, 7};
    for (int k = 1; k <= 16; ++k) h.SetPhrase(k, patterns[(k - 1) % 3], 1);
    f.SpinEdit971.SetValue(4);
    bool allAqua = false;
    auto log = f.OnStepLoaded;
    f.OnStepLoaded = [&] {
        log();
        bool all = true;
        for (int k = 1; k <= 16; ++k) all &= f.PhraseLabel(k).FontColour() == Colours::Aqua;
        allAqua |= all;
    };
    f.Button1.Click();
    h.RenderSteps(200);
    std::vector<StepLoad> expected = Pass(2, 2, {1, 2, 3});
    for (int k = 2; k <= 16; ++k) {
        const int32_t p = patterns[(k - 1) % 3];
        const auto pass = Pass(p, p, {4, 1, 2, 3});
        expected.insert(expected.end(), pass.begin(), pass.end());
    }
    expected.push_back({0, 4, 13});
    EXPECT_EQ(h.Loads, expected);
    EXPECT_TRUE(allAqua);
    EXPECT_FALSE(h.Device.Running);
    EXPECT_EQ(f.PlayPattern, 0);
    EXPECT_LE(f.PhraseIndex, 16);
}

TEST(Arranger, NothingToPlayOnPhraseOneLeavesTheTransportStopped) {
    for (auto [pattern, count] : {std::pair{0, 3}, std::pair{5, 0}}) {
        Song h;
        MainForm& f = h.F();
        h.SetPhrase(1, pattern, count);
        h.SetPhrase(2, 7, 1);
        const int stops = h.Device.Stops;
        f.Button1.Click();
        EXPECT_EQ(h.Device.Starts, 0);
        EXPECT_EQ(h.Device.Stops, stops + 1);
        EXPECT_FALSE(f.Eng.S.Playing);
        EXPECT_TRUE(h.Loads.empty());
        EXPECT_EQ(f.PhraseLabel(1).FontColour(), Colours::White);
    }
}

TEST(Arranger, StopAndPlayAgainStartsFromPhraseOne) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 1);
    h.SetPhrase(2, 5, 2);
    f.Button1.Click();
    h.RenderSteps(20);
    EXPECT_EQ(f.PhraseIndex, 2);
    f.Button2.Click();
    for (int k = 1; k <= 16; ++k) EXPECT_EQ(f.PhraseLabel(k).FontColour(), Colours::White);
    const size_t before = h.Loads.size();
    f.Button1.Click();
    h.RenderSteps(1);
    EXPECT_EQ(h.From(before), Pass(2, 2, {1, 2}));
    EXPECT_EQ(f.PhraseIndex, 1);
}

TEST(Arranger, EditingAPhraseWhilePlayingCountsWhenTheSongGetsThere) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 2);
    h.SetPhrase(2, 5, 1);
    f.Button1.Click();
    h.RenderSteps(3);
    h.SetPhrase(1, 2, 1); // the running count is not reloaded
    h.SetPhrase(2, 7, 1);
    h.RenderSteps(29);
    EXPECT_EQ(h.Loads[15], (StepLoad{2, 16, 2}));
    EXPECT_EQ(h.Loads[31], (StepLoad{7, 16, 7}));
}

TEST(Arranger, PhraseValuesFromAFileAreLimitedBeforeUse) {
    Song h;
    MainForm& f = h.F();
    f.PhrasePatternSpin(3).SetValue(16); // already showing the limit a bad value clamps to
    // As a pattern file loader leaves them: raw values, then UpdateArranger.
    f.PhraseTable[1] = {2, 1};
    f.PhraseTable[2] = {99, 1000};
    f.PhraseTable[3] = {-5, -1};
    f.PhraseTable[4] = {INT32_MIN, INT32_MAX};
    f.UpdateArranger();
    EXPECT_EQ(f.PhraseTable[2].Pattern, 16);
    EXPECT_EQ(f.PhraseTable[2].Count, 100);
    EXPECT_EQ(f.PhraseTable[3].Pattern, 0);
    EXPECT_EQ(f.PhraseTable[3].Count, 0);
    EXPECT_EQ(f.PhraseTable[4].Pattern, 0);
    EXPECT_EQ(f.PhraseTable[4].Count, 100);
    EXPECT_EQ(f.PhrasePatternSpin(2).Value(), 16);
    EXPECT_EQ(f.PhraseCountSpin(2).Value(), 100);
    EXPECT_EQ(f.PhrasePatternSpin(3).Value(), 0);
    f.PhraseTable[2] = {99, 1}; // even unshown, the song never plays past slot 16
    f.Button1.Click();
    h.RenderSteps(17);
    EXPECT_EQ(h.Loads[15], (StepLoad{16, 16, 13}));
}

TEST(Arranger, LeavingThePageWhileASongPlaysSwitchesToLoopMode) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 1);
    h.SetPhrase(2, 5, 1);
    f.Button1.Click();
    h.RenderSteps(4);
    f.SSynth1.Click(); // keeps playing, now in loop mode with pattern 2 queued
    EXPECT_TRUE(h.Device.Running);
    EXPECT_EQ(f.Button1.Caption(), "Loop");
    f.LEDButton(7).Click();
    h.RenderSteps(14);
    EXPECT_EQ(h.Loads[15], (StepLoad{7, 16, 7}));
}

TEST(Arranger, AfterASongEndedLoopOnASynthPagePlaysNothingUntilAPatternIsChosen) {
    Song h;
    MainForm& f = h.F();
    h.SetPhrase(1, 2, 1);
    f.Button1.Click();
    h.RenderSteps(100);
    ASSERT_EQ(f.PlayPattern, 0);
    f.Synth1.Click();
    const size_t before = h.Loads.size();
    f.Button1.Click(); // Loop with nothing to play
    EXPECT_TRUE(h.Device.Running);
    h.LastBuffer.assign(441, 77);
    h.RenderBuffers(30);
    EXPECT_EQ(h.LastBuffer[0], 77); // the render loop leaves every buffer unfilled
    EXPECT_EQ(h.Loads.size(), before + 1); // only Start's own load of slot 0
    f.LEDButton(5).Click(); // only queues: the pattern end is never reached
    h.RenderBuffers(30);
    EXPECT_EQ(f.PlayPattern, 0);
    f.Button2.Click();
    f.LEDButton(5).Click();
    EXPECT_EQ(f.PlayPattern, 5);
    f.Button1.Click();
    h.RenderSteps(1);
    EXPECT_EQ(h.Loads.back(), (StepLoad{5, 2, 5}));
}
