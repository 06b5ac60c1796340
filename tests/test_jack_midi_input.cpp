// TMidiInput through RtMidi on the private JACK server: the device list, the program's own
// input port, and what a real JACK MIDI client sends arriving on the main thread.

#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "midi/MidiIn.h"
#include "midi/backends/RtMidiInService.h"
#include "support/JackMidiSender.h"

using namespace zelvox;
using namespace std::chrono_literals;

namespace {

std::string Unique(const std::string& base) { return base + "_" + std::to_string(getpid()); }

// Runs the main-thread queue until pred holds or the time is up.
template <class Pred> bool PumpUntil(MainThreadQueue& q, Pred pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        q.WaitAndProcess(5);
    }
    return true;
}

} // namespace

TEST(JackMidiInput, OwnPortComesFirstAndSourcesFollowByName) {
    test::JackMidiSender sender(Unique("src"));
    RtMidiInService service(Unique("zvx"), "midi_in", {RtMidiInService::Api::Jack});
    const uint16_t n = service.GetNumDevs();
    ASSERT_GE(n, 2);
    MidiInCaps caps;
    ASSERT_EQ(service.GetDevCaps(0, caps), kMidiNoError);
    EXPECT_EQ(caps.ProductName, "Zelvox MIDI input (JACK)");
    bool listed = false;
    for (uint16_t i = 1; i < n; ++i) {
        ASSERT_EQ(service.GetDevCaps(i, caps), kMidiNoError);
        listed = listed || caps.ProductName == sender.PortName();
    }
    EXPECT_TRUE(listed) << "the sender's port is a source";
    EXPECT_EQ(service.GetDevCaps(n, caps), kMidiErrBadDeviceId);
}

TEST(JackMidiInput, ControlChangesAndSysexArriveOnTheMainThread) {
    RtMidiInService service(Unique("zvx"), "midi_in", {RtMidiInService::Api::Jack});
    MainThreadQueue queue;
    TMidiInput input(service, &queue);
    std::vector<std::unique_ptr<TMyMidiEvent>> got;
    const auto mainThread = std::this_thread::get_id();
    input.OnMidiInput = [&](TMidiInput& in) {
        EXPECT_TRUE(std::this_thread::get_id() == mainThread);
        while (in.PendingCount() > 0) got.push_back(in.NextEvent());
    };
    input.SetProductName("Zelvox MIDI input (JACK)");
    ASSERT_TRUE(input.Open()) << input.OpenFailureText();
    input.Start();

    test::JackMidiSender sender(Unique("src"));
    ASSERT_TRUE(sender.Connect(service.ClientName() + ":" + service.PortName()));
    ASSERT_TRUE(sender.SendUntilArrived(test::CC(15, 1, 0), [&] {
        return PumpUntil(queue, [&] { return !got.empty(); }, 300ms);
    }));
    got.clear();
    sender.Send({test::CC(0, 7, 100), {0xF8}, {0xFE}, {0xF0, 0x43, 0x10, 0x4C, 0xF7},
                 test::CC(3, 74, 5), {0x90, 60, 64}, {0xFA}});
    ASSERT_TRUE(PumpUntil(queue, [&] { return got.size() >= 5; }, 3000ms)) << got.size();
    ASSERT_EQ(got.size(), 5u) << "clock and active sensing never reach the ring";
    EXPECT_EQ(got[0]->Status, 0xB0);
    EXPECT_EQ(got[0]->Param1, 7);
    EXPECT_EQ(got[0]->Param2, 100);
    EXPECT_EQ(got[1]->Status, 0xF0);
    ASSERT_EQ(got[1]->SysexCount, 5);
    EXPECT_EQ(got[1]->SysexBytes[1], 0x43);
    EXPECT_EQ(got[1]->SysexBytes[4], 0xF7);
    EXPECT_EQ(got[2]->Status, 0xB3);
    EXPECT_EQ(got[2]->Param1, 74);
    EXPECT_EQ(got[3]->Status, 0x90);
    EXPECT_EQ(got[4]->Status, 0xFA);
    EXPECT_LE(got[0]->Timestamp, got[4]->Timestamp);
    input.Close();
    EXPECT_FALSE(input.IsOpen());
}

TEST(JackMidiInput, ConnectingToASourceByItsName) {
    test::JackMidiSender sender(Unique("src2"));
    RtMidiInService service(Unique("zvx"), "midi_in", {RtMidiInService::Api::Jack});
    MainThreadQueue queue;
    TMidiInput input(service, &queue);
    std::vector<uint8_t> values;
    input.OnMidiInput = [&](TMidiInput& in) {
        while (auto e = in.NextEvent()) values.push_back(e->Param2);
    };
    input.SetProductName(sender.PortName());
    ASSERT_TRUE(input.Open()) << input.OpenFailureText();
    input.Start();
    ASSERT_TRUE(sender.SendUntilArrived(test::CC(15, 1, 0), [&] {
        return PumpUntil(queue, [&] { return !values.empty(); }, 300ms);
    }));
    values.clear();
    sender.Send({test::CC(0, 1, 11), test::CC(0, 1, 22)});
    ASSERT_TRUE(PumpUntil(queue, [&] { return values.size() >= 2; }, 3000ms));
    EXPECT_EQ(values, (std::vector<uint8_t>{11, 22}));
}

TEST(JackMidiInput, AlsaSequencerMissingGivesNoDevicesAndAClearReason) {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
    RtMidiInService service(Unique("zvx"), "midi_in", {RtMidiInService::Api::AlsaSequencer});
    EXPECT_EQ(service.GetNumDevs(), 0);
    ASSERT_EQ(service.Unavailable().size(), 1u);
    EXPECT_EQ(service.Unavailable()[0].rfind("ALSA: ", 0), 0u) << service.Unavailable()[0];
    MainThreadQueue queue;
    try {
        TMidiInput input(service, &queue);
        FAIL() << "constructed without a device";
    } catch (const EMidiInputError& e) {
        EXPECT_STREQ(e.what(), "Invalid device ID");
    }
    // Both APIs: JACK still serves.
    RtMidiInService both(Unique("zvx"));
    EXPECT_GE(both.GetNumDevs(), 1);
    MidiInCaps caps;
    both.GetDevCaps(0, caps);
    EXPECT_EQ(caps.ProductName, "Zelvox MIDI input (JACK)");
}
