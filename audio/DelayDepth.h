#pragma once
// The tempo-synchronised echo of the main window: the "Delay" knob (MMWheel16, 0..16 steps)
// sets echo 0 of the reverb component, the "Depth" knob (MMWheel17, 0..100 %) its output
// gain. The main window calls these from its start-up and its two knob handlers.

#include <cstdint>

namespace zelvox {

class TMMReverb;

// The echo's longest delay: the reverb component's stored maximum, ms.
constexpr int32_t kEchoMaxDelayMs = 2000;

// Start-up, before any audio: every echo's delay 0 ms, InputGain 100 %, component enabled.
void DelayDepthStartup(TMMReverb& reverb);

// One step at `tempo` (beats per minute) times `steps`, in ms, rounded half to even:
// a = tempo * 4 / 60, b = 1 / a, round(b * 1000 * steps), every intermediate a float32.
int32_t DelayMilliseconds(int32_t tempo, int32_t steps);

// MMWheel16Change: echo 0's delay from the knob at the tempo now shown, unless the master
// "Volume" knob is at 0 (then the delay stays); echo 0's gain 50 % in every case.
void DelayKnobChanged(TMMReverb& reverb, int32_t tempo, int32_t delaySteps, int32_t masterVolume);

// MMWheel17Change: the reverb's OutputGain := the knob value.
void DepthKnobChanged(TMMReverb& reverb, int32_t depth);

} // namespace zelvox
