// The RtAudio device on a real JACK server (the test command starts one, dummy back-end).
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "devices/AudioBackend.h"
#include "support/DeviceProbe.h"
#include "support/PrivateJack.h"

using namespace zelvox;
using zelvox::test::DeviceProbe;
using zelvox::test::PrivateJack;

namespace {

WaveOutFormat Mono16() { return WaveOutFormat{1, 1, 44100, 16}; }

} // namespace

TEST(JackDevice, PlaysWrittenBuffersInOrderInRealTimeWithoutUnderrun) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    std::string what;
    auto sys = CreateWaveOutSystem({"auto", "", "zelvox_dev_" + std::to_string(::getpid())}, &what);
    EXPECT_EQ(what, "JACK");
    ASSERT_GE(sys->GetNumDevs(), 1);
    WaveOutCaps caps;
    ASSERT_EQ(sys->GetDevCaps(0, caps), kMmsyserrNoError);
    EXPECT_EQ(caps.Name.rfind("JACK: ", 0), 0u) << caps.Name;
    EXPECT_NE(caps.Formats & kWaveFormat4M16, 0u);
    auto dev = sys->CreateDevice(0);
    ASSERT_EQ(dev->QueryFormat(Mono16()), kMmsyserrNoError);
    EXPECT_NE(dev->QueryFormat(WaveOutFormat{1, 1, 22050, 16}), kMmsyserrNoError);
    DeviceProbe probe;
    ASSERT_EQ(dev->Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    ASSERT_TRUE(probe.WaitFor(kWomOpen, 1, 2000));
    std::vector<std::vector<int16_t>> bufs(100, std::vector<int16_t>(441, 1000));
    dev->Pause();
    for (auto& b : bufs)
        ASSERT_EQ(dev->Write(&b, reinterpret_cast<uint8_t*>(b.data()), 882), kMmsyserrNoError);
    auto t0 = std::chrono::steady_clock::now();
    dev->Restart();
    ASSERT_TRUE(probe.WaitFor(kWomDone, 100, 5000));
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(900)); // one second of sound
    auto tokens = probe.DoneTokens();
    for (size_t i = 0; i < tokens.size(); ++i) EXPECT_EQ(tokens[i], &bufs[i]);
    EXPECT_EQ(dev->Underruns(), 0u);
    ASSERT_EQ(dev->Close(), kMmsyserrNoError);
    EXPECT_EQ(probe.Count(kWomClose), 1u);
    EXPECT_EQ(probe.Count(kWomFailed), 0u);
}

TEST(JackDevice, ServerGoingAwayIsReportedAndNothingHangs) {
    PrivateJack jack;
    ASSERT_TRUE(JackServerRunning());
    auto sys = CreateWaveOutSystem({"jack", ""});
    auto dev = sys->CreateDevice(0);
    ASSERT_NE(dev, nullptr);
    DeviceProbe probe;
    ASSERT_EQ(dev->Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    std::vector<std::vector<int16_t>> bufs(300, std::vector<int16_t>(441, 500));
    for (auto& b : bufs) dev->Write(&b, reinterpret_cast<uint8_t*>(b.data()), 882);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 20, 3000));
    jack.Kill();
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(probe.WaitFor(kWomFailed, 1, 5000));
    EXPECT_NE(dev->Write(&bufs[0], reinterpret_cast<uint8_t*>(bufs[0].data()), 882),
              kMmsyserrNoError);
    EXPECT_EQ(dev->Reset(), kMmsyserrNoError);
    EXPECT_TRUE(probe.WaitFor(kWomDone, 300, 2000));
    EXPECT_EQ(dev->Close(), kMmsyserrNoError);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));
    EXPECT_EQ(probe.Count(kWomClose), 1u);
}
