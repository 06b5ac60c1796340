#include "sequencer/PatternDefaults.h"

#include "engine/Tables.h"

namespace zelvox {

void InitStepDefaults(StepRecord& r) {
    const float freq = Note2Freq(kDefaultNote);
    r.BassNote = kDefaultNote;
    r.TwinTNote = kDefaultNote;
    r.NoiseNote = kDefaultNote;
    r.TwinTFreq = freq;
    r.TwinTDecay = 64;
    r.NoiseDecay = 64;
    r.TwinTVolume = 127;
    r.NoiseVolume = 127;
    r.TwinTEnvMod = 0;
    r.BassAmpSwitch = 0;
    r.TwinTPlay = 0;
    r.Pad41[0] = r.Pad41[1] = r.Pad41[2] = 0;
    r.BassFreq = freq;
    r.Reserved1 = 0;
    r.Reserved2 = 1.0f;
    r.BassCutoff = 32;
    r.BassResonance = 0;
    r.BassAttack = 3;
    r.BassDecay = 35;
    r.BassEnvMod = 0;
    r.BassVolume = 127;
    r.BassWaveform = 0;
    r.BassPlay = 1;
    r.BassSlide = 0;
    r.NoisePlay = 0;
    r.Pad95 = 0;
    r.BassLength = 60;
}

void InitPatternStoreDefaults(PatternStore& store) {
    for (int p = 0; p < kPatternSlots; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s)
            InitStepDefaults(store.Step(p, s));
    for (int s = 1; s <= kStepsPerPattern; ++s)
        store.Step(0, s).BassVolume = 0;
}

} // namespace zelvox
