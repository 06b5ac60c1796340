// MIDI clock in and out. In: the synth follows 24-pulse clock, each step beginning at exactly
// the frame of its sixth pulse in any block size and across tempo jumps, and Start, Stop,
// Continue and Song Position Pointer land on the right step. Out: pulses at exact frames
// with no drift over ten minutes, Start with its first pulse. Both allocate nothing, take no
// lock and make no system call per block.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <map>
#include <sys/wait.h>
#include <vector>

#include "support/RealtimeProbe.h"
#include "synth/MidiClockFollow.h"
#include "synth/LiveSynth.h"
#include "synth/MidiClockSend.h"

using namespace zelvox;

namespace {

constexpr uint8_t kClock = 0xF8, kStart = 0xFA, kContinue = 0xFB, kStop = 0xFC, kSpp = 0xF2;

double PulseFrames(double bpm) {
    return 60.0 * 44100.0 / (bpm * 24.0);
}

// A follower fed messages at absolute frames and rendered in fixed blocks; records the step
// starts at absolute frames and every sample.
struct FollowRig {
    explicit FollowRig(uint32_t block) : Block(block) { Follow.SetFollowing(true); }
    PatternSynth Synth;
    MidiClockFollow Follow{Synth};
    uint32_t Block;
    uint64_t Frame = 0;
    std::multimap<uint64_t, std::vector<uint8_t>> Pending; // in order within a frame
    struct Start {
        uint64_t Frame;
        int32_t Step, Pattern;
    };
    std::vector<Start> Starts;
    std::vector<int16_t> Audio;

    // A transport message goes before a pulse at the same frame, as a sender puts Start
    // before its first pulse.
    void At(uint64_t frame, std::initializer_list<uint8_t> msg) {
        Pending.emplace_hint(Pending.lower_bound(frame), frame, msg);
    }
    void Clock(uint64_t frame) { Pending.emplace(frame, std::vector<uint8_t>{kClock}); }
    void RunTo(uint64_t end) {
        std::vector<int16_t> out(Block);
        while (Frame < end) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(Block, end - Frame));
            while (!Pending.empty() && Pending.begin()->first < Frame + n) {
                const auto& [f, m] = *Pending.begin();
                ASSERT_GE(f, Frame) << "a message was queued for a block already played";
                EXPECT_TRUE(Follow.Message(uint32_t(f - Frame), m.data(), m.size()));
                Pending.erase(Pending.begin());
            }
            Follow.Render(out.data(), n);
            for (size_t i = 0; i < Follow.StepStartCount(); ++i) {
                const StepStart& s = Follow.StepStarts()[i];
                Starts.push_back({Frame + s.Frame, s.Step, s.Pattern});
            }
            Audio.insert(Audio.end(), out.begin(), out.begin() + n);
            Frame += n;
        }
    }
    bool SilentBetween(uint64_t a, uint64_t b) const {
        return std::all_of(Audio.begin() + long(a), Audio.begin() + long(b),
                           [](int16_t s) { return s == 0; });
    }
};

// Pulse frames from `first`, at `bpm`, then `bpm2` from pulse `jumpAt` on.
std::vector<uint64_t> Pulses(uint64_t first, size_t count, double bpm, double bpm2 = 0,
                             size_t jumpAt = SIZE_MAX) {
    std::vector<uint64_t> f;
    double t = double(first);
    for (size_t k = 0; k < count; ++k) {
        f.push_back(uint64_t(std::llround(t)));
        t += PulseFrames(k + 1 >= jumpAt ? bpm2 : bpm);
    }
    return f;
}

} // namespace

TEST(MidiClockFollow, EveryStepBeginsAtItsSixthPulseAtAnyTempoAndBlockSize) {
    struct Script {
        double Bpm, Bpm2;
    };
    for (Script s : {Script{60, 0}, Script{120, 0}, Script{240, 0}, Script{120, 200},
                     Script{200, 90}}) {
        for (uint32_t block : {64u, 441u}) {
            SCOPED_TRACE(testing::Message() << s.Bpm << " -> " << s.Bpm2 << " BPM, blocks of "
                                            << block);
            // 30 pulses of clock before Start, then 40 steps; a jump in the middle of step 20.
            const size_t jump = s.Bpm2 > 0 ? 30 + 6 * 20 + 3 : SIZE_MAX;
            const std::vector<uint64_t> p = Pulses(777, 30 + 6 * 40 + 1, s.Bpm, s.Bpm2, jump);
            FollowRig rig(block);
            for (uint64_t f : p)
                rig.Clock(f);
            rig.At(p[30], {kStart}); // Start, then its first pulse at the same frame
            rig.RunTo(p[30]);
            EXPECT_TRUE(rig.Starts.empty());
            if (s.Bpm2 == 0) {
                EXPECT_NEAR(rig.Follow.Bpm(), s.Bpm, s.Bpm * 1e-3);
            }
            rig.RunTo(p.back() + 1);

            ASSERT_EQ(rig.Starts.size(), 41u);
            for (size_t k = 0; k < rig.Starts.size(); ++k) {
                EXPECT_EQ(rig.Starts[k].Frame, p[30 + 6 * k]) << "step " << k;
                EXPECT_EQ(rig.Starts[k].Step, int32_t(k % 16) + 1);
                EXPECT_EQ(rig.Starts[k].Pattern, 1);
            }
            EXPECT_TRUE(rig.SilentBetween(0, p[30]));
            EXPECT_FALSE(rig.SilentBetween(p[30], p[36])) << "step 1 sounds";
            const double now = s.Bpm2 > 0 ? s.Bpm2 : s.Bpm;
            EXPECT_NEAR(rig.Follow.Bpm(), now, now * 1e-3);
            EXPECT_NEAR(rig.Synth.Eng.S.StepLength, 6 * PulseFrames(now), 1.0);
        }
    }
}

TEST(MidiClockFollow, TempoFollowsAJumpWithinAFewPulsesAndIgnoresOneLatePulse) {
    PatternSynth synth;
    MidiClockFollow follow(synth);
    follow.SetFollowing(true);
    std::vector<int16_t> out(PatternSynth::kMaxFrames);
    const uint8_t clock = kClock;
    auto pulseAfter = [&](uint32_t frames) {
        follow.Render(out.data(), frames);
        follow.Message(0, &clock, 1);
    };
    follow.Message(0, &clock, 1);
    for (int i = 0; i < 48; ++i)
        pulseAfter(i % 2 ? 918 : 919); // 120 BPM: 918.75 frames a pulse, jittering a frame
    EXPECT_NEAR(follow.Bpm(), 120.0, 0.1);
    pulseAfter(918 + 300); // one pulse 7 ms late...
    pulseAfter(919 - 300); // ...and the next on time
    pulseAfter(919);
    EXPECT_NEAR(follow.Bpm(), 120.0, 0.1);
    pulseAfter(918 + 400); // one pulse late, then a lost one
    pulseAfter(2 * 919);
    pulseAfter(919);
    EXPECT_NEAR(follow.Bpm(), 120.0, 0.1);

    pulseAfter(551); // 200 BPM: 551.25 frames
    pulseAfter(551);
    pulseAfter(552);
    follow.Render(out.data(), 1);
    EXPECT_NEAR(follow.Bpm(), 200.0, 0.5) << "within three pulses of the jump";
    EXPECT_EQ(follow.StepLength(), 3308);
    for (int i = 0; i < 24; ++i) // the first one frame shorter: one was rendered above
        pulseAfter(i % 4 ? 551 : 552 - (i == 0));
    follow.Render(out.data(), 1);
    EXPECT_NEAR(follow.Bpm(), 200.0, 0.01);
}

TEST(MidiClockFollow, StartStopContinueAndSongPositionLandOnTheirSteps) {
    FollowRig rig(441);
    const std::vector<uint64_t> p = Pulses(100, 1200, 120);
    for (uint64_t f : p)
        rig.Clock(f);
    auto startsFrom = [&](size_t from) {
        return std::vector<FollowRig::Start>(rig.Starts.begin() + long(from), rig.Starts.end());
    };

    rig.At(p[12], {kStart});
    const uint64_t stopAt = p[12 + 6 * 20 + 3] + 100; // three pulses into step 21
    rig.At(stopAt, {kStop});
    rig.RunTo(stopAt + 1);
    ASSERT_EQ(rig.Starts.size(), 21u);
    EXPECT_EQ(rig.Starts.back().Step, 5);
    EXPECT_FALSE(rig.Synth.Playing());

    // Continue between pulses: the clock counts on from pulse 124 (pulses 0..123 came
    // before Stop), so step 22 (pulse 126) begins with the third pulse after it.
    const size_t cont = 12 + 6 * 20 + 3 + 40;
    rig.At(p[cont] - 50, {kContinue});
    rig.RunTo(p[cont + 3]);
    EXPECT_TRUE(rig.SilentBetween(stopAt, p[cont + 2])) << "Stop silences until the step";
    ASSERT_EQ(rig.Starts.size(), 22u);
    EXPECT_EQ(rig.Starts.back().Frame, p[cont + 2]);
    EXPECT_EQ(rig.Starts.back().Step, 6);

    // Stop, Song Position Pointer 43 (0x2B, 0x00), Continue: step 43 (step 12 of the pass).
    rig.At(p[cont + 10] + 3, {kStop});
    rig.At(p[cont + 20] + 3, {kSpp, 43, 0});
    rig.At(p[cont + 30], {kContinue});
    rig.RunTo(p[cont + 30] + 1);
    ASSERT_EQ(rig.Starts.size(), 24u);
    EXPECT_EQ(rig.Starts.back().Frame, p[cont + 30]);
    EXPECT_EQ(rig.Starts.back().Step, 12);
    EXPECT_EQ(rig.Follow.NextPulse(), 43u * 6 + 1);

    // Start while playing: step 1 at the next pulse.
    rig.At(p[cont + 33] + 1, {kStart});
    rig.RunTo(p[cont + 35]);
    EXPECT_EQ(rig.Starts.back().Frame, p[cont + 34]);
    EXPECT_EQ(rig.Starts.back().Step, 1);

    // Song mode, phrases: pattern 2 twice, pattern 3, pattern 5, end. A position of 40
    // (0x28, high byte 0) is step 9 of pattern 3, and the song ends at the clock's pace.
    const size_t song = cont + 60;
    rig.At(p[song], {kStop});
    rig.RunTo(p[song] + 1);
    rig.Synth.SetSongMode(true);
    rig.Synth.Seq.Phrases[1] = {2, 2};
    rig.Synth.Seq.Phrases[2] = {3, 1};
    rig.Synth.Seq.Phrases[3] = {5, 1};
    rig.Synth.Seq.Phrases[4] = {0, 0};
    rig.At(p[song + 2], {kSpp, 40, 0});
    rig.At(p[song + 6], {kContinue});
    size_t before = rig.Starts.size();
    rig.RunTo(p[song + 6 + 6 * 30]);
    const auto played = startsFrom(before);
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played[0].Frame, p[song + 6]);
    EXPECT_EQ(played[0].Step, 9);
    EXPECT_EQ(played[0].Pattern, 3);
    EXPECT_EQ(played.back().Pattern, 5) << "the last phrase plays before the end";
    EXPECT_FALSE(rig.Synth.Playing()) << "the song ended";
    EXPECT_TRUE(rig.Follow.Running()) << "while the clock still runs";
    EXPECT_TRUE(rig.SilentBetween(played.back().Frame + 6 * 919, rig.Frame));

    // A high Song Position Pointer byte counts 128 sixteenths: 1 * 128 + 5 = 133.
    rig.At(p[song + 200], {kStop});
    rig.At(p[song + 201] + 1, {kSpp, 5, 1});
    rig.At(p[song + 202] + 1, {kContinue});
    rig.RunTo(p[song + 203] + 1);
    EXPECT_EQ(rig.Follow.NextPulse(), 133u * 6 + 1);
}

TEST(MidiClockFollow, RefusesWhatItCannotTakeAndCountsOverflow) {
    PatternSynth synth;
    MidiClockFollow follow(synth);
    const uint8_t clock = kClock;
    EXPECT_FALSE(follow.Message(0, &clock, 1)) << "not following yet";
    follow.SetFollowing(true);
    const uint8_t shortSpp[] = {kSpp, 3};
    const uint8_t badSpp[] = {kSpp, 0x80, 0};
    const uint8_t note[] = {0x90, 60, 100};
    EXPECT_FALSE(follow.Message(0, shortSpp, sizeof shortSpp));
    EXPECT_FALSE(follow.Message(0, badSpp, sizeof badSpp));
    EXPECT_FALSE(follow.Message(0, note, sizeof note));
    EXPECT_FALSE(follow.Message(0, nullptr, 1));
    // Past the block's end: at its last frame; earlier than the message before: at its frame.
    const uint8_t start = kStart;
    EXPECT_TRUE(follow.Message(5000, &start, 1));
    EXPECT_TRUE(follow.Message(10, &clock, 1));
    EXPECT_TRUE(follow.Message(11, &clock, 1));
    std::vector<int16_t> out(PatternSynth::kMaxFrames);
    follow.Render(out.data(), 64);
    EXPECT_TRUE(follow.Running());
    EXPECT_EQ(follow.NextPulse(), 2u);
    ASSERT_EQ(follow.StepStartCount(), 1u);
    EXPECT_EQ(follow.StepStarts()[0].Frame, 63u);

    for (size_t i = 0; i < MidiClockFollow::kMaxMessages + 9; ++i)
        follow.Message(uint32_t(i), &clock, 1);
    EXPECT_EQ(follow.Dropped(), 9u);
    follow.Render(out.data(), 1000);
    EXPECT_EQ(follow.NextPulse(), 2u + MidiClockFollow::kMaxMessages);

    follow.SetFollowing(false);
    EXPECT_FALSE(synth.ExternalStepClock());
}

namespace {

struct Sent {
    uint64_t Frame;
    ClockMessage M;
};

// Runs a sender for `frames` frames in periods cycling through `periods`, with requests
// made by `ask(periodStart, periodFrames)` before each period.
template <class Ask>
std::vector<Sent> RunSender(MidiClockSend& send, uint64_t& now, uint64_t frames,
                            std::initializer_list<uint32_t> periods, Ask ask) {
    std::vector<Sent> all;
    size_t i = 0;
    const uint64_t end = now + frames;
    while (now < end) {
        const uint32_t n =
            uint32_t(std::min<uint64_t>(*(periods.begin() + i++ % periods.size()), end - now));
        ask(now, n);
        send.Period(n);
        for (size_t k = 0; k < send.MessageCount(); ++k) {
            const ClockMessage& m = send.Messages()[k];
            EXPECT_LT(m.Frame, n);
            all.push_back({now + m.Frame, m});
        }
        now += n;
    }
    return all;
}

} // namespace

TEST(MidiClockSend, PulsesSitAtExactFramesForTenMinutesAndStartWithTheFirst) {
    MidiClockSend send;
    send.SetTempo(123.4);
    const double interval = PulseFrames(123.4); // 428.85... frames
    uint64_t now = 0;
    const uint64_t startAt = 441 + 64 + 17;
    const uint64_t tenMinutes = 600ull * 44100;
    auto ask = [&](uint64_t at, uint32_t n) {
        if (startAt >= at && startAt < at + n) send.Start(uint32_t(startAt - at));
    };
    const std::vector<Sent> out = RunSender(send, now, startAt + tenMinutes, {64, 441, 1000, 7}, ask);

    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0].M.Bytes[0], kStart);
    EXPECT_EQ(out[0].Frame, startAt);
    const size_t pulses = out.size() - 1;
    EXPECT_EQ(pulses, size_t(std::floor(double(tenMinutes - 1) / interval)) + 1);
    for (size_t k = 0; k < pulses; ++k) {
        const Sent& s = out[k + 1];
        ASSERT_EQ(s.M.Bytes[0], kClock);
        ASSERT_EQ(s.M.Size, 1);
        // Within one frame after the exact time (0.023 ms), so pulse-to-pulse jitter is
        // under one frame and nothing drifts.
        const long double exact = (long double)startAt + (long double)k * 60 * 44100 / (123.4L * 24);
        ASSERT_GE((long double)s.Frame, exact - 1e-6L) << "pulse " << k;
        ASSERT_LT((long double)s.Frame, exact + 1.0L) << "pulse " << k;
    }

    // Stop between pulses; no pulse after it. Continue: 0xFB with the next pulse, the
    // position counting on, the interval unchanged.
    const uint64_t stopAt = now + 1000, contAt = now + 50000;
    const uint64_t pulsesSent = send.NextPulse();
    auto ask2 = [&](uint64_t at, uint32_t n) {
        if (stopAt >= at && stopAt < at + n) send.Stop(uint32_t(stopAt - at));
        if (contAt >= at && contAt < at + n) send.Continue(uint32_t(contAt - at));
    };
    const std::vector<Sent> more = RunSender(send, now, 60000, {441}, ask2);
    auto stop = std::find_if(more.begin(), more.end(), [](const Sent& s) { return s.M.Bytes[0] == kStop; });
    ASSERT_NE(stop, more.end());
    EXPECT_EQ(stop->Frame, stopAt);
    auto cont = stop + 1;
    ASSERT_NE(cont, more.end());
    EXPECT_EQ(cont->M.Bytes[0], kContinue) << "no pulse while stopped";
    EXPECT_EQ(cont->Frame, contAt);
    ASSERT_NE(cont + 1, more.end());
    EXPECT_EQ((cont + 1)->Frame, contAt);
    const size_t after = size_t(more.end() - cont) - 1;
    EXPECT_EQ(send.NextPulse(), pulsesSent + size_t(stop - more.begin()) + after);
    EXPECT_NEAR(double(more.back().Frame - contAt), double(after - 1) * interval, 1.0);

    // A tempo change: the next pulse follows the last one by the new interval.
    send.SetTempo(90.0);
    const uint64_t lastPulse = more.back().Frame;
    const std::vector<Sent> slower = RunSender(send, now, 20000, {64}, [](uint64_t, uint32_t) {});
    ASSERT_GE(slower.size(), 2u);
    EXPECT_NEAR(double(slower[0].Frame - lastPulse), PulseFrames(90), 1.0);
    EXPECT_NEAR(double(slower.back().Frame - slower[0].Frame),
                double(slower.size() - 1) * PulseFrames(90), 1.0);
}

TEST(MidiClockSend, AnotherSynthFollowsTheClockItSends) {
    // Sender to follower, period by period, as two programs on one JACK server would be.
    MidiClockSend send;
    send.SetTempo(123.4);
    PatternSynth synth;
    MidiClockFollow follow(synth);
    follow.SetFollowing(true);
    std::vector<int16_t> out(441);
    std::vector<uint64_t> pulses, steps;
    uint64_t now = 0;
    const uint64_t startAt = 44100 + 10, stopAt = 10 * 44100 + 3;
    const uint64_t sppAt = 11 * 44100, contAt = 12 * 44100;
    int32_t firstStepAfterSpp = 0;
    for (int period = 0; now < 14 * 44100; ++period) {
        const uint32_t n = period % 2 ? 64 : 441;
        auto within = [&](uint64_t f) { return f >= now && f < now + n; };
        if (within(startAt)) send.Start(uint32_t(startAt - now));
        if (within(stopAt)) send.Stop(uint32_t(stopAt - now));
        if (within(sppAt)) send.SongPosition(uint32_t(sppAt - now), 21);
        if (within(contAt)) send.Continue(uint32_t(contAt - now));
        send.Period(n);
        for (size_t k = 0; k < send.MessageCount(); ++k) {
            const ClockMessage& m = send.Messages()[k];
            if (m.Bytes[0] == kClock) pulses.push_back(now + m.Frame);
            ASSERT_TRUE(follow.Message(m.Frame, m.Bytes.data(), m.Size));
        }
        follow.Render(out.data(), n);
        for (size_t k = 0; k < follow.StepStartCount(); ++k) {
            steps.push_back(now + follow.StepStarts()[k].Frame);
            if (now + follow.StepStarts()[k].Frame == contAt)
                firstStepAfterSpp = follow.StepStarts()[k].Step;
        }
        now += n;
    }
    EXPECT_NEAR(follow.Bpm(), 123.4, 0.01);
    // Every step on a sixth pulse: from Start to Stop, then from the position 21 on.
    const size_t beforeStop = size_t(std::count_if(pulses.begin(), pulses.end(),
                                                   [&](uint64_t f) { return f < stopAt; }));
    ASSERT_EQ(pulses[0], startAt);
    size_t s = 0;
    for (size_t k = 0; k < beforeStop; k += 6, ++s) {
        ASSERT_LT(s, steps.size());
        EXPECT_EQ(steps[s], pulses[k]);
    }
    ASSERT_LT(s, steps.size());
    EXPECT_EQ(steps[s], contAt) << "Continue after the position: a step at once";
    EXPECT_EQ(firstStepAfterSpp, 21 % 16 + 1);
    for (size_t k = beforeStop; k < pulses.size(); k += 6, ++s) {
        ASSERT_LT(s, steps.size());
        EXPECT_EQ(steps[s], pulses[k]);
    }
    EXPECT_EQ(s, steps.size());
}

namespace {

// Everything a JACK period does with clock, in blocks of many sizes: the sender's requests,
// tempo changes and periods; the follower's messages (with an overflowing block and refused
// ones), Start, Stop, Continue, Song Position Pointer, tempo jumps, song mode to its end,
// following switched off and on.
void ClockSession(PatternSynth& synth, MidiClockFollow& follow, MidiClockSend& send,
                  std::vector<int16_t>& buffer) {
    constexpr uint32_t sizes[] = {1, 63, 64, 441, 1000, 4096, 8192};
    const uint8_t note[] = {0x90, 60, 100};
    for (int round = 0; round < 300; ++round) {
        const uint32_t n = sizes[size_t(round) % std::size(sizes)];
        if (round % 50 == 1) send.Start(n / 2);
        if (round % 50 == 30) send.Stop(0);
        if (round % 50 == 33) send.SongPosition(n - 1, uint32_t(round));
        if (round % 50 == 36) send.Continue(n / 3);
        if (round % 40 == 20) send.SetTempo(60.0 + round);
        if (round == 150) synth.SetSongMode(true);
        if (round == 200) follow.SetFollowing(false);
        if (round == 210) follow.SetFollowing(true);
        send.Period(n);
        for (size_t k = 0; k < send.MessageCount(); ++k) {
            const ClockMessage& m = send.Messages()[k];
            follow.Message(m.Frame, m.Bytes.data(), m.Size);
        }
        follow.Message(0, note, sizeof note);
        if (round == 77)
            for (size_t k = 0; k < MidiClockFollow::kMaxMessages + 5; ++k)
                follow.Message(0, &kClock, 1);
        follow.Render(buffer.data(), n);
    }
}

} // namespace

TEST(MidiClockRealTime, PeriodCallsAllocateNothingTakeNoLockAndMakeNoSystemCall) {
    PatternSynth synth; // construction and Activate may allocate
    synth.Activate();
    MidiClockFollow follow(synth);
    follow.SetFollowing(true);
    MidiClockSend send;
    std::vector<int16_t> buffer(8192);
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&m); // resolve the real function before counting
    pthread_mutex_unlock(&m);

    Counting = true;
    int* volatile probe = new int(1);
    delete probe;
    pthread_mutex_lock(&m);
    pthread_mutex_unlock(&m);
    Counting = false;
    ASSERT_EQ(Allocations.exchange(0), 1);
    ASSERT_EQ(Locks.exchange(0), 1);

    Counting = true;
    ClockSession(synth, follow, send, buffer);
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_EQ(Locks.load(), 0);
    EXPECT_GT(follow.Dropped(), 0u) << "the session reached the overflow";

    const int caught = UnderNoSyscallFilter([] { (void)getppid(); });
    if (WIFEXITED(caught) && WEXITSTATUS(caught) == 77)
        GTEST_SKIP() << "this machine does not allow a seccomp filter";
    ASSERT_TRUE(WIFSIGNALED(caught)) << "a system call under the filter went unnoticed";
    const int status = UnderNoSyscallFilter([&] { ClockSession(synth, follow, send, buffer); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the session made a system call (killed by signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
}

// On a host's transport, a jump while rolling (no stop between) sends Stop, the pointer to
// the sixteenth that begins next and Continue at the jump, and the pulses resume on the new
// grid; a start away from the beginning sends the pointer and Continue, not Start.
TEST(MidiClockSend, FollowsTheHostsTransportThroughAJumpAndAStartInTheMiddle) {
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Tempo, 140); // a sixteenth: 4,725 frames
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::FollowTransport, 1});
    live.Post({LiveCommand::Kind::SendClock, 1});
    std::vector<int16_t> out(512);
    int64_t hostFrame = 0;
    // One 512-frame period at the host's frame; the messages as (host frame, bytes).
    auto period = [&](double speed) {
        HostPosition p;
        p.HasSpeed = true;
        p.Speed = speed;
        p.HasFrame = true;
        p.HostFrame = hostFrame;
        live.Process(out.data(), 512, nullptr, 0, &p);
        size_t n = 0;
        const ClockMessage* m = live.ClockOut(n);
        std::vector<std::pair<int64_t, ClockMessage>> got;
        for (size_t i = 0; i < n; ++i) got.emplace_back(hostFrame + m[i].Frame, m[i]);
        if (speed > 0) hostFrame += 512;
        return got;
    };
    hostFrame = 10 * 4725 + 100; // starts inside sixteenth 10
    auto first = period(1.0);
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[0].second.Bytes[0], 0xF2);
    EXPECT_EQ(first[0].second.Bytes[1] | first[0].second.Bytes[2] << 7, 11);
    EXPECT_EQ(first[1].second.Bytes[0], 0xFB);
    std::vector<std::pair<int64_t, ClockMessage>> pulses;
    for (int i = 0; i < 20; ++i)
        for (const auto& m : period(1.0))
            if (m.second.Bytes[0] == 0xF8) pulses.push_back(m);
    ASSERT_FALSE(pulses.empty());
    EXPECT_EQ(pulses[0].first, 11 * 4725);
    hostFrame = 100 * 4725 + 4000; // a jump while rolling
    const auto jump = period(1.0);
    ASSERT_GE(jump.size(), 3u);
    EXPECT_EQ(jump[0].second.Bytes[0], 0xFC);
    EXPECT_EQ(jump[1].second.Bytes[0], 0xF2);
    EXPECT_EQ(jump[1].second.Bytes[1] | jump[1].second.Bytes[2] << 7, 101);
    EXPECT_EQ(jump[2].second.Bytes[0], 0xFB);
    pulses.clear();
    for (int i = 0; i < 20; ++i)
        for (const auto& m : period(1.0))
            if (m.second.Bytes[0] == 0xF8) pulses.push_back(m);
    ASSERT_GE(pulses.size(), 7u);
    EXPECT_EQ(pulses[0].first, 101 * 4725);
    EXPECT_EQ(pulses[6].first, 102 * 4725);
}
