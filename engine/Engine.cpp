#include "engine/Engine.h"

#include <algorithm>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace zelvox {

namespace {

int32_t ClampIndex(int32_t v, int32_t lo, int32_t hi) {
    return std::clamp(v, lo, hi);
}

// Divisors taken from a step (attack, decay times) are at least 1: the knobs never go lower,
// and a pattern file that carries 0 or a negative value must not make the loader divide by 0.
int32_t AtLeastOne(int32_t v) {
    return v < 1 ? 1 : v;
}

// Knob value + 1 without overflowing for a hostile INT32_MAX.
int32_t PlusOne(int32_t v) {
    return v == INT32_MAX ? v : v + 1;
}

} // namespace

Engine::Engine(PatternStore& store, const int32_t& playPattern, const int32_t& masterVolume)
    : Store_(store), PlayPattern_(playPattern), MasterVolume_(masterVolume),
      WaveTableBlock_(new float[4 * kTableSize]) {
    // The random generator is the engine's own, from its start state: the noise table takes
    // its draws 1..32768 and the noise voice the draws after them, as in the program, however
    // many engines the process made before. Two synths in one host sound alike and share no
    // generator.
    InitWaveTable(WaveTableBlock_.get(), NoiseSeed_);
    S.WaveTable = WaveTableBlock_.get();
    for (int32_t n = 1; n <= kBassNoteMax; ++n) NoteFreq_[n] = Note2Freq(n);
}

int32_t TransposedNote(int32_t note, int32_t semitones) {
    int64_t v = int64_t{note} + semitones;
    if (v > kBassNoteMax) v -= 12 * ((v - kBassNoteMax + 11) / 12);
    else if (v < 1) v += 12 * ((1 - v + 11) / 12);
    return static_cast<int32_t>(v);
}

void Engine::GetOsc1Params() {
    // Indices and the step length come from outside the engine; keep them in range. For the
    // values the sequencer produces (pattern 0..16, steps 1..16, StepLength >= 2756) none of
    // these changes anything.
    const int32_t pattern = ClampIndex(PlayPattern_, 0, kPatternSlots - 1);
    const StepRecord& step = Store_.Step(pattern, ClampIndex(S.CurStep, 1, kStepsPerPattern));
    const StepRecord& next = Store_.Step(pattern, ClampIndex(S.NextStep, 1, kStepsPerPattern));
    const StepRecord& prev = Store_.Step(pattern, ClampIndex(S.PrevStep, 1, kStepsPerPattern));
    const float stepLength = static_cast<float>(AtLeastOne(S.StepLength));

    // 1-2: flags and the bass pitch (a rest keeps the last pitch).
    S.Osc1On = step.BassPlay != 0;
    // A transposed step plays its note's pitch moved; untransposed, the stored pitch.
    const int32_t t = S.BassTranspose;
    if (S.Osc1On) S.Osc1Freq = t == 0 ? step.BassFreq : NoteFreq_[TransposedNote(step.BassNote, t)];
    S.Osc2Trig = step.TwinTPlay != 0;
    S.Osc3Trig = step.NoisePlay != 0;
    // 3-7
    S.Osc1AmpEnv = step.BassAmpSwitch;
    S.Osc2FreqSaved = S.Osc2Freq;
    S.Osc2Freq = step.TwinTFreq;
    S.Osc1SlideTarget = t == 0 ? next.BassFreq : NoteFreq_[TransposedNote(next.BassNote, t)];
    const bool prevSlide = prev.BassSlide != 0;
    // Tables 0..3 exist (2, noise, is reachable on purpose); anything else reads the nearest.
    S.Osc1Wave = std::clamp(step.BassWaveform, 0, 3);
    S.Osc1Slide = step.BassSlide != 0;
    S.Osc1Volume = static_cast<int16_t>(static_cast<uint16_t>(step.BassVolume & 0xFFFF));
    S.Filter1Cutoff = step.BassCutoff;
    // 8-10
    S.Filter2CutoffSaved = S.Filter2Cutoff;
    S.Filter2Cutoff = RoundToInt32(static_cast<float>(step.NoiseNote) * 128.0f / 36.0f);
    S.Filter1Res = RoundToInt32(static_cast<float>(step.BassResonance) * 110.0f / 127.0f);
    S.Filter2Res = RoundToInt32(static_cast<float>(step.NoiseColour) * 110.0f / 127.0f);
    S.Filter1EnvMod = PlusOne(step.BassEnvMod);
    S.Filter2EnvMod = PlusOne(step.NoiseEnvMod);
    S.Osc3Volume = step.NoiseVolume;
    // 11: gate. The + 1 is formed in 64 bits (exact in float for any int32 length).
    const float gateSteps = static_cast<float>(static_cast<int64_t>(step.BassLength) + 1) / 127.0f;
    S.Osc1Gate = RoundToInt32(gateSteps * stepLength);
    // 12: Twin-T sweep. d is at least 1 with in-range values (TwinTDecay >= 1,
    // StepLength >= 2756); the floor of 1 only matters for a hostile step length.
    const float twinTDecay = static_cast<float>(AtLeastOne(step.TwinTDecay));
    const int32_t d = std::max(RoundToInt32(twinTDecay / 64.0f * stepLength), 1);
    S.Osc2Sweep = step.TwinTEnvMod;
    S.Osc2Volume = step.TwinTVolume;
    S.Osc2SweepRate = 1.0f / static_cast<float>(d);

    // 13: bass retrigger, unless the previous step slid into this one (legato). The level and
    // the phase carry on.
    if (S.Osc1On && !prevSlide) {
        S.Env1State = 0;
        S.Env1Pos = 0.0f;
        const float attack = static_cast<float>(AtLeastOne(step.BassAttack));
        const float decay = static_cast<float>(AtLeastOne(step.BassDecay));
        S.Env1AttackRate = 32767.0f / (stepLength * (attack / 256.0f));
        S.Env1DecayRate = 32767.0f / (stepLength * (decay / 127.0f));
    }
    // 14: glide towards the next step's pitch; every sliding step halves the envelope rates
    // again, retriggered or not.
    if (S.Osc1Slide) {
        S.Osc1SlideInc = (S.Osc1SlideTarget - S.Osc1Freq) / stepLength;
        S.Env1DecayRate = S.Env1DecayRate * 0.5f;
        S.Env1AttackRate = S.Env1AttackRate * 0.5f;
    }

    // 15: Twin-T. Without a trigger the running drum's pitch is not disturbed.
    if (!S.Osc2Trig) {
        S.Osc2Freq = S.Osc2FreqSaved;
    } else {
        S.Env2State = 0;
        S.Env2Pos = 0.0f;
        S.Osc2Phase = 0;
        S.Env2DecayRate = 32767.0f / (twinTDecay / 64.0f * stepLength);
    }

    // 16: noise. The cut-off changes only on triggered steps.
    if (!S.Osc3Trig) {
        S.Filter2Cutoff = S.Filter2CutoffSaved;
    } else {
        S.Env3State = 0;
        S.Env3Pos = 0.0f;
        const float noiseDecay = static_cast<float>(AtLeastOne(step.NoiseDecay));
        S.Env3DecayRate = 16384.0f / (noiseDecay / 64.0f * stepLength);
    }
}

namespace {

// Sets flush-to-zero and denormals-are-zero for its lifetime, then puts the previous mode back.
class SubnormalsFlushed {
public:
    explicit SubnormalsFlushed(bool on) {
#if defined(__SSE__)
        Saved_ = _mm_getcsr();
        if (on) _mm_setcsr(Saved_ | kFtzDaz);
#else
        (void)on;
#endif
    }
    ~SubnormalsFlushed() {
#if defined(__SSE__)
        _mm_setcsr(Saved_);
#endif
    }
    SubnormalsFlushed(const SubnormalsFlushed&) = delete;
    SubnormalsFlushed& operator=(const SubnormalsFlushed&) = delete;

private:
    static constexpr unsigned kFtzDaz = 0x8040; // MXCSR bits 15 (FTZ) and 6 (DAZ)
    unsigned Saved_ = 0;
};

} // namespace

namespace {

// One output sample from a sum of voice outputs: through the master volume (0..26125, as
// a float), scaled to 16 bits, rounded to nearest even, limited to +-32767 (-32768 is never
// written: the output is symmetric). A stem is the same with the other voices' terms left
// out, which is exact: adding a zero to a float changes nothing but the sign of a zero, and
// a zero rounds to 0 either way.
inline int16_t MixToSample(float sum, float volume) {
    const float mix = sum * volume * (1.0f / 65536.0f);
    return static_cast<int16_t>(std::clamp(RoundToInt32(mix * 32768.0f), -32767, 32767));
}

} // namespace

template <bool kStems> void Engine::RenderSamples(int16_t* samples, uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) {
        // SampleCount + 1 > StepLength (+ the swing's shift), written so that no value of
        // any of them can overflow.
        const int32_t count = S.SampleCount;
        S.SampleCount = static_cast<int32_t>(static_cast<uint32_t>(count) + 1u);
        if (count >= int64_t{S.StepLength} + S.SwingShift && SeqStep_) SeqStep_(SeqStepContext_);

        const float bass = DoOsc1();
        const float twin = DoOsc2();
        const float noise = DoOsc3();
        const float twinOut = static_cast<float>(S.Osc2Volume) * twin * (1.0f / 128.0f);
        S.Filter1Env = static_cast<float>(S.Filter1EnvMod) * (1.0f / 128.0f) * S.Env1Level / 1.5f;
        const float bassOut = static_cast<float>(S.Osc1Volume) * DoFilter1(bass) * (1.0f / 128.0f);
        S.Filter2Env = static_cast<float>(S.Filter2EnvMod) * (1.0f / 128.0f) * S.Env3Level / 1.5f;
        const float noiseOut =
            static_cast<float>(S.Osc3Volume) * DoFilter2(noise) * (1.0f / 128.0f);
        const float volume = static_cast<float>(MasterVolume_);
        samples[i] = MixToSample(twinOut + bassOut + noiseOut, volume);
        if constexpr (kStems) {
            StemBass_[i] = MixToSample(bassOut, volume);
            StemTwinT_[i] = MixToSample(twinOut, volume);
            StemNoise_[i] = MixToSample(noiseOut, volume);
        }

        S.Osc1Phase = (S.Osc1Phase + static_cast<uint32_t>(S.Osc1PhaseInc)) & kPhaseMask;
        S.Osc2Phase = (S.Osc2Phase + static_cast<uint32_t>(S.Osc2PhaseInc)) & kPhaseMask;
    }
}

void Engine::RenderBuffer(int16_t* samples, uint32_t bufferLength, uint32_t& bytesRecorded,
                          bool& moreBuffers) {
    if (PlayPattern_ == 0) return;
    const SubnormalsFlushed mode(FlushSubnormals);
    const uint32_t n = bufferLength / 2;
    const uint32_t withStems = std::min(n, StemFrames_);
    if (withStems > 0) RenderSamples<true>(samples, 0, withStems);
    RenderSamples<false>(samples, withStems, n);
    bytesRecorded = bufferLength;
    moreBuffers = S.MoreBuffers;
}

int32_t StepLengthForTempo(int32_t tempo) {
    // The Tempo spin edit keeps 20..240; a tempo below 1 is taken as 1 so that no value can
    // make this divide by zero.
    const float r = static_cast<float>(AtLeastOne(tempo)) * 4.0f / 60.0f; // steps per second
    const float d = 1.0f / r;                                             // seconds per step
    const float n = d * 44100.0f;                                         // samples per step
    return RoundToInt32(n);
}

} // namespace zelvox
