// The MIDI setup's logic with the scripted MIDI service: settings, device choice, the function
// lists, the Control Change mapping onto the knobs, OK and Cancel, and running without MIDI.

#include <gtest/gtest.h>

#include <cmath>

#include "ui/MidiSetup.h"
#include "midi/backends/ScriptedMidiIn.h"
#include "support/FormHarness.h"
#include "support/MidiRig.h"
#include "program/MidiKnobs.h"
#include "ui/MainForm.h"

using namespace zelvox;
using zelvox::test::TempSettings;
using zelvox::test::TestKnobs;

namespace {

ScriptedMidiIn::Device Dev(std::string name) {
    ScriptedMidiIn::Device d;
    d.Name = std::move(name);
    return d;
}

struct Dialog {
    explicit Dialog(std::vector<ScriptedMidiIn::Device> devs = {Dev("Keys"), Dev("Pads")})
        : Service(std::move(devs)) {}
    TForm4& Create() {
        Form = std::make_unique<TForm4>(Service, &Queue, Settings.File, Knobs.Table);
        return *Form;
    }
    // A message as the device delivers it, then the main thread's turn.
    void Send(uint8_t status, uint8_t d1, uint8_t d2) {
        Service.SendShort(status, d1, d2);
        Queue.ProcessPending();
    }
    ScriptedMidiIn Service;
    MainThreadQueue Queue;
    TempSettings Settings;
    TestKnobs Knobs;
    std::unique_ptr<TForm4> Form;
};

TMyMidiEvent Ev(uint8_t status, uint8_t d1, uint8_t d2) {
    TMyMidiEvent e;
    e.Status = status;
    e.Param1 = d1;
    e.Param2 = d2;
    return e;
}

} // namespace

TEST(MidiSetup, EmptySettingsFileGivesClosedDeviceAndCcZeroMovesAllFourteenKnobs) {
    Dialog s;
    TForm4& f = s.Create();
    EXPECT_EQ(f.Form4.Caption(), "MIDI Setup");
    EXPECT_FALSE(f.Form4.Visible());
    for (int32_t v : f.CCTable) EXPECT_EQ(v, 0);
    EXPECT_EQ(f.SpinEdit971.Value(), 0);
    EXPECT_FALSE(f.CheckBox1.Checked());
    EXPECT_EQ(f.Combobox1.Items, (std::vector<std::string>{"Keys", "Pads"}));
    EXPECT_EQ(f.Combobox1.ItemIndex(), 0);
    EXPECT_FALSE(f.DevicesOpen);
    EXPECT_FALSE(s.Service.IsOpen());
    EXPECT_EQ(f.SComboBox971.ItemIndex(), 0);
    EXPECT_EQ(f.SComboBox972.ItemIndex(), 0);
    EXPECT_EQ(f.SComboBox973.ItemIndex(), 0);
    EXPECT_EQ(f.MidiStatus.Caption(), "");
    EXPECT_EQ(f.StartupProblem(), "");
    EXPECT_FALSE(s.Settings.Exists()) << "reading never creates the file";

    f.CheckBox1.SetChecked(true); // the user enables MIDI: opens at once
    EXPECT_TRUE(f.DevicesOpen);
    EXPECT_EQ(s.Service.OpenDevice(), 0);
    EXPECT_TRUE(s.Service.IsStarted());

    s.Send(0xB0, 0, 64);
    EXPECT_EQ(f.edit1.Caption(), "B0 00 40");
    TestKnobs& k = s.Knobs;
    EXPECT_EQ(k.MMWheel1.Value(), 64);
    EXPECT_EQ(k.MMWheel2.Value(), 64);
    EXPECT_EQ(k.MMWheel3.Value(), 64);
    EXPECT_EQ(k.MMWheel4.Value(), 53); // Resonance: 64 * 105 / 127 = 52.9
    EXPECT_EQ(k.MMWheel5.Value(), 64);
    EXPECT_EQ(k.MMWheel7.Value(), 64);
    EXPECT_EQ(k.MMWheel9.Value(), 82); // Length: 64 * 95 / 127 + 34 = 81.87
    EXPECT_EQ(k.MMWheel8.Value(), 64);
    EXPECT_EQ(k.MMWheel10.Value(), 64);
    EXPECT_EQ(k.MMWheel11.Value(), 64);
    EXPECT_EQ(k.MMWheel12.Value(), 64);
    EXPECT_EQ(k.MMWheel13.Value(), 64);
    EXPECT_EQ(k.MMWheel14.Value(), 60); // Colour: 64 * 120 / 127 = 60.47
    EXPECT_EQ(k.MMWheel15.Value(), 64);
    // Every knob changed except the two Twin-T/noise Decay knobs already at 64.
    EXPECT_EQ(k.TotalFired(), 12);
    EXPECT_EQ(k.Fired.count("MMWheel8"), 0u);
    EXPECT_EQ(k.Fired.count("MMWheel12"), 0u);

    f.CheckBox1.SetChecked(false); // disabling closes
    EXPECT_FALSE(f.DevicesOpen);
    EXPECT_FALSE(s.Service.IsOpen());
}

TEST(MidiSetup, ScaledValuesAndKnobLimits) {
    // The scaled knobs against the exact quotient, for every controller value.
    for (int32_t v = 0; v <= 127; ++v) {
        EXPECT_EQ(MidiKnobValue(3, v), std::lround(v * 105.0 / 127.0)) << v;
        EXPECT_EQ(MidiKnobValue(6, v), std::lround(v * 95.0 / 127.0 + 34.0)) << v;
        EXPECT_EQ(MidiKnobValue(22, v), std::lround(v * 120.0 / 127.0)) << v;
        EXPECT_EQ(MidiKnobValue(0, v), v);
    }
    Dialog s;
    s.Settings.Set("ENABLED", "1");
    TForm4& f = s.Create();
    ASSERT_TRUE(f.DevicesOpen);
    s.Send(0xB0, 0, 0);
    EXPECT_EQ(s.Knobs.MMWheel1.Value(), 1);  // 0 on a 1..127 knob
    EXPECT_EQ(s.Knobs.MMWheel9.Value(), 34); // Length never goes below 34 by MIDI
    s.Send(0xB0, 0, 127);
    EXPECT_EQ(s.Knobs.MMWheel3.Value(), 126); // Cut-off stops at 126
    EXPECT_EQ(s.Knobs.MMWheel4.Value(), 105);
    EXPECT_EQ(s.Knobs.MMWheel14.Value(), 120);
    s.Send(0xB0, 0, 123);
    EXPECT_EQ(s.Knobs.MMWheel9.Value(), 126);
    s.Send(0xB0, 0, 124);
    EXPECT_EQ(s.Knobs.MMWheel9.Value(), 127);
    // The same value again changes nothing and raises nothing.
    const int before = s.Knobs.TotalFired();
    s.Send(0xB0, 0, 124);
    EXPECT_EQ(s.Knobs.TotalFired(), before);
}

TEST(MidiSetup, ChannelFilter) {
    Dialog s;
    s.Settings.Set("CHANNEL", "3");
    s.Settings.Set("ENABLED", "1");
    s.Settings.Set("5", "7"); // bass Volume on controller 7
    TForm4& f = s.Create();
    EXPECT_EQ(f.SpinEdit971.Value(), 3);
    s.Send(0xB0, 7, 10);
    s.Send(0xB4, 7, 20);
    EXPECT_EQ(s.Knobs.MMWheel7.Value(), 0);
    EXPECT_EQ(f.edit1.Caption(), "B4 07 14") << "every message is shown, filtered or not";
    s.Send(0xB3, 7, 30);
    EXPECT_EQ(s.Knobs.MMWheel7.Value(), 30);

    f.SpinEdit971.SetValue(0); // every channel
    for (uint8_t ch : {0, 5, 15}) {
        s.Send(0xB0 | ch, 7, 40 + ch);
        EXPECT_EQ(s.Knobs.MMWheel7.Value(), 40 + ch);
    }
    // A filter above 15 matches no channel at all.
    f.SpinEdit971.SetValue(16);
    s.Send(0xB0, 7, 99);
    EXPECT_EQ(s.Knobs.MMWheel7.Value(), 55);
}

TEST(MidiSetup, MessagesThatDriveNothingOnlyUpdateTheText) {
    Dialog s;
    s.Settings.Set("ENABLED", "1");
    for (int n = 0; n <= 30; ++n) s.Settings.Set(std::to_string(n), std::to_string(20 + n));
    TForm4& f = s.Create();
    s.Send(0xB0, 19, 100); // a controller no slot holds
    EXPECT_EQ(f.edit1.Caption(), "B0 13 64");
    s.Send(0xB0, 27, 100); // slot 7: loaded but drives nothing
    s.Send(0x90, 20, 100); // Note On with the number of slot 0
    EXPECT_EQ(f.edit1.Caption(), "90 14 64");
    s.Send(0xE0, 20, 100); // pitch bend
    s.Send(0xC0, 20, 0);
    s.Service.SendSysex({0xF0, 0x7E, 0xF7});
    s.Queue.ProcessPending();
    EXPECT_EQ(f.edit1.Caption(), "F0 00 00");
    EXPECT_EQ(s.Knobs.TotalFired(), 0);
    s.Send(0xB0, 20, 100); // slot 0 does answer on controller 20
    EXPECT_EQ(s.Knobs.MMWheel1.Value(), 100);
    EXPECT_EQ(s.Knobs.TotalFired(), 1);
}

TEST(MidiSetup, SeveralSlotsOnOneControllerMoveTogether) {
    Dialog s;
    for (int n = 0; n <= 30; ++n) s.Settings.Set(std::to_string(n), "90");
    s.Settings.Set("3", "74");
    s.Settings.Set("22", "74");
    TForm4& f = s.Create();
    f.DoEvent(Ev(0xB0, 74, 127));
    EXPECT_EQ(s.Knobs.MMWheel4.Value(), 105);
    EXPECT_EQ(s.Knobs.MMWheel14.Value(), 120);
    EXPECT_EQ(s.Knobs.TotalFired(), 1) << "Colour was already at 120";
}

TEST(MidiSetup, FunctionListsShowAndEditTheTable) {
    Dialog s;
    s.Settings.Set("0", "11");
    s.Settings.Set("3", "74");
    s.Settings.Set("10", "12");
    s.Settings.Set("20", "250"); // above the spin edits' 100
    s.Settings.Set("22", "13");
    s.Settings.Set("1", "0x4A");   // hexadecimal is read too
    s.Settings.Set("2", "cutoff"); // unreadable: the default
    s.Settings.Set("CHANNEL", "-4"); // shown within the spin edit's range
    TForm4& f = s.Create();
    EXPECT_EQ(f.CCTable[1], 74);
    EXPECT_EQ(f.CCTable[2], 0);
    EXPECT_EQ(f.SpinEdit971.Value(), 0);
    EXPECT_EQ(f.SpinEdit972.Value(), 11);
    EXPECT_EQ(f.SpinEdit973.Value(), 12);
    EXPECT_EQ(f.SpinEdit974.Value(), 100);
    EXPECT_EQ(f.CCTable[20], 100) << "showing it as 100 stored 100";

    f.SComboBox971.SetItemIndex(3); // "Resonance"
    EXPECT_EQ(f.SpinEdit972.Value(), 74);
    f.SpinEdit972.SetValue(75); // takes effect at once
    EXPECT_EQ(f.CCTable[3], 75);
    f.DoEvent(Ev(0xB0, 75, 127));
    EXPECT_EQ(s.Knobs.MMWheel4.Value(), 105);

    f.SComboBox973.SetItemIndex(2); // "Colour"
    EXPECT_EQ(f.SpinEdit974.Value(), 13);
    f.SpinEdit974.SetValue(1);
    EXPECT_EQ(f.CCTable[22], 1);
    f.SComboBox972.SetItemIndex(2); // Twin-T "Volume"
    f.SpinEdit973.SetValue(44);
    EXPECT_EQ(f.CCTable[12], 44);
    EXPECT_EQ(f.SComboBox971.Items.size(), 7u);
    EXPECT_EQ(f.SComboBox973.Items[1], "Env-mod");
}

TEST(MidiSetup, OkWritesTheSettingsCancelKeepsEditsForThisRunOnly) {
    Dialog s;
    s.Settings.Set("4", "9");
    {
        TForm4& f = s.Create();
        f.Show();
        f.SComboBox971.SetItemIndex(4);
        f.SpinEdit972.SetValue(21);
        f.SpinEdit971.SetValue(2);
        const std::string before = s.Settings.Text();
        f.Button2.Click(); // Cancel
        EXPECT_FALSE(f.Form4.Visible());
        EXPECT_EQ(s.Settings.Text(), before) << "Cancel writes nothing";
        f.DoEvent(Ev(0xB2, 21, 33)); // the edit works for the rest of the run
        EXPECT_EQ(s.Knobs.MMWheel5.Value(), 33);
    }
    s.Create(); // a restart reads the file again
    EXPECT_EQ(s.Form->CCTable[4], 9);
    EXPECT_EQ(s.Form->SpinEdit971.Value(), 0);

    TForm4& f = *s.Form;
    f.SComboBox971.SetItemIndex(4);
    f.SpinEdit972.SetValue(21);
    f.SpinEdit971.SetValue(2);
    f.CheckBox1.SetChecked(true);
    f.Show();
    f.Button1.Click(); // OK
    EXPECT_FALSE(f.Form4.Visible());
    EXPECT_EQ(s.Settings.Get("4"), "21");
    EXPECT_EQ(s.Settings.Get("30"), "0");
    EXPECT_EQ(s.Settings.Get("ENABLED"), "1");
    EXPECT_EQ(s.Settings.Get("CHANNEL"), "2");
    for (int n = 0; n <= 30; ++n)
        EXPECT_EQ(s.Settings.Get(std::to_string(n)), std::to_string(f.CCTable[n])) << n;
    EXPECT_TRUE(f.DevicesOpen) << "OK leaves the device as it is";
}

TEST(MidiSetup, DeviceChoiceTakesEffectAtOnce) {
    Dialog s({Dev("Keys"), Dev("Pads"), Dev("Keys")});
    s.Settings.Set("ENABLED", "1");
    TForm4& f = s.Create();
    EXPECT_EQ(s.Service.Opens, 1) << "opened once at start";
    f.Combobox1.SetItemIndex(1);
    EXPECT_EQ(s.Service.OpenDevice(), 1);
    EXPECT_EQ(s.Service.Closes, 1);
    // The third device has the first one's name: choosing it by name opens the first.
    f.Combobox1.SetItemIndex(2);
    EXPECT_EQ(s.Service.OpenDevice(), 0);
    // A device that went away raises the component's message; the dialog stays closed.
    s.Service.Devices[1].Name = "Gone";
    try {
        f.Combobox1.SetItemIndex(1);
        ADD_FAILURE() << "no error";
    } catch (const EMidiInputError& e) {
        EXPECT_STREQ(e.what(), "MIDI Input Device Pads not installed ");
    }
    EXPECT_FALSE(f.DevicesOpen);
    EXPECT_FALSE(s.Service.IsOpen());
}

TEST(MidiSetup, DeviceThatCannotBeOpenedIsReportedNotPretendedOpen) {
    Dialog s;
    s.Service.Devices[0].OpenResult = kMidiErrAllocated;
    s.Settings.Set("ENABLED", "1");
    TForm4& f = s.Create();
    EXPECT_FALSE(f.DevicesOpen);
    EXPECT_EQ(f.MidiInput1->Error(), kMidiErrAllocated);
    const std::string expected = "The MIDI input device Keys could not be opened: " +
                                 StandardMidiErrorText(kMidiErrAllocated);
    EXPECT_EQ(f.MidiStatus.Caption(), expected);
    EXPECT_EQ(f.StartupProblem(), expected);
    EXPECT_TRUE(f.CheckBox1.Checked());
    // Another device works and clears the message.
    f.Combobox1.SetItemIndex(1);
    EXPECT_TRUE(f.DevicesOpen);
    EXPECT_EQ(f.MidiStatus.Caption(), "");
}

TEST(MidiSetup, UnreadableDeviceEndsTheListButNotTheStart) {
    Dialog s({Dev("Keys"), Dev("Broken"), Dev("Pads")});
    s.Service.Devices[1].CapsResult = kMidiErrNoDriver;
    s.Service.DriverText = "the MIDI service stopped answering";
    s.Settings.Set("ENABLED", "1");
    TForm4& f = s.Create();
    EXPECT_EQ(f.Combobox1.Items, std::vector<std::string>{"Keys"});
    EXPECT_TRUE(f.DevicesOpen) << "the first device still works";
    EXPECT_EQ(f.MidiStatus.Caption(), "");
    EXPECT_EQ(s.Service.OpenDevice(), 0);
}

TEST(MidiSetup, NoMidiDeviceAtAll) {
    Dialog s(std::vector<ScriptedMidiIn::Device>{});
    s.Settings.Set("ENABLED", "1");
    s.Settings.Set("0", "7");
    TForm4& f = s.Create(); // starts; nothing raised
    EXPECT_EQ(f.MidiInput1, nullptr);
    EXPECT_TRUE(f.Combobox1.Items.empty());
    EXPECT_EQ(f.Combobox1.ItemIndex(), -1);
    EXPECT_EQ(f.MidiStatus.Caption(), "No MIDI input device was found.");
    EXPECT_EQ(f.StartupProblem(), "No MIDI input device was found.");
    EXPECT_TRUE(f.CheckBox1.Checked()) << "the saved choice is kept";
    EXPECT_FALSE(f.DevicesOpen);
    f.CheckBox1.SetChecked(false);
    f.CheckBox1.SetChecked(true);
    EXPECT_EQ(f.MidiStatus.Caption(), "No MIDI input device was found.");
    f.Button1.Click(); // OK keeps what the file said
    EXPECT_EQ(s.Settings.Get("ENABLED"), "1");
    EXPECT_EQ(s.Settings.Get("0"), "7");

    // Not enabled at start: nothing for the status bar, but the dialog still says it.
    Dialog quiet(std::vector<ScriptedMidiIn::Device>{});
    TForm4& g = quiet.Create();
    EXPECT_EQ(g.StartupProblem(), "");
    EXPECT_EQ(g.MidiStatus.Caption(), "No MIDI input device was found.");
}

TEST(MidiSetup, EventsArriveThroughTheComponentInOrder) {
    Dialog s;
    s.Settings.Set("ENABLED", "1");
    s.Settings.Set("5", "7");
    s.Settings.Set("2", "74");
    TForm4& f = s.Create();
    int volumeChanges = 0;
    s.Knobs.MMWheel7.OnChange = [&] { ++volumeChanges; };
    for (uint8_t v = 1; v <= 50; ++v) s.Service.SendShort(0xB0, 7, v);
    s.Service.SendShort(0xB0, 74, 99);
    EXPECT_EQ(s.Knobs.MMWheel7.Value(), 0) << "nothing moves before the main thread's turn";
    s.Queue.ProcessPending();
    EXPECT_EQ(volumeChanges, 50);
    EXPECT_EQ(s.Knobs.MMWheel7.Value(), 50);
    EXPECT_EQ(s.Knobs.MMWheel3.Value(), 99);
    EXPECT_EQ(f.edit1.Caption(), "B0 4A 63");
    EXPECT_EQ(f.MidiInput1->PendingCount(), 0);
}

TEST(MidiSetup, TheChosenDeviceIsSavedAndChosenAgainAtTheNextStart) {
    Dialog s({Dev("Keys"), Dev("Pads")});
    s.Settings.Set("ENABLED", "1");
    TForm4& f = s.Create();
    EXPECT_EQ(s.Service.OpenDevice(), 0);
    f.Combobox1.SetItemIndex(1);
    f.Button1Click();
    const std::string saved = s.Settings.File.ReadString("MIDI", "DEVICE", "");
    EXPECT_EQ(saved, "Pads");

    Dialog next({Dev("Keys"), Dev("Pads")});
    next.Settings.Set("ENABLED", "1");
    next.Settings.Set("DEVICE", saved);
    TForm4& g = next.Create();
    EXPECT_EQ(g.Combobox1.ItemIndex(), 1);
    EXPECT_EQ(next.Service.OpenDevice(), 1) << "opened at start on the saved device";
    // A saved device that is gone: the first device, as without a saved one.
    Dialog gone({Dev("Keys")});
    gone.Settings.Set("DEVICE", "Pads");
    EXPECT_EQ(gone.Create().Combobox1.ItemIndex(), 0);
}

// Notes in on the window, headless: off until ticked; then a note-on on the notes' channel
// transposes the main window's bass from the next step it loads (the stored notes stay), a
// note of the pattern range presses that pattern button (queued while playing), and "OK"
// keeps the setup in the settings for the next start.
TEST(MidiSetup, NotesInTransposeTheWindowsBassFromTheNextStepAndChoosePatterns) {
    test::FormHarness h;
    MainForm& form = h.F();
    Dialog s;
    TForm4 f(s.Service, &s.Queue, s.Settings.File, MidiKnobsOf(form));
    f.OnNote = [&](const NoteInAction& note) { PlayNoteOnForm(form, note); };
    f.CheckBox1.SetChecked(true);
    auto send = [&](uint8_t status, uint8_t d1, uint8_t d2) {
        s.Service.SendShort(status, d1, d2);
        s.Queue.ProcessPending();
    };
    form.Button1.Click();
    send(0x90, 67, 100); // off by default: nothing
    f.NotesTranspose.SetChecked(true);
    f.NotesRoot.SetValue(48);
    h.RenderSteps(1);
    send(0x91, 55, 100); // channel 2: not the notes' channel
    send(0x90, 55, 100); // +7 from the next step
    send(0x80, 55, 0);   // a note-off holds it
    h.RenderSteps(2);
    f.NotesTranspose.SetChecked(false); // back as written from the next step
    h.RenderSteps(1);
    using test::StepLoad;
    EXPECT_EQ(h.Loads, (std::vector<StepLoad>{{1, 1, 13}, {1, 2, 13}, {1, 3, 20}, {1, 4, 20}, {1, 5, 13}}));
    EXPECT_EQ(form.Store.Step(1, 3).BassNote, 13);

    f.NotesPatterns.SetChecked(true);
    send(0x90, 36 + 4, 100); // pattern 5, queued while playing
    EXPECT_EQ(form.QueuedPattern, 5);
    EXPECT_EQ(form.PlayPattern, 1);
    f.Button1Click(); // "OK"
    TForm4 again(s.Service, &s.Queue, s.Settings.File, MidiKnobsOf(form));
    EXPECT_FALSE(again.NotesTranspose.Checked());
    EXPECT_TRUE(again.NotesPatterns.Checked());
    EXPECT_EQ(again.NotesRoot.Value(), 48);
    EXPECT_EQ(again.NotesIn().FirstPattern, 36);
}
