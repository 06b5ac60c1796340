#include "devices/backends/VirtualDevice.h"

#include <chrono>
#include <vector>

namespace zelvox {

VirtualWaveOutDevice::~VirtualWaveOutDevice() {
    if (IsOpen()) {
        Reset();
        Close();
    }
    StopStream(false);
}

int32_t VirtualWaveOutDevice::GetCaps(WaveOutCaps& caps) {
    caps.Name = kName;
    caps.DriverVersion = 0x0100;
    caps.Formats = 0xFFF; // every rate range, mono and stereo, 8 and 16 bits
    caps.Channels = 2;
    return kMmsyserrNoError;
}

int32_t VirtualWaveOutDevice::QueryFormat(const WaveOutFormat& f) {
    if (f.FormatTag != 1 || (f.BitsPerSample != 8 && f.BitsPerSample != 16) ||
        (f.Channels != 1 && f.Channels != 2) || f.SamplesPerSec < 1000 ||
        f.SamplesPerSec > 192000)
        return kWaverrBadFormat;
    return kMmsyserrNoError;
}

int32_t VirtualWaveOutDevice::StartStream(const WaveOutFormat&) {
    Quit_ = false;
    Stall_ = false;
    try {
        Thread_ = std::thread([this] { Run(); });
    } catch (...) {
        LastError_ = "Could not start the virtual device's thread";
        return kMmsyserrError;
    }
    return kMmsyserrNoError;
}

void VirtualWaveOutDevice::StopStream(bool) {
    Quit_ = true;
    if (Thread_.joinable()) Thread_.join();
}

void VirtualWaveOutDevice::Run() {
    using namespace std::chrono;
    const uint32_t bytes = PeriodFrames_ * Format_.BlockAlign();
    std::vector<uint8_t> scratch(bytes);
    const auto period = duration_cast<steady_clock::duration>(
        duration<double>(static_cast<double>(PeriodFrames_) / Format_.SamplesPerSec));
    auto next = steady_clock::now();
    while (!Quit_.load()) {
        if (!Stall_.load()) Pull(scratch.data(), bytes);
        next += period;
        std::this_thread::sleep_until(next);
    }
}

} // namespace zelvox
