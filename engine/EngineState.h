#pragma once
// The engine's state record: sequencer position and every voice's oscillator, envelope and
// filter memory. Owned by the main window; zero-filled, then the start values below.

#include <cstdint>

namespace zelvox {

constexpr int kTableSize = 32768;            // entries per wave or curve table
constexpr uint32_t kPhaseMask = 0x3FFFFFFFu; // oscillator phases use 30 bits
constexpr int kSampleRate = 44100;

struct EngineState {
    // Sequencer position and timing
    int32_t CurStep = 1;      // step being played, 1..16
    int32_t NextStep = 2;     // step that follows CurStep
    int32_t PrevStep = 16;    // step before CurStep (the "Steps" value at start)
    int32_t SampleCount = 0;  // samples rendered since the current step began
    int32_t StepLength = 4725; // samples per step (tempo 140)
    // Swing: samples the render loop's own clock adds to this step (a step before an
    // off-beat sixteenth) or takes from it (the off-beat one); 0 without swing.
    int32_t SwingShift = 0;
    // MIDI notes in: semitones the bass plays away from its stored notes, folded into the
    // note range by octaves (TransposedNote). The sequencer sets it as a step loads; at 0
    // the stored pitches play untouched.
    int32_t BassTranspose = 0;
    bool Playing = false;
    bool ArrangerMode = false;
    bool MoreBuffers = true;  // handed back to the chain after every buffer; never cleared
    float* WaveTable = nullptr; // 4 x 32768 float32 oscillator tables, owned by the Engine

    // Bass voice
    bool Osc1On = false;
    bool Osc1Slide = false;
    float Osc1Freq = 440.0f;  // Hz
    float Osc1SlideTarget = 0.0f; // Hz, the next step's pitch
    float Osc1SlideInc = 0.0f;    // Hz per sample while gliding
    int32_t Osc1Wave = 1;     // wave table index
    int32_t Osc1AmpEnv = 0;   // 1 = output multiplied by the envelope
    int16_t Osc1Volume = 0;   // 0..127 (low 16 bits of BassVolume)
    int32_t Filter1Cutoff = 0;
    int32_t Filter1Res = 0;
    int32_t Filter1EnvMod = 0;
    int32_t Osc1Gate = 0;     // samples after the step start at which the note is cut
    uint8_t Env1State = 0;    // 0 attack, 2 decay
    float Env1Pos = 0.0f;     // 0..32767, advanced by the stage's rate every sample
    float Env1Level = 0.0f;   // 0..1
    float Env1AttackRate = 0.0f;
    float Env1DecayRate = 0.0f;
    uint32_t Osc1Phase = 0;   // 30-bit accumulator
    int32_t Osc1PhaseInc = 0;
    float Filter1Env = 0.0f;  // per-sample envelope term of the cut-off
    float Filter1Stage[5] = {}; // [0] input after feedback, [1..4] stage outputs
    float Filter1AP[5] = {};    // [1..4] each stage's all-pass output
    float Filter1In[5] = {};    // [1..4] each stage's previous input

    // Twin-T voice
    bool Osc2Trig = false;
    float Osc2Freq = 0.0f;    // Hz, falls during the sweep
    float Osc2FreqSaved = 0.0f;
    int32_t Osc2Volume = 0;
    int32_t Osc2Sweep = 0;
    float Osc2SweepRate = 0.0f;
    float Env2DecayRate = 0.0f;
    // The drum envelopes start finished (decay stage, past its end, level 0), exactly as after
    // a decay has run out, so the drums stay silent until their first trigger.
    uint8_t Env2State = 2;    // 0 attack, 2 decay
    float Env2Pos = 32767.0f; // 0..32767 along the Twin-T decay curve
    float Env2Level = 0.0f;
    uint32_t Osc2Phase = 0;
    int32_t Osc2PhaseInc = 0;

    // Noise voice
    bool Osc3Trig = false;
    int32_t Filter2Cutoff = 0;
    int32_t Filter2CutoffSaved = 0;
    int32_t Filter2Res = 0;
    int32_t Filter2EnvMod = 0;
    int32_t Osc3Volume = 0;
    float Env3DecayRate = 0.0f;
    uint8_t Env3State = 2;    // 0 attack, 2 decay; finished at start like Env2
    float Env3Pos = 32767.0f; // 0..32767 along the noise decay curve
    float Env3Level = 0.0f;
    float Filter2Env = 0.0f;
    float Filter2Stage[5] = {}; // [1..4] the four poles; [4] is the output
};

} // namespace zelvox
