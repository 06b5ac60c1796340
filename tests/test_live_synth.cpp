// The synth as the low-latency output plays it on a real-time thread while the window edits:
// MIDI turns a knob at the frame it arrives and the window's older state does not undo it;
// commands, steps and the song's end travel through the queues with their frames; a period
// allocates nothing, locks nothing and makes no system call.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <vector>

#include "support/RealtimeProbe.h"
#include "synth/LiveSynth.h"

using namespace zelvox;

namespace {

CcTable OnlyBassVolumeOn7() {
    CcTable t{};
    t.fill(-1);
    t[5] = 7; // the bass Volume knob's slot
    return t;
}

std::vector<LiveEvent> Drain(LiveSynth& live) {
    std::vector<LiveEvent> out;
    LiveEvent e;
    while (live.Poll(e)) out.push_back(e);
    return out;
}

} // namespace

TEST(LiveSynth, MidiTurnsAKnobInItsPeriodAndTheEditorsOlderStateKeepsTheTurn) {
    LiveSynth live;
    PatternSynth editor;
    live.SetControllers(OnlyBassVolumeOn7());
    std::vector<int16_t> out(441);
    const LiveMidi cc{100, 3, {0xB0, 7, 42}};
    live.Process(out.data(), 441, &cc, 1, nullptr, 1000);
    const std::vector<LiveEvent> all = Drain(live);
    ASSERT_EQ(all.size(), 2u);
    // The message itself (for the window's MIDI learn), then the knob it turned.
    EXPECT_EQ(all[0].What, LiveEvent::Kind::Controller);
    EXPECT_EQ(all[0].A, 0xB0);
    EXPECT_EQ(all[0].B, 7 << 8 | 42);
    const std::vector<LiveEvent> ev(all.begin() + 1, all.end());
    EXPECT_EQ(ev[0].What, LiveEvent::Kind::ControlTurned);
    EXPECT_EQ(ev[0].Time, 1100u); // the frame it arrived on
    EXPECT_EQ(ev[0].A, int32_t(ControlId::BassVolume));
    EXPECT_EQ(ev[0].B, 42);
    for (int s = 1; s <= 16; ++s) ASSERT_EQ(live.Synth().Store.Step(1, s).BassVolume, 42);

    // The editor hands over a state taken before it saw the turn: the turn stays.
    editor.SetControl(ControlId::BassCutoff, 90);
    live.Publish(editor, 0);
    live.Process(out.data(), 441, nullptr, 0, nullptr);
    EXPECT_EQ(live.Synth().Store.Step(1, 3).BassVolume, 42);
    EXPECT_EQ(live.Synth().Store.Step(1, 3).BassCutoff, 90);
    // Once it has taken the turn in, its state rules again.
    editor.SetControl(ControlId::BassVolume, 42);
    editor.SetControl(ControlId::BassVolume, 10);
    live.Publish(editor, ev[0].Seq);
    live.Process(out.data(), 441, nullptr, 0, nullptr);
    EXPECT_EQ(live.Synth().Store.Step(1, 3).BassVolume, 10);
}

TEST(LiveSynth, StartStepsAndTheSongsEndComeBackWithTheirFrames) {
    LiveSynth live;
    PatternSynth editor;
    editor.Seq.Phrases[1] = {1, 1}; // the song: pattern 1 once
    editor.SetControl(ControlId::Steps, 4);
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::SongMode, 1});
    live.Post({LiveCommand::Kind::Start, 0});
    std::vector<int16_t> out(4096);
    std::vector<LiveEvent> ev; // steps and the end
    int phrases = 0;
    for (int p = 0; p < 8; ++p) {
        live.Process(out.data(), 4096, nullptr, 0, nullptr, uint64_t(p) * 4096);
        for (const LiveEvent& e : Drain(live)) {
            if (e.What == LiveEvent::Kind::PhraseBegan) {
                EXPECT_EQ(e.A, 1);
                ++phrases;
            } else {
                ev.push_back(e);
            }
        }
    }
    EXPECT_EQ(phrases, 1);
    // 140 BPM: steps at 0, 4725, 9451, 14177 (the render loop's own clock); the song's one
    // pass ends when its last step begins, so the synth stops there.
    ASSERT_GE(ev.size(), 4u);
    const uint64_t want[] = {0, 4725, 9451, 14177};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ev[size_t(i)].What, LiveEvent::Kind::StepBegan);
        EXPECT_EQ(ev[size_t(i)].Time, want[i]);
        EXPECT_EQ(ev[size_t(i)].A, i + 1);
    }
    EXPECT_EQ(ev.back().What, LiveEvent::Kind::Stopped);
    EXPECT_FALSE(live.Synth().Playing());
}

TEST(LiveSynth, APeriodAllocatesNothingLocksNothingAndMakesNoSystemCall) {
    LiveSynth live;
    PatternSynth editor;
    live.SetControllers(OnlyBassVolumeOn7());
    std::vector<int16_t> out(8192);
    auto session = [&] {
        live.Post({LiveCommand::Kind::Start, 0});
        for (int p = 0; p < 200; ++p) {
            const LiveMidi cc{uint32_t(p % 64), 3, {0xB0, 7, uint8_t(p % 128)}};
            HostPosition host;
            host.HasSpeed = true;
            host.Speed = p < 100 ? 0.0 : 1.0;
            host.HasFrame = true;
            host.HostFrame = p * 64;
            if (p == 50) live.Post({LiveCommand::Kind::FollowTransport, 1});
            if (p == 150) live.Post({LiveCommand::Kind::FollowTransport, 0});
            live.Process(out.data(), p % 2 ? 64 : 441, &cc, 1, &host, uint64_t(p) * 441);
            LiveEvent e;
            while (live.Poll(e)) {
            }
        }
    };
    live.Publish(editor, 0); // taken in by the first period below
    Counting = true;
    session();
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_EQ(Locks.load(), 0);
    const int status = UnderNoSyscallFilter(session);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a period made a system call";
}
