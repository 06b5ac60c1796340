#pragma once
// The sound engine: the step loader, the three voices with their filters and the render loop
// that fills one output buffer. Everything here runs on the main thread; the per-sample path
// allocates nothing, locks nothing and makes no virtual calls. The sequencer is reached
// through a plain function-pointer hook, called once per step.
//
// Arithmetic is float32, one IEEE operation per operator, left to right as the formulas are
// written, integers converted to float first. Divisions by a power of two are written as
// products with the exact reciprocal: the result is bit-identical and much cheaper.
//
// Guards against values no control can produce (a pattern file may carry any bytes) are kept
// out of the in-range arithmetic: see GetOsc1Params and the filters' non-finite rules.

#include <cmath>
#include <cstdint>
#include <memory>

#include "engine/EngineState.h"
#include "engine/Round.h"
#include "engine/Tables.h"
#include "base/StepRecord.h"

namespace zelvox {

// The note sliders' range: bass notes 1..37.
constexpr int32_t kBassNoteMax = 37;

class Engine {
public:
    using SeqStepHook = void (*)(void* context);

    // Allocates and builds the wave tables (the noise table from the generator's start).
    Engine(PatternStore& store, const int32_t& playPattern, const int32_t& masterVolume);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    EngineState S;

    // Called by the render loop at every step boundary (after SampleCount passed StepLength).
    void SetSeqStepHook(SeqStepHook hook, void* context) {
        SeqStep_ = hook;
        SeqStepContext_ = context;
    }

    // Loads step CurStep of PlayPattern into the engine and retriggers the voices.
    void GetOsc1Params();

    float DoOsc1();
    float DoFilter1(float x);
    float DoOsc2();
    float DoOsc3();
    float DoFilter2(float x);

    // The render loop (the chain head's OnBufferLoad): fills bufferLength / 2 samples.
    // With PlayPattern 0 it returns at once and touches nothing.
    void RenderBuffer(int16_t* samples, uint32_t bufferLength, uint32_t& bytesRecorded,
                      bool& moreBuffers);

    // Stems: while set, RenderBuffer also writes each voice alone (dry, through the master
    // volume, rounded and limited as the mix is) into these arrays, sample i beside sample i
    // of the buffer, for at most `frames` samples of each buffer. The mix is computed exactly
    // as without them. All three or none: a null pointer or 0 frames switches stems off, and
    // then the loop does no stem work at all. The arrays must outlive the setting.
    void SetStemOutput(int16_t* bass, int16_t* twinT, int16_t* noise, uint32_t frames) {
        const bool on = bass && twinT && noise && frames > 0;
        StemBass_ = on ? bass : nullptr;
        StemTwinT_ = on ? twinT : nullptr;
        StemNoise_ = on ? noise : nullptr;
        StemFrames_ = on ? frames : 0;
    }

    // While a buffer renders, subnormal floats are flushed to zero. A silent filter rings
    // down into the subnormal range and can sit there in a rounding limit cycle for whole
    // steps; the processor handles those values several times slower. Values that small are
    // 2^100 below one step of the 16-bit output, and renders of thousands of random patterns
    // come out bit for bit the same either way (a test keeps it so). The caller's floating
    // point mode is restored before RenderBuffer returns.
    bool FlushSubnormals = true;

    // This engine's envelope curves, from the start-up contours (see ContourCurves).
    ContourCurves Curves;

private:
    PatternStore& Store_;
    const int32_t& PlayPattern_;
    const int32_t& MasterVolume_; // live value of the master "Volume" knob, 0..26125
    std::unique_ptr<float[]> WaveTableBlock_;
    // Curves' tables, read per sample (their blocks never move).
    const float* const Attack_ = Curves.Curve(0);
    const float* const BassDecay_ = Curves.Curve(1);
    const float* const TwinTDecay_ = Curves.Curve(2);
    const float* const NoiseDecay_ = Curves.Curve(3);
    uint32_t NoiseSeed_ = 0; // this engine's random generator (see Tables.h)
    SeqStepHook SeqStep_ = nullptr;
    void* SeqStepContext_ = nullptr;
    int16_t* StemBass_ = nullptr;
    int16_t* StemTwinT_ = nullptr;
    int16_t* StemNoise_ = nullptr;
    uint32_t StemFrames_ = 0; // samples each stem array holds
    // Note2Freq of the bass notes 1..37, for transposed steps ([0] unused).
    float NoteFreq_[kBassNoteMax + 1] = {};

    // Samples [from, to) of a buffer; the stem arrays are indexed the same way. Two
    // instances, so that the plain render carries no stem test per sample.
    template <bool kStems> void RenderSamples(int16_t* samples, uint32_t from, uint32_t to);
};

// Samples per step for a tempo in beats per minute (four steps to the beat).
int32_t StepLengthForTempo(int32_t tempo);

// Bass note index `note` moved by `semitones` and brought back into 1..37 by whole octaves,
// so that a transposed line keeps its key where it would leave the note sliders' range.
// Any int32 values (a pattern file may carry any note) give an index in 1..37.
int32_t TransposedNote(int32_t note, int32_t semitones);

// ---- per-sample code, inline so that the render loop compiles into one straight body ----

namespace detail {
constexpr float kPhaseScale = 1073741824.0f; // 2^30 phase units per cycle
constexpr float kEnvEnd = 32767.0f;
// Table index of an envelope position. Positions run 0..32767 (the stage tests keep them
// below 32767 here, so the rounded value is at most 32767); the mask only keeps a position
// written from outside the engine inside the table.
inline uint32_t CurveIndex(float pos) {
    return static_cast<uint32_t>(RoundToInt32(pos)) & (kTableSize - 1);
}
inline uint32_t PhaseIndex(uint32_t phase) {
    return (phase >> 15) & (kTableSize - 1);
}
} // namespace detail

inline float Engine::DoOsc1() {
    using namespace detail;
    if (S.Env1State == 0) {
        S.Env1Pos = S.Env1Pos + S.Env1AttackRate;
        if (S.Env1Pos >= kEnvEnd) {
            S.Env1State = 2;
            S.Env1Level = 1.0f;
            S.Env1Pos = 0.0f;
        } else {
            S.Env1Level = Attack_[CurveIndex(S.Env1Pos)];
        }
    }
    if (S.Env1State == 2) {
        S.Env1Pos = S.Env1Pos + S.Env1DecayRate;
        if (S.Env1Pos >= kEnvEnd)
            S.Env1Level = 0.0f;
        else
            S.Env1Level = BassDecay_[CurveIndex(S.Env1Pos)];
    }
    if (S.Osc1Slide) S.Osc1Freq = S.Osc1Freq + S.Osc1SlideInc;
    S.Osc1PhaseInc = RoundToInt32(S.Osc1Freq * kPhaseScale / 44100.0f);
    float s = 0.0f;
    if (S.Osc1On) {
        const uint32_t table = static_cast<uint32_t>(S.Osc1Wave) & 3u; // the loader keeps 0..3
        s = S.WaveTable[table * kTableSize + PhaseIndex(S.Osc1Phase)];
    }
    if (S.SampleCount >= S.Osc1Gate && !S.Osc1Slide) s = 0.0f;
    if (S.Osc1AmpEnv == 1) s = s * S.Env1Level;
    return s;
}

inline float Engine::DoFilter1(float x) {
    float f = static_cast<float>(S.Filter1Cutoff) * (1.0f / 256.0f) + S.Filter1Env;
    if (f > 0.99f) f = 0.99f;
    float t = 1.0f - f;
    t = 3.5f * t * t + 1.0f;
    float fb = static_cast<float>(S.Filter1Res) / 108.0f * t;
    fb = fb * S.Filter1Stage[4];
    if (fb > 5.0f) fb = 5.0f;
    if (fb < -5.0f) fb = -5.0f;
    const float k = 2.0f * f - 1.0f;
    float u = x - fb;
    S.Filter1Stage[0] = u;
    for (int j = 1; j <= 4; ++j) {
        const float a = (u - S.Filter1AP[j]) * k + S.Filter1In[j];
        S.Filter1AP[j] = a;
        S.Filter1In[j] = u;
        u = (u + a) * 0.5f;
        S.Filter1Stage[j] = u;
    }
    // In range (cut-off 0..126, resonance 0..91, envelope amount 1..128) the filter is stable
    // and this never fires. A step from a damaged file can make it blow up; an infinity or NaN
    // would then sit in the memory for good and silence the bass, so the memory is cleared and
    // the sample is 0. Any non-finite value of this sample has reached u by now.
    if (!std::isfinite(u)) {
        for (int j = 0; j <= 4; ++j) {
            S.Filter1Stage[j] = 0.0f;
            S.Filter1AP[j] = 0.0f;
            S.Filter1In[j] = 0.0f;
        }
        return 0.0f;
    }
    return u;
}

inline float Engine::DoOsc2() {
    using namespace detail;
    if (S.Env2State == 0) {
        S.Env2Level = S.Env2Level + 0.01f;
        if (S.Env2Level > 1.0f) {
            S.Env2Level = 1.0f;
            S.Env2State = 2;
        }
    }
    if (S.Env2State == 2) {
        S.Env2Pos = S.Env2Pos + S.Env2DecayRate;
        if (S.Env2Pos >= kEnvEnd)
            S.Env2Level = 0.0f;
        else
            S.Env2Level = TwinTDecay_[CurveIndex(S.Env2Pos)];
    }
    S.Osc2Freq = S.Osc2Freq -
                 static_cast<float>(S.Osc2Sweep) * S.Osc2Freq * (1.0f / 64.0f) * S.Osc2SweepRate;
    S.Osc2PhaseInc = RoundToInt32(S.Osc2Freq * 4.0f * kPhaseScale / 44100.0f);
    return S.WaveTable[3 * kTableSize + PhaseIndex(S.Osc2Phase)] * S.Env2Level;
}

inline float Engine::DoOsc3() {
    using namespace detail;
    if (S.Env3State == 0) {
        S.Env3Level = S.Env3Level + 0.02f;
        if (S.Env3Level > 1.0f) {
            S.Env3Level = 1.0f;
            S.Env3State = 2;
        }
    }
    if (S.Env3State == 2) {
        S.Env3Pos = S.Env3Pos + S.Env3DecayRate;
        if (S.Env3Pos >= kEnvEnd)
            S.Env3Level = 0.0f;
        else
            S.Env3Level = NoiseDecay_[CurveIndex(S.Env3Pos)];
    }
    const float r = static_cast<float>(NoiseDraw(32768, NoiseSeed_)) * (1.0f / 32768.0f);
    return r * S.Env3Level;
}

inline float Engine::DoFilter2(float x) {
    float f = static_cast<float>(S.Filter2Cutoff) * (1.0f / 256.0f) + S.Filter2Env;
    if (f > 0.99f) f = 0.99f;
    const float g = 1.0f - f;
    const float q = (1.0f / g + 1.0f) * (static_cast<float>(S.Filter2Res) / 108.0f);
    const float v = x / 3.0f;
    float* p = S.Filter2Stage;
    const float p1 = g * p[1] + f * ((p[1] - p[2]) * q + v);
    const float p2 = g * p[2] + f * p1;
    const float p3 = g * p[3] + f * p2;
    const float p4 = g * p[4] + f * p3;
    // An overflow or undefined value anywhere above ends up in p4 (f <= 0.99 keeps g >= 0.01,
    // so f, g and q are finite). Such a sample is 0. The poles are cleared rather than kept:
    // kept, they could hold values from which even an in-range step overflows again on every
    // sample, and the noise voice would stay silent for good.
    if (!std::isfinite(p4)) {
        p[1] = p[2] = p[3] = p[4] = 0.0f;
        return 0.0f;
    }
    p[1] = p1;
    p[2] = p2;
    p[3] = p3;
    p[4] = p4;
    if (p4 > 1.0f) return 1.0f;
    if (p4 < -1.0f) return -1.0f;
    return p4;
}

} // namespace zelvox
