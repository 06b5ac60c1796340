#pragma once
// The store part of start-up: every step of every slot gets the initial values of a new
// pattern, then slot 0 ("no pattern") is made silent.

#include "base/StepRecord.h"

namespace zelvox {

constexpr int32_t kDefaultNote = 13; // "C2", 69.296 Hz

// Writes the initial values into all 17 x 16 steps, then BassVolume 0 into the 16 steps of
// slot 0. NoiseColour and NoiseEnvMod are left as they are (0 in the zero-filled store the
// program starts with); the padding bytes are written as 0.
void InitPatternStoreDefaults(PatternStore& store);

// The initial values of one step (as written to slots 1..16).
void InitStepDefaults(StepRecord& step);

} // namespace zelvox
