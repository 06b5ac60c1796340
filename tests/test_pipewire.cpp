// The program on PipeWire, as most desktops run sound: through its JACK face (the test runs
// under pw-jack), its PulseAudio face and its ALSA plugin. scripts/with-pipewire.sh starts a
// private PipeWire with a 48 kHz null sink ("test sink") around the test; these tests kill
// and restart its servers and change its rate and period while the program plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "devices/AudioBackend.h"
#include "settings/Settings.h"
#include "program/LiveRig.h"
#include "program/HeadlessPlayer.h"
#include "program/ProgramCore.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool UnderPipeWire() {
    const char* on = std::getenv("ZELVOX_PIPEWIRE");
    return on && std::string(on) == "1";
}

std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

// Kills one of the private PipeWire's servers by its pid ("pipewire" or "pipewire-pulse").
void KillServer(const std::string& name) {
    (void)std::system(("kill $(sed -n 's/^" + name + "=//p' \"$ZELVOX_PW_PIDS_FILE\")").c_str());
}

// Starts it (and what lives on it) again; true when it answers.
bool RestartServer(const std::string& name) {
    return std::system(("bash \"$ZELVOX_WITH_PIPEWIRE\" --restart " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void Force(const char* what, int value) {
    (void)std::system(("pw-metadata -n settings 0 clock.force-" + std::string(what) + " " +
                       std::to_string(value) + " >/dev/null")
                          .c_str());
}

// The renderer with its own settings file (the [Audio] lines given), run in the background.
struct Player {
    TempDir Dir{"zelvox-pw"};
    std::string Err = (Dir.path / "err.txt").string();
    std::thread Thread;
    int Status = -2;
    Clock::time_point Ended;

    Player(const std::string& audio, const std::string& args) {
        fs::create_directories(Dir.path / "zelvox");
        std::ofstream(Dir.path / "zelvox" / "ZLVX3.INI") << "[Audio]\n" << audio;
        const std::string cmd = "XDG_CONFIG_HOME=" + Quote(Dir.path.string()) + " timeout -k 5 60 " +
                                Quote(RendererPath()) + " --play " + args + " 2>" + Quote(Err);
        Thread = std::thread([this, cmd] {
            const int raw = std::system(cmd.c_str());
            Ended = Clock::now();
            Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        });
    }
    ~Player() {
        if (Thread.joinable()) Thread.join();
    }
    void Wait() { Thread.join(); }
    std::string Stderr() const {
        std::ifstream f(Err);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
};

bool WaitFor(const std::function<bool()>& pred, int ms) {
    for (const auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until;) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

bool PortsThere(const std::string& port) {
    return Output("jack_lsp 2>/dev/null").find(port) != std::string::npos;
}

// Where each step begins, from a recording of the start-up pattern (a gated note on every step,
// silence between): the median distance between the onsets of its notes, in frames (1 ms
// steps).
double StepFrames(const std::vector<int16_t>& s, double rate) {
    const size_t block = size_t(rate / 1000.0); // 1 ms
    std::vector<size_t> onsets;
    bool quiet = false;
    for (size_t at = 0; at + block <= s.size(); at += block) {
        double sum = 0;
        for (size_t i = 0; i < block; ++i) sum += std::abs(double(s[at + i]));
        const double level = sum / double(block);
        if (level < 30) quiet = true;
        else if (quiet && level > 3000) {
            onsets.push_back(at);
            quiet = false;
        }
    }
    if (onsets.size() < 4) return 0;
    // The median distance: a note missed at the recording's edges or in a dropped period
    // makes one distance twice as long, not the whole measure wrong.
    std::vector<size_t> gaps;
    for (size_t i = 1; i < onsets.size(); ++i) gaps.push_back(onsets[i] - onsets[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return double(gaps[gaps.size() / 2]);
}

} // namespace

double RmsDb(const std::vector<int16_t>& s, size_t from) {
    double sum = 0;
    for (size_t i = from; i < s.size(); ++i) sum += double(s[i]) * double(s[i]);
    return 10.0 * std::log10(sum / double(std::max<size_t>(1, s.size() - from)) / (32768.0 * 32768.0) + 1e-30);
}

// Every face plays the start-up pattern to both speakers of the sink at its speed and
// level: what the sink's monitor records has the render's step spacing (within 1 %) and
// loudness (within 1.5 dB over a part of the pattern; PipeWire converts PulseAudio's and ALSA's streams with its own
// resampler, so the samples are not compared one for one), on the left and the right.
TEST(PipeWire, EveryFacePlaysToBothSpeakersAtItsSpeedAndLevel) {
    ASSERT_TRUE(UnderPipeWire()) << "run under scripts/with-pipewire.sh pw-jack";
    TempDir dir("zelvox-pw");
    const std::string ref = (dir.path / "ref.wav").string();
    ASSERT_EQ(std::system((Quote(RendererPath()) + " --seconds 4 -o " + Quote(ref)).c_str()), 0);
    const double want = RmsDb(WavSamples(ref), 0);
    const std::pair<const char*, const char*> faces[] = {
        {"API=jack\n", ""}, {"API=jack\n", "--live "}, {"API=pulse\n", ""}, {"API=alsa\n", ""}};
    for (const auto& [audio, live] : faces) {
        SCOPED_TRACE(std::string(audio) + live);
        Player p(audio, std::string(live) + "--seconds 6");
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        // The sink's monitor through pw-record (jack_rec on a monitor port mistimes streams
        // that PipeWire converts), both channels, left and right interleaved.
        const std::string rec = (p.Dir.path / "monitor.wav").string();
        (void)std::system(("timeout 2 pw-record --rate 48000 --channels 2 --format s16 --target test -P "
                           "'{ stream.capture.sink=true }' " +
                           Quote(rec) + " >/dev/null 2>&1")
                              .c_str());
        const std::vector<int16_t> both = WavSamples(rec);
        for (const size_t side : {0u, 1u}) {
            std::vector<int16_t> got;
            for (size_t i = side; i < both.size(); i += 2) got.push_back(both[i]);
            EXPECT_NEAR(StepFrames(got, 48000) / (4725.0 * 48000 / 44100), 1.0, 0.01) << "channel " << side;
            EXPECT_NEAR(RmsDb(got, 0), want, 1.5) << "channel " << side;
        }
        p.Wait();
        EXPECT_EQ(p.Status, 0) << p.Stderr();
    }
}

// A server that dies under each output ends the command within a second with an error naming
// the sound system, not as underruns; with the server back, the next play plays.
TEST(PipeWire, AServerThatDiesEndsEveryOutputWithItsErrorWithinASecond) {
    ASSERT_TRUE(UnderPipeWire()) << "run under scripts/with-pipewire.sh pw-jack";
    struct Face {
        const char* Audio;
        const char* Args;
        const char* Server;  // the server killed
        const char* Port;    // what shows the output is playing ("" : wait a moment)
        const char* Message; // the error names the sound system so
    };
    const Face faces[] = {
        {"API=jack\n", "--seconds 30", "pipewire", "zelvox:outport 0", "JACK"},
        {"API=jack\n", "--live --seconds 30", "pipewire", "zelvox:out", "JACK server has gone away"},
        {"API=pulse\n", "--seconds 30", "pipewire-pulse", "", "PulseAudio"},
        {"API=alsa\n", "--seconds 30", "pipewire", "", "ALSA"},
    };
    for (const Face& f : faces) {
        SCOPED_TRACE(std::string(f.Audio) + f.Args);
        Player p(f.Audio, f.Args);
        if (*f.Port) {
            EXPECT_TRUE(WaitFor([&] { return PortsThere(f.Port); }, 10000));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const auto killed = Clock::now();
        KillServer(f.Server);
        p.Wait();
        const double after = std::chrono::duration<double>(p.Ended - killed).count();
        const std::string err = p.Stderr();
        EXPECT_EQ(p.Status, 1) << err;
        EXPECT_LT(after, 1.0) << err;
        EXPECT_NE(err.find(f.Message), std::string::npos) << err;
        EXPECT_EQ(err.find("underrun"), std::string::npos) << err;
        EXPECT_EQ(err.find("RtAudio"), std::string::npos) << "back-end chatter: " << err;
        ASSERT_TRUE(RestartServer(f.Server));
    }
}

// The window's outputs after a lost server: the buffered chain (the window's Loop on the same
// device setting) and the low-latency JACK output both play again once the server is back,
// without a visit to the audio setup.
TEST(PipeWire, AfterALostServerTheNextPlayPlaysOnTheSameSetting) {
    ASSERT_TRUE(UnderPipeWire()) << "run under scripts/with-pipewire.sh pw-jack";
    TempDir dir("zelvox-pw");
    TSettingsFile settings((dir.path / "ZLVX3.INI").string());
    settings.WriteString("Audio", "API", "pulse");
    {
        HeadlessPlayer player(settings);
        std::thread killer([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            KillServer("pipewire-pulse");
        });
        const HeadlessPlayResult lost = player.Play(false, 3000);
        killer.join();
        EXPECT_FALSE(lost.Ok);
        EXPECT_NE(lost.Error.find("PulseAudio"), std::string::npos) << lost.Error;
        ASSERT_TRUE(RestartServer("pipewire-pulse"));
        const HeadlessPlayResult again = player.Play(false, 100);
        EXPECT_TRUE(again.Ok) << again.Error;
        EXPECT_GE(again.BuffersPlayed, 100);
    }

    ProgramCore program;
    program.StartUp();
    LiveRig rig(program.Form, settings, "zelvox-window-test");
    std::string told;
    rig.OnLost = [&](const std::string& why) { told = why; };
    program.Form.Button1Click(); // Loop
    ASSERT_TRUE(WaitFor([&] { return rig.Output().Periods() > 10; }, 5000));
    KillServer("pipewire");
    const auto killed = Clock::now();
    EXPECT_TRUE(WaitFor([&] { rig.Pump(); return !told.empty(); }, 1000)) << "no message";
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - killed).count(), 1.0);
    EXPECT_FALSE(program.Form.Synth.Seq.Playing()) << "the window shows it stopped";
    EXPECT_EQ(rig.Usage(), 0);
    ASSERT_TRUE(RestartServer("pipewire"));
    program.Form.Button1Click(); // Loop again: the output opens afresh
    EXPECT_TRUE(WaitFor([&] { return rig.Output().Periods() > 10; }, 5000));
    EXPECT_TRUE(program.Form.Synth.Seq.Playing());
    program.Form.Button2Click(); // Stop
}

// Both JACK outputs reach both speakers by themselves (a mono output to both), and leave
// their ports alone when told not to connect.
TEST(PipeWire, JackOutputsConnectToBothSpeakersUnlessTold) {
    ASSERT_TRUE(UnderPipeWire()) << "run under scripts/with-pipewire.sh pw-jack";
    for (const std::string port : {"zelvox:outport 0", "zelvox:out"}) {
        for (const bool connect : {true, false}) {
            SCOPED_TRACE(port + (connect ? "" : " --no-connect"));
            const std::string args = std::string(port == "zelvox:out" ? "--live " : "") + "--seconds 3" +
                                     (connect ? "" : " --no-connect");
            Player p("API=jack\n", args);
            ASSERT_TRUE(WaitFor([&] { return PortsThere(port); }, 10000));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string to = Output("jack_lsp -c " + Quote(port));
            EXPECT_EQ(to.find("test sink:playback_FL") != std::string::npos, connect) << to;
            EXPECT_EQ(to.find("test sink:playback_FR") != std::string::npos, connect) << to;
            p.Wait();
            EXPECT_EQ(p.Status, 0) << p.Stderr();
        }
    }
}

// The server changes its rate while the program plays: the steps keep their spacing in time
// (at the old rate's conversion they came 8.8 % slow at 44,100 Hz and twice as fast at 96,000).
// And its period: --live --seconds lasts its seconds whatever the period sizes.
TEST(PipeWire, RateAndPeriodChangesKeepTheSpeedAndTheLength) {
    ASSERT_TRUE(UnderPipeWire()) << "run under scripts/with-pipewire.sh pw-jack";
    for (const int rate : {96000, 44100}) {
        for (const std::string port : {"zelvox:outport 0", "zelvox:out"}) {
            SCOPED_TRACE(port + " at " + std::to_string(rate));
            Force("rate", 0);
            Player p("API=jack\n", std::string(port == "zelvox:out" ? "--live " : "") + "--seconds 5");
            ASSERT_TRUE(WaitFor([&] { return PortsThere(port); }, 10000));
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            Force("rate", rate);
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            const std::string rec = (p.Dir.path / "rec.wav").string();
            EXPECT_EQ(std::system(("timeout -k 5 20 jack_rec -f " + Quote(rec) + " -d 2 -b 16 " + Quote(port) +
                                   " >/dev/null 2>&1")
                                      .c_str()),
                      0);
            p.Wait();
            EXPECT_EQ(p.Status, 0) << p.Stderr();
            const double want = 4725.0 * rate / 44100.0; // a step at tempo 140
            const double got = StepFrames(WavSamples(rec), rate);
            EXPECT_NEAR(got / want, 1.0, 0.01) << "frames a step: " << got << ", not " << want;
        }
    }
    Force("rate", 0);

    // The command lasts its seconds within 5 % (the wall time includes its start and end).
    Player p("API=jack\n", "--live --seconds 8");
    ASSERT_TRUE(WaitFor([&] { return PortsThere("zelvox:out"); }, 10000));
    const auto began = Clock::now();
    for (const int quantum : {64, 256, 2048}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        Force("quantum", quantum);
    }
    p.Wait();
    Force("quantum", 0);
    const double lasted = std::chrono::duration<double>(p.Ended - began).count();
    EXPECT_EQ(p.Status, 0) << p.Stderr();
    EXPECT_NEAR(lasted, 8.0, 0.4) << p.Stderr();
    EXPECT_NE(p.Stderr().find("periods of 64 to"), std::string::npos) << p.Stderr();
}
