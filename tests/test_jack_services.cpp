// The program's JACK clients as the server sees them: how many start-up opens, and what
// happens when the server is stopped and started again under a program that plays and
// listens to MIDI (the sound output and the MIDI input lose their clients together, and
// whatever the user does next, play again, switch MIDI off and on, quit, must work on the new
// server).
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>

#include "devices/AudioBackend.h"
#include "devices/JackClient.h"
#include "program/AudioRig.h"
#include "program/MidiKnobs.h"
#include "program/ProgramCore.h"
#include "midi/backends/RtMidiInService.h"
#include "support/JackMidiSender.h"
#include "support/MidiRig.h"
#include "support/PlaybackRig.h"
#include "support/PrivateJack.h"

using namespace zelvox;
using namespace std::chrono_literals;
using zelvox::test::PrivateJack;

namespace {

// Pumps the main-thread queue for a while; returns the text of the first wave-output error
// it raised ("" when none).
std::string Pump(MainThreadQueue& q, std::chrono::milliseconds limit, bool untilError = false) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string error;
    while (std::chrono::steady_clock::now() < end) {
        try {
            q.WaitAndProcess(10);
        } catch (const EMMWaveOutError& e) {
            if (error.empty()) error = e.what();
            if (untilError) break;
        }
    }
    return error;
}

} // namespace

// Each JACK client costs the server tens of milliseconds to open, and every close can hang
// in libjack; start-up opens one listing client for the sound output and the MIDI sources,
// and the MIDI input's own port when MIDI is enabled, which answers from then on, whatever
// asks for the device's details afterwards.
TEST(JackStartUp, OpensOneClientPerServiceAndOneForTheMidiPort) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    ReleaseJackListClient(); // start as a program does, with none
    jack_status_t status;
    jack_client_t* watch = jack_client_open(("zvx_watch_" + std::to_string(::getpid())).c_str(),
                                            JackNoStartServer, &status);
    ASSERT_NE(watch, nullptr);
    std::atomic<int> opened{0};
    jack_set_client_registration_callback(
        watch,
        [](const char*, int registered, void* arg) {
            if (registered) static_cast<std::atomic<int>*>(arg)->fetch_add(1);
        },
        &opened);
    ASSERT_EQ(jack_activate(watch), 0);
    {
        // The desktop program's start-up without its windows, in its order.
        test::TempSettings settings;
        settings.Set("ENABLED", "1");
        MainThreadQueue queue;
        auto sys = CreateWaveOutSystem(ReadAudioBackendChoice(settings.File));
        ProgramCore core;
        AudioRig rig(core.Form, sys.get(), &queue, settings.File);
        RtMidiInService midi("zvx_start_" + std::to_string(::getpid()), "midi_in",
                             {RtMidiInService::Api::Jack});
        std::unique_ptr<TForm4> midiSetup;
        core.StartUp([&] {
            rig.AudioSetup.FormCreate();
            midiSetup = std::make_unique<TForm4>(midi, &queue, settings.File, MidiKnobsOf(core.Form));
        });
        EXPECT_NE(rig.MMWaveOut2.ProductName().find("JACK: system"), std::string::npos)
            << rig.MMWaveOut2.ProductName();
        EXPECT_TRUE(midiSetup->DevicesOpen);
        std::this_thread::sleep_for(300ms); // the server tells its clients in its own time
        EXPECT_EQ(opened.load(), 2);
    }
    jack_client_close(watch);
}

TEST(JackServerRestart, PlayingAgainAndSwitchingMidiOffAndOnWorkOnTheNewServer) {
    PrivateJack jack;
    ASSERT_TRUE(PrivateJack::Ready());
    MainThreadQueue queue;
    const std::string client = "zvx_restart_" + std::to_string(::getpid());
    RtMidiInService midi(client, "midi_in", {RtMidiInService::Api::Jack});
    test::TempSettings settings;
    settings.Set("ENABLED", "1");
    settings.Set("0", "74"); // CC 74 turns Attack
    test::TestKnobs knobs;
    TForm4 form(midi, &queue, settings.File, knobs.Table);
    std::vector<std::string> problems;
    form.OnProblem = [&](const std::string& text) { problems.push_back(text); };
    ASSERT_TRUE(form.DevicesOpen) << form.MidiStatus.Caption();

    auto sys = CreateWaveOutSystem({"jack", ""});
    test::PlaybackRig rig(sys.get(), &queue);
    rig.MMWaveOut2.Start(); // Loop
    EXPECT_EQ(Pump(queue, 500ms), "");

    jack.Kill();
    const std::string failure = Pump(queue, 6s, true);
    EXPECT_TRUE(test::SaysTheServerWentAway(failure)) << failure;
    EXPECT_EQ(rig.MMWaveOut2.State(), wosClosed);
    // The MIDI input went with the server, and the user is told which and why, once.
    Pump(queue, 200ms);
    EXPECT_FALSE(form.DevicesOpen);
    EXPECT_TRUE(form.CheckBox1.Checked()) << "what the user chose stays";
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("Zelvox MIDI input (JACK)"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("the JACK server shut down"), std::string::npos) << problems[0];
    EXPECT_EQ(form.MidiStatus.Caption(), problems[0]);

    jack.Restart();
    ASSERT_TRUE(PrivateJack::Ready());
    rig.MMWaveOut2.Start(); // Loop again, on the new server
    EXPECT_EQ(Pump(queue, 500ms), "");
    form.Button1Click(); // OK in the MIDI setup opens the input again
    EXPECT_TRUE(form.DevicesOpen) << form.MidiStatus.Caption();
    EXPECT_EQ(form.MidiStatus.Caption(), "");

    form.CheckBox1.SetChecked(false); // "Enable MIDI" unticked: this crashed
    EXPECT_EQ(Pump(queue, 1500ms), "") << "the sound output plays on";
    EXPECT_TRUE(rig.MMWaveOut2.State() & wosPlaying);
    form.CheckBox1.SetChecked(true);
    ASSERT_TRUE(form.DevicesOpen) << form.MidiStatus.Caption();

    // The reopened input hears a sender on the new server.
    test::JackMidiSender sender(client + "_src");
    ASSERT_TRUE(sender.Connect(client + ":midi_in"));
    EXPECT_TRUE(sender.SendUntilArrived(test::CC(0, 74, 100), [&] {
        const auto end = std::chrono::steady_clock::now() + 300ms;
        while (knobs.MMWheel1.Value() != 100 && std::chrono::steady_clock::now() < end) Pump(queue, 20ms);
        return knobs.MMWheel1.Value() == 100;
    })) << "the reopened input heard nothing";

    rig.MMWaveOut2.Stop(); // Exit
    rig.MMWaveOut2.Close();
    EXPECT_EQ(rig.MMWaveOut2.State(), wosClosed);
    EXPECT_EQ(problems.size(), 1u);
}
