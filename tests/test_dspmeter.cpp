#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "audio/MMDSPMtr.h"

using namespace zelvox;

namespace {

class FakeClock : public MillisecondClock {
public:
    uint32_t Now() override { return T; }
    uint32_t T = 1000;
};

} // namespace

TEST(DSPMeter, ReadsZeroUntilStartedAndAfterStop) {
    FakeClock clock;
    TMMDSPMeter meter(&clock);
    ASSERT_EQ(TMMDSPMeter::Current(), &meter);
    EXPECT_EQ(meter.Usage(), 0);
    meter.EnterDSP(); // ignored while idle
    clock.T += 50;
    meter.LeaveDSP();
    meter.Update();
    EXPECT_EQ(meter.Usage(), 0);
    EXPECT_EQ(DSPUsageText(meter.Usage()), "DSP Usage : 0%");

    meter.BeginMeter();
    meter.EnterDSP();
    clock.T += 30;
    meter.LeaveDSP();
    meter.Update(); // 30 * 0.1 + 0 + 0.05 = 3.05
    EXPECT_EQ(meter.Usage(), 3);
    meter.EndMeter();
    EXPECT_EQ(meter.Usage(), 0);
}

TEST(DSPMeter, SteadyLoadSettlesHalfAPercentHighAndNeverReadsAbove100) {
    FakeClock clock;
    TMMDSPMeter meter(&clock);
    meter.BeginMeter();
    for (int period = 0; period < 200; ++period) {
        meter.EnterDSP();
        clock.T += 40;
        meter.LeaveDSP();
        clock.T += 60;
        meter.Update();
    }
    EXPECT_EQ(meter.Usage(), 40); // settles at 40.5 before truncation
    // A render loop taking all of every period (and more, when a tick comes late)
    for (int period = 0; period < 200; ++period) {
        meter.EnterDSP();
        clock.T += 130;
        meter.LeaveDSP();
        meter.Update();
    }
    EXPECT_EQ(meter.Usage(), 100);
    meter.EndMeter();
}

TEST(DSPMeter, ASectionLongerThanAPeriodIsSplitAcrossPeriods) {
    FakeClock clock;
    TMMDSPMeter meter(&clock);
    meter.BeginMeter();
    meter.EnterDSP();
    meter.EnterDSP(); // nested: only the outermost section counts
    clock.T += 100;
    meter.Update(); // 100 ms busy in this period: 10.05
    EXPECT_EQ(meter.Usage(), 10);
    clock.T += 100;
    meter.Update(); // 10 + 9.045 + 0.05 = 19.095
    EXPECT_EQ(meter.Usage(), 19);
    clock.T += 50;
    meter.LeaveDSP();
    meter.LeaveDSP();
    clock.T += 50;
    meter.Update(); // only the 50 ms of this period: 5 + 17.1855 + 0.05
    EXPECT_EQ(meter.Usage(), 22);
    clock.T += 100;
    meter.Update(); // idle period: 0 + 20.0 + 0.05 -> 20
    EXPECT_EQ(meter.Usage(), 20);
    meter.EndMeter();
}

TEST(DSPMeter, OnlyTheFirstMeterIsCurrentAndBeginNests) {
    FakeClock clock;
    TMMDSPMeter first(&clock);
    {
        TMMDSPMeter second(&clock);
        EXPECT_EQ(TMMDSPMeter::Current(), &first);
        second.BeginMeter(); // not the current meter: no effect
        EXPECT_FALSE(second.Running());
    }
    DSPMeterBegin();
    DSPMeterBegin();
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(TMMTimerService::Instance().ClientCount(), 1u);
    DSPMeterEnd();
    EXPECT_TRUE(first.Running());
    DSPMeterEnd();
    EXPECT_FALSE(first.Running());
    EXPECT_EQ(TMMTimerService::Instance().ClientCount(), 0u);
    DSPMeterEnd(); // extra end: harmless
    EXPECT_FALSE(first.Running());
}

TEST(DSPMeter, SectionEndsWhenTheLoadThrows) {
    FakeClock clock;
    TMMDSPMeter meter(&clock);
    meter.BeginMeter();
    try {
        DSPSection section;
        clock.T += 70;
        throw 1;
    } catch (int) {
    }
    clock.T += 30;
    meter.Update(); // 70 ms counted, the section closed: 7.05
    EXPECT_EQ(meter.Usage(), 7);
    clock.T += 100;
    meter.Update(); // nothing open any more: 0 + 6.345 + 0.05
    EXPECT_EQ(meter.Usage(), 6);
    meter.EndMeter();
}

TEST(TimerService, CallsClientsAtTheirIntervalOnItsOwnThread) {
    struct Counter {
        std::atomic<int> Calls{0};
        std::thread::id Thread;
    } slow, fast;
    auto proc = [](void*, void* owner) {
        auto* c = static_cast<Counter*>(owner);
        c->Thread = std::this_thread::get_id();
        c->Calls++;
    };
    auto& svc = TMMTimerService::Instance();
    void* a = svc.AddClient(100, &slow, proc);
    void* b = svc.AddClient(1, &fast, proc); // raised to 25 ms
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (slow.Calls < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    svc.RemoveClient(a);
    svc.RemoveClient(b);
    int s = slow.Calls, f = fast.Calls;
    EXPECT_GE(s, 3);
    EXPECT_GE(f, 3 * s); // four ticks for every one of the 100 ms client, give or take one
    EXPECT_NE(slow.Thread, std::this_thread::get_id());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(slow.Calls, s); // removed clients are never called again
    EXPECT_EQ(svc.ClientCount(), 0u);
}
