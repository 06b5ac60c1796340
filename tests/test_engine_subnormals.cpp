// The render loop flushes subnormal floats while it runs. These tests hold the claim that
// this never changes an output sample, and that the caller's floating-point mode survives.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <xmmintrin.h>

#include "support/EngineHarness.h"

using namespace zelvox;
using zelvox::test::EngineHarness;

namespace {

// Every sound field of every step of pattern 1 at a random value inside its control's range.
void RandomPattern(EngineHarness& h, unsigned seed) {
    std::mt19937 rng(seed);
    auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int s = 1; s <= 16; ++s) {
        StepRecord& st = h.Step(s);
        st.BassPlay = uint8_t(r(0, 1));
        st.BassSlide = uint8_t(r(0, 3) == 0);
        st.BassNote = r(1, 37);
        st.BassFreq = Note2Freq(st.BassNote);
        st.TwinTNote = r(1, 37);
        st.TwinTFreq = Note2Freq(st.TwinTNote);
        st.NoiseNote = r(1, 37);
        st.TwinTPlay = uint8_t(r(0, 2) == 0);
        st.NoisePlay = uint8_t(r(0, 2) == 0);
        st.BassCutoff = r(0, 126);
        st.BassResonance = r(0, 105);
        st.BassEnvMod = r(0, 127);
        st.BassAttack = r(1, 127);
        st.BassDecay = r(1, 127);
        st.BassLength = r(32, 127);
        st.BassVolume = r(0, 127);
        st.BassWaveform = r(0, 1);
        st.BassAmpSwitch = r(0, 1);
        st.TwinTDecay = r(1, 127);
        st.TwinTEnvMod = r(0, 127);
        st.TwinTVolume = r(0, 127);
        st.NoiseDecay = r(1, 127);
        st.NoiseColour = r(0, 120);
        st.NoiseEnvMod = r(0, 127);
        st.NoiseVolume = r(0, 127);
    }
}

std::vector<int16_t> RenderPattern(unsigned seed, bool flush, int64_t samples) {
    EngineHarness h;
    if (seed != 0) RandomPattern(h, seed);
    h.E.FlushSubnormals = flush;
    h.Start();
    return h.Render(samples);
}

bool AnySubnormal(const EngineState& s) {
    for (float v : s.Filter1Stage)
        if (std::fpclassify(v) == FP_SUBNORMAL) return true;
    for (float v : s.Filter1AP)
        if (std::fpclassify(v) == FP_SUBNORMAL) return true;
    for (float v : s.Filter1In)
        if (std::fpclassify(v) == FP_SUBNORMAL) return true;
    return false;
}

} // namespace

TEST(SubnormalFlush, SilentBassFilterRingsDownIntoSubnormalsWithoutIt) {
    // The default pattern: after the gate closes the bass filter decays towards 0. Without
    // the flush its memory ends up subnormal (the case the flush exists for); with it, not.
    for (bool flush : {false, true}) {
        EngineHarness h;
        h.E.FlushSubnormals = flush;
        h.Start();
        bool seen = false;
        for (int b = 0; b < 40 && !seen; ++b) {
            h.Render(441);
            seen = AnySubnormal(h.E.S);
        }
        EXPECT_EQ(seen, !flush) << "flush=" << flush;
    }
}

TEST(SubnormalFlush, OutputIsBitForBitTheSameAsWithoutIt) {
    // The default pattern and random patterns across every control's range, 40 steps each.
    for (unsigned seed : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u}) {
        const auto exact = RenderPattern(seed, false, 40 * 4726);
        const auto flushed = RenderPattern(seed, true, 40 * 4726);
        ASSERT_EQ(exact, flushed) << "pattern seed " << seed;
    }
}

TEST(SubnormalFlush, CallersFloatingPointModeIsRestored) {
    EngineHarness h;
    h.Start();
    const unsigned before = _mm_getcsr();
    h.Render(441);
    EXPECT_EQ(_mm_getcsr(), before);
    // A subnormal computed after the render is still a subnormal.
    volatile float tiny = 1e-30f;
    volatile float smaller = tiny * 1e-10f;
    EXPECT_EQ(std::fpclassify(smaller), FP_SUBNORMAL);
}
