#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "ui/AudioSetup.h"
#include "audio/backends/ScriptedDevice.h"

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
