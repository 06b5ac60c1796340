#pragma once
// A device that plays in real time into nothing: a pacing thread pulls one period of sound
// every period, so buffers come back at exactly the pace a sound card would return them.
// For machines without sound, and for tests of the real-time path.

#include <atomic>
#include <thread>

#include "devices/backends/StreamingDevice.h"

namespace zelvox {

class VirtualWaveOutDevice final : public StreamingWaveOutDevice {
public:
    static constexpr const char* kName = "Virtual output (plays in real time, no sound)";

    // PeriodFrames: frames pulled per period (441 = 10 ms at 44100 Hz).
    explicit VirtualWaveOutDevice(uint32_t periodFrames = 441) : PeriodFrames_(periodFrames) {}
    ~VirtualWaveOutDevice() override;

    int32_t GetCaps(WaveOutCaps& caps) override;
    int32_t QueryFormat(const WaveOutFormat& format) override;

    // Test hook: the pacing thread stops pulling, as a sound server that died would.
    void SimulateStall() { Stall_ = true; }

protected:
    int32_t StartStream(const WaveOutFormat& format) override;
    void StopStream(bool failed) override;

private:
    void Run();
    uint32_t PeriodFrames_;
    std::thread Thread_;
    std::atomic<bool> Quit_{false};
    std::atomic<bool> Stall_{false};
};

} // namespace zelvox
