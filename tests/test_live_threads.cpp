// The window's thread and the real-time thread at once, as the low-latency output runs them:
// every period sees one whole state the editor published or edit it handed over (never half
// of one and half of the next), commands and events cross without loss, and the last edit is
// the one that plays. The race-detector stage runs this file.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "synth/LiveSynth.h"

using namespace zelvox;

TEST(LiveThreads, EveryPeriodSeesOneWholePublishedStateAndTheLastOneStays) {
    LiveSynth live;
    PatternSynth editor;
    live.Publish(editor, 0);
    std::atomic<bool> editing{true};
    std::atomic<int> torn{0};
    std::atomic<int> periods{0};

    std::thread realtime([&] {
        std::vector<int16_t> out(64);
        auto whole = [&] {
            const int32_t first = live.Synth().Store.Step(1, 1).BassCutoff;
            for (int s = 1; s <= 16; ++s)
                for (int pat = 1; pat <= 2; ++pat)
                    if (live.Synth().Store.Step(pat, s).BassCutoff != first) return false;
            return true;
        };
        uint64_t t = 0;
        while (editing.load() || periods.load() < 2000) {
            live.Process(out.data(), 64, nullptr, 0, nullptr, t);
            t += 64;
            if (!whole()) ++torn;
            ++periods;
        }
        // One more period takes in whatever came last.
        live.Process(out.data(), 64, nullptr, 0, nullptr, t);
    });

    for (int v = 0; v < 3000; ++v) {
        if (v % 2) {
            // A knob turn in "All Notes" mode, handed over as what it is.
            editor.ControlChanged(ControlId::BassCutoff, v % 127);
            SynthEdit e;
            e.What = SynthEdit::Kind::Control;
            e.Id = ControlId::BassCutoff;
            e.Value = v % 127;
            live.Edit(e, 0);
            continue;
        }
        // Both patterns' 16 steps in one state: a period that read a state half written
        // would find two cut-off values.
        for (int pat = 1; pat <= 2; ++pat)
            for (int s = 1; s <= 16; ++s) editor.Store.Step(pat, s).BassCutoff = v % 127; // the knob's range
        live.Publish(editor, 0);
        if (v % 100 == 0) live.Post({LiveCommand::Kind::Start, 0});
        if (v % 100 == 50) live.Post({LiveCommand::Kind::Stop, 0});
        LiveEvent e;
        while (live.Poll(e)) {
        }
    }
    if (live.Behind()) live.Publish(editor, 0); // as the window's pump does
    editing = false;
    realtime.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(periods.load(), 2000);
    EXPECT_EQ(live.Synth().Store.Step(2, 16).BassCutoff, 2999 % 127);
    EXPECT_EQ(live.DroppedEvents(), 0u);
}
