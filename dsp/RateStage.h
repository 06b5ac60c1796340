#pragma once
// The output stage that carries the synth's 44,100 Hz stream to a host's rate. The synth
// always renders its own stream, bit-exact; this converts it with libsoxr and nothing else.
// At 44,100 Hz there is no stage at all: callers keep their direct path (see IsNative).
//
// Two uses:
// - RateStage, for a host that asks for blocks of its own size in real time (the plugin, a
//   JACK process callback): made where allocation is allowed, then Push and Take allocate
//   nothing, lock nothing and make no system call. It delays the sound by Latency() output
//   frames, which the host is told so that it can compensate.
// - RateFileConverter, for a render: the whole stream converted with no delay at all (the
//   converter's own delay is taken out), N input frames giving round(N * rate / 44100).

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelvox {

inline constexpr uint32_t kMinHostRate = 22050;
inline constexpr uint32_t kMaxHostRate = 192000;

// True for the synth's own rate: no conversion, the stream as it is.
bool IsNativeRate(double rate);
// Empty when `rate` (Hz) can be served; otherwise why not, naming the rate asked for and the
// rates served.
std::string CheckHostRate(double rate);

struct SoxrHandle; // the converter behind both classes

class RateStage {
public:
    // Most engine frames handed to the converter at once; Push splits longer runs.
    static constexpr uint32_t kMaxPush = 512;

    // `rate` must pass CheckHostRate and not be native (std::invalid_argument otherwise);
    // std::runtime_error when the converter cannot be made.
    explicit RateStage(uint32_t rate);
    ~RateStage();
    RateStage(const RateStage&) = delete;
    RateStage& operator=(const RateStage&) = delete;

    uint32_t Rate() const { return Rate_; }
    // Output frames by which the sound comes late: what a host compensates.
    uint32_t Latency() const { return Latency_; }
    // Where the sound of engine frame `engineFrame` (counted from the first pushed) comes out,
    // in output frames from the first taken, less Latency(): the host's own timeline.
    double HostFrameOf(double engineFrame) const {
        return engineFrame * double(Rate_) / 44100.0 + LatencyFraction_;
    }
    // The host frame `hostFrame` as engine time (engine frames, fractional).
    double EngineTimeOf(uint64_t hostFrame) const {
        return double(hostFrame) * 44100.0 / double(Rate_);
    }
    // A host's transport position is given for the next host frame to be taken; that frame is
    // heard (after Latency()) from this engine time, counted from the engine frames pushed so
    // far (negative: already pushed).
    double NextHostFrameOffset() const {
        return EngineTimeOf(Taken_) - HostFrameOf(0.0) * 44100.0 / double(Rate_) - double(Pushed_);
    }
    // A host frame number in engine frames, rounded (the position's own frame, moved to the
    // synth's rate).
    int64_t EngineFrameOf(int64_t hostFrame) const {
        return static_cast<int64_t>(std::llround(double(hostFrame) * 44100.0 / double(Rate_)));
    }
    // Engine frames to push (beyond those pushed so far) before the next `outFrames` can be
    // taken: the engine keeps exactly in step with the host's frames.
    uint32_t EngineFramesFor(uint32_t outFrames) const;

    void Push(const float* in, uint32_t frames);
    // Output frames in order. The stage was sized so that they are always there after
    // EngineFramesFor's frames were pushed; were one missing, it is silence (and counted).
    void Take(float* out, uint32_t frames);

    uint64_t EnginePushed() const { return Pushed_; }
    uint64_t HostTaken() const { return Taken_; }
    uint64_t Shortfalls() const { return Shortfalls_; }

private:
    void Convert(const float* in, uint32_t frames);

    uint32_t Rate_;
    std::unique_ptr<SoxrHandle> Soxr_;
    std::vector<float> Ring_; // converted frames not yet taken; a power of two long
    uint64_t RingRead_ = 0, RingWrite_ = 0;
    std::vector<float> Scratch_; // one push's converted frames
    uint64_t ToDrop_ = 0;        // converted frames of the warm-up still to drop
    uint64_t Pushed_ = 0, Taken_ = 0, Shortfalls_ = 0;
    uint32_t Latency_ = 0;
    double LatencyFraction_ = 0.0; // the part of the real delay below one frame, 0..1
};

// A whole render's stream, converted offline.
class RateFileConverter {
public:
    explicit RateFileConverter(uint32_t rate); // as RateStage
    ~RateFileConverter();
    RateFileConverter(const RateFileConverter&) = delete;
    RateFileConverter& operator=(const RateFileConverter&) = delete;

    // Appends the converted frames that are ready to `out`.
    void Push(const float* in, size_t frames, std::vector<float>& out);
    // The rest, after the last input.
    void Finish(std::vector<float>& out);

private:
    std::unique_ptr<SoxrHandle> Soxr_;
};

} // namespace zelvox
