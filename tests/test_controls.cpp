#include <gtest/gtest.h>

#include "ui/Controls.h"

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
