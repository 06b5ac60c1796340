// TMidiInput against the scripted MIDI service: device selection, the event ring, the
// callback's filters, system-exclusive buffers, open failures and delivery to the main thread.

#include <gtest/gtest.h>

#include <thread>

#include "midi/MidiIn.h"
#include "midi/backends/ScriptedMidiIn.h"

using namespace zelvox;

namespace {

ScriptedMidiIn::Device Dev(std::string name, uint16_t pid = 1) {
    ScriptedMidiIn::Device d;
    d.Name = std::move(name);
    d.ProductID = pid;
    return d;
}

struct Rig {
    explicit Rig(std::vector<ScriptedMidiIn::Device> devs = {Dev("Keys"), Dev("Pads")})
        : Service(std::move(devs)), Input(Service, &Queue) {}
    void OpenAndStart() {
        ASSERT_TRUE(Input.Open());
        Input.Start();
    }
    std::vector<uint32_t> Drain() { // short messages, packed again
        std::vector<uint32_t> out;
        while (auto e = Input.NextEvent())
            out.push_back(e->Status | (e->Param1 << 8) | (e->Param2 << 16));
        return out;
    }
    ScriptedMidiIn Service;
    MainThreadQueue Queue;
    TMidiInput Input;
};

std::string RaisedText(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMidiInputError& e) {
        return e.what();
    }
    return "<nothing raised>";
}

} // namespace

TEST(MidiInput, ConstructionSelectsDeviceZeroOrFailsWithoutDevices) {
    Rig rig({Dev("Keys", 7), Dev("Pads")});
    EXPECT_EQ(rig.Input.DeviceID(), 0);
    EXPECT_EQ(rig.Input.ProductName(), "Keys");
    EXPECT_EQ(rig.Input.ProductID(), 7);
    EXPECT_EQ(rig.Input.Capacity(), 1024);
    EXPECT_EQ(rig.Input.SysexBufferSize(), 4096);
    EXPECT_EQ(rig.Input.SysexBufferCount(), 16);
    EXPECT_FALSE(rig.Input.SysexOnly());
    EXPECT_EQ(rig.Input.State(), TMidiInput::MidiInputState::Closed);

    ScriptedMidiIn none;
    MainThreadQueue q;
    EXPECT_EQ(RaisedText([&] { TMidiInput in(none, &q); }), "Invalid device ID");
}

TEST(MidiInput, DeviceSelectionByIdAndName) {
    Rig rig({Dev("Keys", 1), Dev("Twin", 2), Dev("Pads", 3), Dev("Twin", 4)});
    rig.Input.SetDeviceID(3);
    EXPECT_EQ(rig.Input.ProductName(), "Twin");
    EXPECT_EQ(rig.Input.ProductID(), 4);
    // Two devices with the same name: the name always picks the lower number.
    rig.Input.SetProductName("Twin");
    EXPECT_EQ(rig.Input.DeviceID(), 1);
    EXPECT_EQ(rig.Input.ProductID(), 2);
    rig.Input.SetProductName("Pads");
    EXPECT_EQ(rig.Input.DeviceID(), 2);

    EXPECT_EQ(RaisedText([&] { rig.Input.SetDeviceID(4); }), "Invalid device ID");
    EXPECT_EQ(RaisedText([&] { rig.Input.SetProductName("twin"); }),
              "MIDI Input Device twin not installed ");
    EXPECT_EQ(rig.Input.DeviceID(), 2); // a failed selection keeps the device

    // A stored name is ignored while the owner is being loaded.
    rig.Input.SetLoading(true);
    rig.Input.SetProductName("Nowhere");
    EXPECT_EQ(rig.Input.ProductName(), "Pads");
    rig.Input.SetLoading(false);

    // A failing capabilities query raises the service's text and leaves the code in Error.
    rig.Service.Devices[1].CapsResult = kMidiErrNoDriver;
    rig.Service.DriverText = "JACK server went away";
    EXPECT_EQ(RaisedText([&] { rig.Input.SetDeviceID(1); }), "JACK server went away");
    EXPECT_EQ(rig.Input.Error(), kMidiErrNoDriver);
}

TEST(MidiInput, PropertiesThatOnlyChangeWhileClosed) {
    Rig rig;
    rig.OpenAndStart();
    EXPECT_EQ(RaisedText([&] { rig.Input.SetDeviceID(1); }),
              "Change to DeviceID while device was open");
    EXPECT_EQ(RaisedText([&] { rig.Input.SetProductName("Pads"); }),
              "Change to ProductName while device was open");
    EXPECT_EQ(RaisedText([&] { rig.Input.SetSysexBufferSize(10); }),
              "Change to SysexBufferSize while device was open");
    EXPECT_EQ(RaisedText([&] { rig.Input.SetSysexBufferCount(2); }),
              "Change to SysexBuffercount while device was open");
    rig.Input.Close();
    rig.Input.SetProductName("Pads");
    EXPECT_EQ(rig.Service.OpenDevice(), -1);
    rig.OpenAndStart();
    EXPECT_EQ(rig.Service.OpenDevice(), 1);
}

TEST(MidiInput, RingHoldsCapacityEventsThenDropsTheNewestAndReportsOverflow) {
    Rig rig;
    int overflows = 0;
    rig.Input.OnOverflow = [&](TMidiInput&) { ++overflows; };
    rig.OpenAndStart();
    for (uint32_t i = 0; i < 1024; ++i) rig.Service.SendShort(0xB0, i & 0x7F, (i >> 7) & 0x7F, i);
    EXPECT_EQ(rig.Input.PendingCount(), 1024);
    EXPECT_EQ(overflows, 0);
    rig.Service.SendShort(0xB0, 0x7F, 0x7F, 5000); // the 1025th: no room
    EXPECT_EQ(rig.Input.PendingCount(), 1024);
    rig.Queue.ProcessPending(); // overflow is reported on the main thread
    EXPECT_EQ(overflows, 1);

    // The earlier events are all still there, oldest first, with their timestamps.
    for (uint32_t i = 0; i < 1024; ++i) {
        auto e = rig.Input.NextEvent();
        ASSERT_TRUE(e);
        ASSERT_EQ(e->Param1 | (e->Param2 << 7), i);
        ASSERT_EQ(e->Timestamp, i);
    }
    EXPECT_FALSE(rig.Input.NextEvent());
    // With room again the ring wraps and keeps accepting.
    rig.Service.SendShort(0x90, 60, 100, 7);
    auto e = rig.Input.NextEvent();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Status, 0x90);
    EXPECT_EQ(e->Param1, 60);
    EXPECT_EQ(e->Param2, 100);
}

TEST(MidiInput, CapacityTakesEffectAtTheNextOpen) {
    Rig rig;
    rig.Input.SetCapacity(3);
    rig.OpenAndStart();
    for (int i = 0; i < 5; ++i) rig.Service.SendShort(0xC0, i, 0);
    EXPECT_EQ(rig.Input.PendingCount(), 3);
    rig.Input.SetCapacity(1); // not before the next open
    rig.Service.SendShort(0xC0, 9, 0);
    EXPECT_EQ(rig.Input.PendingCount(), 3);
    rig.Input.Close();
    rig.Queue.ProcessPending(); // messages posted while open: dropped now that it is closed
    rig.Input.SetCapacity(0); // nothing fits; never a crash
    int overflows = 0;
    rig.Input.OnOverflow = [&](TMidiInput&) { ++overflows; };
    rig.OpenAndStart();
    EXPECT_EQ(rig.Input.PendingCount(), 0) << "Close released the old ring and its events";
    rig.Service.SendShort(0xC0, 1, 0);
    EXPECT_EQ(rig.Input.PendingCount(), 0);
    rig.Queue.ProcessPending();
    EXPECT_EQ(overflows, 1);
}

TEST(MidiInput, ClockAndActiveSensingAreDroppedOtherRealTimeBytesQueued) {
    Rig rig;
    rig.OpenAndStart();
    const std::vector<uint32_t> sent = {0xF8, 0xFE, 0xFA, 0xF8, 0xFB, 0xFC, 0xFE, 0xFF, 0xF9, 0xFD};
    for (uint32_t b : sent) rig.Service.SendShort(b);
    EXPECT_EQ(rig.Drain(), (std::vector<uint32_t>{0xFA, 0xFB, 0xFC, 0xFF, 0xF9, 0xFD}));
    // Only the bare real-time bytes are filtered: a message carrying data is not.
    rig.Service.SendShort(0xB0 | (0xF8 << 8) | (0x01 << 16)); // nonsense, but not a clock
    EXPECT_EQ(rig.Input.PendingCount(), 1);
}

TEST(MidiInput, SysexEventCarriesTheBytesAndRequeuesItsBuffer) {
    Rig rig;
    rig.Input.SetSysexBufferSize(8);
    rig.Input.SetSysexBufferCount(2);
    rig.OpenAndStart();
    EXPECT_EQ(rig.Service.QueuedBuffers(), 2);
    const std::vector<uint8_t> msg = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    ASSERT_TRUE(rig.Service.SendSysex(msg, 42));
    EXPECT_EQ(rig.Service.QueuedBuffers(), 1);
    auto e = rig.Input.NextEvent();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Status, 0xF0);
    EXPECT_EQ(e->Param1, 0);
    EXPECT_EQ(e->Param2, 0);
    EXPECT_EQ(e->Timestamp, 42u);
    ASSERT_EQ(e->SysexCount, msg.size());
    EXPECT_EQ(std::vector<uint8_t>(e->SysexBytes.get(), e->SysexBytes.get() + e->SysexCount), msg);
    EXPECT_EQ(rig.Service.QueuedBuffers(), 2) << "the buffer goes back to the device";

    // Longer than one buffer: it continues in the next, two events.
    std::vector<uint8_t> longMsg(12, 0x11);
    longMsg.front() = 0xF0;
    longMsg.back() = 0xF7;
    ASSERT_TRUE(rig.Service.SendSysex(longMsg));
    auto a = rig.Input.NextEvent();
    auto b = rig.Input.NextEvent();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->SysexCount, 8);
    EXPECT_EQ(b->SysexCount, 4);
    EXPECT_EQ(b->SysexBytes[3], 0xF7);

    // Re-queuing that fails raises the service's text and leaves the event in the ring.
    ASSERT_TRUE(rig.Service.SendSysex(msg));
    rig.Service.FailNext(ScriptedMidiIn::Op::AddBuffer, kMidiErrNoMem);
    EXPECT_EQ(RaisedText([&] { rig.Input.NextEvent(); }), StandardMidiErrorText(kMidiErrNoMem));
    EXPECT_EQ(rig.Input.PendingCount(), 1);
    EXPECT_TRUE(rig.Input.NextEvent());
}

TEST(MidiInput, SysexOnlyQueuesNothingButSystemExclusive) {
    Rig rig;
    rig.OpenAndStart();
    rig.Input.SetSysexOnly(true); // allowed while open, seen by the callback at once
    rig.Service.SendShort(0xB0, 7, 100);
    rig.Service.SendShort(0xFA);
    rig.Service.SendSysex({0xF0, 0x01, 0xF7});
    rig.Service.SendShort(0x90, 60, 1);
    ASSERT_EQ(rig.Input.PendingCount(), 1);
    EXPECT_EQ(rig.Input.NextEvent()->Status, 0xF0);
    rig.Input.SetSysexOnly(false);
    rig.Service.SendShort(0xB0, 7, 100);
    EXPECT_EQ(rig.Input.PendingCount(), 1);
}

TEST(MidiInput, EmptyBuffersFromCloseAreNeverDelivered) {
    Rig rig;
    int raised = 0;
    rig.Input.OnMidiInput = [&](TMidiInput&) { ++raised; };
    rig.OpenAndStart();
    rig.Service.SendShort(0xB0, 1, 2); // posted, not yet delivered
    rig.Input.Close();                 // resets: all 16 buffers come back empty
    EXPECT_EQ(rig.Service.QueuedBuffers(), 0);
    EXPECT_EQ(rig.Input.PendingCount(), 0);
    EXPECT_FALSE(rig.Input.NextEvent());
    rig.Queue.ProcessPending();
    EXPECT_EQ(raised, 0) << "the window only delivers while open";
    EXPECT_FALSE(rig.Service.IsOpen());
    rig.Input.Close(); // closing twice does nothing
}

TEST(MidiInput, OnMidiInputRunsOnTheMainThreadAndDrainingSilencesTheRest) {
    Rig rig;
    int raised = 0;
    std::vector<uint32_t> got;
    rig.Input.OnMidiInput = [&](TMidiInput& sender) {
        ++raised;
        EXPECT_EQ(&sender, &rig.Input);
        do {
            auto e = sender.NextEvent();
            got.push_back(e->Param2);
        } while (sender.PendingCount() > 0);
    };
    rig.OpenAndStart();
    for (uint8_t v : {10, 20, 30}) rig.Service.SendShort(0xB0, 7, v);
    EXPECT_EQ(raised, 0) << "nothing runs on the driver's thread";
    rig.Queue.ProcessPending();
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(got, (std::vector<uint32_t>{10, 20, 30}));
    rig.Service.SendShort(0xB0, 7, 40);
    rig.Queue.ProcessPending();
    EXPECT_EQ(raised, 2);
}

TEST(MidiInput, InputBeforeStartIsNotDelivered) {
    Rig rig;
    ASSERT_TRUE(rig.Input.Open());
    EXPECT_FALSE(rig.Service.SendShort(0xB0, 7, 1));
    rig.Input.Start();
    EXPECT_TRUE(rig.Service.SendShort(0xB0, 7, 1));
    EXPECT_EQ(rig.Input.PendingCount(), 1);
}

TEST(MidiInput, OpenFailureKeepsErrorAndNowAlsoSaysWhy) {
    Rig rig({Dev("Keys"), Dev("Held")});
    rig.Service.Devices[1].OpenResult = kMidiErrAllocated;
    rig.Input.SetProductName("Held");
    EXPECT_FALSE(rig.Input.Open()); // raises nothing
    EXPECT_FALSE(rig.Input.IsOpen());
    EXPECT_EQ(rig.Input.Error(), kMidiErrAllocated);
    EXPECT_EQ(rig.Input.OpenFailureText(), StandardMidiErrorText(kMidiErrAllocated));
    EXPECT_EQ(rig.Input.PendingCount(), 0);
    rig.Input.Start(); // not open: nothing
    EXPECT_FALSE(rig.Input.NextEvent());
    // Still closed, so another device can be chosen and opened.
    rig.Input.SetDeviceID(0);
    EXPECT_TRUE(rig.Input.Open());
    EXPECT_EQ(rig.Input.OpenFailureText(), "");
}

TEST(MidiInput, FailureAfterTheDeviceOpenedReleasesTheDevice) {
    Rig rig;
    rig.Service.FailNext(ScriptedMidiIn::Op::Prepare, kMidiErrNoMem);
    EXPECT_FALSE(rig.Input.Open());
    EXPECT_EQ(rig.Input.Error(), kMidiErrNoMem);
    EXPECT_FALSE(rig.Service.IsOpen()) << "a device left held would block the next open";
    rig.Service.FailNext(ScriptedMidiIn::Op::AddBuffer, kMidiErrInvalidParam);
    EXPECT_FALSE(rig.Input.Open());
    EXPECT_EQ(rig.Input.Error(), kMidiErrInvalidParam);
    EXPECT_FALSE(rig.Service.IsOpen());
    EXPECT_TRUE(rig.Input.Open());
}

TEST(MidiInput, StartAndCloseFailuresRaiseTheServiceText) {
    Rig rig;
    ASSERT_TRUE(rig.Input.Open());
    rig.Service.FailNext(ScriptedMidiIn::Op::Start, kMidiErrNoDriver);
    rig.Service.DriverText = "JACK server shut down";
    EXPECT_EQ(RaisedText([&] { rig.Input.Start(); }), "JACK server shut down");
    EXPECT_EQ(rig.Input.Error(), kMidiErrNoDriver);
    rig.Service.FailNext(ScriptedMidiIn::Op::Close, static_cast<MidiResult>(999));
    EXPECT_EQ(RaisedText([&] { rig.Input.Close(); }), "Specified error number is out of range");
    EXPECT_EQ(rig.Input.State(), TMidiInput::MidiInputState::Closed);
}

TEST(MidiInput, ProducerThreadAgainstMainThreadKeepsOrderAndCountsEveryEvent) {
    // The ring and the window under real concurrency: a driver thread pushes as fast as it
    // can while the main thread takes events as they are announced.
    Rig rig;
    rig.OpenAndStart();
    constexpr uint32_t kSent = 100000;
    uint32_t delivered = 0, overflowed = 0, last = 0;
    bool inOrder = true;
    rig.Input.OnMidiInput = [&](TMidiInput& in) {
        while (auto e = in.NextEvent()) {
            const uint32_t n = e->Timestamp;
            if (delivered > 0 && n <= last) inOrder = false;
            last = n;
            ++delivered;
        }
    };
    rig.Input.OnOverflow = [&](TMidiInput&) { ++overflowed; };
    std::atomic<bool> done{false};
    std::thread driver([&] {
        for (uint32_t i = 0; i < kSent; ++i) {
            rig.Service.SendShort(0xB0, 7, i & 0x7F, i);
            if (i % 512 == 511) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        done = true;
    });
    while (!done) rig.Queue.WaitAndProcess(1);
    driver.join();
    rig.Queue.ProcessPending();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(delivered + overflowed, kSent);
    EXPECT_GE(delivered, 1024u); // the ring never refuses while it has room
    EXPECT_EQ(rig.Input.PendingCount(), 0);
}
