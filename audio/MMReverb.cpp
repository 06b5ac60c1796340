#include "audio/MMReverb.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvox {

// ---------------------------------------------------------------- echo list

void TMMEcho::SetDelay(int32_t ms) {
    if (ms == Delay_) return;
    Delay_ = ms;
    if (Owner_) Owner_->Changed();
}

void TMMEcho::SetGain(int32_t percent) {
    if (percent == Gain_) return;
    Gain_ = percent;
    if (Owner_) Owner_->Changed();
}

TMMEcho& TMMEchoList::Add() {
    Items_.push_back(std::unique_ptr<TMMEcho>(new TMMEcho(this)));
    return *Items_.back();
}

void TMMEchoList::Clear() {
    Items_.clear();
    Changed();
}

void TMMEchoList::Assign(const TMMEchoList& other) {
    if (&other == this) return;
    Items_.clear();
    for (const auto& e : other.Items_) {
        auto copy = std::unique_ptr<TMMEcho>(new TMMEcho(this));
        copy->Delay_ = e->Delay_;
        copy->Gain_ = e->Gain_;
        Items_.push_back(std::move(copy));
    }
    StreamTag = other.StreamTag;
    Changed();
}

void TMMEchoList::Changed() {
    if (OnChange) OnChange();
}

// ---------------------------------------------------------------- processing

namespace {

// The machine works in 32-bit integers. Products and sums are formed in 64 bits and wrapped
// back to 32, which is exactly 32-bit two's complement arithmetic, minus the undefined
// behaviour of a signed overflow when someone sets absurd gains.
inline int32_t Mul(int32_t a, int32_t b) {
    return int32_t(int64_t(a) * int64_t(b));
}
inline int32_t Add(int32_t a, int32_t b) {
    return int32_t(int64_t(a) + int64_t(b));
}

inline int32_t Clip16(int32_t v, bool& clipped) {
    if (v > 32767) {
        clipped = true;
        return 32767;
    }
    if (v < -32768) {
        clipped = true;
        return -32768;
    }
    return v;
}

// One channel of one frame: reads the taps of `mem` at the shared positions (not advanced
// here), forms the output y and writes the memory value. `cross` is the other channel's
// dry share for the memory (0 when not panning). With kWet the wet part of y (the echo
// return, limited to 16 bits on its own) goes to *wetOut; its clipping is not reported, as
// it touches neither the output nor the memory.
template <bool kWet>
inline int32_t EchoStep(const ReverbDsp& d, int16_t* mem, int32_t& wetPrev, int32_t dry,
                        int32_t cross, bool& clipped, int16_t* wetOut) {
    int32_t acc = 0;
    for (int j = 0; j < d.NumTaps; ++j)
        acc = Add(acc, Mul(mem[d.TapPos[j]], d.TapGain[j]));
    const int32_t wet = Add(acc >> 8, wetPrev) >> 1;
    wetPrev = wet;
    int32_t toMemory = Add(Mul(d.FbGain, wet) >> 8, dry);
    if (cross != 0) toMemory = Add(toMemory, cross);
    const int32_t wetPart = Mul(wet, d.WetGain) >> 8;
    const int32_t y = Clip16(Add(wetPart, dry), clipped);
    mem[d.W] = int16_t(Clip16(toMemory, clipped));
    if constexpr (kWet) {
        bool ignored = false;
        *wetOut = int16_t(Clip16(wetPart, ignored));
    }
    return y;
}

inline void Advance(ReverbDsp& d) {
    const int32_t mask = d.Len - 1;
    for (int j = 0; j < d.NumTaps; ++j)
        d.TapPos[j] = (d.TapPos[j] + 1) & mask;
    d.W = (d.W + 1) & mask;
}

// Reads and writes one sample of the buffer as a 16-bit value (8-bit samples are widened).
struct Sample16 {
    static int32_t Get(const uint8_t* p) {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    static void Put(uint8_t* p, int32_t y) {
        const int16_t v = int16_t(y);
        std::memcpy(p, &v, 2);
    }
    static constexpr int kSize = 2;
};
struct Sample8 {
    static int32_t Get(const uint8_t* p) { return (int32_t(*p) - 128) * 256; }
    static void Put(uint8_t* p, int32_t y) { *p = uint8_t((y >> 8) + 128); }
    static constexpr int kSize = 1;
};

// Frames [from, to) of the buffer; with kWet the wet parts go to wetOut, one per sample in
// the buffer's channel order, indexed as the buffer is.
template <class S, bool kWet>
void ProcessMono(ReverbDsp& d, uint8_t* data, uint32_t from, uint32_t to, int16_t* wetOut,
                 bool& clipped) {
    int16_t* mem = d.MemL.data();
    for (uint32_t i = from; i < to; ++i) {
        uint8_t* p = data + size_t(i) * S::kSize;
        const int32_t dry = Mul(S::Get(p), d.DryGain) >> 8;
        int16_t* wet = nullptr;
        if constexpr (kWet) wet = wetOut + i;
        S::Put(p, EchoStep<kWet>(d, mem, d.WetPrevL, dry, 0, clipped, wet));
        Advance(d);
    }
}

template <class S, bool kWet>
void ProcessStereo(ReverbDsp& d, uint8_t* data, uint32_t from, uint32_t to, int16_t* wetOut,
                   bool& clipped) {
    int16_t* memL = d.MemL.data();
    int16_t* memR = d.MemR.data();
    for (uint32_t i = from; i < to; ++i) {
        uint8_t* pl = data + size_t(i) * 2 * S::kSize;
        uint8_t* pr = pl + S::kSize;
        const int32_t dryL = Mul(S::Get(pl), d.DryGain) >> 8;
        const int32_t dryR = Mul(S::Get(pr), d.DryGain) >> 8;
        const int32_t crossL = d.Pan ? Mul(dryR, d.PanGain) >> 8 : 0;
        const int32_t crossR = d.Pan ? Mul(dryL, d.PanGain) >> 8 : 0;
        int16_t* wet = nullptr;
        if constexpr (kWet) wet = wetOut + 2 * size_t(i);
        S::Put(pl, EchoStep<kWet>(d, memL, d.WetPrevL, dryL, crossL, clipped, wet));
        S::Put(pr,
               EchoStep<kWet>(d, memR, d.WetPrevR, dryR, crossR, clipped, kWet ? wet + 1 : wet));
        Advance(d);
    }
}

template <class S>
bool ProcessFrames(ReverbDsp& d, uint8_t* data, uint32_t frames, int16_t* wetOut,
                   uint32_t wetFrames) {
    bool clipped = false;
    const uint32_t withWet = wetOut ? std::min(frames, wetFrames) : 0;
    if (d.Stereo) {
        if (withWet > 0) ProcessStereo<S, true>(d, data, 0, withWet, wetOut, clipped);
        ProcessStereo<S, false>(d, data, withWet, frames, nullptr, clipped);
    } else {
        if (withWet > 0) ProcessMono<S, true>(d, data, 0, withWet, wetOut, clipped);
        ProcessMono<S, false>(d, data, withWet, frames, nullptr, clipped);
    }
    return clipped;
}

} // namespace

bool ReverbProcess(ReverbDsp& d, uint8_t* data, uint32_t bytes, int16_t* wetOut,
                   uint32_t wetSamples) {
    if (d.NumTaps <= 0 || d.Len <= 0) return false; // no taps: the buffer passes unchanged
    const uint32_t channels = d.Stereo ? 2u : 1u;
    const uint32_t frameBytes = (d.Bits16 ? 2u : 1u) * channels;
    const uint32_t frames = bytes / frameBytes;
    const uint32_t wetFrames = wetSamples / channels;
    return d.Bits16 ? ProcessFrames<Sample16>(d, data, frames, wetOut, wetFrames)
                    : ProcessFrames<Sample8>(d, data, frames, wetOut, wetFrames);
}

// ---------------------------------------------------------------- component

namespace {

// The delay memory is a power of two of at least 2048 samples; 2^27 samples (256 MiB per
// channel) is far beyond any sensible maximum delay and is treated as out of memory.
constexpr int64_t kMaxDelayMemory = int64_t(1) << 27;

int32_t PercentTo256(int32_t percent) {
    return MulDivRound(percent, 256, 100);
}

} // namespace

TMMReverb::TMMReverb() {
    Echos_.OnChange = [this] { EchoesChanged(); };
    for (int i = 0; i < 8; ++i)
        Echos_.Add();
}

TMMReverb::~TMMReverb() {
    Echos_.OnChange = nullptr;
}

void TMMReverb::Changed() {
    if (OnChange) OnChange(this);
}

void TMMReverb::EchoesChanged() {
    if (LoadingEchoes_) return;
    Rebuild();
    Changed();
}

void TMMReverb::SetEnabled(bool on) {
    if (on == Enabled_) return;
    Enabled_ = on;
    if (on) Rebuild();
    Changed();
}

void TMMReverb::SetDescription(const std::string& d) {
    if (d == Description_) return;
    Description_ = d;
    Changed();
}

void TMMReverb::SetMaxDelay(int32_t ms) {
    if (ms == MaxDelay_) return;
    MaxDelay_ = ms;
    Changed();
}

int16_t TMMReverb::GetGain(int index) const {
    return (index >= 0 && index < 3) ? Gains_[index] : int16_t(0);
}

void TMMReverb::SetGain(int index, int16_t percent) {
    if (index < 0 || index > 2 || Gains_[index] == percent) return;
    Gains_[index] = percent;
    if (Dsp_) {
        // Straight into the running machine; the memory is kept.
        const int32_t g = PercentTo256(percent);
        if (index == 0) Dsp_->DryGain = g;
        if (index == 1) {
            Dsp_->PanGain = g;
            Dsp_->Pan = percent != 0;
        }
        if (index == 2) Dsp_->WetGain = g;
    }
    Changed();
}

void TMMReverb::SetFeedBack(int8_t percent) {
    if (percent == FeedBack_) return;
    FeedBack_ = percent;
    if (Dsp_) Dsp_->FbGain = PercentTo256(percent);
    Changed();
}

void TMMReverb::SetFilter(bool on) {
    if (on == Filter_) return;
    Filter_ = on;
    Changed();
}

void TMMReverb::SetWaveFormat(PWaveFormatEx Format) {
    if (Format && !IsValidPcmFormat(Format)) throw EMMReverbError("Invalid WaveFormat");
    TMMDSPComponent::SetWaveFormat(Format);
}

void TMMReverb::Opened() {
    TMMDSPComponent::Opened();
    const WAVEFORMATEX* f = GetWaveFormat();
    if (!IsValidPcmFormat(f) || Dsp_) return;
    auto d = std::make_unique<ReverbDsp>();
    d->Bits16 = f->wBitsPerSample == 16;
    d->Stereo = f->nChannels == 2;
    d->Rate = int32_t(f->nSamplesPerSec);
    d->MaxDelay = MaxDelay_;
    // The first power of two (from 2048 up) that holds MaxDelay of sound.
    int64_t n = int64_t(d->Rate) * MaxDelay_ / 1000;
    int64_t len = 2048;
    while (n > 2048) {
        n /= 2;
        len *= 2;
    }
    if (len > kMaxDelayMemory) throw std::bad_alloc();
    d->Len = int32_t(len);
    d->MemL.assign(size_t(len), 0);
    if (d->Stereo) d->MemR.assign(size_t(len), 0);
    d->WetPrevL = d->WetPrevR = d->Bits16 ? 0 : 128;
    Dsp_ = std::move(d);
    Rebuild();
}

void TMMReverb::Started() {
    TMMDSPComponent::Started();
    Rebuild();
}

void TMMReverb::Closed() {
    TMMDSPComponent::Closed();
    Dsp_.reset();
}

void TMMReverb::Rebuild() {
    if (!Dsp_) return;
    ReverbDsp& d = *Dsp_;
    // Active echoes in list order: non-zero gain, at most eight.
    int32_t delays[ReverbDsp::kMaxTaps], gains[ReverbDsp::kMaxTaps];
    int n = 0;
    for (int i = 0; i < Echos_.Count() && n < ReverbDsp::kMaxTaps; ++i) {
        if (Echos_[i].Gain() == 0) continue;
        delays[n] = std::min(Echos_[i].Delay(), d.MaxDelay);
        gains[n] = Echos_[i].Gain();
        ++n;
    }
    // Up to two seconds of memory per channel: one block clear each, not a store per sample.
    if (!d.MemL.empty()) std::memset(d.MemL.data(), 0, d.MemL.size() * sizeof(int16_t));
    if (!d.MemR.empty()) std::memset(d.MemR.data(), 0, d.MemR.size() * sizeof(int16_t));
    d.WetPrevL = d.WetPrevR = d.Bits16 ? 0 : 128;
    d.W = 0;
    int32_t longest = 0;
    for (int j = 0; j < n; ++j) {
        int64_t m = std::max<int64_t>(int64_t(delays[j]) * d.Rate / 1000, 1);
        m = std::min<int64_t>(m, d.Len); // only a MaxDelay changed behind our back can exceed
        d.TapPos[j] = int32_t(d.Len - m);
        d.TapGain[j] = int32_t(int64_t(gains[j]) * 256 / 100);
        longest = std::max(longest, delays[j]);
    }
    d.NumTaps = n;
    d.DryGain = Gains_[0] * 256 / 100;
    d.PanGain = Gains_[1] * 256 / 100;
    d.Pan = Gains_[1] != 0;
    d.WetGain = Gains_[2] * 256 / 100;
    d.FbGain = FeedBack_ * 256 / 100;
    const int64_t tail = int64_t(FeedBack_ < 0 ? -FeedBack_ : FeedBack_) * longest * d.Rate / 1000;
    TailCount_ = int32_t(std::min<int64_t>(tail, INT32_MAX));
}

void TMMReverb::Process(uint8_t* data, uint32_t bytes) {
    if (!Dsp_) return;
    if (ReverbProcess(*Dsp_, data, bytes, WetOut_, WetOutSamples_) && OnPcmOverflow)
        OnPcmOverflow(this);
}

void TMMReverb::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (!Enabled_ || !Dsp_) return;
    const uint32_t length = lpWaveHdr->dwBufferLength;
    uint32_t got = std::min(lpWaveHdr->dwBytesRecorded, length);
    if (MoreBuffers) {
        Process(lpWaveHdr->lpData, got);
        return;
    }
    // The source has ended: the echo rings out. The part of the buffer the source did not
    // fill is silence, so a short or empty last buffer never replays stale bytes.
    const uint8_t silence = Dsp_->Bits16 ? 0 : 128;
    std::memset(lpWaveHdr->lpData + got, silence, length - got);
    if (got > 0) {
        Process(lpWaveHdr->lpData, length);
    } else if (TailCount_ > 0) {
        TailCount_ = TailCount_ > int32_t(length) ? TailCount_ - int32_t(length) : 0;
        Process(lpWaveHdr->lpData, length);
    }
    lpWaveHdr->dwBytesRecorded = length;
    MoreBuffers = TailCount_ > 0;
}

void TMMReverb::BufferReady(PWaveHdr lpWaveHdr) {
    if (Enabled_ && Dsp_) Process(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded);
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

// ---------------------------------------------------------------- persisted form

namespace {

void Append32(std::vector<uint8_t>& b, uint32_t v) {
    b.resize(b.size() + 4);
    PutU32(b.data() + b.size() - 4, v);
}

struct Reader {
    const uint8_t* p;
    size_t left;
    void Need(size_t n) const {
        if (left < n) throw EMMReverbError("Invalid Object stream");
    }
    uint32_t U32() {
        Need(4);
        const uint32_t v = GetU32(p);
        p += 4;
        left -= 4;
        return v;
    }
    uint16_t U16() {
        Need(2);
        const uint16_t v = GetU16(p);
        p += 2;
        left -= 2;
        return v;
    }
    uint8_t U8() {
        Need(1);
        --left;
        return *p++;
    }
    std::string Bytes(size_t n) {
        Need(n);
        std::string s(reinterpret_cast<const char*>(p), n);
        p += n;
        left -= n;
        return s;
    }
};

constexpr char kEchoClass[] = "TMMEcho";

} // namespace

std::vector<uint8_t> TMMReverb::WriteEchoData() const {
    std::vector<uint8_t> b = {'R', 'V', 'B', 0, Echos_.StreamTag};
    Append32(b, uint32_t(Description_.size()));
    b.insert(b.end(), Description_.begin(), Description_.end());
    Append32(b, uint32_t(MaxDelay_));
    Append32(b, uint32_t(int32_t(Gains_[0])));
    Append32(b, uint32_t(int32_t(Gains_[1])));
    Append32(b, uint32_t(int32_t(Gains_[2])));
    Append32(b, uint32_t(int32_t(FeedBack_)));
    const uint16_t count = uint16_t(std::min(Echos_.Count(), 0xFFFF));
    b.push_back(uint8_t(count));
    b.push_back(uint8_t(count >> 8));
    for (int i = 0; i < count; ++i) {
        b.push_back(uint8_t(sizeof(kEchoClass) - 1));
        b.insert(b.end(), kEchoClass, kEchoClass + sizeof(kEchoClass) - 1);
        Append32(b, uint32_t(Echos_[i].Delay()));
        Append32(b, uint32_t(Echos_[i].Gain()));
    }
    return b;
}

void TMMReverb::ReadEchoData(const uint8_t* data, size_t size) {
    // Parse everything first, so a damaged block changes nothing.
    Reader r{data, data ? size : 0};
    if (r.Bytes(4) != std::string("RVB\0", 4)) throw EMMReverbError("Invalid Object stream");
    const uint8_t tag = r.U8();
    const uint32_t descLen = r.U32();
    const std::string desc = r.Bytes(descLen);
    const int32_t maxDelay = int32_t(r.U32());
    const int16_t inGain = int16_t(r.U32());
    const int16_t inPan = int16_t(r.U32());
    const int16_t outGain = int16_t(r.U32());
    const int8_t feedBack = int8_t(uint8_t(r.U32())); // only the low byte counts
    const uint16_t count = r.U16();
    std::vector<std::pair<int32_t, int32_t>> echoes;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t nameLen = r.U8();
        if (r.Bytes(nameLen) != kEchoClass) throw EMMReverbError("Invalid Object stream");
        const int32_t delay = int32_t(r.U32());
        const int32_t gain = int32_t(r.U32());
        echoes.emplace_back(delay, gain);
    }

    LoadingEchoes_ = true;
    Echos_.Items_.clear();
    for (const auto& [delay, gain] : echoes) {
        TMMEcho& e = Echos_.Add();
        e.SetDelay(delay); // notifications are held back while loading
        e.SetGain(gain);
    }
    Echos_.StreamTag = tag;
    LoadingEchoes_ = false;
    Description_ = desc;
    MaxDelay_ = maxDelay;
    Gains_[0] = inGain;
    Gains_[1] = inPan;
    Gains_[2] = outGain;
    FeedBack_ = feedBack;
    Rebuild();
    Changed();
}

} // namespace zelvox
