// The synth as the low-latency output plays it on a real-time thread while the window edits:
// MIDI turns a knob at the frame it arrives and the window's older state does not undo it;
// commands, steps and the song's end travel through the queues with their frames; a period
// allocates nothing, locks nothing and makes no system call.

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/wait.h>
#include <vector>

#include "support/RealtimeProbe.h"
#include "dsp/RateStage.h"
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
    std::vector<float> hostOut(8192);
    size_t notes = 0;
    // The same session again at a host's rate, through the stage, as the JACK output runs it.
    RateStage stage(48000);
    bool converted = false;
    auto session = [&] {
        live.Post({LiveCommand::Kind::NotesOut, 1});
        NotesInSetup notesIn;
        notesIn.Transpose = notesIn.Patterns = true;
        live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(notesIn)});
        live.Post({LiveCommand::Kind::Start, 0});
        for (int p = 0; p < 200; ++p) {
            // A controller and a note (a transpose or, from 36 to 51, a pattern).
            const LiveMidi cc[2] = {{uint32_t(p % 64), 3, {0xB0, 7, uint8_t(p % 128)}},
                                    {uint32_t(p % 64), 3, {0x90, uint8_t(30 + p % 60), 100}}};
            HostPosition host;
            host.HasSpeed = true;
            host.Speed = p < 100 ? 0.0 : 1.0;
            host.HasFrame = true;
            host.HostFrame = p * 64;
            if (p % 7 == 0) { // the window's edits: a knob, a pattern
                SynthEdit e;
                e.What = p % 14 ? SynthEdit::Kind::Control : SynthEdit::Kind::Pattern;
                e.Id = ControlId::BassCutoff;
                e.Value = p % 127;
                live.Edit(e, 0);
            }
            if (p == 50) live.Post({LiveCommand::Kind::FollowTransport, 1});
            if (p == 150) live.Post({LiveCommand::Kind::FollowTransport, 0});
            size_t n = 0;
            if (converted) {
                live.ProcessHost(hostOut.data(), p % 2 ? 64 : 480, cc, 2, &host);
                live.SendOut([&](const ClockMessage&, uint32_t) { ++n; });
            } else {
                live.Process(out.data(), p % 2 ? 64 : 441, cc, 2, &host, uint64_t(p) * 441);
                live.NotesOut(n);
            }
            notes += n;
            LiveEvent e;
            while (live.Poll(e)) {
            }
        }
    };
    for (const bool atHostRate : {false, true}) {
        SCOPED_TRACE(atHostRate ? "48 kHz through the stage" : "44.1 kHz");
        converted = atHostRate;
        live.SetRate(atHostRate ? &stage : nullptr, atHostRate ? stage.Latency() : 0);
        live.Publish(editor, 0); // taken in by the first period below
        notes = 0;
        Counting = true;
        session();
        Counting = false;
        EXPECT_EQ(Allocations.load(), 0);
        EXPECT_EQ(Locks.load(), 0);
        EXPECT_GT(notes, 0u); // the notes' path ran
        const int status = UnderNoSyscallFilter(session);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp here";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a period made a system call";
    }
}

// The sequence as MIDI notes: a non-sliding note ends at its gate inside its step; a slide
// overlaps the next note (on before off, in the same frame); a slide into the same note
// holds it; a new pattern, a jump and a stop end every note first.
TEST(LiveSynth, NotesOutSlideAsOverlapAndNothingHangsAtPatternChangeJumpOrStop) {
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Steps, 8);
    auto step = [&](int p, int s, int note, bool slide) {
        StepRecord& r = editor.Store.Step(p, s);
        r.BassNote = note;
        r.BassSlide = slide;
        r.BassPlay = 1;
        r.BassLength = 63;
    };
    for (int s = 1; s <= 8; ++s) {
        step(1, s, 1 + s, false);
        step(2, s, 20, true); // held from step to step
    }
    step(1, 2, 15, true); // into step 3's note 4: overlap
    step(1, 4, 5, true);  // into step 5's note 5: held
    step(1, 5, 5, false);
    // The queued pattern takes over as the pass's last step begins: that step is pattern 2's.
    step(1, 7, 8, true); // into pattern 2: no overlap
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::NoteChannels, PackNoteChannels({3, 10, 10, 36, 42})});
    live.Post({LiveCommand::Kind::NotesOut, 1});
    live.Post({LiveCommand::Kind::Start, 0});
    struct Msg {
        uint64_t Frame;
        uint8_t Status, Key;
    };
    std::vector<Msg> got;
    std::vector<std::pair<uint64_t, int32_t>> steps; // frame, pattern * 100 + step
    std::vector<int16_t> out(441);
    uint64_t now = 0; // the frame clock
    auto run = [&](int periods, const HostPosition* host = nullptr) {
        for (int i = 0; i < periods; ++i) {
            live.Process(out.data(), 441, nullptr, 0, host, now);
            size_t n = 0;
            const ClockMessage* m = live.NotesOut(n);
            for (size_t k = 0; k < n; ++k) got.push_back({now + m[k].Frame, m[k].Bytes[0], m[k].Bytes[1]});
            for (const LiveEvent& e : Drain(live))
                if (e.What == LiveEvent::Kind::StepBegan) steps.emplace_back(e.Time, e.B * 100 + e.A);
            now += 441;
        }
    };
    run(5);
    live.Post({LiveCommand::Kind::ChoosePattern, 2}); // queued for the pattern's end
    run(110); // 8 steps of 4,724 frames and a few of pattern 2
    live.Post({LiveCommand::Kind::Stop, 0});
    run(2);

    auto at = [&](uint64_t frame) {
        std::vector<std::pair<uint8_t, uint8_t>> r;
        for (const Msg& m : got)
            if (m.Frame == frame && (m.Status & 0x0F) == 2) r.emplace_back(m.Status & 0xF0, m.Key);
        return r;
    };
    using V = std::vector<std::pair<uint8_t, uint8_t>>;
    ASSERT_GE(steps.size(), 10u);
    ASSERT_EQ(steps[0].second, 101);
    EXPECT_EQ(at(steps[0].first), (V{{0x90, 2 + 24}})) << "bass on channel 3, note n as n + 24";
    EXPECT_EQ(at(steps[1].first), (V{{0x90, 15 + 24}})) << "step 1's gate closed before";
    EXPECT_EQ(at(steps[2].first), (V{{0x90, 4 + 24}, {0x80, 15 + 24}})) << "no overlap";
    EXPECT_EQ(at(steps[4].first), V{}) << "the slide into the same note did not hold it";
    ASSERT_EQ(steps[7].second, 208);
    EXPECT_EQ(at(steps[7].first), (V{{0x80, 8 + 24}, {0x90, 20 + 24}})) << "legato into a new pattern";
    // Step 1's note ends at its gate, (63 + 1) / 127 of the step, inside the step.
    const auto off1 = std::find_if(got.begin(), got.end(), [](const Msg& m) { return m.Status == 0x82; });
    ASSERT_NE(off1, got.end());
    EXPECT_NEAR(double(off1->Frame - steps[0].first), 64.0 / 127.0 * 4724.0, 1.0);
    // Every note that began has ended, the last at the stop.
    int sounding = 0;
    for (const Msg& m : got) sounding += (m.Status & 0xF0) == 0x90 ? 1 : -1;
    EXPECT_EQ(sounding, 0);
    EXPECT_GE(got.back().Frame, steps.back().first);

    // Following a host that jumps: the notes end at the jump, before the new step's.
    got.clear();
    steps.clear();
    live.Post({LiveCommand::Kind::FollowTransport, 1});
    HostPosition host;
    host.HasSpeed = true;
    host.Speed = 1.0;
    host.HasFrame = true;
    uint64_t jump = 0;
    for (int i = 0; i < 30; ++i) {
        host.HostFrame = (i < 12 ? i : 100 + i) * 441; // a jump inside the second step's gate
        if (i == 12) jump = now;
        run(1, &host);
    }
    ASSERT_FALSE(got.empty());
    auto it = std::find_if(got.begin(), got.end(), [&](const Msg& m) { return m.Frame >= jump; });
    ASSERT_NE(it, got.end());
    EXPECT_EQ(it->Frame, jump);
    EXPECT_EQ(it->Status & 0xF0, 0x80) << "the jump does not end the sounding note first";
}

// MIDI notes in: a note-on on the chosen channel transposes the bass from the next step by
// its distance from the root, notes beyond the range folding back by octaves; played, the
// line sounds sample for sample as the same line stored transposed, and the stored pattern
// stays as it was. A note of the pattern range queues its pattern.
TEST(LiveSynth, NotesInTransposeFromTheNextStepAndChooseAPattern) {
    auto pattern = [](PatternSynth& editor, int from, int semitones) {
        for (int s = 1; s <= 16; ++s) {
            StepRecord& r = editor.Store.Step(1, s);
            const int note = s <= 14 ? 10 + s : (s == 15 ? 26 : 30);
            r.BassNote = s >= from ? TransposedNote(note, semitones) : note;
            r.BassFreq = Note2Freq(r.BassNote);
            r.BassSlide = s == 6; // glides to the transposed step 7
        }
    };
    PatternSynth played, stored;
    pattern(played, 1, 0);
    pattern(stored, 3, 12); // 15 and 16 fold back: 38 -> 26, 42 -> 30
    EXPECT_EQ(stored.Store.Step(1, 15).BassNote, 26);
    LiveSynth live, reference;
    live.Publish(played, 0);
    reference.Publish(stored, 0);
    NotesInSetup setup;
    setup.Transpose = setup.Patterns = true;
    setup.Channel = 2; // MIDI channel 3
    live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(setup)});
    live.Post({LiveCommand::Kind::NotesOut, 1}); // the notes sent out are the ones heard
    for (LiveSynth* l : {&live, &reference}) l->Post({LiveCommand::Kind::Start, 0});
    // In step 2 (4,725..9,450): C5 on channel 3 (+12); on channel 1 and a note-off, nothing.
    const std::vector<LiveMidi> transpose = {
        {100, 3, {0x92, 72, 100}}, {101, 3, {0x90, 65, 100}}, {102, 3, {0x82, 60, 0}}};
    const std::vector<LiveMidi> choose = {{0, 3, {0x92, 40, 90}}}; // 36 + 4: pattern 5
    std::vector<int16_t> a(441), b(441);
    std::vector<int32_t> transposes; // of the steps begun
    std::vector<int> keys;           // of the bass notes sent out
    for (int p = 0; p < 170; ++p) {
        const std::vector<LiveMidi>* m = p == 15 ? &transpose : (p == 165 ? &choose : nullptr);
        live.Process(a.data(), 441, m ? m->data() : nullptr, m ? m->size() : 0, nullptr);
        reference.Process(b.data(), 441, nullptr, 0, nullptr);
        ASSERT_EQ(a, b) << "period " << p;
        size_t n = 0;
        const ClockMessage* sent = live.NotesOut(n);
        for (size_t i = 0; i < n; ++i)
            if (sent[i].Bytes[0] == 0x90) keys.push_back(sent[i].Bytes[1]);
        for (const LiveEvent& e : Drain(live)) {
            if (e.What == LiveEvent::Kind::StepBegan) transposes.push_back(e.Transpose);
            if (e.What == LiveEvent::Kind::PatternChosen) {
                EXPECT_EQ(e.A, 5);
            }
        }
        Drain(reference);
    }
    ASSERT_GE(transposes.size(), 15u);
    EXPECT_EQ(transposes[0], 0);
    EXPECT_EQ(transposes[1], 0);
    EXPECT_EQ(transposes[2], 12);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(keys[0], 11 + 24);
    EXPECT_EQ(keys[1], 12 + 24);
    EXPECT_EQ(keys[2], 13 + 12 + 24);
    EXPECT_EQ(live.Synth().Seq.QueuedPattern, 5);
    for (int s = 1; s <= 16; ++s)
        EXPECT_EQ(live.Synth().Store.Step(1, s).BassNote, played.Store.Step(1, s).BassNote);
}
