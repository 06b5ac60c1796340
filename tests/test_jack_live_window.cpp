// The window's model on the low-latency JACK output: Loop plays on the JACK thread and the
// step LEDs follow what it reports; an edit while playing is handed over; a controller on the
// client's MIDI input turns the window's knob and a note chooses a pattern; the song's end
// stops the window.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "devices/AudioBackend.h"
#include "program/LiveRig.h"
#include "program/ProgramCore.h"
#include "synth/PatternSynth.h"
#include "support/JackMidiSender.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {

struct LiveWindow : ProgramCore {
    explicit LiveWindow(const TSettingsFile& settings) {
        StartUp();
        Rig = std::make_unique<LiveRig>(Form, settings, "zelvox-window");
    }
    ~LiveWindow() { Rig.reset(); }
    // The main thread's timer, for `ms` milliseconds.
    void Run(int ms) {
        for (int t = 0; t < ms; t += 5) {
            Rig->Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    int RedLeds() {
        int n = 0;
        for (int s = 1; s <= 16; ++s) n += Form.MMLED(s).Color() == Colours::Red;
        return n;
    }
    std::unique_ptr<LiveRig> Rig;
};

} // namespace

// No server to start on: the rig is refused with its reason, and the window edits on alone
// (it once kept a hook into the rig that was never made, and the next edit crashed).
TEST(JackLiveWindow, AnOutputThatCannotStartLeavesTheWindowEditing) {
    ::setenv("JACK_DEFAULT_SERVER", "zelvox-no-such-server", 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    TempDir dir;
    const TSettingsFile settings((dir.path / "ZLVX3.INI").string());
    ProgramCore core;
    core.StartUp();
    EXPECT_THROW(std::make_unique<LiveRig>(core.Form, settings, "zelvox-window"),
                 std::runtime_error);
    core.Form.LEDButtonClick(3); // a pattern, then a step's Play: each edit ends its scope
    core.Form.Play1Click();
    EXPECT_EQ(core.Form.PlayPattern, 3);
}

TEST(JackLiveWindow, LoopPlaysOnTheJackThreadAndTheWindowFollows) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    TempDir dir;
    const std::string ini = (dir.path / "ZLVX3.INI").string();
    std::ofstream(ini) << "[MIDI]\n2=74\n"; // Cut-off on controller 74
    for (int n : {0, 1, 3, 4, 5, 6, 10, 11, 12, 20, 21, 22, 23})
        std::ofstream(ini, std::ios::app) << n << "=-1\n";
    const TSettingsFile settings(ini);
    LiveWindow w(settings);
    // Record to wav, then Loop: the file holds what played from its first sample, as the
    // synth renders it.
    const std::string wav = (dir.path / "take.wav").string();
    w.Form.RecordingArmed = true;
    w.Rig->ArmRecording(wav);
    w.Form.Button1Click(); // Loop
    w.Run(400);
    EXPECT_TRUE(w.Form.Synth.Seq.Playing());
    EXPECT_EQ(w.RedLeds(), 1) << "one step shown playing";
    EXPECT_GT(w.Form.Synth.Eng.S.CurStep, 2) << "the LEDs moved on with the JACK thread";

    w.Form.Button2Click(); // Stop ends the recording
    EXPECT_FALSE(w.Rig->Recording());
    const std::vector<int16_t> took = WavSamples(wav);
    ASSERT_GT(took.size(), 44100u / 4) << "less than a quarter second recorded";
    PatternSynth reference;
    ASSERT_TRUE(reference.LoadState(w.Form.Synth.SaveState().data(), kPatternFileSize));
    reference.Activate();
    reference.Start();
    std::vector<int16_t> want(took.size());
    reference.Render(want.data(), uint32_t(want.size()));
    size_t same = 0;
    while (same < took.size() && took[same] == want[same]) ++same;
    EXPECT_EQ(same, took.size()) << "the recording parts from the render at sample " << same;
    EXPECT_EQ(w.Rig->Output().RecordingLost(), 0u);
    w.Form.Button1Click(); // Loop again
    w.Run(100);

    // Playing with nothing edited, nothing is encoded or handed over; one knob turn is
    // handed over once, as what it is, and the JACK thread takes it.
    const uint64_t encodes = w.Form.Synth.StateEncodes();
    const uint64_t published = w.Rig->Live.Publications();
    const uint64_t handed = w.Rig->Live.EditsHanded();
    w.Run(300);
    EXPECT_EQ(w.Form.Synth.StateEncodes(), encodes) << "the state was encoded with no edit";
    EXPECT_EQ(w.Rig->Live.Publications(), published);
    w.Form.MMWheel3.SetValue(90);
    w.Run(100);
    EXPECT_EQ(w.Rig->Live.Publications(), published) << "a knob turn went as the whole state";
    EXPECT_EQ(w.Rig->Live.EditsHanded(), handed + 1);
    EXPECT_EQ(w.Rig->Live.EditsTaken(), handed + 1);
    EXPECT_EQ(w.Form.Synth.StateEncodes() - encodes, 2u) << "the edit's undo step alone";

    // A controller on the client's MIDI input turns the window's knob.
    JackMidiSender sender("zelvox-window-cc");
    ASSERT_TRUE(sender.Connect(w.Rig->Output().MidiInPort()));
    EXPECT_TRUE(sender.SendUntilArrived(CC(0, 74, 100), [&] {
        w.Run(100);
        return w.Form.ControlFor(ControlId::BassCutoff)->Value() == 100;
    })) << "the knob did not follow the controller";
    // Notes in as the MIDI setup holds them: a note of the pattern range at the client's
    // input presses the window's pattern button (queued while playing).
    w.Rig->MidiSetupNow = [] {
        LiveRig::MidiSetupState m;
        m.NotesIn.Patterns = true; // channel 1, patterns from note 36
        return m;
    };
    EXPECT_TRUE(sender.SendUntilArrived({0x90, 36 + 2, 100}, [&] {
        w.Run(100);
        return w.Form.Synth.Seq.QueuedPattern == 3;
    })) << "the note did not choose pattern 3";

    // Stop, then a song of one short pass: it ends by itself and the window stops.
    w.Form.Button2Click();
    w.Run(100);
    w.Form.Synth.Seq.Phrases[1] = {1, 1};
    w.Form.ControlFor(ControlId::Steps)->SetValue(2);
    w.Form.Arranger1Click();
    w.Form.Button1Click(); // Play
    w.Run(600);
    EXPECT_FALSE(w.Form.Synth.Seq.Playing()) << "the song's end did not stop the window";
}

// Set to follow the JACK transport, the window shows what the transport starts and stops.
TEST(JackLiveWindow, FollowingTheTransportTheWindowShowsItsPlay) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    TempDir dir;
    const std::string ini = (dir.path / "ZLVX3.INI").string();
    std::ofstream(ini) << "[Audio]\nAPI=jack-live\nFollowTransport=1\n";
    const TSettingsFile settings(ini);
    LiveWindow w(settings);
    jack_client_t* ctl = jack_client_open("zelvox-window-transport", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    w.Form.Button1Click(); // Loop waits for the transport
    w.Run(200);
    EXPECT_LE(w.Form.Synth.Eng.S.CurStep, 1);
    jack_transport_locate(ctl, 0);
    jack_transport_start(ctl);
    w.Run(500);
    EXPECT_TRUE(w.Form.Synth.Seq.Playing());
    EXPECT_GT(w.Form.Synth.Eng.S.CurStep, 2);
    jack_transport_stop(ctl);
    w.Run(200);
    EXPECT_FALSE(w.Form.Synth.Seq.Playing()) << "the transport stopped, the window did not";
    jack_client_close(ctl);
}
