#include <gtest/gtest.h>

#include "support/WindowModel.h"
#include "ui/ControlText.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"

using namespace zelvox;

TEST(ValueControl, ClampsAndRaisesOnlyOnRealChange) {
    Knob k("MMWheel3", 0, 126, 0);
    int fired = 0;
    k.OnChange = [&] { ++fired; };
    k.SetValue(80);
    EXPECT_EQ(k.Value(), 80);
    k.SetValue(80);
    EXPECT_EQ(fired, 1);
    k.SetValue(500); // clamps to the maximum
    EXPECT_EQ(k.Value(), 126);
    k.SetValue(1000); // clamps to the same value: no event
    EXPECT_EQ(fired, 2);
    k.SetValue(-7);
    EXPECT_EQ(k.Value(), 0);
    EXPECT_EQ(fired, 3);
}

TEST(NoteSlider, OutOfRangeRequestRaisesEvenWhenClampedValueIsUnchanged) {
    NoteSlider s("MMSlider1", 1, 37, 1);
    int fired = 0;
    s.OnChange = [&] { ++fired; };
    s.SetValue(1);
    EXPECT_EQ(fired, 0);
    s.SetValue(0); // clamps to 1, the value shown, but still raises
    EXPECT_EQ(s.Value(), 1);
    EXPECT_EQ(fired, 1);
    s.SetValue(99);
    EXPECT_EQ(s.Value(), 37);
    EXPECT_EQ(fired, 2);
}

TEST(ComboBox, RaisesOnEveryAssignmentAndRejectsBadIndex) {
    ComboBox c("ComboBox1");
    c.SetItems({"a", "b"});
    int fired = 0;
    c.OnChange = [&] { ++fired; };
    c.SetItemIndex(1);
    c.SetItemIndex(1);
    EXPECT_EQ(fired, 2);
    c.SetItemIndex(5);
    EXPECT_EQ(c.ItemIndex(), -1);
}

TEST(Control, ViewListenersSeeVisibleChangesOnly) {
    Led led("MMLED1");
    int repaints = 0;
    const int token = led.AddViewListener([&] { ++repaints; });
    led.SetColor(Colours::Lime);
    led.SetColor(Colours::Lime);
    led.SetEnabled(false);
    EXPECT_EQ(repaints, 2);
    led.RemoveViewListener(token);
    led.SetColor(Colours::Red);
    EXPECT_EQ(repaints, 2);
}

TEST(ControlText, KnobsReadInTheirUnitsAndTheDelayInMillisecondsAtTheTempoShown) {
    test::WindowModel w;
    MainForm& f = w.Form;
    f.MMWheel16.SetValue(4);
    EXPECT_EQ(f.MMWheel16.Text(), "429 ms"); // 4 steps at tempo 140
    f.SpinEdit972.SetValue(20);
    f.MMWheel16.SetValue(3);
    EXPECT_EQ(f.MMWheel16.Text(), "2000 ms") << "2250 ms is more than the echo holds";
    EXPECT_EQ(f.SpinEdit972.Text(), "20 BPM");
    f.MMWheel17.SetValue(60);
    EXPECT_EQ(f.MMWheel17.Text(), "60 %");
    f.MMWheel3.SetValue(99);
    EXPECT_EQ(f.MMWheel3.Text(), "99");
    EXPECT_EQ(ControlValueText(ControlId::Delay, 0, 140), "0 ms");
    EXPECT_EQ(ControlValueText(ControlId::Delay, 16, 240), "1000 ms");
}
