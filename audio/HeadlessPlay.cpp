#include "audio/HeadlessPlay.h"

#include <chrono>

#include "audio/MMDSPMtr.h"

namespace zelvox {

HeadlessPlayResult PlayHeadless(TMMWaveOut& out, MainThreadQueue& queue,
                                const HeadlessPlayOptions& options) {
    using Clock = std::chrono::steady_clock;
    HeadlessPlayResult result;
    TMMBufferEvent savedReady = out.OnBufferReady;
    TNotifyEvent savedStop = out.OnStop;
    bool stopped = false;
    out.OnBufferReady = [&](TObject* sender, PWaveHdr h) {
        ++result.BuffersPlayed;
        if (savedReady) savedReady(sender, h);
    };
    out.OnStop = [&](TObject* sender) {
        stopped = true;
        if (savedStop) savedStop(sender);
    };
    int64_t usageSum = 0, usageReadings = 0;
    try {
        if (!(out.State() & wosOpened)) out.Open();
        auto until = Clock::now() + std::chrono::milliseconds(options.StartDelayMs);
        bool asked = false; // a stop asked for during the start delay ends it there
        while (Clock::now() < until && !asked) {
            queue.WaitAndProcess(10);
            asked = options.StopRequested && options.StopRequested();
        }
        if (asked) stopped = true;
        else if (options.Start) options.Start();
        else out.Start();
        // A start that found nothing to play (an empty song) leaves the device stopped.
        if (!(out.State() & wosPlaying)) stopped = true;
        auto nextReading = Clock::now() + std::chrono::seconds(1);
        while (!stopped) {
            queue.WaitAndProcess(20);
            const bool enough = options.MaxBuffers > 0 && result.BuffersPlayed >= options.MaxBuffers;
            if (!stopped && (enough || (options.StopRequested && options.StopRequested()))) {
                if (options.Stop) options.Stop();
                else out.Stop();
                if (!(out.State() & wosPlaying)) stopped = true;
            }
            if (Clock::now() >= nextReading) {
                nextReading += std::chrono::seconds(1);
                if (TMMDSPMeter* m = TMMDSPMeter::Current()) {
                    int32_t u = m->Usage();
                    usageSum += u;
                    ++usageReadings;
                    if (u > result.PeakDspUsage) result.PeakDspUsage = u;
                }
            }
            if (!(out.State() & wosOpened)) break; // closed by an error path
        }
        result.Underruns = out.Underruns();
        result.ServerXruns = out.ServerXruns();
        out.Close();
        result.Ok = true;
    } catch (const std::exception& e) {
        result.Error = e.what();
        out.Close();
        result.Underruns = out.Underruns();
        result.ServerXruns = out.ServerXruns();
    }
    if (usageReadings > 0) result.MeanDspUsage = double(usageSum) / double(usageReadings);
    out.OnBufferReady = savedReady;
    out.OnStop = savedStop;
    return result;
}

} // namespace zelvox
