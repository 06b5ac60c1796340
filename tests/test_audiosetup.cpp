#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "ui/AudioSetup.h"
#include "devices/backends/ScriptedDevice.h"

using namespace zelvox;

namespace {

struct SetupRig {
    std::string Dir;
    ScriptedWaveOutSystem System;
    MainThreadQueue Queue;
    TMMDSPInterface Head;
    TMMWaveOut Out{&System, &Queue};
    WAVEFORMATEX Format = PcmWaveFormat(16, 1, 44100);
    std::unique_ptr<TSettingsFile> Settings;
    std::unique_ptr<TAudioSetupForm> Form;
    int Hidden = 0;

    SetupRig() {
        char tmpl[] = "/tmp/zelvox-audiosetup-XXXXXX";
        Dir = ::mkdtemp(tmpl);
        Settings = std::make_unique<TSettingsFile>(Dir + "/zelvox/ZLVX3.INI");
        Head.SetOutput(&Out);
        Head.SetWaveFormat(&Format);
        Head.OnBufferLoad = [](TObject*, PWaveHdr h, bool& more) {
            h->dwBytesRecorded = h->dwBufferLength;
            more = true;
        };
        Form = std::make_unique<TAudioSetupForm>(Out, *Settings);
        Form->OnHide = [this] { ++Hidden; };
    }
    ~SetupRig() { std::filesystem::remove_all(Dir); }
    void Put(const std::string& text) {
        std::filesystem::create_directories(Dir + "/zelvox");
        std::ofstream(Settings->FileName()) << text;
    }
    int32_t Create(const std::string& buffersLine) {
        Put("[Audio]\n" + buffersLine + "\n");
        Form->FormCreate();
        return Out.NumBuffers();
    }
};

} // namespace

TEST(AudioSetup, BuffersComeFromTheFileByItsRules) {
    {
        SetupRig r; // no file at all
        r.Form->FormCreate();
        EXPECT_EQ(r.Form->TrackBar1.Value(), 40);
        EXPECT_EQ(r.Out.NumBuffers(), 40);
        EXPECT_EQ(r.Out.GetBufferSize(), 882);
        EXPECT_FALSE(std::filesystem::exists(r.Settings->FileName())); // created only by OK
    }
    {
        SetupRig r;
        EXPECT_EQ(r.Create("Buffers=0x50"), 80);
    }
    {
        SetupRig r;
        EXPECT_EQ(r.Create("Buffers=500"), 120);
        EXPECT_EQ(r.Form->TrackBar1.Value(), 120);
    }
    {
        SetupRig r;
        EXPECT_EQ(r.Create("Buffers=abc"), 40);
    }
    {
        SetupRig r; // position 1: the device keeps its default of 10
        EXPECT_EQ(r.Create("Buffers=-7"), 10);
        EXPECT_EQ(r.Form->TrackBar1.Value(), 1);
    }
    {
        SetupRig r;
        r.Put(std::string("\x00\xff[Audio]\x01\nBuffers=\x80\x81\n", 22));
        r.Form->FormCreate();
        EXPECT_EQ(r.Out.NumBuffers(), 40);
    }
}

TEST(AudioSetup, OkStopsReopensWithTheNewCountAndWritesTheFile) {
    SetupRig r;
    r.Put("[MIDI]\nCHANNEL=5\n[Audio]\nBuffers=40\n");
    r.Form->FormCreate();
    r.Out.Start();
    ASSERT_EQ(r.Out.State(), wosOpened | wosPlaying);
    r.Form->TrackBar1.SetValue(25);
    r.Form->Button1.Click();
    EXPECT_EQ(r.Out.State(), wosOpened); // open, not playing
    EXPECT_EQ(r.Out.NumBuffers(), 25);
    EXPECT_EQ(r.Hidden, 1);
    EXPECT_EQ(r.Settings->ReadInteger("Audio", "Buffers", 0), 25);
    EXPECT_EQ(r.Settings->ReadInteger("MIDI", "CHANNEL", 0), 5);
    r.Out.Start(); // the next Play queues the new number of buffers
    EXPECT_EQ(r.Out.UsedBuffers(), 25);
    // Position 1 is stored as 1, but the device keeps its previous count.
    r.Form->TrackBar1.SetValue(1);
    r.Form->Button1Click();
    EXPECT_EQ(r.Settings->ReadInteger("Audio", "Buffers", 0), 1);
    EXPECT_EQ(r.Out.NumBuffers(), 25);
}

TEST(AudioSetup, ADeviceErrorOnOkKeepsTheFileAndTheDialog) {
    SetupRig r;
    r.Form->FormCreate();
    r.System.Setup = [](ScriptedWaveOutDevice& d) { d.OpenResult = kMmsyserrAllocated; };
    r.Form->TrackBar1.SetValue(60);
    EXPECT_THROW(r.Form->Button1Click(), EMMWaveOutError);
    EXPECT_EQ(r.Hidden, 0);
    EXPECT_FALSE(std::filesystem::exists(r.Settings->FileName()));
    r.Form->Button2.Click(); // Cancel closes; the slider keeps its position
    EXPECT_EQ(r.Hidden, 1);
    EXPECT_EQ(r.Form->TrackBar1.Value(), 60);
}

TEST(AudioSetup, ChoosesTheSoundSystemAndDeviceFromWhatIsPresentAndKeepsThem) {
    SetupRig r;
    // Present: a JACK server with two outputs and the virtual device; the file names an ALSA
    // device that is not there.
    std::vector<AudioBackendChoice> made;
    ScriptedWaveOutSystem* madeSystem = nullptr;
    AudioOutputProbe probe;
    probe.Apis = [] { return std::vector<std::string>{"jack", "virtual"}; };
    probe.Devices = [](const std::string& api) {
        return api == "jack" ? std::vector<std::string>{"system", "loop"} : std::vector<std::string>{};
    };
    probe.Create = [&](const AudioBackendChoice& c) {
        made.push_back(c);
        auto s = std::make_unique<ScriptedWaveOutSystem>();
        s->NumDevs = 2;
        madeSystem = s.get();
        return std::unique_ptr<WaveOutSystem>(std::move(s));
    };
    r.Form = std::make_unique<TAudioSetupForm>(r.Out, *r.Settings, probe);
    r.Form->OnHide = [&r] { ++r.Hidden; };
    TAudioSetupForm& f = *r.Form;
    r.Put("[Audio]\nBuffers=40\nAPI=alsa\nDevice=hw:9\n");
    f.FormCreate();

    // The latency beside the slider follows it: buffers x 10 ms.
    EXPECT_EQ(f.Label4.Caption(), "400 ms");
    f.TrackBar1.SetValue(120);
    EXPECT_EQ(f.Label4.Caption(), "1200 ms");
    f.TrackBar1.SetValue(25);
    EXPECT_EQ(f.Label4.Caption(), "250 ms");

    f.FormShow();
    EXPECT_EQ(f.ComboBox1.Items,
              (std::vector<std::string>{"Automatic", "JACK", "Virtual (no sound)", "ALSA (not found)"}));
    EXPECT_EQ(f.ComboBox1.ItemIndex(), 3);
    EXPECT_EQ(f.ComboBox2.Items, (std::vector<std::string>{"Default", "hw:9 (not found)"}));
    EXPECT_EQ(f.ComboBox2.ItemIndex(), 1);

    // Choosing JACK lists its devices; OK gives the output that system, opens it, saves.
    f.ComboBox1.SetItemIndex(1);
    EXPECT_EQ(f.ComboBox2.Items, (std::vector<std::string>{"Default", "system", "loop"}));
    EXPECT_EQ(f.ComboBox2.ItemIndex(), 0);
    f.ComboBox2.SetItemIndex(2);
    f.Button1Click();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].Api, "jack");
    EXPECT_EQ(made[0].Device, "loop");
    EXPECT_EQ(r.Out.NumDevs(), 2) << "the device plays through the new list";
    EXPECT_TRUE(r.Out.State() & wosOpened);
    ASSERT_NE(madeSystem, nullptr);
    EXPECT_NE(madeSystem->Last, nullptr) << "opened on the new system";
    EXPECT_EQ(r.Hidden, 1);
    EXPECT_EQ(r.Settings->ReadString("Audio", "API", ""), "jack");
    EXPECT_EQ(r.Settings->ReadString("Audio", "Device", ""), "loop");
    EXPECT_EQ(r.Settings->ReadInteger("Audio", "Buffers", 0), 25);

    // OK again without a new choice keeps the system; the next start shows the choice.
    f.FormShow();
    f.Button1Click();
    EXPECT_EQ(made.size(), 1u);
    r.Out.Close();
    TAudioSetupForm again(r.Out, *r.Settings, probe);
    again.FormCreate();
    again.FormShow();
    EXPECT_EQ(again.ComboBox1.Items[size_t(again.ComboBox1.ItemIndex())], "JACK");
    EXPECT_EQ(again.ComboBox2.Items[size_t(again.ComboBox2.ItemIndex())], "loop");
    EXPECT_EQ(again.Label4.Caption(), "250 ms");

    // Cancel after a new choice changes nothing.
    again.ComboBox1.SetItemIndex(2);
    again.Button2Click();
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(r.Settings->ReadString("Audio", "API", ""), "jack");
}

// On the low-latency JACK output the buffers are one JACK period: the slider is not offered
// there, and is again on a buffered output, with the count it had.
TEST(AudioSetup, TheBufferSliderIsOffOnTheLowLatencyOutput) {
    SetupRig r;
    AudioOutputProbe probe;
    probe.Apis = [] { return std::vector<std::string>{"jack", "jack-live", "virtual"}; };
    r.Form = std::make_unique<TAudioSetupForm>(r.Out, *r.Settings, probe);
    TAudioSetupForm& f = *r.Form;
    r.Put("[Audio]\nBuffers=40\nAPI=jack\n");
    f.FormCreate();
    f.FormShow();
    EXPECT_TRUE(f.TrackBar1.Enabled());
    f.ComboBox1.SetItemIndex(2);
    ASSERT_EQ(f.ComboBox1.Items[2], AudioApiTitle("jack-live"));
    EXPECT_FALSE(f.TrackBar1.Enabled());
    EXPECT_EQ(f.Label4.Caption(), "one JACK period");
    f.ComboBox1.SetItemIndex(1);
    EXPECT_TRUE(f.TrackBar1.Enabled());
    EXPECT_EQ(f.Label4.Caption(), "400 ms");
}

// Send MIDI notes and its channels and drum notes: usable on the low-latency output only,
// kept in the settings file (its keys written only once they change) and handed to the
// running output at OK.
TEST(AudioSetup, MidiNotesOutIsKeptInTheSettingsAndHandedToTheOutput) {
    SetupRig r;
    AudioOutputProbe probe;
    probe.Apis = [] { return std::vector<std::string>{"jack", "jack-live"}; };
    r.Form = std::make_unique<TAudioSetupForm>(r.Out, *r.Settings, probe);
    TAudioSetupForm& f = *r.Form;
    std::vector<LiveSync> handed;
    f.OnSyncChosen = [&](const LiveSync& s) { handed.push_back(s); };
    r.Put("[Audio]\nBuffers=40\nAPI=jack-live\n");
    f.FormCreate();
    f.FormShow();
    EXPECT_TRUE(f.CheckBox5.Enabled());
    EXPECT_EQ(f.SpinEdit2.Value(), 10);
    f.CheckBox3.SetChecked(true); // only the clock: the notes' keys stay out of the file
    f.Button1Click();
    EXPECT_EQ(r.Settings->ReadString("Audio", "SendNotes", "none"), "none");
    EXPECT_EQ(r.Settings->ReadString("Audio", "NotesBassChannel", "none"), "none");

    f.FormShow();
    f.CheckBox5.SetChecked(true);
    f.SpinEdit1.SetValue(2);
    f.SpinEdit5.SetValue(46);
    f.Button1Click();
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_TRUE(handed[1].SendNotes);
    EXPECT_EQ(handed[1].NotesBassChannel, 2);
    EXPECT_EQ(handed[1].NotesNoiseNote, 46);
    const LiveSync kept = ReadLiveSync(*r.Settings);
    EXPECT_TRUE(kept.SendNotes && kept.SendClock);
    EXPECT_EQ(kept.NotesBassChannel, 2);
    EXPECT_EQ(kept.NotesTwinTChannel, 10);
    EXPECT_EQ(kept.NotesNoiseNote, 46);
    f.ComboBox1.SetItemIndex(1); // JACK, buffered: no notes there
    EXPECT_FALSE(f.CheckBox5.Enabled());
    EXPECT_FALSE(f.SpinEdit1.Enabled());
}
