// The real window on the low-latency JACK output ("JACK (low latency)" in the settings):
// Loop plays on the JACK thread, the step LEDs and the DSP meter follow, Stop stops; the audio
// setup lists the choice, sets how it keeps time, and switching to another output closes the
// JACK client; a controller at its own MIDI input is learned.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include "devices/AudioBackend.h"
#include "support/GuiProgram.h"
#include "support/JackMidiSender.h"
#include "ui/MidiSetup.h"

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

// The audio setup's time-keeping boxes act on the low-latency output at once and are kept in
// the settings: following the JACK transport, and being its timebase master.
TEST(JackGuiLive, TheAudioSetupSetsHowItKeepsTime) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    GuiErrors().clear();
    GuiProgram p({{"Scripted keyboard"}}, "[Audio]\nAPI=jack-live\n");
    ASSERT_NE(p->LowLatency(), nullptr) << GuiErrors().join("; ").toStdString();
    jack_client_t* ctl = jack_client_open("zelvox-sync-check", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    auto hasBarBeat = [&] {
        ProcessEvents(100);
        jack_position_t pos{};
        jack_transport_query(ctl, &pos);
        return (pos.valid & JackPositionBBT) != 0 && pos.bar >= 1;
    };
    EXPECT_FALSE(hasBarBeat());

    TAudioSetupForm& setup = p->Audio().AudioSetup;
    setup.FormShow();
    ASSERT_TRUE(setup.CheckBox1.Enabled());
    setup.CheckBox2.SetChecked(true); // Follow MIDI clock ...
    setup.CheckBox1.SetChecked(true); // ... gives way to the JACK transport
    EXPECT_FALSE(setup.CheckBox2.Checked());
    setup.CheckBox4.SetChecked(true);
    setup.Button1Click();
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("; ").toStdString();
    EXPECT_TRUE(hasBarBeat()) << "not the timebase master";
    EXPECT_TRUE(p->Settings().ReadBool("Audio", "FollowTransport", false));
    EXPECT_FALSE(p->Settings().ReadBool("Audio", "FollowClock", true));
    EXPECT_TRUE(p->Settings().ReadBool("Audio", "TimebaseMaster", false));
    // The transport starts the window's play.
    jack_transport_locate(ctl, 0);
    jack_transport_start(ctl);
    EXPECT_TRUE(WaitFor([&] { return p->Form.Synth.Eng.S.CurStep >= 3; }, 3000))
        << "the transport did not start the play";
    jack_transport_stop(ctl);

    setup.FormShow();
    EXPECT_TRUE(setup.CheckBox1.Checked() && setup.CheckBox4.Checked());
    setup.CheckBox4.SetChecked(false);
    setup.Button1Click();
    EXPECT_FALSE(hasBarBeat()) << "the timebase was not given up";
    // Another system: the boxes are for the low-latency output only.
    setup.FormShow();
    const std::vector<std::string>& items = setup.ComboBox1.Items;
    setup.ComboBox1.SetItemIndex(
        int32_t(std::find(items.begin(), items.end(), "Virtual (no sound)") - items.begin()));
    EXPECT_FALSE(setup.CheckBox1.Enabled());
    setup.Button2Click();
    jack_client_close(ctl);
}

// A controller at the low-latency output's own MIDI input is learned as at the MIDI setup's
// input, and from then on the player turns the learned knob (the window's knob follows).
TEST(JackGuiLive, AControllerAtItsMidiInputIsLearnedAndTurnsTheKnob) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    GuiErrors().clear();
    GuiProgram p({{"Scripted keyboard"}}, "[Audio]\nAPI=jack-live\n");
    ASSERT_NE(p->LowLatency(), nullptr) << GuiErrors().join("; ").toStdString();
    ASSERT_NE(p->Midi(), nullptr);
    MidiLearn& learn = p->Midi()->Learn;
    test::JackMidiSender sender("zelvox-learn-source");
    ASSERT_TRUE(sender.Connect(p->LowLatency()->Output().MidiInPort()));
    learn.LearnClick(ControlId::BassCutoff);
    ASSERT_TRUE(sender.SendUntilArrived(test::CC(3, 20, 0), [&] {
        ProcessEvents(100);
        return !learn.Pending();
    })) << "nothing was learned";
    // Channel 4, controller 20, at full: the cut-off's 126.
    sender.Send({test::CC(3, 20, 127)});
    EXPECT_TRUE(WaitFor([&] { return p->Form.ControlFor(ControlId::BassCutoff)->Value() == 126; }, 2000))
        << "the player did not turn the learned knob";
    EXPECT_EQ(p->Settings().ReadString("MIDI Learn", "bass_cutoff", ""), "4,20");
}
