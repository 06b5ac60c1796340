// The plugin in a real host on the private JACK server: jalv loads a project state that
// holds a pattern file, follows the JACK transport when it starts, and what jack_rec records
// from its output equals zelvox-render's output for the same file from the first sound on.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "devices/AudioBackend.h"
#include "files/PatternFileFormat.h"
#include "support/Lv2Host.h"
#include "support/PrivateJack.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"
#include "synth/PatternSynth.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// A pattern file as the program writes it: the start-up patterns with all voices on pattern
// 1 and the echo on; and a project of the plugin with it loaded, on the synth's own clock
// (the renderer's), in `dir`/state.
fs::path MakeSong(const fs::path& dir) {
    const fs::path song = dir / "song.zvx";
    PatternSynth s;
    for (int st = 1; st <= 16; ++st) {
        s.Store.Step(1, st).BassPlay = 1;
        s.Store.Step(1, st).TwinTPlay = st % 4 == 1;
        s.Store.Step(1, st).NoisePlay = st % 2 == 0;
    }
    s.SetControl(ControlId::Delay, 3);
    s.SetControl(ControlId::Depth, 50);
    WriteFileReplacing(song.string(), s.SaveState());
    Lv2Host host("https://zelvox.github.io/lv2/zelvox");
    EXPECT_TRUE(host.Ok());
    host.SetPort("step_clock", 1.0f);
    host.SendPath(0, "https://zelvox.github.io/lv2/zelvox#patternFile", song.string());
    host.Run(1);
    host.Run(1);
    EXPECT_TRUE(host.SaveStateDir((dir / "state").string()));
    return song;
}

// The JACK transport stopped at frame 0, with no bar, beat or tempo (locate alone keeps what
// the last timebase master wrote).
void Rewind(jack_client_t* ctl) {
    jack_transport_stop(ctl);
    jack_position_t zero{};
    jack_transport_reposition(ctl, &zero);
}

} // namespace

TEST(JackLv2Jalv, PlaysInJalvAsTheRendererWrites) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "jalv cannot load a plugin built with a sanitizer's runtime";
#endif
    // Periods in order: jack_rec, late on a busy machine, must not record another period.
    test::PrivateJack jack(441, 44100, test::PrivateJack::Pacing::InOrder);
    ASSERT_TRUE(test::PrivateJack::Ready());
    TempDir dir;
    const fs::path song = MakeSong(dir.path);
    constexpr int kBuffers = 300;
    const fs::path ref = dir.path / "ref.wav";
    ASSERT_EQ(std::system(("timeout -k 5 300 " + Quote(RendererPath()) + " " + Quote(song.string()) + " --buffers " +
                           std::to_string(kBuffers) + " -o " + Quote(ref.string())).c_str()),
              0);
    const std::vector<int16_t> reference = WavSamples(ref);

    const fs::path state = dir.path / "state";

    jack_client_t* ctl = jack_client_open("zelvox-jalv-test", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    Rewind(ctl);

    const std::string lv2Path = fs::path(Lv2BundleDir()).parent_path().string();
    const std::string log = (dir.path / "jalv.txt").string();
    std::atomic<bool> done{false};
    std::thread jalv([&] {
        const std::string cmd = "sleep 12 | LV2_PATH=" + Quote(lv2Path) +
                                " timeout -k 5 12 jalv -x -n zelvox-jalv -l " + Quote(state.string()) +
                                " >" + Quote(log) + " 2>&1";
        (void)std::system(cmd.c_str());
        done = true;
    });
    // Record from the plugin's output once it is there, then roll the transport.
    bool found = false;
    for (int i = 0; i < 300 && !found && !done; ++i) {
        found = jack_port_by_name(ctl, "zelvox-jalv:out") != nullptr;
        if (!found) ::usleep(20000);
    }
    ASSERT_TRUE(found) << "jalv's port never appeared";
    const std::string rec = (dir.path / "rec.wav").string();
    std::thread recorder([&] {
        (void)std::system(("timeout -k 5 30 jack_rec -f " + Quote(rec) + " -d 6 -b 16 zelvox-jalv:out >/dev/null 2>&1").c_str());
    });
    ::usleep(500000);
    jack_transport_start(ctl);
    recorder.join();
    jack_transport_stop(ctl);
    jack_client_close(ctl);
    jalv.join();

    const std::vector<int16_t> got = WavSamples(rec);
    const size_t r0 = LeadingSilence(got), e0 = LeadingSilence(reference);
    ASSERT_LT(r0, got.size()) << "the recording is silent";
    const size_t want = std::min(reference.size() - e0, got.size() - r0);
    ASSERT_GT(want, 44100u) << "less than a second was recorded after the start";
    const size_t firstDiff = FirstMismatch(got, r0, reference, e0, want);
    EXPECT_EQ(firstDiff, want) << "the recording differs from the render at sample " << firstDiff;
}

// "Run" on in jalv, the JACK transport stopped (jalv tells the plugin so at its start): the
// plugin plays on its own clock.
TEST(JackLv2Jalv, RunPlaysWithTheTransportStopped) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "jalv cannot load a plugin built with a sanitizer's runtime";
#endif
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    TempDir dir;
    MakeSong(dir.path);
    jack_client_t* ctl = jack_client_open("zelvox-jalv-run-test", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    Rewind(ctl);
    const std::string lv2Path = fs::path(Lv2BundleDir()).parent_path().string();
    std::thread jalv([&] {
        (void)std::system(("sleep 8 | LV2_PATH=" + Quote(lv2Path) + " timeout -k 5 8 jalv -x -n zelvox-jalv-run -c run=1 -l " +
                           Quote((dir.path / "state").string()) + " >" + Quote((dir.path / "jalv.txt").string()) + " 2>&1")
                              .c_str());
    });
    bool found = false;
    for (int i = 0; i < 300 && !found; ++i) {
        found = jack_port_by_name(ctl, "zelvox-jalv-run:out") != nullptr;
        if (!found) ::usleep(20000);
    }
    const std::string rec = (dir.path / "rec.wav").string();
    const int recorded = found ? std::system(("timeout -k 5 30 jack_rec -f " + Quote(rec) +
                                              " -d 2 -b 16 zelvox-jalv-run:out >/dev/null 2>&1").c_str())
                               : -1;
    const bool stopped = jack_transport_query(ctl, nullptr) == JackTransportStopped;
    jack_client_close(ctl);
    jalv.join();
    ASSERT_TRUE(found) << "jalv's port never appeared";
    ASSERT_EQ(recorded, 0);
    EXPECT_TRUE(stopped);
    const std::vector<int16_t> got = WavSamples(rec);
    EXPECT_LT(LeadingSilence(got), got.size()) << "silent with Run on and the transport stopped";
}
