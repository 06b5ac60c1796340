#pragma once
// A test rig around the Engine: a default pattern store, the program-wide positions the engine
// reads, the start-up curves, and a SeqStep hook that does what the sequencer does at a step
// boundary (reset the count, advance the steps, load the new step). It also records at which
// rendered sample each step began.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Engine.h"
#include "engine/Tables.h"
#include "sequencer/PatternDefaults.h"

namespace zelvox::test {

struct EngineHarness {
    PatternStore Store{};
    int32_t PlayPattern = 1;
    int32_t MasterVolume = 26125;
    int32_t Steps = 16;
    Engine E;

    int64_t SamplesRendered = 0; // samples produced by Render, counted at buffer ends
    // SamplesRendered when each SeqStep ran: the index of the sample that began the step when
    // rendering in buffers of one sample.
    std::vector<int64_t> StepStarts;

    // reseed: put NoiseSeed back to 0 first, so the wave tables and noise are those of a
    // fresh program run.
    explicit EngineHarness(bool reseed = true)
        : E((Reseed(reseed), Store), PlayPattern, MasterVolume) {
        InitPatternStoreDefaults(Store);
        E.SetSeqStepHook(&Hook, this);
    }

    static void Reseed(bool reseed) {
        if (reseed) ResetNoiseSeedForTesting();
    }

    StepRecord& Step(int s) { return Store.Step(PlayPattern, s); }
    void ForAllSteps(void (*edit)(StepRecord&)) {
        for (int s = 1; s <= 16; ++s)
            edit(Step(s));
    }

    // Loop/Play: back to step 1 and load it.
    void Start() {
        E.S.CurStep = 1;
        E.S.NextStep = 2;
        E.S.PrevStep = Steps;
        E.S.Playing = true;
        E.S.SampleCount = 0;
        E.GetOsc1Params();
    }

    // Renders n samples in buffers of at most bufferSamples.
    std::vector<int16_t> Render(int64_t n, uint32_t bufferSamples = 441) {
        std::vector<int16_t> out(static_cast<size_t>(n));
        int64_t done = 0;
        while (done < n) {
            const uint32_t len = static_cast<uint32_t>(std::min<int64_t>(bufferSamples, n - done));
            uint32_t recorded = 0;
            bool more = false;
            E.RenderBuffer(out.data() + done, len * 2, recorded, more);
            done += len;
            SamplesRendered += len;
        }
        return out;
    }

    // Mimics SeqStep: records where the step began, then advances as the sequencer does.
    static void Hook(void* context) {
        auto* h = static_cast<EngineHarness*>(context);
        h->StepStarts.push_back(h->SamplesRendered);
        EngineState& s = h->E.S;
        s.SampleCount = 0;
        s.PrevStep = s.CurStep;
        s.CurStep = s.NextStep;
        s.NextStep = s.CurStep >= h->Steps ? 1 : s.CurStep + 1;
        h->E.GetOsc1Params();
    }
};

} // namespace zelvox::test
