#include "dsp/RateStage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include <soxr.h>

#include "engine/EngineState.h"

namespace zelvox {

struct SoxrHandle {
    soxr_t S = nullptr;
    explicit SoxrHandle(uint32_t rate) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // 20-bit quality: 96 dB below full scale, the 16-bit stream's own floor.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // One thread (no worker threads, so no locks); the smallest transform blocks, so
        // that converted frames come out in chunks of a few hundred and the delay a host must
        // compensate stays about 10 ms.
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        runtime.log2_min_dft_size = 7;
        runtime.log2_large_dft_size = 7;
        S = soxr_create(double(kSampleRate), double(rate), 1, &error, &io, &quality, &runtime);
        if (error || !S)
            throw std::runtime_error(std::string("the sample-rate converter could not be made: ") +
                                     (error ? error : "unknown error"));
    }
    ~SoxrHandle() { soxr_delete(S); }
    SoxrHandle(const SoxrHandle&) = delete;
    SoxrHandle& operator=(const SoxrHandle&) = delete;

    // Converts `frames` (all of them; `in` null ends the input and drains) into `out`,
    // calling `emit(data, count)` for every piece that comes out.
    template <class Emit>
    void Process(const float* in, size_t frames, float* out, size_t capacity, Emit&& emit) {
        for (;;) {
            size_t used = 0, made = 0;
            soxr_process(S, in, in ? frames : 0, &used, out, capacity, &made);
            if (made > 0) emit(out, made);
            if (in) {
                in += used;
                frames -= used;
            }
            if (made == capacity) continue; // more may be waiting
            if (!in ? made == 0 : (frames == 0 || used == 0)) return;
        }
    }
};

bool IsNativeRate(double rate) {
    return rate == double(kSampleRate);
}

std::string CheckHostRate(double rate) {
    if (std::isfinite(rate) && rate >= kMinHostRate && rate <= kMaxHostRate &&
        rate == std::floor(rate))
        return {};
    char text[200];
    std::snprintf(text, sizeof text,
                  "%.6g Hz is not a rate Zelvox plays at: it plays at whole rates from %u to %u Hz "
                  "(its sound is made at 44100 Hz and converted)",
                  rate, kMinHostRate, kMaxHostRate);
    return text;
}

namespace {

uint32_t CheckedRate(uint32_t rate) {
    const std::string why = CheckHostRate(rate);
    if (!why.empty()) throw std::invalid_argument(why);
    if (IsNativeRate(rate)) throw std::invalid_argument("44100 Hz needs no conversion");
    return rate;
}

// Engine frames of silence converted first, in pushes of kMaxPush: soxr makes its buffers on
// the first frames it converts and grows them over the first pushes, so that happens here
// rather than on the audio thread. 0.4 s (17,640 frames) are a whole number of output frames
// at every rate that is a multiple of 50 Hz.
constexpr uint32_t kWarmUp = 882 * 20;

uint64_t PowerOfTwoAtLeast(uint64_t n) {
    uint64_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

} // namespace

RateStage::RateStage(uint32_t rate) : Rate_(CheckedRate(rate)) {
    const double ratio = double(Rate_) / double(kSampleRate);
    const double warmOut = double(kWarmUp) * ratio;
    const auto drop = static_cast<uint64_t>(std::floor(warmOut));
    LatencyFraction_ = warmOut - double(drop);
    Scratch_.resize(size_t(std::ceil(double(kMaxPush) * ratio)) * 4 + 4096);

    // The frames the warm-up's silence stands for in front of the stream are dropped but
    // for the fraction below one. How many the converter holds back at most (it gives its
    // frames out in chunks) is found on a twin fed one frame at a time: every count of
    // engine frames a host can have pushed is visited. needed(E) is the most output frames
    // a host may take once E engine frames are in: EngineFramesFor keeps E at
    // floor(taken * 44100 / rate).
    SoxrHandle twin(Rate_);
    const std::vector<float> silence(kMaxPush, 0.0f);
    int64_t made = -int64_t(drop);
    auto count = [&](const float*, size_t n) { made += int64_t(n); };
    for (uint32_t done = 0; done < kWarmUp; done += kMaxPush)
        twin.Process(silence.data(), std::min(kMaxPush, kWarmUp - done), Scratch_.data(),
                     Scratch_.size(), count);
    int64_t worst = 0;
    for (uint64_t e = 1; e <= 16384; ++e) {
        twin.Process(silence.data(), 1, Scratch_.data(), Scratch_.size(), count);
        const auto needed = int64_t(((e + 1) * Rate_ + kSampleRate - 1) / uint64_t(kSampleRate)) - 1;
        worst = std::max(worst, needed - made);
    }
    // One frame more than the worst seen, for a count the twin's run did not meet.
    Latency_ = uint32_t(worst + 1);

    Soxr_ = std::make_unique<SoxrHandle>(Rate_);
    Ring_.assign(PowerOfTwoAtLeast(uint64_t(Latency_) + Scratch_.size() * 2 + 8192), 0.0f);
    RingWrite_ = Latency_; // the delay, as silence in front
    ToDrop_ = drop;
    for (uint32_t done = 0; done < kWarmUp; done += kMaxPush)
        Convert(silence.data(), std::min(kMaxPush, kWarmUp - done));
}

RateStage::~RateStage() = default;

uint32_t RateStage::EngineFramesFor(uint32_t outFrames) const {
    const uint64_t target = (Taken_ + outFrames) * kSampleRate / Rate_;
    return target > Pushed_ ? uint32_t(target - Pushed_) : 0;
}

void RateStage::Convert(const float* in, uint32_t frames) {
    const uint64_t mask = Ring_.size() - 1;
    Soxr_->Process(in, frames, Scratch_.data(), Scratch_.size(), [&](const float* out, size_t n) {
        const uint64_t skip = std::min<uint64_t>(ToDrop_, n);
        ToDrop_ -= skip;
        // Never expected to fill (sized above for the stage's largest backlog): the newest
        // frames would then be lost rather than overwrite those not yet taken.
        const uint64_t room = Ring_.size() - (RingWrite_ - RingRead_);
        uint64_t count = std::min<uint64_t>(n - skip, room);
        out += skip;
        while (count > 0) { // at most two pieces: up to the ring's end, then from its start
            const uint64_t at = RingWrite_ & mask;
            const uint64_t piece = std::min<uint64_t>(count, Ring_.size() - at);
            std::memcpy(Ring_.data() + at, out, piece * sizeof(float));
            out += piece;
            RingWrite_ += piece;
            count -= piece;
        }
    });
}

void RateStage::Push(const float* in, uint32_t frames) {
    Pushed_ += frames;
    while (frames > 0) {
        const uint32_t n = std::min(frames, kMaxPush);
        Convert(in, n);
        in += n;
        frames -= n;
    }
}

void RateStage::Take(float* out, uint32_t frames) {
    const uint64_t mask = Ring_.size() - 1;
    const uint64_t ready = std::min<uint64_t>(RingWrite_ - RingRead_, frames);
    for (uint64_t left = ready; left > 0;) { // at most two pieces, as in Convert
        const uint64_t at = RingRead_ & mask;
        const uint64_t piece = std::min<uint64_t>(left, Ring_.size() - at);
        std::memcpy(out, Ring_.data() + at, piece * sizeof(float));
        out += piece;
        RingRead_ += piece;
        left -= piece;
    }
    out -= ready;
    if (ready < frames) {
        std::fill(out + ready, out + frames, 0.0f);
        ++Shortfalls_;
    }
    Taken_ += frames;
}

RateFileConverter::RateFileConverter(uint32_t rate)
    : Soxr_(std::make_unique<SoxrHandle>(CheckedRate(rate))) {}

RateFileConverter::~RateFileConverter() = default;

void RateFileConverter::Push(const float* in, size_t frames, std::vector<float>& out) {
    if (frames == 0) return;
    float piece[4096];
    Soxr_->Process(in, frames, piece, std::size(piece),
                   [&](const float* p, size_t n) { out.insert(out.end(), p, p + n); });
}

void RateFileConverter::Finish(std::vector<float>& out) {
    float piece[4096];
    Soxr_->Process(nullptr, 0, piece, std::size(piece),
                   [&](const float* p, size_t n) { out.insert(out.end(), p, p + n); });
}

} // namespace zelvox
