#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <numeric>
#include <vector>

#include "devices/AudioBackend.h"
#include "devices/MessageQueue.h"
#include "devices/backends/ScriptedDevice.h"
#include "devices/backends/VirtualDevice.h"
#include "support/DeviceProbe.h"

using namespace zelvox;
using zelvox::test::DeviceProbe;

namespace {

WaveOutFormat Mono16() { return WaveOutFormat{1, 1, 44100, 16}; }

// Buffers of 441 samples whose every sample holds its buffer's number.
std::vector<std::vector<int16_t>> NumberedBuffers(int n) {
    std::vector<std::vector<int16_t>> b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) b[static_cast<size_t>(i)].assign(441, static_cast<int16_t>(i + 1));
    return b;
}

const uint8_t* Bytes(const std::vector<int16_t>& v) {
    return reinterpret_cast<const uint8_t*>(v.data());
}

} // namespace

TEST(VirtualDevice, ReturnsBuffersInOrderFromItsOwnThreadInRealTime) {
    VirtualWaveOutDevice dev;
    DeviceProbe probe;
    ASSERT_EQ(dev.Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    ASSERT_TRUE(probe.WaitFor(kWomOpen, 1, 2000));
    auto bufs = NumberedBuffers(20);
    ASSERT_EQ(dev.Pause(), kMmsyserrNoError);
    for (auto& b : bufs) ASSERT_EQ(dev.Write(&b, Bytes(b), 882), kMmsyserrNoError);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(probe.Count(kWomDone), 0u); // paused: queued, not played
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(dev.Restart(), kMmsyserrNoError);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 20, 3000));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(150)); // 200 ms of sound, not faster
    auto tokens = probe.DoneTokens();
    for (size_t i = 0; i < tokens.size(); ++i) EXPECT_EQ(tokens[i], &bufs[i]);
    {
        std::lock_guard g(probe.Lock);
        for (auto& n : probe.Notes) EXPECT_NE(n.Thread, std::this_thread::get_id());
    }
    uint64_t pos = 0;
    ASSERT_EQ(dev.GetPosition(pos), kMmsyserrNoError);
    EXPECT_EQ(pos, 20u * 441u);
    EXPECT_EQ(dev.Underruns(), 0u); // running dry after the last buffer is not an underrun
    ASSERT_EQ(dev.Close(), kMmsyserrNoError);
    EXPECT_EQ(probe.Count(kWomClose), 1u);
    EXPECT_EQ(dev.Write(&bufs[0], Bytes(bufs[0]), 882), kMmsyserrInvalHandle);
}

TEST(VirtualDevice, ResetReturnsEverythingAtOnceAndCloseRefusesWhileQueued) {
    VirtualWaveOutDevice dev;
    DeviceProbe probe;
    ASSERT_EQ(dev.Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    auto bufs = NumberedBuffers(100); // a second of sound
    for (auto& b : bufs) ASSERT_EQ(dev.Write(&b, Bytes(b), 882), kMmsyserrNoError);
    EXPECT_EQ(dev.Close(), kWaverrStillPlaying);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(dev.Reset(), kMmsyserrNoError);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 100, 1000));
    auto tokens = probe.DoneTokens();
    ASSERT_EQ(tokens.size(), 100u);
    for (size_t i = 0; i < tokens.size(); ++i) EXPECT_EQ(tokens[i], &bufs[i]);
    uint64_t pos = 1;
    dev.GetPosition(pos);
    EXPECT_LT(pos, 441u); // back to (nearly) zero
    ASSERT_EQ(dev.Close(), kMmsyserrNoError);
}

TEST(VirtualDevice, AGapBetweenBuffersIsAnUnderrun) {
    VirtualWaveOutDevice dev;
    DeviceProbe probe;
    ASSERT_EQ(dev.Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    auto bufs = NumberedBuffers(3);
    dev.Write(&bufs[0], Bytes(bufs[0]), 882);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 1, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // the queue runs dry
    dev.Write(&bufs[1], Bytes(bufs[1]), 882);
    dev.Write(&bufs[2], Bytes(bufs[2]), 882);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 3, 1000));
    EXPECT_EQ(dev.Underruns(), 1u);
    dev.Close();
}

TEST(VirtualDevice, AStalledStreamIsReportedAndItsBuffersStillComeBack) {
    VirtualWaveOutDevice dev;
    dev.SetWatchdog(1000, 200);
    DeviceProbe probe;
    ASSERT_EQ(dev.Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    auto bufs = NumberedBuffers(50);
    for (auto& b : bufs) dev.Write(&b, Bytes(b), 882);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 2, 1000));
    dev.SimulateStall(); // as when the sound server goes away
    ASSERT_TRUE(probe.WaitFor(kWomFailed, 1, 3000));
    EXPECT_EQ(dev.Write(&bufs[0], Bytes(bufs[0]), 882), kMmsyserrNoDriver);
    EXPECT_FALSE(dev.ErrorText(kMmsyserrNoDriver).empty());
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(dev.Reset(), kMmsyserrNoError);
    ASSERT_TRUE(probe.WaitFor(kWomDone, 50, 1000));
    ASSERT_EQ(dev.Close(), kMmsyserrNoError);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)); // no hang
    EXPECT_EQ(probe.Count(kWomClose), 1u);
}

TEST(ScriptedDevice, PlaysOnlyWhenToldAndKeepsTheBytes) {
    ScriptedWaveOutDevice dev;
    DeviceProbe probe;
    ASSERT_EQ(dev.Open(Mono16(), &DeviceProbe::Proc, &probe), kMmsyserrNoError);
    EXPECT_EQ(probe.Count(kWomOpen), 1u);
    auto bufs = NumberedBuffers(3);
    for (auto& b : bufs) dev.Write(&b, Bytes(b), 882);
    EXPECT_EQ(dev.Complete(2), 2u);
    EXPECT_EQ(dev.Played.size(), 2u * 882u);
    EXPECT_EQ(dev.Close(), kWaverrStillPlaying);
    dev.Reset();
    EXPECT_EQ(dev.Played.size(), 2u * 882u); // reset buffers are returned, not played
    EXPECT_EQ(probe.DoneTokens().size(), 3u);
    EXPECT_EQ(dev.Close(), kMmsyserrNoError);
}

TEST(AudioBackend, ChoiceComesFromTheAudioSectionAndVirtualAndNoneWork) {
    char tmpl[] = "/tmp/zelvox-backend-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    TSettingsFile f(std::string(tmpl) + "/ZLVX3.INI");
    AudioBackendChoice c = ReadAudioBackendChoice(f);
    EXPECT_EQ(c.Api, "auto");
    EXPECT_EQ(c.Device, "");
    WriteAudioBackendChoice(f, {"Virtual", ""});
    EXPECT_EQ(ReadAudioBackendChoice(f).Api, "virtual");
    std::string what;
    auto sys = CreateWaveOutSystem(ReadAudioBackendChoice(f), &what);
    EXPECT_EQ(what, "virtual");
    EXPECT_EQ(sys->GetNumDevs(), 1);
    WaveOutCaps caps;
    EXPECT_EQ(sys->GetDevCaps(0, caps), kMmsyserrNoError);
    EXPECT_EQ(caps.Name, VirtualWaveOutDevice::kName);
    EXPECT_NE(caps.Formats & kWaveFormat4M16, 0u);
    EXPECT_NE(sys->CreateDevice(0), nullptr);
    EXPECT_EQ(sys->CreateDevice(1), nullptr);
    auto none = CreateWaveOutSystem({"none", ""}, &what);
    EXPECT_EQ(what, "none");
    EXPECT_EQ(none->GetNumDevs(), 0);
    std::filesystem::remove_all(tmpl);
}

TEST(MessageQueue, HandlesInOrderRemovesAndKeepsWhatAThrowingHandlerLeft) {
    struct Target : MessageTarget {
        std::vector<uint32_t> Got;
        void HandleMessage(uint32_t msg, uintptr_t, uintptr_t) override {
            if (msg == 99) throw std::runtime_error("boom");
            Got.push_back(msg);
        }
    } a, b;
    MainThreadQueue q;
    std::thread poster([&] {
        q.Post(&a, 1, 0, 0);
        q.Post(&b, 2, 0, 0);
        q.Post(&a, 3, 0, 0);
        q.Post(&a, 1, 0, 0);
    });
    poster.join();
    EXPECT_EQ(q.RemovePending(&a, 1), 2u);
    EXPECT_EQ(q.ProcessPending(), 2u);
    EXPECT_EQ(a.Got, std::vector<uint32_t>{3});
    EXPECT_EQ(b.Got, std::vector<uint32_t>{2});
    q.Post(&a, 99, 0, 0);
    q.Post(&a, 4, 0, 0);
    EXPECT_THROW(q.ProcessPending(), std::runtime_error);
    EXPECT_EQ(q.PendingCount(), 1u);
    q.RemoveAll(&a);
    EXPECT_EQ(q.WaitAndProcess(10), 0u);
}
