#pragma once
// One step of a pattern: notes, play/slide flags of all three voices and a full copy of the
// sound parameters. The 100-byte layout is also the pattern file's, byte for byte, so every
// offset is pinned below. Files are read and written field by field in little-endian order
// (see files/), never by copying this struct's memory.

#include <cstddef>
#include <cstdint>

namespace zelvox {

struct StepRecord {
    int32_t BassNote;      // 1..37, index into NoteNames
    int32_t TwinTNote;     // 1..37
    int32_t NoiseNote;     // 1..37, becomes the noise filter's cut-off
    float TwinTFreq;       // Hz, Note2Freq(TwinTNote) when written by the editor
    int32_t TwinTDecay;    // 1..127
    int32_t NoiseDecay;    // 1..127
    int32_t TwinTVolume;   // 0..127
    int32_t NoiseVolume;   // 0..127
    int32_t TwinTEnvMod;   // 0..127, pitch-sweep depth
    int32_t BassAmpSwitch; // 0 "Off", 1 "Amp"
    uint8_t TwinTPlay;     // 1 = Twin-T triggered on this step
    uint8_t Pad41[3];      // always zero
    float BassFreq;        // Hz, Note2Freq(BassNote) when written by the editor
    int32_t Reserved1;     // stays 0
    float Reserved2;       // stays 1.0
    int32_t BassCutoff;    // 0..126
    int32_t BassResonance; // 0..105
    int32_t NoiseColour;   // 0..120
    int32_t BassAttack;    // 1..127
    int32_t BassDecay;     // 1..127
    int32_t BassEnvMod;    // 0..127
    int32_t NoiseEnvMod;   // 0..127
    int32_t BassVolume;    // 0..127 (0 in slot 0)
    int32_t BassWaveform;  // 0 square, 1 saw
    uint8_t BassPlay;      // 1 = bass note sounds, 0 = rest
    uint8_t BassSlide;     // 1 = glide to the next step's pitch
    uint8_t NoisePlay;     // 1 = noise triggered on this step
    uint8_t Pad95;         // always zero
    int32_t BassLength;    // 32..127, gate length within the step
};

static_assert(sizeof(StepRecord) == 100);
static_assert(offsetof(StepRecord, BassNote) == 0);
static_assert(offsetof(StepRecord, TwinTNote) == 4);
static_assert(offsetof(StepRecord, NoiseNote) == 8);
static_assert(offsetof(StepRecord, TwinTFreq) == 12);
static_assert(offsetof(StepRecord, TwinTDecay) == 16);
static_assert(offsetof(StepRecord, NoiseDecay) == 20);
static_assert(offsetof(StepRecord, TwinTVolume) == 24);
static_assert(offsetof(StepRecord, NoiseVolume) == 28);
static_assert(offsetof(StepRecord, TwinTEnvMod) == 32);
static_assert(offsetof(StepRecord, BassAmpSwitch) == 36);
static_assert(offsetof(StepRecord, TwinTPlay) == 40);
static_assert(offsetof(StepRecord, Pad41) == 41);
static_assert(offsetof(StepRecord, BassFreq) == 44);
static_assert(offsetof(StepRecord, Reserved1) == 48);
static_assert(offsetof(StepRecord, Reserved2) == 52);
static_assert(offsetof(StepRecord, BassCutoff) == 56);
static_assert(offsetof(StepRecord, BassResonance) == 60);
static_assert(offsetof(StepRecord, NoiseColour) == 64);
static_assert(offsetof(StepRecord, BassAttack) == 68);
static_assert(offsetof(StepRecord, BassDecay) == 72);
static_assert(offsetof(StepRecord, BassEnvMod) == 76);
static_assert(offsetof(StepRecord, NoiseEnvMod) == 80);
static_assert(offsetof(StepRecord, BassVolume) == 84);
static_assert(offsetof(StepRecord, BassWaveform) == 88);
static_assert(offsetof(StepRecord, BassPlay) == 92);
static_assert(offsetof(StepRecord, BassSlide) == 93);
static_assert(offsetof(StepRecord, NoisePlay) == 94);
static_assert(offsetof(StepRecord, Pad95) == 95);
static_assert(offsetof(StepRecord, BassLength) == 96);

constexpr int kPatternSlots = 17; // slot 0 = "no pattern", 1..16 the user's patterns
constexpr int kStepsPerPattern = 16;

// 17 slots x 16 steps, contiguous: slot p, step s (1-based) starts at byte (p*16 + s-1)*100.
struct PatternStore {
    StepRecord Records[kPatternSlots * kStepsPerPattern];

    // p in 0..16, s in 1..16. Callers keep to these ranges; the engine clamps indices it
    // derives from outside data before calling.
    StepRecord& Step(int p, int s) { return Records[p * kStepsPerPattern + (s - 1)]; }
    const StepRecord& Step(int p, int s) const { return Records[p * kStepsPerPattern + (s - 1)]; }
};

static_assert(sizeof(PatternStore) == 27200);

} // namespace zelvox
