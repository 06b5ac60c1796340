// The "Synth envelopes" window: contour spin edits, number boxes, curves and previews.

#include <gtest/gtest.h>

#include "engine/Tables.h"
#include "synth/PatternSynth.h"
#include "ui/EnvelopeForm.h"

using namespace zelvox;

TEST(EnvelopeForm, StartsLinearInAllFourCurves) {
    PatternSynth synth;
    const ContourCurves& curves = synth.Eng.Curves;
    EnvelopeForm e;
    e.SetSynth(&synth);
    e.FormCreate();
    EXPECT_EQ(e.Form5.Caption(), "Synth envelopes");
    for (Label* box : {&e.FlatEdit971, &e.FlatEdit972, &e.FlatEdit973, &e.FlatEdit974})
        EXPECT_EQ(box->Caption(), "50");
    EXPECT_NEAR(curves.Curve(0)[16384], 0.50002f, 1e-5f);
    for (const float* c : {curves.Curve(1), curves.Curve(2), curves.Curve(3)}) {
        EXPECT_NEAR(c[16384], 0.49998f, 1e-5f);
        EXPECT_EQ(c[0], 1.0f);
    }
    // Bar 64 reads entry 16384: half height.
    EXPECT_EQ(e.Image1.Bars()[64], 50);
    EXPECT_EQ(e.Image2.Bars()[0], 0);  // decay starts at full height
    EXPECT_EQ(e.Image1.Bars()[0], 100); // attack starts at zero
}

TEST(EnvelopeForm, SettingsBendTheirOwnCurveOnly) {
    PatternSynth synth;
    const ContourCurves& curves = synth.Eng.Curves;
    EnvelopeForm e;
    e.SetSynth(&synth);
    e.FormCreate();
    e.SpinEdit971.SetValue(0);
    EXPECT_EQ(e.FlatEdit971.Caption(), "0");
    EXPECT_LT(curves.Curve(0)[16384], 1e-6f); // exponent 100: stays near 0
    EXPECT_EQ(curves.Curve(0)[32767], 1.0f);
    e.SpinEdit972.SetValue(40);
    EXPECT_EQ(e.FlatEdit972.Caption(), "100");
    EXPECT_GT(curves.Curve(1)[16384], 0.99f);
    EXPECT_NEAR(curves.Curve(2)[16384], 0.49998f, 1e-5f);
    e.SpinEdit973.SetValue(99); // limited to 39
    EXPECT_EQ(e.SpinEdit973.Value(), 39);
    EXPECT_EQ(e.FlatEdit973.Caption(), "98");
    EXPECT_NEAR(curves.Curve(3)[16384], 0.49998f, 1e-5f);
    e.SpinEdit971.SetValue(20);
    EXPECT_NEAR(curves.Curve(0)[16384], 0.50002f, 1e-5f);
    e.Show();
    EXPECT_TRUE(e.Form5.Visible());
    e.Button1.Click();
    EXPECT_FALSE(e.Form5.Visible());
}
