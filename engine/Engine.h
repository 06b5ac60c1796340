#pragma once
// The sound engine: the step loader, the three voices with their filters and the render loop
// that fills one output buffer. Everything here runs on the main thread; the per-sample path
// allocates nothing, locks nothing and makes no virtual calls. The sequencer is reached
// through a plain function-pointer hook, called once per step.

#include <cstdint>
#include <memory>

#include "engine/EngineState.h"
#include "sequencer/StepRecord.h"

namespace zelvox {

class Engine {
public:
    using SeqStepHook = void (*)(void* context);

    // Allocates and builds the wave tables (InitWaveTable draws from NoiseSeed).
    Engine(PatternStore& store, const int32_t& playPattern, const int32_t& masterVolume);

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

    // The render loop (the body of MMWaveOut2BufferLoad): fills bufferLength / 2 samples.
    // With PlayPattern 0 it returns at once and touches nothing.
    void RenderBuffer(int16_t* samples, uint32_t bufferLength, uint32_t& bytesRecorded,
                      bool& moreBuffers);

private:
    PatternStore& Store_;
    const int32_t& PlayPattern_;
    const int32_t& MasterVolume_; // live value of the master "Volume" knob, 0..26125
    std::unique_ptr<float[]> WaveTableBlock_;
    SeqStepHook SeqStep_ = nullptr;
    void* SeqStepContext_ = nullptr;
};

// Samples per step for a tempo in beats per minute (four steps to the beat).
int32_t StepLengthForTempo(int32_t tempo);

} // namespace zelvox
