#pragma once
// Wave tables, envelope curves, note pitch and the program's random generator.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/EngineState.h"

namespace zelvox {

// The random generator: seed = seed * 134775813 + 1 per draw; 0 at start, never reseeded.
// Each engine keeps one of its own (its noise table, then its noise voice, draw from it);
// NoiseSeed is the one InitWaveTable(waveTable) draws from.
extern uint32_t NoiseSeed;
// Advances the seed and returns the upper 32 bits of seed * range.
inline uint32_t NoiseDraw(uint32_t range, uint32_t& seed) {
    seed = seed * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(seed) * range) >> 32);
}
inline uint32_t NoiseDraw(uint32_t range) {
    return NoiseDraw(range, NoiseSeed);
}
// Tests only: the program itself never reseeds. Puts the generator back to its start state so
// that a test can rely on the draws 0, 1028, 28214, ... whatever ran before it.
inline void ResetNoiseSeedForTesting() {
    NoiseSeed = 0;
}

// Fills 4 x 32768 entries: square, falling saw, noise (32768 draws), sine.
void InitWaveTable(float* waveTable);
// The same, drawing from `seed` instead of the program-wide generator.
void InitWaveTable(float* waveTable, uint32_t& seed);

// Frequency in Hz of note index n (note 13 = 69.296 Hz).
float Note2Freq(int32_t n);

// Contour setting -> exponent (setting 20 gives 1.0) and the 0..100 figure the envelope
// dialog shows.
float AttackExponent(int32_t setting);
float DecayExponent(int32_t setting);
int32_t AttackContourFigure(int32_t setting);
int32_t DecayContourFigure(int32_t setting);
// curve[i] = (i/32767)^e for an attack, 1 - (i/32767)^e for a decay, 32768 entries.
// An exponent below 0 or NaN (never produced by the contour settings) is taken as 0.
void BuildAttackCurve(float* curve, float exponent);
void BuildDecayCurve(float* curve, float exponent);

// The start-up contour of every curve (exponent 1: linear rise, linear falls).
constexpr int32_t kDefaultContour = 20;

// The four contours by number: 0 bass attack, 1 bass decay, 2 Twin-T decay, 3 noise decay.
constexpr int kContourCount = 4;
// The 0..100 figure the envelope dialog shows for a setting.
int32_t ContourFigure(int contour, int32_t setting);

// One synth's four envelope curves, each indexed by a rounded envelope position 0..32767.
// Every engine owns its own: a contour set on one synth never touches another's sound, nor
// a table another synth's audio thread reads.
class ContourCurves {
public:
    // The start-up contours, built at once: they exist before the first buffer is rendered.
    ContourCurves();
    // Contour c's table (c outside 0..3 is the noise decay, as before).
    float* Curve(int c) { return Block_.get() + Offset(c); }
    const float* Curve(int c) const { return Block_.get() + Offset(c); }
    // Rebuilds one table from its contour setting (takes effect on the next sample).
    void Build(int contour, int32_t setting);
    // All four, in the order attack, bass decay, Twin-T decay, noise decay.
    void BuildAll(int32_t attack = kDefaultContour, int32_t bassDecay = kDefaultContour,
                  int32_t twinTDecay = kDefaultContour, int32_t noiseDecay = kDefaultContour);

private:
    static size_t Offset(int c) { return size_t(c >= 0 && c < kContourCount ? c : kContourCount - 1) * kTableSize; }
    std::unique_ptr<float[]> Block_;
};

} // namespace zelvox
