// The real window on the low-latency JACK output ("JACK (low latency)" in the settings):
// Loop plays on the JACK thread, the step LEDs and the DSP meter follow, Stop stops; the audio
// setup lists the choice and switching to another output closes the JACK client.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include "audio/AudioBackend.h"
#include "support/GuiProgram.h"

using namespace zelvox;
using namespace zelvox::testing;

TEST(JackGuiLive, TheWindowPlaysOnTheLowLatencyOutput) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    GuiErrors().clear();
    GuiProgram p({{"Scripted keyboard"}}, "[Audio]\nAPI=jack-live\n");
    ASSERT_NE(p->LowLatency(), nullptr) << GuiErrors().join("; ").toStdString();
    MainForm& form = p->Form;
    form.Button1Click(); // Loop
    ASSERT_TRUE(WaitFor([&] { return form.Synth.Eng.S.CurStep >= 4; }, 3000))
        << "the step LEDs never moved on";
    int red = 0;
    for (int s = 1; s <= 16; ++s) red += form.MMLED(s).Color() == Colours::Red;
    EXPECT_EQ(red, 1);
    form.Button2Click(); // Stop
    ProcessEvents(100);
    const int32_t at = form.Synth.Eng.S.CurStep;
    ProcessEvents(300);
    EXPECT_EQ(form.Synth.Eng.S.CurStep, at) << "steps still shown after Stop";

    // The audio setup offers it; choosing another output closes the JACK client.
    TAudioSetupForm& setup = p->Audio().AudioSetup;
    setup.FormShow();
    const std::vector<std::string>& items = setup.ComboBox1.Items;
    const auto live = std::find(items.begin(), items.end(), "JACK (low latency)");
    ASSERT_NE(live, items.end());
    setup.ComboBox1.SetItemIndex(int32_t(live - items.begin()));
    EXPECT_EQ(setup.Label4.Caption(), "one JACK period");
    const auto virt = std::find(items.begin(), items.end(), "Virtual (no sound)");
    ASSERT_NE(virt, items.end());
    setup.ComboBox1.SetItemIndex(int32_t(virt - items.begin()));
    setup.Button1Click();
    EXPECT_EQ(p->LowLatency(), nullptr);
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("; ").toStdString();
}
