// The MIDI file export read back by a reader of its own: the file's notes are the notes
// MIDI notes out sends for the same play (a real-time synth driven in other periods), in
// count and order, each at the tick nearest its frame, on the tempo the pattern plays at.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "program/MidiFileExport.h"
#include "program/HeadlessProgram.h"
#include "sequencer/PatternEdits.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"
#include "synth/LiveSynth.h"

using namespace zelvox;
using namespace zelvox::test;

namespace {

struct ReadNote {
    uint64_t Tick;
    uint8_t Status, Key, Velocity;
};
struct ReadFile {
    int Format = -1, Tracks = 0, Division = 0;
    uint32_t Tempo = 0;
    std::vector<std::vector<ReadNote>> Notes; // per track
};

// A Standard MIDI File as a reader sees it: chunks, delta times, running status allowed.
ReadFile ReadMidi(const std::vector<uint8_t>& b) {
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | b.at(at + size_t(i));
        return v;
    };
    ReadFile f;
    if (b.size() < 14 || std::string(b.begin(), b.begin() + 4) != "MThd") return f;
    f.Format = int(be(8, 2));
    f.Tracks = int(be(10, 2));
    f.Division = int(be(12, 2));
    size_t p = 8 + be(4, 4);
    while (p + 8 <= b.size()) {
        EXPECT_EQ(std::string(b.begin() + long(p), b.begin() + long(p) + 4), "MTrk");
        const size_t end = p + 8 + be(p + 4, 4);
        p += 8;
        f.Notes.emplace_back();
        uint64_t tick = 0;
        uint8_t status = 0;
        while (p < end) {
            uint64_t delta = 0;
            uint8_t c;
            do {
                c = b.at(p++);
                delta = delta << 7 | (c & 0x7F);
            } while (c & 0x80);
            tick += delta;
            if (b.at(p) & 0x80) status = b.at(p++);
            if (status == 0xFF) {
                const uint8_t type = b.at(p++);
                const uint32_t len = b.at(p++); // short metas only here
                if (type == 0x51) f.Tempo = be(p, 3);
                p += len;
            } else {
                f.Notes.back().push_back({tick, status, b.at(p), b.at(p + 1)});
                p += 2;
            }
        }
        p = end;
    }
    return f;
}

} // namespace

TEST(MidiFile, TheRenderersFileHoldsWhatNotesOutSendsAtTheNearestTicks) {
    TempDir dir;
    HeadlessProgram program;
    PatternStore& store = program.Form.Synth.Store;
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = store.Step(1, s);
        SetStepNote(r, kModeBass, 1 + s);
        r.BassPlay = s % 4 != 0;        // rests on 4, 8, 12, 16
        r.BassSlide = s == 5 || s == 6; // 5 slides into 6 (held), 6 into 7
        r.TwinTPlay = s % 4 == 1;
        r.NoisePlay = s % 2 == 0;
    }
    program.Form.SpinEdit972.SetValue(120);
    program.SavePattern(program.PatternRecord(), dir / "p.zvx");

    const std::string mid = dir / "p.mid";
    ASSERT_EQ(
        std::system((Quote(RendererPath()) + " " + Quote(dir / "p.zvx") +
                     " --seconds 3.3 --swing 50 --notes-channels 2,10,11 --midi-file " + Quote(mid))
                        .c_str()),
        0);
    const ReadFile f = ReadMidi(ReadAll(mid));
    ASSERT_EQ(f.Format, 1);
    ASSERT_EQ(f.Tracks, 4);
    ASSERT_EQ(f.Division, 960);
    ASSERT_EQ(f.Notes.size(), 4u);
    EXPECT_TRUE(f.Notes[0].empty()) << "the tempo track holds no notes";
    // 120 as the step clock runs it: 5,513 samples a sixteenth.
    EXPECT_NEAR(60e6 / f.Tempo, 120.0, 0.03);
    EXPECT_EQ(f.Tempo, MidiTempo(5513));

    // Notes out on the real-time synth, in 64-frame periods, for the same play.
    program.Form.Synth.Seq.SetSwing(50);
    auto live = std::make_unique<LiveSynth>();
    live->Publish(program.Form.Synth, 0);
    live->Post({LiveCommand::Kind::Swing, 50});
    live->Post({LiveCommand::Kind::NoteChannels, PackNoteChannels({2, 10, 11, 36, 42})});
    live->Post({LiveCommand::Kind::NotesOut, 1});
    live->Post({LiveCommand::Kind::Start, 0});
    std::vector<std::vector<ReadNote>> sent(3);
    std::vector<int16_t> out(64);
    const uint64_t frames = 330 * 441;
    for (uint64_t at = 0;; at += 64) {
        const auto n = uint32_t(std::min<uint64_t>(64, frames - std::min(at, frames)));
        at = std::min(at, frames);
        if (n == 0) live->Post({LiveCommand::Kind::Stop, 0});
        live->Process(out.data(), n, nullptr, 0, nullptr, at);
        size_t count = 0;
        const ClockMessage* m = live->NotesOut(count);
        for (size_t i = 0; i < count; ++i) {
            const int ch = (m[i].Bytes[0] & 15) + 1;
            sent[ch == 2    ? 0
                 : ch == 10 ? 1
                            : 2]
                .push_back({MidiTick(at + m[i].Frame, f.Tempo), m[i].Bytes[0], m[i].Bytes[1],
                            m[i].Bytes[2]});
        }
        if (n == 0) break;
    }
    for (size_t v = 0; v < 3; ++v) {
        ASSERT_EQ(f.Notes[v + 1].size(), sent[v].size()) << "voice " << v;
        for (size_t i = 0; i < sent[v].size(); ++i) {
            const ReadNote &a = f.Notes[v + 1][i], &e = sent[v][i];
            EXPECT_EQ(std::tie(a.Tick, a.Status, a.Key, a.Velocity),
                      std::tie(e.Tick, e.Status, e.Key, e.Velocity))
                << "voice " << v << " message " << i;
        }
    }
    // By hand: a sixteenth is 240 ticks; swing 50 % puts step 2 at 360. The bass starts
    // step 1's note (MIDI 26) at 0, the Twin-T its hits on the beats, on channel 10, note 36;
    // step 6's note begins before step 5's ends (the slide's overlap).
    const auto& bass = f.Notes[1];
    ASSERT_GE(bass.size(), 4u);
    EXPECT_EQ(bass[0].Tick, 0u);
    EXPECT_EQ(bass[0].Status, 0x91);
    EXPECT_EQ(bass[0].Key, 26);
    const auto on2 = std::find_if(bass.begin(), bass.end(), [](const ReadNote& n) {
        return n.Status == 0x91 && n.Key == 27;
    });
    ASSERT_NE(on2, bass.end());
    EXPECT_NEAR(double(on2->Tick), 360.0, 1.0);
    for (const ReadNote& n : f.Notes[2]) {
        EXPECT_EQ(n.Key, 36);
        if (n.Status == 0x99) {
            EXPECT_NEAR(double(n.Tick % 960), 0.0, 1.0);
        }
    }
    const auto on6 = std::find_if(bass.begin(), bass.end(), [](const ReadNote& n) {
        return n.Status == 0x91 && n.Key == 31;
    });
    ASSERT_NE(on6, bass.end());
    ASSERT_NE(on6 + 1, bass.end());
    EXPECT_EQ((on6 + 1)->Status, 0x81);
    EXPECT_EQ((on6 + 1)->Key, 30);
    EXPECT_EQ((on6 + 1)->Tick, on6->Tick);
    // Nothing left on: as many offs as ons on every track.
    for (size_t v = 1; v < 4; ++v) {
        const auto ons = std::count_if(f.Notes[v].begin(), f.Notes[v].end(),
                                       [](const ReadNote& n) { return (n.Status & 0xF0) == 0x90; });
        EXPECT_EQ(size_t(ons) * 2, f.Notes[v].size()) << "track " << v;
    }
}
