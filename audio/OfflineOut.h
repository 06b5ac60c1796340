#pragma once
// An output end of the chain that plays into nothing, as fast as it is asked to: it takes
// the place of the wave output device when a song is rendered to a file. Each Pull() loads
// one buffer through the chain (the render loop fills it, the echo processes it) and then
// hands it downstream as "played" (the WAV sink appends it). No thread, no device, no timing.

#include <cstdint>

#include "audio/MMDSPObj.h"

namespace zelvox {

class TMMOfflineOut : public TMMCustomSoundComponent {
public:
    TMMOfflineOut();
    ~TMMOfflineOut() override;

    // The chain gets Opened (fixing RealBufferSize) / Closed; Start opens first if needed.
    void Open();
    void Close();
    void Start();
    // Ends playback. Called while a buffer is being filled (the song ended inside it), the
    // stop takes effect once that buffer has been delivered whole.
    void Stop();

    // Loads one buffer and delivers it downstream. Returns false (and delivers nothing) when
    // not playing, or when the chain produced no bytes; the source answering MoreBuffers
    // false makes this the last buffer.
    bool Pull();

    bool Playing() const { return Playing_; }
    bool IsDeviceOpen() const { return Open_; }
    int64_t BuffersDelivered() const { return Delivered_; }
    const TMMWaveHdr* LastBuffer() const { return Hdr_.get(); }

    // Chain notifications from neighbours drive this component as they drive a device.
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Stopped() override { Stop(); }
    // A new format closes the output first, as a device does.
    void SetWaveFormat(PWaveFormatEx Format) override {
        Close();
        TMMCustomSoundComponent::SetWaveFormat(Format);
    }

private:
    void FinishStop();
    WaveHdrPtr Hdr_;
    bool Open_ = false;
    bool Playing_ = false;
    bool InLoad_ = false;
    bool StopDeferred_ = false;
    int64_t Delivered_ = 0;
};

} // namespace zelvox
