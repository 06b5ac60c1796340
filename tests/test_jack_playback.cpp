// The whole chain played in real time through RtAudio on a real JACK server, recorded by
// jack_rec, must equal what the same chain produces offline, sample for sample.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include <unistd.h>

#include "devices/AudioBackend.h"
#include "audio/HeadlessPlay.h"
#include "audio/MMDSPMtr.h"
#include "devices/backends/ScriptedDevice.h"
#include "program/RecordToWav.h"
#include "support/PlaybackRig.h"
#include "support/PrivateJack.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
using zelvox::test::PlaybackRig;
using zelvox::test::PrivateJack;

namespace {

// The chain's output for N buffers, through the same TMMWaveOut on a scripted device.
std::vector<int16_t> RenderOffline(int buffers) {
    ScriptedWaveOutSystem sys;
    MainThreadQueue q;
    PlaybackRig rig(&sys, &q);
    rig.MMWaveOut2.Start();
    while (sys.Last->Played.size() < size_t(buffers) * 882) {
        sys.Last->Complete(1);
        while (q.ProcessPending() > 0) {
        }
    }
    const std::vector<uint8_t> b = sys.Last->Played; // the device goes away at Close
    rig.MMWaveOut2.Close();
    std::vector<int16_t> s(size_t(buffers) * 441);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(uint16_t(b[2 * i] | (b[2 * i + 1] << 8)));
    return s;
}

bool PortExists(const std::string& port) {
    FILE* f = ::popen("timeout -k 5 20 jack_lsp 2>/dev/null", "r");
    if (!f) return false;
    char line[512];
    bool found = false;
    while (fgets(line, sizeof line, f))
        if (std::string(line).rfind(port, 0) == 0) found = true;
    ::pclose(f);
    return found;
}

} // namespace

// The server runs its periods in order: a period a busy machine makes late must not be run
// again over a client still in it (jack_rec would record another period's sound there).
TEST(JackPlayback, RecordingEqualsTheOfflineRenderSampleForSample) {
    PrivateJack jack(441, 44100, PrivateJack::Pacing::InOrder);
    ASSERT_TRUE(PrivateJack::Ready());
    constexpr int kBuffers = 400; // 4 s
    const std::vector<int16_t> reference = RenderOffline(kBuffers);

    const std::string client = "zelvox_e2e_" + std::to_string(::getpid());
    const std::string port = client + ":outport 0";
    const std::string wav = std::filesystem::temp_directory_path() / (client + ".wav");
    auto sys = CreateWaveOutSystem({"jack", "", client});
    MainThreadQueue queue;
    TMMDSPMeter meter;
    PlaybackRig rig(sys.get(), &queue);
    std::thread recorder([&] {
        for (int i = 0; i < 200 && !PortExists(port); ++i) ::usleep(20000);
        std::string cmd = "timeout -k 5 30 jack_rec -f '" + wav + "' -d 7 -b 16 '" + port + "' >/dev/null 2>&1";
        (void)std::system(cmd.c_str());
    });
    HeadlessPlayOptions opt;
    opt.MaxBuffers = kBuffers;
    opt.StartDelayMs = 1500;
    HeadlessPlayResult res = PlayHeadless(rig.MMWaveOut2, queue, opt);
    recorder.join();
    ASSERT_TRUE(res.Ok) << res.Error;
    EXPECT_GE(res.BuffersPlayed, kBuffers);
    EXPECT_EQ(res.Underruns, 0u);
    std::printf("DSP usage while playing: mean %.1f%%, peak %d%%; server xruns %llu\n",
                res.MeanDspUsage, res.PeakDspUsage, (unsigned long long)res.ServerXruns);

    std::vector<int16_t> rec = WavSamples(wav);
    std::filesystem::remove(wav);
    const size_t r0 = LeadingSilence(rec), e0 = LeadingSilence(reference);
    ASSERT_LT(r0, rec.size()) << "the recording is silent";
    const size_t want = reference.size() - e0;
    ASSERT_GE(rec.size() - r0, want) << "the recording is shorter than what was played";
    const size_t firstDiff = FirstMismatch(rec, r0, reference, e0, want);
    EXPECT_EQ(firstDiff, want) << "recording differs from the offline render at sample "
                               << firstDiff << " of " << want;
}

TEST(JackPlayback, ServerGoingAwayEndsPlaybackWithAnErrorAndAValidRecording) {
    PrivateJack jack;
    ASSERT_TRUE(JackServerRunning());
    const std::string wav =
        std::filesystem::temp_directory_path() / ("zelvox_die_" + std::to_string(::getpid()) + ".wav");
    auto sys = CreateWaveOutSystem({"jack", ""});
    MainThreadQueue queue;
    PlaybackRig rig(sys.get(), &queue);
    rig.MMWaveFile1.Wave().SetFileMustExist(false);
    WavRecorder recorder(rig.MMWaveOut2, rig.MMWaveFile1);
    recorder.Arm(wav); // record to WAV while playing
    std::thread killer([&] {
        ::usleep(2000000);
        jack.Kill();
    });
    auto t0 = std::chrono::steady_clock::now();
    HeadlessPlayResult res = PlayHeadless(rig.MMWaveOut2, queue, HeadlessPlayOptions{});
    auto took = std::chrono::steady_clock::now() - t0;
    killer.join();
    EXPECT_FALSE(res.Ok);
    EXPECT_TRUE(SaysTheServerWentAway(res.Error)) << res.Error;
    EXPECT_LT(took, std::chrono::seconds(8)); // no hang
    EXPECT_EQ(rig.MMWaveOut2.State(), wosClosed);
    EXPECT_GT(res.BuffersPlayed, 100);

    // The recording was finalised: RIFF and data sizes agree with the file.
    std::ifstream in(wav, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(wav);
    ASSERT_GT(d.size(), 44u);
    auto u32 = [&](size_t p) { return d[p] | d[p + 1] << 8 | d[p + 2] << 16 | uint32_t(d[p + 3]) << 24; };
    EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "RIFF");
    EXPECT_EQ(u32(4), d.size() - 8);
    EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 12), "WAVE");
    size_t p = 12, dataBytes = 0;
    while (p + 8 <= d.size()) {
        uint32_t len = u32(p + 4);
        if (std::string(d.begin() + long(p), d.begin() + long(p) + 4) == "data") dataBytes = len;
        p += 8 + len + (len & 1);
    }
    EXPECT_EQ(p, d.size());
    EXPECT_EQ(dataBytes, size_t(res.BuffersPlayed) * 882);
}
