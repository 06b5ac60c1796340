#include "audio/DelayDepth.h"

#include "audio/MMReverb.h"
#include "engine/Round.h"

namespace zelvox {

void DelayDepthStartup(TMMReverb& reverb) {
    for (int i = 0; i < 8 && i < reverb.Echos().Count(); ++i)
        reverb.Echos()[i].SetDelay(0);
    reverb.SetInputGain(100);
    reverb.SetEnabled(true);
}

int32_t DelayMilliseconds(int32_t tempo, int32_t steps) {
    const float a = float(tempo) * 4.0f / 60.0f;
    const float b = 1.0f / a; // seconds per step
    const float ms = b * 1000.0f * float(steps);
    return RoundToInt32(ms);
}

void DelayKnobChanged(TMMReverb& reverb, int32_t tempo, int32_t delaySteps, int32_t masterVolume) {
    const int32_t ms = DelayMilliseconds(tempo, delaySteps);
    if (reverb.Echos().Count() == 0) return;
    if (masterVolume != 0) reverb.Echos()[0].SetDelay(ms);
    reverb.Echos()[0].SetGain(50);
}

void DepthKnobChanged(TMMReverb& reverb, int32_t depth) {
    reverb.SetOutputGain(int16_t(depth < -32768 ? -32768 : (depth > 32767 ? 32767 : depth)));
}

} // namespace zelvox
