// zelvox-render --play on the private JACK server, end to end through the command: what
// jack_rec records from the program's port equals, sample for sample, what zelvox-render
// writes to a file for the same pattern file, once the recording's leading silence is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "devices/AudioBackend.h"
#include "devices/JackClient.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "support/JackWatch.h"
#include "support/PrivateJack.h"
#include "support/RateChecks.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

} // namespace

// "zelvox:..." or "zelvox-N:..." (JACK numbers a client whose name is taken).
static bool IsOurPort(const std::string& port) {
    const auto colon = port.find(':');
    if (colon == std::string::npos || port.compare(0, 6, "zelvox") != 0) return false;
    const std::string suffix = port.substr(6, colon - 6);
    if (suffix.empty()) return true;
    return suffix.size() > 1 && suffix[0] == '-' &&
           suffix.find_first_not_of("0123456789", 1) == std::string::npos;
}

TEST(JackRenderPlay, PlayingThroughTheCommandSoundsAsTheRendererWrites) {
    // Periods in order: jack_rec, late on a busy machine, must not record another period.
    test::PrivateJack jack(441, 44100, test::PrivateJack::Pacing::InOrder);
    ASSERT_TRUE(test::PrivateJack::Ready());
    TempDir dir;
    fs::create_directories(dir.path / "config" / "zelvox");
    // A busy pattern with a tempo-synced echo: bass on every step, drum and noise hits.
    const std::string song = (dir.path / "busy.zvx").string();
    {
        HeadlessProgram p;
        for (int s = 1; s <= 16; ++s) {
            StepRecord& st = p.Form.Store.Step(1, s);
            st.BassPlay = 1;
            st.TwinTPlay = (s % 4 == 1) ? 1 : 0;
            st.NoisePlay = (s % 2 == 0) ? 1 : 0;
        }
        p.Form.MMWheel16.SetValue(3);
        p.Form.MMWheel17.SetValue(50);
        SavePatternFile(p.Form, p.Envelopes, song);
    }
    constexpr int kBuffers = 400; // 4 s
    const std::string exe = Quote(RendererPath());
    const std::string ref = (dir.path / "ref.wav").string();
    ASSERT_EQ(std::system(("timeout -k 5 300 " + exe + " " + Quote(song) + " --buffers " + std::to_string(kBuffers) +
                           " -o " + Quote(ref)).c_str()),
              0);
    const std::vector<int16_t> reference = WavSamples(ref);
    ASSERT_EQ(reference.size(), size_t(kBuffers) * 441);

    // The program's own settings file chooses JACK.
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=jack\n";
    JackWatch watch;
    ASSERT_TRUE(watch.Ok());
    const auto listed = watch.Ports();
    const std::set<std::string> before(listed.begin(), listed.end());
    const std::string errFile = (dir.path / "stderr.txt").string();
    std::atomic<int> status{-2};
    std::thread player([&] {
        const std::string cmd = "XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) +
                                " timeout -k 5 60 " + exe + " --play " + Quote(song) + " --buffers " +
                                std::to_string(kBuffers) + " --start-delay 2000 2>" + Quote(errFile);
        const int raw = std::system(cmd.c_str());
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    });
    // The program's output port appears when it opens the device; record it from then on.
    std::string port;
    for (int i = 0; i < 500 && port.empty() && status == -2; ++i) {
        for (const std::string& p : watch.Ports())
            if (!before.count(p) && IsOurPort(p)) port = p;
        if (port.empty()) ::usleep(10000);
    }
    std::string recorded;
    if (!port.empty()) {
        recorded = (dir.path / "rec.wav").string();
        const std::string cmd = "timeout -k 5 30 jack_rec -f " + Quote(recorded) + " -d 9 -b 16 " + Quote(port) + " >/dev/null 2>&1";
        (void)std::system(cmd.c_str());
    }
    player.join();
    std::ifstream ef(errFile);
    const std::string err((std::istreambuf_iterator<char>(ef)), std::istreambuf_iterator<char>());
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err, "") << "no underrun, no complaint";
    ASSERT_FALSE(port.empty()) << "the program's port never appeared";

    const std::vector<int16_t> rec = WavSamples(recorded);
    const size_t r0 = LeadingSilence(rec), e0 = LeadingSilence(reference);
    ASSERT_LT(r0, rec.size()) << "the recording is silent";
    // Stop comes once 400 buffers have been played, so all of them are in the recording.
    const size_t want = reference.size() - e0;
    ASSERT_GE(rec.size() - r0, want) << "the recording is shorter than what was played";
    const size_t firstDiff = FirstMismatch(rec, r0, reference, e0, want);
    EXPECT_EQ(firstDiff, want) << "the recording differs from the render at sample " << firstDiff
                               << " of " << want;
}

// A misspelt device name in the settings: the error keeps the open's own text and says what
// is wrong (the device is not there), naming it.
TEST(JackRenderPlay, AMisspeltDeviceIsNamedInTheError) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    TempDir dir;
    fs::create_directories(dir.path / "config" / "zelvox");
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=jack\nDevice=Sytem\n";
    const std::string errFile = (dir.path / "stderr.txt").string();
    const std::string cmd = "XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) + " timeout -k 5 60 " +
                            Quote(RendererPath()) + " --play --buffers 10 2>" + Quote(errFile);
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    std::ifstream ef(errFile);
    const std::string err((std::istreambuf_iterator<char>(ef)), std::istreambuf_iterator<char>());
    EXPECT_NE(err.find("The actual device can''t play this format"), std::string::npos) << err;
    EXPECT_NE(err.find("output device \"Sytem\" not found"), std::string::npos) << err;
}

// The program keeps the JACK clients it needs and opens no others: listing the devices,
// checking the format and playing share one client (libjack can hang for good in a close
// while other programs come and go, and every open after it with it, so every close avoided
// is a hang avoided), on either output. A player stopped by SIGTERM twice ends at once, even
// while it waits out its start delay.
TEST(JackRenderPlay, PlayersOpenOnlyTheClientsTheyKeepAndAlwaysStop) {
    TempDir dir;
    fs::create_directories(dir.path / "config" / "zelvox");
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=jack\n";
    JackWatch watch;
    ASSERT_TRUE(watch.Ok()) << "run under scripts/with-jack.sh";
    const std::string env = "XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) +
                            " timeout -k 5 60 " + Quote(RendererPath());
    auto ours = [&] {
        std::vector<std::string> names;
        for (const std::string& n : watch.Registered())
            if (n.rfind("zelvox", 0) == 0 && n != "zelvox-test-watch") names.push_back(n);
        return names;
    };
    auto joined = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& n : v) s += n + " ";
        return s;
    };
    for (const char* args : {" --play --buffers 30", " --play --live --buffers 30"}) {
        watch.Clear();
        const int raw = std::system((env + args + " 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << args;
        ::usleep(200000); // the last notifications
        const auto names = ours();
        EXPECT_EQ(names.size(), 1u) << args << ": " << joined(names);
    }

    // Two SIGTERMs during a 10 s start delay: gone within a second, having stopped as asked
    // (0) or at once on the second (143).
    const std::string cmd = env + " --play --buffers 30 --start-delay 10000 2>/dev/null & "
                                  "sleep 1; kill -TERM $!; sleep 0.1; kill -TERM $! 2>/dev/null; wait $!";
    const auto t0 = std::chrono::steady_clock::now();
    const int raw = std::system(("bash -c " + Quote(cmd)).c_str());
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_TRUE(WEXITSTATUS(raw) == 0 || WEXITSTATUS(raw) == 143) << WEXITSTATUS(raw);
    EXPECT_LT(took, std::chrono::milliseconds(2100)) << "the player outlived its stop";
}

// libjack stuck for good (its open waiting on a lock nobody frees, or a close that never
// returns, stood in for by a preloaded library): the player gives up within the bound, says
// why and fails, on either output; a close stuck at the end costs the bound and keeps the
// play's success.
TEST(JackRenderPlay, StuckLibjackIsGivenUpWithinTheBound) {
    TempDir dir;
    fs::create_directories(dir.path / "config" / "zelvox");
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=jack\n";
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const std::string errFile = (dir.path / "stderr.txt").string();
    struct Case {
        const char* Stuck;
        const char* Args;
        int Status;
        unsigned BoundMs;
    };
    for (const Case& c : {Case{"open", " --play --buffers 30", 1, kJackOpenTimeoutMs},
                          Case{"open", " --play --live --buffers 30", 1, kJackOpenTimeoutMs},
                          Case{"close", " --play --buffers 30", 0, kJackCloseTimeoutMs}}) {
        const std::string cmd = "XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) +
                                " LD_PRELOAD=" + Quote(ZELVOX_STUCK_JACK) +
                                // A sanitized renderer: its runtime no longer comes first.
                                " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"" +
                                " ZELVOX_TEST_JACK_STUCK=" +
                                c.Stuck + " timeout -k 2 30 " + Quote(RendererPath()) + c.Args + " 2>" +
                                Quote(errFile);
        const auto t0 = std::chrono::steady_clock::now();
        const int raw = std::system(cmd.c_str());
        const auto took = std::chrono::steady_clock::now() - t0;
        std::ifstream ef(errFile);
        const std::string err((std::istreambuf_iterator<char>(ef)), std::istreambuf_iterator<char>());
        ASSERT_TRUE(WIFEXITED(raw)) << c.Stuck << c.Args;
        EXPECT_EQ(WEXITSTATUS(raw), c.Status) << c.Stuck << c.Args << ": " << err;
        if (c.Status != 0) {
            EXPECT_NE(err.find("JACK is stuck in libjack"), std::string::npos) << c.Args << ": " << err;
        }
        // The play itself takes about a second; the rest is the bound and the start.
        EXPECT_LT(took, std::chrono::milliseconds(c.BoundMs + 4000)) << c.Stuck << c.Args;
    }
}

namespace {

// A test client that listens to one port: the loudest sample since the last Reset.
class Listener {
public:
    Listener() {
        ReleaseJackListClient(); // one client of ours in this process at a time
        Client = jack_client_open("zelvox-test-ear", JackNoStartServer, nullptr);
        if (!Client) return;
        In_ = jack_port_register(Client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(Client, &Process, this);
        jack_activate(Client);
    }
    ~Listener() {
        if (Client) jack_client_close(Client);
    }
    // Connects the port here once it is there and its client is active (up to 10 s).
    bool Hear(const std::string& port) {
        for (int i = 0; i < 1000; ++i) {
            if (jack_port_by_name(Client, port.c_str()) &&
                jack_connect(Client, port.c_str(), jack_port_name(In_)) == 0)
                return true;
            ::usleep(10000);
        }
        return false;
    }
    // From now on, what arrives while the transport rolls, at its transport frame (the first
    // `frames` frames of transport time).
    void RecordByTransportFrame(size_t frames) {
        Tape_.assign(frames, 0.0f);
        Taping_ = true;
    }
    const std::vector<float>& Tape() const { return Tape_; }
    float PeakOver(int ms) {
        Peak_ = 0.0f;
        ::usleep(ms * 1000);
        return Peak_.load();
    }
    jack_client_t* Client = nullptr;

private:
    static int Process(jack_nframes_t n, void* self) {
        auto* l = static_cast<Listener*>(self);
        const auto* in = static_cast<const float*>(jack_port_get_buffer(l->In_, n));
        float peak = l->Peak_.load(std::memory_order_relaxed);
        for (jack_nframes_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(in[i]));
        l->Peak_.store(peak, std::memory_order_relaxed);
        jack_position_t pos{};
        if (l->Taping_ && jack_transport_query(l->Client, &pos) == JackTransportRolling)
            for (jack_nframes_t i = 0; i < n && pos.frame + i < l->Tape_.size(); ++i)
                l->Tape_[pos.frame + i] = in[i];
        return 0;
    }
    jack_port_t* In_ = nullptr;
    std::atomic<float> Peak_{0.0f};
    std::vector<float> Tape_;
    std::atomic<bool> Taping_{false};
};

} // namespace

// Live play that follows the JACK transport waits for it: a stop only stops the sound, a
// start plays again, a relocation while rolling goes on from there; the player ends at its
// --seconds. A server that goes away ends it at once with an error.
TEST(JackRenderPlay, LivePlayFollowingTheTransportOutlivesStopsAndNotAServer) {
    test::PrivateJack jack(256);
    TempDir dir;
    Listener ear;
    ASSERT_NE(ear.Client, nullptr) << "no JACK server";
    const std::string errFile = (dir.path / "stderr.txt").string();
    std::atomic<int> status{-2};
    auto play = [&](const std::string& args) {
        return std::thread([&, args] {
            const std::string cmd = "XDG_CONFIG_HOME=" + Quote(dir.path.string()) + " timeout -k 5 60 " +
                                    Quote(RendererPath()) + " --play --live " + args + " 2>" + Quote(errFile);
            const int raw = std::system(cmd.c_str());
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        });
    };
    std::thread player = play("--follow-transport --seconds 6");
    const bool heard = ear.Hear("zelvox:out");
    if (!heard) player.join();
    ASSERT_TRUE(heard) << std::ifstream(errFile).rdbuf();
    jack_transport_locate(ear.Client, 0);
    jack_transport_start(ear.Client);
    EXPECT_GT(ear.PeakOver(1000), 0.01f) << "rolling, it plays";
    jack_transport_stop(ear.Client);
    ::usleep(500000);
    EXPECT_EQ(status.load(), -2) << "a stop ended the player";
    jack_transport_locate(ear.Client, 44100 * 30);
    jack_transport_start(ear.Client);
    EXPECT_GT(ear.PeakOver(800), 0.01f) << "started again, it plays again";
    jack_transport_locate(ear.Client, 44100 * 3); // a relocation while rolling
    ::usleep(300000);
    EXPECT_EQ(status.load(), -2) << "a relocation ended the player";
    EXPECT_GT(ear.PeakOver(500), 0.01f);
    player.join();
    EXPECT_EQ(status.load(), 0) << "it ends at --seconds";

    // The server killed under a player with no end of its own.
    status = -2;
    player = play("--seconds 60");
    ASSERT_TRUE(ear.Hear("zelvox:out"));
    jack_client_close(ear.Client);
    ear.Client = nullptr;
    const auto killed = std::chrono::steady_clock::now();
    jack.Kill();
    while (status.load() == -2 && std::chrono::steady_clock::now() - killed < std::chrono::seconds(10))
        ::usleep(10000);
    const auto took = std::chrono::steady_clock::now() - killed;
    player.join();
    std::ifstream ef(errFile);
    const std::string err((std::istreambuf_iterator<char>(ef)), std::istreambuf_iterator<char>());
    EXPECT_EQ(status.load(), 1) << err;
    EXPECT_NE(err.find("The JACK server has gone away"), std::string::npos) << err;
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "noticed late";
}

// On a JACK server at 48 kHz the program's 44,100 Hz stream is converted on its way out and
// its port tells the converter's delay: what jack_rec records there is the render converted
// by sox's very-high-quality conversion, within -60 dBFS RMS of the difference.
TEST(JackRenderPlay, PlaysConvertedOnAServerAtAnotherRate) {
    // Periods in order: jack_rec, late on a busy machine, must not record another period.
    test::PrivateJack jack(480, 48000, test::PrivateJack::Pacing::InOrder);
    TempDir dir;
    fs::create_directories(dir.path / "config" / "zelvox");
    std::ofstream(dir.path / "config" / "zelvox" / "ZLVX3.INI") << "[Audio]\nAPI=jack\n";
    const std::string exe = Quote(RendererPath());
    const std::string song = (dir.path / "s.zvx").string();
    {
        HeadlessProgram p;
        for (int s = 1; s <= 16; ++s) p.Form.Store.Step(1, s).BassPlay = 1;
        SavePatternFile(p.Form, p.Envelopes, song);
    }
    const fs::path ref = dir.path / "ref.wav", ref48 = dir.path / "ref48.wav";
    ASSERT_EQ(std::system(("timeout -k 5 300 " + exe + " " + Quote(song) + " --buffers 300 -o " +
                           Quote(ref.string())).c_str()), 0);
    ASSERT_TRUE(SoxConvert(ref, ref48, 48000));
    Listener ear; // only to find and ask the port
    ASSERT_NE(ear.Client, nullptr);
    std::atomic<int> status{-2};
    std::thread player([&] {
        const int raw = std::system(("XDG_CONFIG_HOME=" + Quote((dir.path / "config").string()) +
                                     " timeout -k 5 60 " + exe + " --play " + Quote(song) +
                                     " --buffers 300 --start-delay 1500 2>/dev/null").c_str());
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    });
    const std::string port = "zelvox:outport 0";
    jack_port_t* p = nullptr;
    for (int i = 0; i < 1000 && !p && status == -2; ++i) {
        p = jack_port_by_name(ear.Client, port.c_str());
        if (!p) ::usleep(10000);
    }
    ASSERT_NE(p, nullptr) << "the program's port never appeared";
    ::usleep(300000); // the client active and its latency worked out
    jack_recompute_total_latencies(ear.Client);
    ::usleep(100000);
    jack_latency_range_t range{};
    jack_port_get_latency_range(p, JackCaptureLatency, &range);
    const std::string rec = (dir.path / "rec.wav").string();
    (void)std::system(("timeout -k 5 30 jack_rec -f " + Quote(rec) + " -d 6 -b 16 " + Quote(port) +
                       " >/dev/null 2>&1").c_str());
    player.join();
    ASSERT_EQ(status.load(), 0);
    EXPECT_GT(range.min, 0u) << "the converter's delay is told on the port";
    EXPECT_EQ(range.min, range.max);

    // Aligned where the sound begins (the converter rings a little before: search near it).
    const std::vector<int16_t> got = WavSamples(rec), want = WavSamples(ref48);
    auto onset = [](const std::vector<int16_t>& s) {
        size_t i = 0;
        while (i < s.size() && std::abs(int(s[i])) < 2000) ++i;
        return i;
    };
    const size_t g0 = onset(got), w0 = onset(want), n = 48000 * 2;
    ASSERT_LT(g0 + n + 64, got.size()) << "the recording is too short or silent";
    ASSERT_LT(w0 + 64 + n, want.size());
    // From 64 frames after the onsets, with the onset found to within a few frames either way.
    const std::vector<int16_t> tail(want.begin() + long(w0 + 64), want.end());
    double best = 0.0;
    for (int shift = -32; shift <= 32; ++shift)
        best = std::min(best, RmsDifferenceDb(got, size_t(int(g0 + 64) + shift), tail, n));
    std::printf("at 48 kHz: the port tells %u frames, the recording is %.1f dBFS RMS off the "
                "converted render\n", range.min, best);
    EXPECT_LT(best, -60.0) << "the recording differs from the converted render";
}

namespace {

// What `zelvox-render --play --live --follow-transport SONG` plays on a private server at
// `rate`, by transport frame from the transport's start at 0 (3 s), and the latency its port
// tells. The server runs its periods in order: a period the machine makes late is late, not
// run again over a client still in it.
std::vector<int16_t> LiveTape(int rate, const std::string& song, const fs::path& config,
                              uint32_t& latency) {
    test::PrivateJack jack(256, rate, test::PrivateJack::Pacing::InOrder);
    Listener ear;
    if (!ear.Client) return {};
    jack_transport_stop(ear.Client);
    jack_transport_locate(ear.Client, 0);
    std::atomic<int> status{-2};
    std::thread player([&] {
        const int raw = std::system(("XDG_CONFIG_HOME=" + Quote(config.string()) + " timeout -k 5 60 " +
                                     Quote(RendererPath()) + " --play --live --follow-transport " +
                                     Quote(song) + " --seconds 5 2>/dev/null").c_str());
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    });
    const bool heard = ear.Hear("zelvox:out");
    ::usleep(300000);
    jack_recompute_total_latencies(ear.Client);
    ::usleep(100000);
    jack_latency_range_t range{};
    if (heard) jack_port_get_latency_range(jack_port_by_name(ear.Client, "zelvox:out"), JackCaptureLatency, &range);
    latency = range.min;
    ear.RecordByTransportFrame(size_t(rate) * 3);
    if (heard) jack_transport_start(ear.Client);
    player.join();
    if (!heard || status != 0) return {};
    // The tape is written by the listener's JACK thread: closed, it writes no more.
    jack_client_close(ear.Client);
    ear.Client = nullptr;
    std::vector<int16_t> tape;
    for (float f : ear.Tape())
        tape.push_back(static_cast<int16_t>(std::lround(std::clamp(f, -1.0f, 1.0f) * 32767.0f)));
    return tape;
}

} // namespace

// The low-latency output on a server at 48 kHz, following the transport, plays what it plays
// at 44.1 kHz converted by sox, with every step on the transport's grid once the latency its
// port tells is taken off (within a frame: the best whole shift is the latency told).
TEST(JackRenderPlay, LivePlayOnAServerAtAnotherRateKeepsTheGrid) {
    TempDir dir;
    const std::string song = (dir.path / "s.zvx").string();
    {
        HeadlessProgram p;
        for (int s = 1; s <= 16; ++s) p.Form.Store.Step(1, s).BassPlay = (s % 3 != 0) ? 1 : 0;
        p.Form.MMWheel16.SetValue(3);
        SavePatternFile(p.Form, p.Envelopes, song);
    }
    uint32_t native = 0, latency = 0;
    const std::vector<int16_t> at44 = LiveTape(44100, song, dir.path, native);
    ASSERT_EQ(at44.size(), 44100u * 3) << "no sound at 44.1 kHz";
    EXPECT_EQ(native, 0u) << "nothing converted, nothing late";
    const std::vector<int16_t> at48 = LiveTape(48000, song, dir.path, latency);
    ASSERT_EQ(at48.size(), 48000u * 3) << "no sound at 48 kHz";
    ASSERT_GT(latency, 0u) << "the converter's delay is told on the port";
    // The 44.1 kHz tape converted by sox, without delay.
    const fs::path raw = dir.path / "44.raw", conv = dir.path / "48.wav";
    WriteAll(raw, std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(at44.data()),
                                       reinterpret_cast<const uint8_t*>(at44.data() + at44.size())));
    ASSERT_EQ(std::system(("timeout -k 5 60 sox -t raw -r 44100 -e signed -b 16 -c 1 " + Quote(raw.string()) +
                           " -r 48000 " + Quote(conv.string()) + " rate -v").c_str()), 0);
    const std::vector<int16_t> want = WavSamples(conv);
    const size_t n = 48000 * 2;
    ASSERT_GE(want.size(), n);
    const double off = RmsDifferenceDb(at48, latency, want, n);
    std::printf("low-latency output at 48 kHz: latency %u frames; %.1f dBFS RMS off the 44.1 kHz "
                "output converted, on the grid\n", latency, off);
    // A step lands at the synth frame nearest its grid time, so the sound can sit up to half a
    // synth frame off the converted 44.1 kHz sound (-52 dBFS here, a whole frame early -42).
    EXPECT_LT(off, -45.0);
    int best = 0;
    for (int shift = -3; shift <= 3; ++shift)
        if (RmsDifferenceDb(at48, latency + shift, want, n) < RmsDifferenceDb(at48, latency + best, want, n))
            best = shift;
    EXPECT_LE(std::abs(best), 1) << "the sound is " << best << " frames off the grid after the latency";
}
