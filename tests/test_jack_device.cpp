// The RtAudio device on a real JACK server (the test command starts one, dummy back-end).
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "audio/AudioBackend.h"
#include "support/DeviceProbe.h"

using namespace zelvox;
using zelvox::test::DeviceProbe;

namespace {

WaveOutFormat Mono16() { return WaveOutFormat{1, 1, 44100, 16}; }

// A JACK server of our own, to be killed while a client plays.
class PrivateJack {
public:
    PrivateJack() {
        Name_ = "zelvox_die_" + std::to_string(::getpid());
        Pid_ = Spawn(Name_);
        const char* old = std::getenv("JACK_DEFAULT_SERVER");
        Saved_ = old ? old : "";
        HadOld_ = old != nullptr;
        ::setenv("JACK_DEFAULT_SERVER", Name_.c_str(), 1);
        for (int i = 0; i < 100 && !JackServerRunning(); ++i) ::usleep(50000);
    }
    ~PrivateJack() {
        Kill();
        // A server stopped while a client still played can leave its entry in JACK's server
        // registry (which holds only eight). Starting and cleanly stopping a server of the
        // same name reclaims the entry.
        pid_t again = Spawn(Name_);
        for (int i = 0; i < 100 && !JackServerRunning(); ++i) ::usleep(50000);
        ::kill(again, SIGTERM);
        ::waitpid(again, nullptr, 0);
        if (HadOld_) ::setenv("JACK_DEFAULT_SERVER", Saved_.c_str(), 1);
        else ::unsetenv("JACK_DEFAULT_SERVER");
    }
    // Stops the server as a user would (a crash leaves its shared-memory files behind, and
    // JACK refuses new servers once too many are registered).
    void Kill() {
        if (Pid_ > 0) {
            ::kill(Pid_, SIGTERM);
            ::waitpid(Pid_, nullptr, 0);
            Pid_ = -1;
        }
    }

private:
    static pid_t Spawn(const std::string& name) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("jackd", "jackd", "-n", name.c_str(), "-d", "dummy", "-r", "44100", "-p",
                     "441", "-C", "0", "-P", "1", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    std::string Name_, Saved_;
    bool HadOld_ = false;
    pid_t Pid_ = -1;
};

} // namespace

TEST(JackDevice, PlaysWrittenBuffersInOrderInRealTimeWithoutUnderrun) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    std::string what;
    auto sys = CreateWaveOutSystem({"auto", ""}, &what);
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
