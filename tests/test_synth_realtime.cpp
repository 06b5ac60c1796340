// What a host's audio thread may call on the synth allocates nothing, takes no lock and makes
// no system call. This program replaces the global allocation functions and the mutex lock
// to count them, and renders once more in a child process that the kernel kills on its
// first system call.

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sys/wait.h>
#include <vector>

#include "support/RealtimeProbe.h"
#include "synth/PatternSynth.h"

using namespace zelvox;

namespace {

// Everything a host does while audio runs: blocks of every size from 1 to 8,192 frames,
// every control turned (the echo's Delay and Depth rebuild it, the contours rebuild their
// curves, Steps and Tempo retime the clock), patterns chosen, the song switched on and
// played to its end, stop and start.
void HostSession(PatternSynth& synth, std::vector<int16_t>& buffer) {
    std::minstd_rand rng(7);
    constexpr std::array<uint32_t, 8> sizes = {1, 2, 63, 64, 441, 1000, 4096, 8192};
    synth.Start();
    for (int round = 0; round < 40; ++round) {
        synth.Render(buffer.data(), sizes[size_t(round) % sizes.size()]);
        const ControlRow& row = kControls[rng() % kControls.size()];
        synth.SetControl(row.Id, row.Min + int32_t(rng() % uint32_t(row.Max - row.Min + 1)));
        if (round % 7 == 3) synth.ChoosePattern(1 + int32_t(rng() % 16));
        synth.Render(buffer.data(), 1 + rng() % PatternSynth::kMaxFrames);
    }
    synth.SetControl(ControlId::Steps, 1);
    synth.SetSongMode(true); // stops
    synth.Start();           // phrase 1 plays pattern 1 once, then the song ends
    for (int i = 0; i < 20; ++i)
        synth.Render(buffer.data(), 4096);
    synth.Stop();
    synth.Render(buffer.data(), 500);
}

} // namespace

TEST(SynthRealTime, HostCallsAllocateNothingAndTakeNoLock) {
    PatternSynth synth; // construction and Activate may allocate
    synth.Activate();
    std::vector<int16_t> buffer(PatternSynth::kMaxFrames);
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&m); // resolve the real function before counting
    pthread_mutex_unlock(&m);

    // The counters see what they are meant to see.
    Counting = true;
    int* volatile probe = new int(1); // volatile: the pair must not be optimised away
    delete probe;
    pthread_mutex_lock(&m);
    pthread_mutex_unlock(&m);
    Counting = false;
    ASSERT_EQ(Allocations.exchange(0), 1);
    ASSERT_EQ(Locks.exchange(0), 1);

    Counting = true;
    HostSession(synth, buffer);
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_EQ(Locks.load(), 0);
}

TEST(SynthRealTime, HostCallsMakeNoSystemCall) {
    PatternSynth synth;
    synth.Activate();
    std::vector<int16_t> buffer(PatternSynth::kMaxFrames);

    // The filter kills a child that makes a system call.
    const int caught = UnderNoSyscallFilter([] { (void)getppid(); });
    if (WIFEXITED(caught) && WEXITSTATUS(caught) == 77)
        GTEST_SKIP() << "this machine does not allow a seccomp filter";
    ASSERT_TRUE(WIFSIGNALED(caught)) << "a system call under the filter went unnoticed";

    const int status = UnderNoSyscallFilter([&] { HostSession(synth, buffer); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the session made a system call (killed by signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
}
