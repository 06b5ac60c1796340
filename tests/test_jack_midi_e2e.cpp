// MIDI control end to end on the private JACK server: a JACK client of the test sends Control
// Change messages to the program's own MIDI input port; the main window's knobs move and the
// pattern store changes exactly as when the user turns the same knobs. Then a flood of
// 100,000 messages, with and without the main thread keeping up.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <unistd.h>

#include "support/WindowModel.h"
#include "program/MidiKnobs.h"
#include "midi/backends/RtMidiInService.h"
#include "support/JackMidiSender.h"
#include "support/MidiRig.h"
#include "ui/MainForm.h"

using namespace zelvox;
using zelvox::test::CC;

namespace {

std::string Unique(const std::string& base) {
    static int n = 0;
    return base + "_" + std::to_string(getpid()) + "_" + std::to_string(n++);
}

// The program's side: main window, MIDI setup with its settings, RtMidi on JACK.
struct Program {
    explicit Program(const std::vector<std::pair<std::string, std::string>>& settings)
        : Service(Unique("zvx"), "midi_in", {RtMidiInService::Api::Jack}) {
        Form.FormCreate();
        for (const auto& [k, v] : settings) Settings.Set(k, v);
        Settings.Set("ENABLED", "1");
        Dialog = std::make_unique<TForm4>(Service, &Queue, Settings.File, MidiKnobsOf(Form));
    }
    std::string InputPort() const { return Service.ClientName() + ":" + Service.PortName(); }
    // The main thread's loop, until pred holds or the time is up.
    template <class Pred> bool RunUntil(Pred pred, int ms = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            Queue.WaitAndProcess(5);
        }
        return true;
    }
    test::WindowModel Window;
    MainForm& Form = Window.Form;
    RtMidiInService Service;
    MainThreadQueue Queue;
    test::TempSettings Settings;
    std::unique_ptr<TForm4> Dialog;
};

bool SameStore(const PatternStore& a, const PatternStore& b) {
    return std::memcmp(&a, &b, sizeof(PatternStore)) == 0;
}

// Which steps of which patterns differ, for a readable failure.
std::string StoreDiff(const PatternStore& a, const PatternStore& b) {
    std::string out;
    for (int p = 0; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s)
            if (std::memcmp(&a.Step(p, s), &b.Step(p, s), sizeof(StepRecord)) != 0) {
                // Appended piece by piece: GCC 12 at -O3 warns falsely on " " + std::string&&
                // (-Wrestrict).
                out += ' ';
                out += std::to_string(p);
                out += '/';
                out += std::to_string(s);
            }
    return out.empty() ? "none" : out;
}

const std::vector<std::pair<std::string, std::string>> kMapping = {
    {"0", "73"}, {"1", "75"}, {"2", "74"}, {"3", "71"}, {"4", "76"}, {"5", "7"},  {"6", "77"},
    {"10", "20"}, {"11", "21"}, {"12", "22"}, {"20", "30"}, {"21", "31"}, {"22", "32"},
    {"23", "33"}, {"CHANNEL", "2"}};

} // namespace

TEST(JackMidiEndToEnd, ControlChangesTurnTheKnobsAsTheUserWould) {
    Program prog(kMapping);
    ASSERT_TRUE(prog.Dialog->DevicesOpen) << prog.Dialog->MidiStatus.Caption();
    EXPECT_EQ(prog.Dialog->Combobox1.Items.at(0), "Zelvox MIDI input (JACK)");

    test::JackMidiSender sender(Unique("ctl"));
    ASSERT_TRUE(sender.Connect(prog.InputPort()));
    // A Note On on channel 15 only shows in the text.
    ASSERT_TRUE(sender.SendUntilArrived({0x9F, 1, 1}, [&] {
        return prog.RunUntil([&] { return prog.Dialog->edit1.Caption() == "9F 01 01"; }, 300);
    }));
    // The filter is 2: status B2 passes; B0 and B3 and the Note On only show in the text.
    sender.Send({CC(2, 73, 10), CC(2, 75, 100), CC(2, 74, 127), CC(2, 71, 64), CC(2, 76, 5),
                 CC(2, 7, 90), CC(2, 77, 64), CC(2, 20, 3), CC(2, 21, 0), CC(2, 22, 50),
                 CC(2, 30, 127), CC(2, 31, 1), CC(2, 32, 64), CC(2, 33, 12),
                 CC(0, 7, 1), CC(3, 7, 2), {0x92, 7, 99}});
    MainForm& f = prog.Form;
    ASSERT_TRUE(prog.RunUntil([&] { return prog.Dialog->edit1.Caption() == "92 07 63"; }))
        << "last message seen: " << prog.Dialog->edit1.Caption();

    EXPECT_EQ(f.MMWheel1.Value(), 10);
    EXPECT_EQ(f.MMWheel2.Value(), 100);
    EXPECT_EQ(f.MMWheel3.Value(), 126);
    EXPECT_EQ(f.MMWheel4.Value(), 53);
    EXPECT_EQ(f.MMWheel5.Value(), 5);
    EXPECT_EQ(f.MMWheel7.Value(), 90) << "channels 0 and 3 and the Note On are filtered out";
    EXPECT_EQ(f.MMWheel9.Value(), 82);
    EXPECT_EQ(f.MMWheel8.Value(), 3);
    EXPECT_EQ(f.MMWheel10.Value(), 0);
    EXPECT_EQ(f.MMWheel11.Value(), 50);
    EXPECT_EQ(f.MMWheel12.Value(), 127);
    EXPECT_EQ(f.MMWheel13.Value(), 1);
    EXPECT_EQ(f.MMWheel14.Value(), 60);
    EXPECT_EQ(f.MMWheel15.Value(), 12);

    // The same turns by hand on a second main window give the same pattern store.
    test::WindowModel byHandWindow;
    MainForm& byHand = byHandWindow.Form;
    byHand.FormCreate();
    for (auto [knob, v] : std::initializer_list<std::pair<Knob MainForm::*, int32_t>>{
             {&MainForm::MMWheel1, 10}, {&MainForm::MMWheel2, 100}, {&MainForm::MMWheel3, 126},
             {&MainForm::MMWheel4, 53}, {&MainForm::MMWheel5, 5}, {&MainForm::MMWheel7, 90},
             {&MainForm::MMWheel9, 82}, {&MainForm::MMWheel8, 3}, {&MainForm::MMWheel10, 0},
             {&MainForm::MMWheel11, 50}, {&MainForm::MMWheel12, 127},
             {&MainForm::MMWheel13, 1}, {&MainForm::MMWheel14, 60}, {&MainForm::MMWheel15, 12}})
        (byHand.*knob).SetValue(v);
    EXPECT_TRUE(SameStore(f.Store, byHand.Store)) << "steps differing: " << StoreDiff(f.Store, byHand.Store);
    // In "All Notes" mode that is every step of patterns 1..16, and never pattern 0.
    EXPECT_EQ(f.Store.Step(16, 16).BassVolume, 90);
    EXPECT_NE(f.Store.Step(0, 1).BassVolume, 90);
}

TEST(JackMidiEndToEnd, SelectedNoteModeChangesOnlyTheEditedStep) {
    Program prog(kMapping);
    ASSERT_TRUE(prog.Dialog->DevicesOpen) << prog.Dialog->MidiStatus.Caption();
    MainForm& f = prog.Form;
    test::WindowModel byHandWindow;
    MainForm& byHand = byHandWindow.Form;
    byHand.FormCreate();
    for (MainForm* m : {&f, &byHand}) {
        m->SelectedNote1Click();
        m->MMSliderEnter(5);
    }
    ASSERT_TRUE(SameStore(f.Store, byHand.Store));

    test::JackMidiSender sender(Unique("ctl"));
    ASSERT_TRUE(sender.Connect(prog.InputPort()));
    ASSERT_TRUE(sender.SendUntilArrived({0x9F, 1, 1}, [&] {
        return prog.RunUntil([&] { return prog.Dialog->edit1.Caption() == "9F 01 01"; }, 300);
    }));
    sender.Send({CC(2, 74, 40), CC(2, 30, 9)});
    ASSERT_TRUE(prog.RunUntil([&] { return f.MMWheel12.Value() == 9; }));
    EXPECT_EQ(f.MMWheel3.Value(), 40);
    byHand.MMWheel3.SetValue(40);
    byHand.MMWheel12.SetValue(9);
    EXPECT_TRUE(SameStore(f.Store, byHand.Store)) << "steps differing: " << StoreDiff(f.Store, byHand.Store);
    EXPECT_EQ(f.Store.Step(f.PlayPattern, 5).BassCutoff, 40);
    EXPECT_NE(f.Store.Step(f.PlayPattern, 6).BassCutoff, 40);
}

namespace {

// 100,000 Control Changes on controller 7 (bass Volume), values 0..127 over and over, so that
// message i carries i % 128.
std::vector<std::vector<uint8_t>> Flood() {
    std::vector<std::vector<uint8_t>> m;
    m.reserve(100000);
    for (int i = 0; i < 100000; ++i) m.push_back(CC(2, 7, static_cast<uint8_t>(i % 128)));
    return m;
}

// Counts what the setup takes and what the ring drops, taking events as the setup does.
struct FloodCounter {
    explicit FloodCounter(Program& p) {
        TMidiInput& in = *p.Dialog->MidiInput1;
        in.OnMidiInput = [this, &p](TMidiInput& s) {
            while (s.PendingCount() > 0) {
                auto e = s.NextEvent();
                ++Delivered;
                LastValue = e->Param2;
                p.Dialog->DoEvent(*e);
            }
        };
        in.OnOverflow = [this](TMidiInput&) { ++Dropped; };
    }
    size_t Delivered = 0, Dropped = 0;
    int LastValue = -1;
};

} // namespace

// Runs the main thread until every message of the flood is accounted for (taken from the
// ring or counted as dropped by it). On a loaded machine JACK may lose MIDI in a period it
// reports as an xrun; only then may the count stay short, and the wait ends once nothing has
// arrived for a second. Returns whether messages may have been lost on the way.
static bool AccountForFlood(Program& prog, const FloodCounter& count, const test::JackMidiSender& sender,
                     size_t xruns0, size_t total) {
    size_t seen = 0;
    auto quietSince = std::chrono::steady_clock::now();
    prog.RunUntil(
        [&] {
            const size_t now = count.Delivered + count.Dropped;
            if (now >= total) return true;
            if (now != seen) {
                seen = now;
                quietSince = std::chrono::steady_clock::now();
            }
            return sender.Xruns() != xruns0 &&
                   std::chrono::steady_clock::now() - quietSince > std::chrono::seconds(1);
        },
        60000);
    prog.Queue.ProcessPending();
    const bool lossy = sender.Xruns() != xruns0;
    std::printf("flood: %zu delivered, %zu dropped, %zu JACK xruns meanwhile\n", count.Delivered,
                count.Dropped, sender.Xruns() - xruns0);
    if (lossy)
        EXPECT_LE(count.Delivered + count.Dropped, total) << "no message made up";
    else
        EXPECT_EQ(count.Delivered + count.Dropped, total) << "every message accounted for";
    return lossy;
}

TEST(JackMidiEndToEnd, FloodWhileTheMainThreadIsBusyKeepsTheFirst1024) {
    Program prog(kMapping);
    ASSERT_TRUE(prog.Dialog->DevicesOpen) << prog.Dialog->MidiStatus.Caption();
    FloodCounter count(prog);
    test::JackMidiSender sender(Unique("flood"));
    ASSERT_TRUE(sender.Connect(prog.InputPort()));
    const auto flood = Flood();
    const size_t periods0 = sender.Periods(), xruns0 = sender.Xruns();
    sender.Send(flood);
    // The main thread does not run meanwhile: the ring fills and everything else is dropped.
    ASSERT_TRUE(sender.WaitSent(std::chrono::milliseconds(60000)));
    for (int i = 0; i < 500 && prog.Dialog->MidiInput1->PendingCount() < 1024; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the receiver's periods
    // The receiver takes the last messages in the same JACK cycle as the sender writes them,
    // which may end after WaitSent returns: let two more cycles pass before the main thread
    // frees room in the ring, or a late message would take the room.
    const size_t sentBy = sender.Periods();
    for (int i = 0; i < 500 && sender.Periods() < sentBy + 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::printf("flood of %zu messages written in %zu JACK periods\n", flood.size(),
                sender.Periods() - periods0);
    EXPECT_EQ(prog.Dialog->MidiInput1->PendingCount(), 1024);
    const bool lossy = AccountForFlood(prog, count, sender, xruns0, flood.size());
    EXPECT_EQ(count.Delivered, 1024u) << "the ring holds 1024 and keeps the oldest";
    EXPECT_GT(count.Dropped, 0u);
    if (!lossy) {
        EXPECT_EQ(count.Dropped, flood.size() - 1024);
        EXPECT_EQ(count.LastValue, 1023 % 128) << "the oldest events are kept";
    }
    EXPECT_EQ(prog.Form.MMWheel7.Value(), count.LastValue);
    EXPECT_EQ(prog.Form.Store.Step(1, 1).BassVolume, count.LastValue);

    // Input goes on normally afterwards.
    sender.Send({CC(2, 7, 33)});
    ASSERT_TRUE(prog.RunUntil([&] { return prog.Form.MMWheel7.Value() == 33; }));
    EXPECT_EQ(count.Delivered, 1025u);
}

TEST(JackMidiEndToEnd, FloodWhileTheMainThreadKeepsUpEndsAtTheLastValueThatGotThrough) {
    Program prog(kMapping);
    ASSERT_TRUE(prog.Dialog->DevicesOpen) << prog.Dialog->MidiStatus.Caption();
    FloodCounter count(prog);
    test::JackMidiSender sender(Unique("flood"));
    ASSERT_TRUE(sender.Connect(prog.InputPort()));
    const auto flood = Flood();
    const size_t xruns0 = sender.Xruns();
    sender.Send(flood);
    ASSERT_TRUE(sender.WaitSent(std::chrono::milliseconds(60000)));
    AccountForFlood(prog, count, sender, xruns0, flood.size());
    EXPECT_GE(count.Delivered, 1024u);
    EXPECT_EQ(prog.Form.MMWheel7.Value(), count.LastValue);
    char shown[16];
    std::snprintf(shown, sizeof shown, "B2 07 %02X", count.LastValue);
    EXPECT_EQ(prog.Dialog->edit1.Caption(), shown);
    for (int p = 1; p <= 16; ++p) ASSERT_EQ(prog.Form.Store.Step(p, 16).BassVolume, count.LastValue);

    sender.Send({CC(2, 7, 5), CC(2, 74, 77)});
    ASSERT_TRUE(prog.RunUntil([&] { return prog.Form.MMWheel3.Value() == 77; }));
    EXPECT_EQ(prog.Form.MMWheel7.Value(), 5);
}
