// TMMWaveOut on a scripted device: the test decides when each buffer comes back and pumps
// the main-thread queue itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/MMDSPMtr.h"
#include "audio/MMDSPObj.h"
#include "audio/MMWavOut.h"
#include "devices/backends/ScriptedDevice.h"

using namespace zelvox;

namespace {

// Head (the source) -> TMMWaveOut -> Sink, 16-bit mono 44100 Hz, 882-byte buffers.
struct Rig {
    ScriptedWaveOutSystem System;
    MainThreadQueue Queue;
    TMMDSPInterface Head;
    TMMWaveOut Out{&System, &Queue};
    TMMDSPComponent Sink;
    WAVEFORMATEX Format = PcmWaveFormat(16, 1, 44100);

    // The source: buffer n (from 1) is filled with the value n; Deliver decides per load
    // how many bytes are produced and whether more follow.
    int Loads = 0;
    std::function<void(int n, PWaveHdr h, bool& more)> Deliver = [](int, PWaveHdr h,
                                                                   bool& more) {
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
    };
    std::vector<int16_t> Ready; // first sample of every buffer the sink received
    std::vector<std::string> Events;

    Rig() {
        Head.SetOutput(&Out);
        Out.SetOutput(&Sink);
        Head.SetWaveFormat(&Format);
        Out.SetBufferSize(882);
        Head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            ++Loads;
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i)
                s[i] = static_cast<int16_t>(Loads);
            Deliver(Loads, h, more);
        };
        Sink.OnBufferReady = [this](TObject*, PWaveHdr h) {
            Ready.push_back(reinterpret_cast<int16_t*>(h->lpData)[0]);
        };
        Out.OnOpen = [this](TObject*) { Events.push_back("open"); };
        Out.OnStart = [this](TObject*) { Events.push_back("start"); };
        Out.OnStop = [this](TObject*) { Events.push_back("stop"); };
        Out.OnClose = [this](TObject*) { Events.push_back("close"); };
        Out.OnError = [this](TObject*) { Events.push_back("error"); };
    }
    ScriptedWaveOutDevice& Dev() { return *System.Last; }
    void Pump() {
        while (Queue.ProcessPending() > 0) {
        }
    }
    // Plays N buffers and handles what the device posted.
    void Play(size_t n) {
        for (size_t i = 0; i < n; ++i) {
            Dev().Complete(1);
            Pump();
        }
    }
    std::string Message(const std::function<void()>& f) {
        try {
            f();
        } catch (const EMMWaveOutError& e) {
            return e.what();
        }
        return "";
    }
};

} // namespace

TEST(WaveOut, StartOnAClosedDeviceOpensItFillsTheRingAndPlays) {
    Rig r;
    r.Out.SetNumBuffers(4);
    ASSERT_EQ(r.Out.State(), wosClosed);
    r.Out.Start();
    EXPECT_EQ(r.Out.State(), wosOpened | wosPlaying);
    EXPECT_EQ(r.Dev().Calls, (std::vector<std::string>{"Open", "Pause", "Write", "Write", "Write",
                                                       "Write", "Restart"}));
    EXPECT_FALSE(r.Dev().Paused);
    EXPECT_EQ(r.Out.UsedBuffers(), 4);
    EXPECT_EQ(r.Out.QueuedCount(), 4);
    EXPECT_EQ(r.Out.GetBufferSize(), 882);
    EXPECT_EQ(r.Events, (std::vector<std::string>{"open", "start"}));
    r.Out.Start(); // already playing: nothing
    EXPECT_EQ(r.Dev().Writes, 4u);
    // Every returned buffer is refilled from the source and queued again, in ring order.
    r.Play(6);
    EXPECT_EQ(r.Loads, 10);
    EXPECT_EQ(r.Dev().Writes, 10u);
    EXPECT_EQ(r.Ready, (std::vector<int16_t>{1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(r.Dev().Played.size(), 6u * 882u);
    EXPECT_EQ(reinterpret_cast<int16_t*>(r.Dev().Played.data())[5 * 441], 6);
    r.Out.Stop();
    EXPECT_EQ(r.Out.State(), wosOpened);
    EXPECT_EQ(r.Out.QueuedCount(), 0);
    EXPECT_EQ(r.Out.UsedBuffers(), 0);
    EXPECT_EQ(r.Events.back(), "stop");
    r.Out.Close();
    EXPECT_EQ(r.Out.State(), wosClosed);
    EXPECT_EQ(r.Events.back(), "close");
}

TEST(WaveOut, ASourceEndingOnItsThirdBufferPlaysThreeAndStopsItself) {
    Rig r;
    r.Deliver = [](int n, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = h->dwBufferLength;
        more = n < 3;
    };
    r.Out.Start();
    EXPECT_EQ(r.Dev().Writes, 3u);
    EXPECT_EQ(r.Out.UsedBuffers(), 3);
    r.Play(2);
    EXPECT_EQ(r.Loads, 3); // nothing more is asked of a source that said it has no more
    EXPECT_EQ(r.Out.State() & wosPlaying, wosPlaying);
    r.Play(1);
    EXPECT_EQ(r.Events.back(), "stop");
    EXPECT_EQ(r.Out.State(), wosOpened);
    EXPECT_EQ(r.Ready, (std::vector<int16_t>{1, 2, 3}));
    EXPECT_EQ(r.Dev().Played.size(), 3u * 882u);
    // The next Start plays again from the source.
    r.Loads = 0;
    r.Out.Start();
    EXPECT_EQ(r.Out.State(), wosOpened | wosPlaying);
}

TEST(WaveOut, ASourceDeliveringNothingFailsWithTheExactMessagesAndEndsClosed) {
    {
        Rig r;
        r.Deliver = [](int, PWaveHdr h, bool& more) {
            h->dwBytesRecorded = 0;
            more = true;
        };
        EXPECT_EQ(r.Message([&] { r.Out.Start(); }), "WaveOutStart:\n\rUnable to start device");
        EXPECT_EQ(r.Out.State(), wosClosed);
        // Closing released the device object itself: r.Dev() would point at freed memory
        // here (found by AddressSanitizer), so the closed state above is what is checked.
    }
    {
        Rig r;
        r.Out.SetNumBuffers(2);
        r.Deliver = [](int n, PWaveHdr h, bool& more) {
            h->dwBytesRecorded = n <= 2 ? h->dwBufferLength : 0;
            more = true;
        };
        r.Out.Start();
        r.Dev().Complete(1);
        EXPECT_EQ(r.Message([&] { r.Pump(); }), "Error filling wave buffer");
        EXPECT_EQ(r.Out.State(), wosClosed);
        EXPECT_EQ(r.Events.back(), "close");
        r.Pump(); // nothing stale is left behind
    }
}

TEST(WaveOut, PropertyRules) {
    Rig r;
    EXPECT_EQ(r.Out.NumBuffers(), 10);
    r.Out.SetNumBuffers(1);
    EXPECT_EQ(r.Out.NumBuffers(), 10);
    r.Out.SetNumBuffers(40);
    r.Out.SetNumBuffers(0);
    EXPECT_EQ(r.Out.NumBuffers(), 40);
    r.Out.SetNumBuffers(600);
    EXPECT_EQ(r.Out.NumBuffers(), 500);
    r.Out.SetBufferSize(10);
    EXPECT_EQ(r.Out.GetBufferSize(), 32);
    r.Out.SetBufferSize(883);
    r.Out.Open();
    EXPECT_EQ(r.Out.GetBufferSize(), 882); // whole frames once open
    const std::string open = "Change to property while device was open";
    EXPECT_EQ(r.Message([&] { r.Out.SetNumBuffers(20); }), open);
    EXPECT_EQ(r.Message([&] { r.Out.SetBufferSize(100); }), open);
    EXPECT_EQ(r.Message([&] { r.Out.SetDeviceID(0); }), open);
    EXPECT_EQ(r.Message([&] { r.Out.SetCallBackMode(TMMCBMode::cmThread); }), open);
    EXPECT_EQ(r.Out.NumBuffers(), 500);
    EXPECT_EQ(r.Out.State(), wosOpened); // a refused change leaves the device as it was
    r.Out.Close();
    r.Out.SetDeviceID(5);
    EXPECT_EQ(r.Out.DeviceID(), kInvalidDeviceId);
    EXPECT_EQ(r.Out.ProductName(), "No wave audio playing device found");
    EXPECT_EQ(r.Message([&] { r.Out.Open(); }), "Invalid DeviceID");
    r.Out.SetDeviceID(kWaveMapper);
    EXPECT_EQ(r.Out.ProductName(), "Scripted output");
}

TEST(WaveOut, CallbackModeIsRefusedWithItsMessageBox) {
    Rig r;
    std::string title, text;
    auto saved = MMUserInterface().MessageBox;
    MMUserInterface().MessageBox = [&](const std::string& t, const std::string& x) {
        title = t;
        text = x;
    };
    r.Out.SetCallBackMode(TMMCBMode::cmCallback);
    MMUserInterface().MessageBox = saved;
    EXPECT_EQ(r.Out.CallBackMode(), TMMCBMode::cmWindow);
    EXPECT_EQ(title, "TMMWaveOut");
    EXPECT_EQ(text, "\"CallBacks\" are called at interrupt time !\n\r"
                    "This is currently only supported under Windows 95");
}

TEST(WaveOut, StopFromInsideABufferLoadIsDeferredUntilTheLoadReturns) {
    Rig r;
    r.Out.SetNumBuffers(4);
    int stopsSeenInside = -1;
    r.Deliver = [&](int n, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
        if (n == 5) {
            r.Out.Stop(); // from inside the refill
            stopsSeenInside = static_cast<int>(std::count(r.Events.begin(), r.Events.end(), "stop"));
        }
    };
    r.Out.Start();
    r.Dev().Complete(1);
    EXPECT_EQ(r.Queue.ProcessPending(), 1u); // the refill; the stop is posted behind it
    EXPECT_EQ(stopsSeenInside, 0);           // Stop returned at once, without OnStop
    EXPECT_EQ(r.Dev().Writes, 4u);           // the buffer loaded during the stop is not queued
    EXPECT_EQ(r.Out.State() & wosPlaying, wosPlaying);
    r.Pump();
    EXPECT_EQ(r.Out.State(), wosOpened);
    EXPECT_EQ(r.Events.back(), "stop");
    EXPECT_EQ(r.Out.QueuedCount(), 0);
    r.Dev().Complete(10); // nothing is left queued at the device
    EXPECT_EQ(r.Dev().Queued(), 0u);
    r.Pump();
    EXPECT_EQ(r.Loads, 5);
}

TEST(WaveOut, CloseDuringADeferredStopClosesWhenTheStopCompletes) {
    Rig r;
    r.Out.SetNumBuffers(2);
    r.Deliver = [&](int n, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
        if (n == 3) r.Out.Close();
    };
    r.Out.Start();
    r.Play(1);
    EXPECT_EQ(r.Out.State(), wosClosed);
    EXPECT_EQ(r.Events, (std::vector<std::string>{"open", "start", "stop", "close"}));
}

TEST(WaveOut, NoDeviceAtAllIsReportedAndNothingElseHappens) {
    ScriptedWaveOutSystem none;
    none.NumDevs = 0;
    MainThreadQueue q;
    TMMDSPInterface head;
    TMMWaveOut out(&none, &q);
    head.SetOutput(&out);
    WAVEFORMATEX f = PcmWaveFormat(16, 1, 44100);
    head.SetWaveFormat(&f);
    EXPECT_EQ(out.NumDevs(), 0);
    EXPECT_EQ(out.ProductName(), "No wave audio playing device found");
    for (int i = 0; i < 2; ++i) {
        try {
            out.Start();
            FAIL();
        } catch (const EMMWaveOutError& e) {
            EXPECT_STREQ(e.what(), "No wave audio playing device found");
        }
        EXPECT_EQ(out.State(), wosClosed);
    }
    out.Stop(); // harmless on a closed device
    out.Close();
    EXPECT_EQ(none.Last, nullptr);
}

TEST(WaveOut, OpenFailuresGiveTheirMessagesAndLeaveTheDeviceClosed) {
    {
        Rig r;
        r.Head.SetWaveFormat(nullptr);
        EXPECT_EQ(r.Message([&] { r.Out.Open(); }), "WaveOutOpen:\n\rInvalid wave format");
    }
    {
        Rig r;
        r.System.Setup = [](ScriptedWaveOutDevice& d) { d.QueryResult = kWaverrBadFormat; };
        EXPECT_EQ(r.Message([&] { r.Out.Open(); }),
                  "WaveOutOpen:\n\rThe actual device can''t play this format");
        EXPECT_EQ(r.Out.State(), wosClosed);
    }
    {
        Rig r; // the capability bit of 44.1 kHz mono 16-bit (WAVE_FORMAT_4M16) is missing
        r.System.Setup = [](ScriptedWaveOutDevice& d) { d.Caps.Formats = kWaveFormat4S16; };
        EXPECT_EQ(r.Message([&] { r.Out.Open(); }),
                  "WaveOutOpen:\n\rThe actual device can''t play this format");
    }
    {
        Rig r;
        r.System.Setup = [](ScriptedWaveOutDevice& d) { d.OpenResult = kMmsyserrAllocated; };
        EXPECT_EQ(r.Message([&] { r.Out.Start(); }),
                  "WaveOutOpen:\n\r" + WaveOutResultText(kMmsyserrAllocated));
        EXPECT_EQ(r.Out.State(), wosClosed);
        EXPECT_EQ(r.Events, (std::vector<std::string>{"error", "close"}));
    }
}

TEST(WaveOut, ADeviceThatStopsWorkingEndsPlaybackWithAClearError) {
    Rig r;
    r.Out.Start();
    r.Play(3);
    r.Dev().Fail();
    std::string msg = r.Message([&] { r.Pump(); });
    EXPECT_EQ(msg.rfind("WaveOut:\n\r", 0), 0u) << msg;
    EXPECT_EQ(r.Out.State(), wosClosed);
    EXPECT_EQ(r.Events.back(), "close");
    // The program goes on: a new Start opens a fresh device.
    r.Out.Start();
    EXPECT_EQ(r.Out.State(), wosOpened | wosPlaying);
}

TEST(WaveOut, PositionInBytesSamplesAndMilliseconds) {
    Rig r;
    EXPECT_EQ(r.Out.Position(), 0); // closed
    r.Out.Start();
    r.Play(100); // one second
    r.Out.SetTimeFormat(TMMTimeFormats::tfByte);
    EXPECT_EQ(r.Out.Position(), 88200);
    r.Out.SetTimeFormat(TMMTimeFormats::tfSample);
    EXPECT_EQ(r.Out.Position(), 44100);
    r.Out.SetTimeFormat(TMMTimeFormats::tfMillisecond);
    EXPECT_EQ(r.Out.Position(), 1000);
    r.Out.Stop();
    EXPECT_EQ(r.Out.Position(), 0);
}

TEST(WaveOut, ResetRefillsFromTheSourcesCurrentPosition) {
    Rig r;
    r.Out.SetNumBuffers(3);
    std::vector<std::string> chain;
    r.Head.OnStart = [&](TObject*) { chain.push_back("start"); };
    r.Out.Start();
    r.Play(1); // buffer 4 queued
    r.Out.Reset();
    EXPECT_EQ(r.Dev().Calls.back(), "Restart");
    EXPECT_EQ(r.Out.QueuedCount(), 3);
    r.Play(3);
    // 1 played; 2, 3, 4 discarded by the reset; 5, 6, 7 loaded after it
    EXPECT_EQ(r.Ready, (std::vector<int16_t>{1, 5, 6, 7}));
    r.Out.Pause();
    EXPECT_TRUE(r.Dev().Paused);
    EXPECT_EQ(r.Out.State(), wosOpened | wosPlaying | wosPaused);
    r.Out.Restart();
    EXPECT_FALSE(r.Dev().Paused);
    EXPECT_EQ(r.Out.State(), wosOpened | wosPlaying);
    EXPECT_EQ(chain, std::vector<std::string>{"start"});
}

TEST(WaveOut, ChainNotificationsDriveTheDevice) {
    Rig r;
    std::vector<std::string> head;
    r.Head.OnOpen = [&](TObject*) { head.push_back("open"); };
    r.Head.OnStop = [&](TObject*) { head.push_back("stop"); };
    r.Head.OnClose = [&](TObject*) { head.push_back("close"); };
    r.Out.Start();
    EXPECT_EQ(head, std::vector<std::string>{"open"});
    // Unlinking the source stops the device (the source hears it), and losing the format
    // closes it (the source is no longer linked by then).
    r.Out.SetInput(nullptr);
    EXPECT_EQ(r.Out.State(), wosClosed);
    EXPECT_EQ(head, (std::vector<std::string>{"open", "stop"}));
    EXPECT_EQ(r.Out.GetWaveFormat(), nullptr);
}

TEST(WaveOut, HourGlassShowsOnlyForALargeInitialFill) {
    Rig r;
    std::vector<bool> cursor;
    auto saved = MMUserInterface().SetBusyCursor;
    MMUserInterface().SetBusyCursor = [&](bool busy) { cursor.push_back(busy); };
    r.Out.SetNumBuffers(40);
    r.Out.Start();
    EXPECT_TRUE(cursor.empty());
    r.Out.Stop();
    r.Out.Close();
    r.Out.SetNumBuffers(120); // 105840 bytes
    r.Out.Start();
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
    MMUserInterface().SetBusyCursor = saved;
}

TEST(WaveOut, TheLoadMeterRunsFromStartToStop) {
    TMMDSPMeter meter;
    Rig r;
    EXPECT_FALSE(meter.Running());
    r.Out.Start();
    EXPECT_TRUE(meter.Running());
    r.Play(5);
    r.Out.Stop();
    EXPECT_FALSE(meter.Running());
    EXPECT_EQ(meter.Usage(), 0);
}

TEST(WaveOut, AHandlerClaimingMoreBytesThanTheBufferHoldsPlaysOnlyTheBuffer) {
    Rig r;
    r.Out.SetNumBuffers(2);
    r.Deliver = [](int, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = 1u << 30;
        more = true;
    };
    r.Out.Start();
    r.Play(1);
    EXPECT_EQ(r.Dev().Played.size(), 882u);
}
