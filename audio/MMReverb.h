#pragma once
// The echo component: up to eight taps read a circular delay memory; their weighted sum is
// smoothed and mixed with the dry signal, and the dry signal (plus optional feedback) is
// written into the memory. Works in place on 8- or 16-bit PCM, mono or stereo. The program
// uses the first echo as its tempo-synchronised delay.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"

namespace zelvox {

class EMMReverbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMMEchoList;

// One tap: a delay and a gain. A real change of either notifies the owning list.
class TMMEcho {
public:
    int32_t Delay() const { return Delay_; } // milliseconds
    int32_t Gain() const { return Gain_; }   // percent
    void SetDelay(int32_t ms);
    void SetGain(int32_t percent);

private:
    friend class TMMEchoList;
    explicit TMMEcho(TMMEchoList* owner) : Owner_(owner) {}
    TMMEchoList* Owner_;
    int32_t Delay_ = 0;
    int32_t Gain_ = 0;
};

class TMMEchoList {
public:
    TMMEchoList() = default;
    TMMEchoList(const TMMEchoList&) = delete;
    TMMEchoList& operator=(const TMMEchoList&) = delete;

    int Count() const { return int(Items_.size()); }
    TMMEcho& operator[](int i) { return *Items_.at(size_t(i)); }
    const TMMEcho& operator[](int i) const { return *Items_.at(size_t(i)); }
    TMMEcho& Add();
    void Clear();
    // Copies the other list's echoes (and its kept byte); one notification.
    void Assign(const TMMEchoList& other);

    uint8_t StreamTag = 1; // the byte stored with the list's persisted form

private:
    friend class TMMEcho;
    friend class TMMReverb;
    void Changed();
    std::vector<std::unique_ptr<TMMEcho>> Items_;
    std::function<void()> OnChange; // the reverb's rebuild
};

// The running echo machine, created when the chain opens. A plain record so that the
// per-sample code stays a free function without virtual calls.
struct ReverbDsp {
    static constexpr int kMaxTaps = 8;
    std::vector<int16_t> MemL, MemR; // delay memory; MemR only for stereo
    int32_t Len = 0;                 // samples per memory, a power of two
    int32_t W = 0;                   // write position
    int32_t NumTaps = 0;
    int32_t TapPos[kMaxTaps] = {};                                   // read positions
    int32_t TapGain[kMaxTaps] = {};                                  // percent * 256 / 100
    int32_t DryGain = 256, PanGain = 128, WetGain = 128, FbGain = 0; // 256 = 100 %
    bool Pan = false;                   // InputPan != 0: cross-feed the dry signals (stereo)
    int32_t WetPrevL = 0, WetPrevR = 0; // two-point smoothing memory of the echo sum
    bool Bits16 = true;
    bool Stereo = false;
    int32_t Rate = 44100;   // frames per second
    int32_t MaxDelay = 250; // ms, as when the state was made
};

// Processes `bytes` bytes of the state's format in place. Returns true when a value had to
// be clipped. Allocates nothing. With wetOut, the wet part of each output sample (the echo
// return before the dry signal is added: (wet * wet gain) >> 8, limited to 16 bits) is
// written there too, one per sample in the buffer's channel order, for at most
// `wetSamples` samples; samples the echo does not process (no active tap) are not written.
bool ReverbProcess(ReverbDsp& d, uint8_t* data, uint32_t bytes, int16_t* wetOut = nullptr,
                   uint32_t wetSamples = 0);

class TMMReverb : public TMMDSPComponent {
public:
    TMMReverb();
    ~TMMReverb() override;

    bool Enabled() const { return Enabled_; }
    void SetEnabled(bool on);
    const std::string& Description() const { return Description_; }
    void SetDescription(const std::string& d);
    int32_t MaxDelay() const { return MaxDelay_; }
    void SetMaxDelay(int32_t ms); // takes effect at the next open
    // The three gains share one setter, selected by index 0 InputGain, 1 InputPan,
    // 2 OutputGain (percent).
    int16_t GetGain(int index) const;
    void SetGain(int index, int16_t percent);
    int16_t InputGain() const { return GetGain(0); }
    int16_t InputPan() const { return GetGain(1); }
    int16_t OutputGain() const { return GetGain(2); }
    void SetInputGain(int16_t v) { SetGain(0, v); }
    void SetInputPan(int16_t v) { SetGain(1, v); }
    void SetOutputGain(int16_t v) { SetGain(2, v); }
    int8_t FeedBack() const { return FeedBack_; }
    void SetFeedBack(int8_t percent);
    bool Filter() const { return Filter_; }
    void SetFilter(bool on); // kept as a setting only

    TMMEchoList& Echos() { return Echos_; }
    const TMMEchoList& Echos() const { return Echos_; }
    void SetEchos(const TMMEchoList& other) { Echos_.Assign(other); }

    // The persisted form of the echo list and the settings around it. Reading refuses a
    // block that is not one ("Invalid Object stream") and then changes nothing.
    std::vector<uint8_t> WriteEchoData() const;
    void ReadEchoData(const uint8_t* data, size_t size);

    TNotifyEvent OnChange;
    TNotifyEvent OnPcmOverflow; // after a buffer in which a value was clipped

    // Chain overrides.
    void SetWaveFormat(PWaveFormatEx Format) override;
    void Opened() override;
    void Started() override;
    void Closed() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

    // Runs the echo over `bytes` bytes of the stream's format in place, as the chain does for a
    // buffer the source filled; nothing while disabled or closed. For hosts that drive the
    // echo without a chain. Allocates nothing.
    void ProcessInPlace(uint8_t* data, uint32_t bytes) {
        if (Enabled_ && Dsp_) Process(data, bytes);
    }

    // The echo return for stems: while set, every buffer the echo processes also writes its
    // wet part into `samples` (see ReverbProcess), sample i beside sample i of the buffer,
    // at most `count` samples. Where the echo does not process (disabled, closed, no active
    // tap) nothing is written: the caller clears the array. Null switches it off; the
    // processing then does no extra work. The array must outlive the setting.
    void SetWetOutput(int16_t* samples, uint32_t count) {
        WetOut_ = count > 0 ? samples : nullptr;
        WetOutSamples_ = WetOut_ ? count : 0;
    }

    // For tests and the meter: the running state, or nullptr while closed.
    const ReverbDsp* Dsp() const { return Dsp_.get(); }
    int32_t TailCount() const { return TailCount_; }

private:
    void Rebuild();
    void EchoesChanged();
    void Changed();
    void Process(uint8_t* data, uint32_t bytes);

    bool Enabled_ = true;
    std::string Description_ = "Untitled";
    int32_t MaxDelay_ = 250;          // ms
    int16_t Gains_[3] = {80, 0, 100}; // InputGain, InputPan, OutputGain, percent
    int8_t FeedBack_ = 0;             // percent
    bool Filter_ = false;
    TMMEchoList Echos_;
    bool LoadingEchoes_ = false;
    std::unique_ptr<ReverbDsp> Dsp_;
    int32_t TailCount_ = 0; // bytes of echo tail still to produce after the source ended
    int16_t* WetOut_ = nullptr;
    uint32_t WetOutSamples_ = 0;
};

} // namespace zelvox
