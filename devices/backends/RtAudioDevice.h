#pragma once
// The real sound output: RtAudio on JACK, PulseAudio or ALSA. RtAudio's callback runs on
// the sound server's real-time thread and only calls Pull (copies bytes, moves atomics).

#include <memory>
#include <string>
#include <atomic>
#include <vector>

#include <rtaudio/RtAudio.h>

#include "devices/backends/StreamingDevice.h"

namespace zelvox {

class RtAudioWaveOutDevice final : public StreamingWaveOutDevice {
public:
    // Api: the RtAudio API; DeviceName: an output device of that API (empty: its default);
    // ClientName: how the stream is named to the server (the JACK client name).
    RtAudioWaveOutDevice(RtAudio::Api api, std::string deviceName,
                         std::string clientName = "zelvox");
    ~RtAudioWaveOutDevice() override;

    int32_t GetCaps(WaveOutCaps& caps) override;
    int32_t QueryFormat(const WaveOutFormat& format) override;

    // Frames per callback the server actually uses (after Open).
    unsigned BufferFrames() const { return BufferFrames_; }

    // Names the sound system and what its server last said.
    std::string FailureText() override;

protected:
    int32_t StartStream(const WaveOutFormat& format) override;
    void StopStream(bool failed) override;

private:
    static int Callback(void* out, void* in, unsigned frames, double time,
                        RtAudioStreamStatus status, void* user);
    // RtAudio's error callback: on the stream's thread for a failed write, else while opening.
    static void OnRtAudioError(RtAudioError::Type type, const std::string& text);
    void WriteFailed(const std::string& text) noexcept;
    int32_t ProbeCaps(WaveOutCaps& caps);
    int32_t ProbeFormat(const WaveOutFormat& format);
    // Finds the device; false with LastError_ set when it is not there.
    bool FindDevice(RtAudio& rt, unsigned& id, RtAudio::DeviceInfo& info);

    std::vector<uint8_t> Scratch_; // one period of 16-bit frames, sized at open
    // Bumped with release at the end of every callback and read with acquire once the stream
    // is gone: everything a finished callback touched is then ordered before the teardown,
    // also when JACK ended the callback thread itself.
    std::atomic<uint64_t> CallbacksDone_{0};
    // Stream thread: the server refused a write since the last callback; refusals in a row.
    bool WriteFailedSinceCallback_ = false;
    bool RaisedPriority_ = false; // stream thread: asked for real-time priority
    uint32_t FailedWritesInARow_ = 0;
    // The first failed write's message, written once by the stream thread.
    struct {
        char Text[200] = {};
        std::atomic<bool> Set{false};
    } FailText_;
    RtAudio::Api Api_;
    std::string DeviceName_;
    std::string ClientName_;
    std::unique_ptr<RtAudio> Rt_;
    unsigned BufferFrames_ = 0;
};

// The capabilities the engine sees for an RtAudio device of that API, as the device lists it.
void RtAudioCapsFromInfo(RtAudio::Api api, const RtAudio::DeviceInfo& info, WaveOutCaps& caps);

// Display name of an RtAudio API ("JACK", "PulseAudio", "ALSA").
std::string RtAudioApiTitle(RtAudio::Api api);

} // namespace zelvox
