// The render loop, the step loader and the three voices, checked against figures worked out
// from the voice formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "support/EngineHarness.h"

using namespace zelvox;
using zelvox::test::EngineHarness;

namespace {

std::unique_ptr<EngineHarness> MakeHarness() {
    return std::make_unique<EngineHarness>();
}

void SilenceBass(StepRecord& r) {
    r.BassVolume = 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Start values and step length

TEST(EngineStart, StateRecordStartValues) {
    EngineState s;
    EXPECT_EQ(s.CurStep, 1);
    EXPECT_EQ(s.NextStep, 2);
    EXPECT_EQ(s.PrevStep, 16);
    EXPECT_EQ(s.SampleCount, 0);
    EXPECT_EQ(s.StepLength, 4725);
    EXPECT_TRUE(s.MoreBuffers);
    EXPECT_EQ(s.Osc1Freq, 440.0f);
    EXPECT_EQ(s.Osc1Wave, 1);
    // Both drum envelopes start finished: decay stage, past the end, level 0.
    EXPECT_EQ(s.Env2State, 2);
    EXPECT_EQ(s.Env2Pos, 32767.0f);
    EXPECT_EQ(s.Env2Level, 0.0f);
    EXPECT_EQ(s.Env3State, 2);
    EXPECT_EQ(s.Env3Pos, 32767.0f);
    EXPECT_EQ(s.Env3Level, 0.0f);
}

TEST(EngineStart, DrumsAreSilentUntilTheirFirstTrigger) {
    // A fresh start with no Twin-T or noise step: the two drum voices contribute nothing, so
    // with the bass at volume 0 every sample is 0 (no DC offset from the noise voice).
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    h->Start();
    for (int16_t s : h->Render(4 * 4726))
        ASSERT_EQ(s, 0);
    EXPECT_EQ(h->E.S.Env3Level, 0.0f);
    EXPECT_EQ(h->E.S.Env2Level, 0.0f);
}

TEST(EngineStart, StepLengthFromTempo) {
    EXPECT_EQ(StepLengthForTempo(140), 4725);
    EXPECT_EQ(StepLengthForTempo(120), 5512);
    EXPECT_EQ(StepLengthForTempo(80), 8269);
    EXPECT_EQ(StepLengthForTempo(200), 3308);
    EXPECT_EQ(StepLengthForTempo(20), 33075);
    EXPECT_EQ(StepLengthForTempo(240), 2756);
    // A tempo no spin edit allows: below 1 counts as 1 (661500 samples per step).
    EXPECT_EQ(StepLengthForTempo(1), 661500);
    EXPECT_EQ(StepLengthForTempo(0), 661500);
    EXPECT_EQ(StepLengthForTempo(INT32_MIN), 661500);
    EXPECT_EQ(StepLengthForTempo(INT32_MAX), 0);
}

// ---------------------------------------------------------------------------------------------
// The render loop: buffers, step timing, master level, mixer

TEST(RenderLoop, FillsHalfTheByteLengthAndReportsIt) {
    auto h = MakeHarness();
    h->Start();
    std::vector<int16_t> buf(442, 0x5A5A);
    uint32_t recorded = 0;
    bool more = false;
    h->E.RenderBuffer(buf.data(), 882, recorded, more);
    EXPECT_EQ(recorded, 882u);
    EXPECT_TRUE(more);
    EXPECT_EQ(buf[441], 0x5A5A); // nothing beyond 441 samples
    EXPECT_NE(buf[100], 0x5A5A);
}

TEST(RenderLoop, PatternZeroLeavesTheBufferUntouched) {
    auto h = MakeHarness();
    h->Start();
    h->PlayPattern = 0;
    std::vector<int16_t> buf(441, 0x1234);
    uint32_t recorded = 77;
    bool more = false;
    const int32_t countBefore = h->E.S.SampleCount;
    h->E.RenderBuffer(buf.data(), 882, recorded, more);
    for (int16_t s : buf)
        ASSERT_EQ(s, 0x1234);
    EXPECT_EQ(recorded, 77u);
    EXPECT_FALSE(more);
    EXPECT_EQ(h->E.S.SampleCount, countBefore);
}

TEST(RenderLoop, FirstStepLastsStepLengthThenStepLengthPlusOne) {
    auto h = MakeHarness();
    h->Start();
    h->Render(6 * 4726, 1); // one-sample buffers: the hook sees the exact sample index
    ASSERT_GE(h->StepStarts.size(), 5u);
    EXPECT_EQ(h->StepStarts[0], 4725);
    for (size_t i = 1; i < h->StepStarts.size(); ++i)
        EXPECT_EQ(h->StepStarts[i] - h->StepStarts[i - 1], 4726) << i;
}

TEST(RenderLoop, StepBoundaryInsideABufferTakesEffectAtThatSample) {
    // Rendering in 441-sample buffers gives exactly the samples of one-sample buffers, with
    // steps that differ in pitch, waveform and drums.
    auto setup = [](EngineHarness& h) {
        for (int s = 1; s <= 16; ++s) {
            StepRecord& r = h.Step(s);
            r.BassFreq = Note2Freq(s * 2);
            r.BassWaveform = s % 2;
            r.TwinTPlay = s % 3 == 0;
            r.NoisePlay = s % 4 == 1;
            r.BassSlide = s % 5 == 0;
        }
        h.Start();
    };
    std::vector<int16_t> a, b;
    {
        auto h = MakeHarness();
        setup(*h);
        a = h->Render(10 * 4726, 441);
    }
    {
        auto h = MakeHarness();
        setup(*h);
        b = h->Render(10 * 4726, 1);
    }
    EXPECT_EQ(a, b);
}

TEST(RenderLoop, MasterAtZeroSilencesButTheSequencerRuns) {
    auto h = MakeHarness();
    h->MasterVolume = 0;
    h->Start();
    for (int16_t s : h->Render(3 * 4726))
        ASSERT_EQ(s, 0);
    EXPECT_EQ(h->StepStarts.size(), 3u); // at samples 4725, 9451 and 14177
    EXPECT_EQ(h->E.S.CurStep, 4);
}

namespace {
// Drives the mixer to an exact value: the noise filter's output is clipped to +-1, so poles
// far beyond 1 give exactly +-1.0, and Osc3Volume / 128 with the master at 65536 scales it.
int16_t MixedSample(float pole, int32_t noiseVolume) {
    auto h = MakeHarness();
    h->MasterVolume = 65536;
    h->ForAllSteps([](StepRecord& r) { r.BassVolume = 0; });
    for (int s = 1; s <= 16; ++s)
        h->Step(s).NoiseVolume = noiseVolume;
    h->Start();
    for (int j = 1; j <= 4; ++j)
        h->E.S.Filter2Stage[j] = pole;
    return h->Render(1)[0];
}
} // namespace

TEST(RenderLoop, MixerSaturatesSymmetrically) {
    EXPECT_EQ(MixedSample(1000.0f, 192), 32767);   // +1.5
    EXPECT_EQ(MixedSample(-1000.0f, 192), -32767); // -1.5
    EXPECT_EQ(MixedSample(1000.0f, 128), 32767);   // +1.0 -> 32768, saturated
    EXPECT_EQ(MixedSample(-1000.0f, 128), -32767); // exactly -1.0: never -32768
    EXPECT_EQ(MixedSample(-1000.0f, 64), -16384);  // -0.5 is in range
}

// ---------------------------------------------------------------------------------------------
// Rendered samples worked out from the formulas

TEST(RenderedSamples, FirstSamplesOfTheDefaultBassNote) {
    // Default step: C2 square, "Off" amp switch (plain gated oscillator), cut-off 32,
    // resonance 0, env mod 0 (+1), attack 3, volume 127, master 26125; the drums are silent.
    auto h = MakeHarness();
    h->Start();
    const std::vector<int16_t> got = h->Render(64);

    // The first sample by hand: the attack advances 32767 / (4725 * 3/256) = 591.76 -> entry
    // 592 of the linear curve, 0.018067; the envelope term (1/128 * 0.018067) / 1.5 = 9.41e-5
    // gives f = 0.1250941. Without feedback each stage of a unit step from rest gives
    // (1 + k) / 2 = f times its input, so the filter output is f^4 = 2.4487e-4, and
    // 2.4487e-4 * 127/128 * 26125/65536 * 32768 = 3.17 -> 3.
    EXPECT_EQ(got[0], 3);

    // The following samples, the same arithmetic in float32, one operation at a time.
    const float freq = Note2Freq(13);
    const float attackRate = 32767.0f / (4725.0f * (3.0f / 256.0f));
    const int32_t inc = static_cast<int32_t>(std::nearbyint(freq * 1073741824.0f / 44100.0f));
    float pos = 0.0f, ap[5] = {}, in[5] = {};
    uint32_t phase = 0;
    // Samples 0..54 lie in the attack (the 56th sample ends it), where the linear curve is
    // entry / 32767.
    for (int i = 0; i < 55; ++i) {
        pos = pos + attackRate;
        ASSERT_LT(pos, 32767.0f);
        const float level = static_cast<float>(std::nearbyint(pos) / 32767.0);
        const float x = (phase >> 15) < 16384 ? 1.0f : -1.0f;
        const float env = 1.0f / 128.0f * level / 1.5f;
        const float f = 32.0f / 256.0f + env;
        const float k = 2.0f * f - 1.0f;
        float u = x; // resonance 0: no feedback
        for (int j = 1; j <= 4; ++j) {
            const float a = (u - ap[j]) * k + in[j];
            ap[j] = a;
            in[j] = u;
            u = (u + a) * 0.5f;
        }
        const float bassOut = 127.0f * u / 128.0f;
        const float mix = bassOut * 26125.0f / 65536.0f;
        const int32_t s = static_cast<int32_t>(std::nearbyint(mix * 32768.0f));
        ASSERT_EQ(got[i], s) << "sample " << i;
        phase = (phase + static_cast<uint32_t>(inc)) & 0x3FFFFFFFu;
    }
}

namespace {
// Frequency from rising zero crossings, interpolated between samples.
double MeasuredPitch(const std::vector<int16_t>& s, size_t from, size_t to) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double t = double(i - 1) + double(-s[i - 1]) / double(s[i] - s[i - 1]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / (last - first);
}
} // namespace

TEST(RenderedSamples, TwinTHitSoundsTwoOctavesAboveItsNote) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    StepRecord& r = h->Step(1);
    r.TwinTPlay = 1;
    r.TwinTFreq = Note2Freq(13);
    r.TwinTDecay = 127;
    r.TwinTEnvMod = 0;
    h->Start();
    const std::vector<int16_t> s = h->Render(4725);
    EXPECT_EQ(s[0], 0); // phase 0: the hit starts at a zero crossing
    EXPECT_GT(s[1], 0);
    EXPECT_NEAR(MeasuredPitch(s, 0, s.size()), 277.18, 0.05);
}

TEST(RenderedSamples, TwinTPitchSweepFallsByExpOfEnvMod) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    // Every step's TwinTEnvMod and TwinTDecay set the sweep, triggered or not.
    h->ForAllSteps([](StepRecord& r) {
        r.TwinTDecay = 64; // d = one step
        r.TwinTEnvMod = 64;
    });
    h->Step(1).TwinTPlay = 1;
    h->Step(1).TwinTFreq = Note2Freq(25);
    h->Start();
    const float start = h->E.S.Osc2Freq;
    h->Render(4725);
    // After d samples the pitch has fallen by about e^(-64/64).
    EXPECT_NEAR(h->E.S.Osc2Freq / start, std::exp(-1.0), 5e-4);
    // The sweep goes on after the decay until the next trigger.
    const float later = h->E.S.Osc2Freq;
    h->Render(1000);
    EXPECT_LT(h->E.S.Osc2Freq, later);
}

TEST(RenderedSamples, NoiseIsReproducibleAcrossRuns) {
    auto run = [] {
        auto h = MakeHarness();
        h->ForAllSteps([](StepRecord& r) {
            r.NoisePlay = 1;
            r.NoiseColour = 90;
            r.NoiseEnvMod = 60;
        });
        h->Start();
        return h->Render(3 * 4726);
    };
    const auto a = run();
    const auto b = run();
    EXPECT_EQ(a, b);
    int nonZero = 0;
    for (int16_t s : a)
        nonZero += s != 0;
    EXPECT_GT(nonZero, 10000);
}

// ---------------------------------------------------------------------------------------------
// Bass voice: gate, rest, slide and legato, envelope

TEST(BassVoice, GateClosesAfterItsShareOfTheStep) {
    auto h = MakeHarness();
    h->Start();
    // round(61/127 * 4725) = round(2269.49)
    EXPECT_EQ(h->E.S.Osc1Gate, 2269);
    h->E.S.SampleCount = 2268;
    EXPECT_NE(h->E.DoOsc1(), 0.0f);
    h->E.S.SampleCount = 2269;
    EXPECT_EQ(h->E.DoOsc1(), 0.0f);
}

TEST(BassVoice, FullLengthNeverCutsAndSlidingHoldsTheGate) {
    auto h = MakeHarness();
    h->Step(1).BassLength = 127;
    h->Start();
    EXPECT_EQ(h->E.S.Osc1Gate, 4762); // 128/127 of a step
    for (int c = 1; c <= 4726; c += 5) {
        h->E.S.SampleCount = c;
        ASSERT_NE(h->E.DoOsc1(), 0.0f) << c;
    }
    auto g = MakeHarness();
    g->Step(1).BassSlide = 1;
    g->Start();
    g->E.S.SampleCount = 4000; // far beyond the gate of 2269
    EXPECT_NE(g->E.DoOsc1(), 0.0f);
}

TEST(BassVoice, RestIsSilentFromItsFirstSampleAndKeepsThePitch) {
    auto h = MakeHarness();
    h->Step(1).BassFreq = Note2Freq(25);
    h->Step(2).BassPlay = 0;
    h->Step(2).BassFreq = Note2Freq(1);
    h->Start();
    h->Render(4725);
    h->Render(1); // step 2 begins
    EXPECT_FALSE(h->E.S.Osc1On);
    EXPECT_EQ(h->E.S.Osc1Freq, Note2Freq(25));
    EXPECT_EQ(h->E.DoOsc1(), 0.0f);
}

TEST(BassVoice, AmpSwitchMultipliesByTheEnvelope) {
    auto h = MakeHarness();
    h->Step(1).BassAmpSwitch = 1;
    h->Start();
    const float s = h->E.DoOsc1(); // phase 0 of the square: +1 times the level
    EXPECT_EQ(s, h->E.S.Env1Level);
    EXPECT_GT(s, 0.0f);
    EXPECT_LT(s, 0.1f);
}

TEST(BassVoice, SlideGlidesToTheNextPitchInOneStep) {
    auto h = MakeHarness();
    h->Step(1).BassSlide = 1;
    h->Step(2).BassFreq = Note2Freq(25);
    h->Start();
    EXPECT_NEAR(h->E.S.Osc1SlideInc, 0.014666f, 1e-6f);
    h->Render(4725);
    // 4725 float32 additions: within 0.02 Hz (0.015 %) of the target.
    EXPECT_NEAR(h->E.S.Osc1Freq, Note2Freq(25), 0.02f);
}

TEST(BassVoice, StepAfterASlideIsLegato) {
    auto h = MakeHarness();
    h->Step(1).BassSlide = 1;
    h->Start();
    const float rate = 32767.0f / (4725.0f * (35.0f / 127.0f));
    EXPECT_EQ(h->E.S.Env1DecayRate, rate * 0.5f); // halved on the sliding step
    h->Render(4725);
    const float pos = h->E.S.Env1Pos;
    ASSERT_EQ(h->E.S.Env1State, 2);
    h->Render(1); // step 2: no retrigger, the decay runs on with the halved rate
    EXPECT_EQ(h->E.S.CurStep, 2);
    EXPECT_EQ(h->E.S.Env1State, 2);
    EXPECT_EQ(h->E.S.Env1Pos, pos + rate * 0.5f);
}

TEST(BassVoice, EveryFurtherSlidingStepHalvesTheRatesAgain) {
    auto h = MakeHarness();
    h->Step(1).BassSlide = 1;
    h->Step(2).BassSlide = 1;
    h->Start();
    const float attack = h->E.S.Env1AttackRate;
    const float decay = h->E.S.Env1DecayRate;
    h->Render(4726);
    EXPECT_EQ(h->E.S.CurStep, 2);
    EXPECT_EQ(h->E.S.Env1AttackRate, attack * 0.5f);
    EXPECT_EQ(h->E.S.Env1DecayRate, decay * 0.5f);
}

TEST(BassVoice, EnvelopeStages) {
    auto h = MakeHarness();
    h->Start();
    EngineState& s = h->E.S;
    // Attack: 3/256 of a step = 55.4 samples.
    const float attackRate = 32767.0f / (4725.0f * (3.0f / 256.0f));
    EXPECT_EQ(s.Env1AttackRate, attackRate);
    int attackSamples = 0;
    while (s.Env1State == 0 && attackSamples < 100) {
        h->E.DoOsc1();
        ++attackSamples;
    }
    EXPECT_EQ(attackSamples, 56);
    // The switch lands at level 1 and position 0, and the same call already decays.
    EXPECT_EQ(s.Env1Pos, s.Env1DecayRate);
    EXPECT_EQ(s.Env1Level, h->E.Curves.Curve(1)[static_cast<int>(std::nearbyint(s.Env1DecayRate))]);
    // Decay: 35/127 of a step = 1302 samples, then level 0, position still growing.
    int decaySamples = 1;
    while (s.Env1Level > 0.0f && decaySamples < 5000) {
        h->E.DoOsc1();
        ++decaySamples;
    }
    EXPECT_NEAR(decaySamples, 4725.0 * 35 / 127, 2.0);
    const float pos = s.Env1Pos;
    h->E.DoOsc1();
    EXPECT_EQ(s.Env1State, 2);
    EXPECT_EQ(s.Env1Level, 0.0f);
    EXPECT_GT(s.Env1Pos, pos);
}

// ---------------------------------------------------------------------------------------------
// Filters

TEST(BassFilter, CutoffClampsAt099) {
    auto make = [](float env) {
        auto h = MakeHarness();
        h->Start();
        h->E.S.Filter1Cutoff = 126;
        h->E.S.Filter1Res = 0;
        h->E.S.Filter1Env = env;
        return h;
    };
    auto a = make(0.6f), b = make(25.0f);
    for (int i = 0; i < 50; ++i) {
        const float x = (i % 7) < 3 ? 1.0f : -1.0f;
        ASSERT_EQ(a->E.DoFilter1(x), b->E.DoFilter1(x));
    }
    // f = 0.99, k = 0.98: from rest each stage gives (u + u * k) * 0.5, about 0.99 u.
    auto c = make(0.6f);
    const float k = 2.0f * 0.99f - 1.0f;
    float u = 1.0f;
    for (int j = 0; j < 4; ++j)
        u = (u + u * k) * 0.5f;
    EXPECT_EQ(c->E.DoFilter1(1.0f), u);
    EXPECT_NEAR(u, 0.99 * 0.99 * 0.99 * 0.99, 1e-6);
}

TEST(BassFilter, FeedbackStaysWithinFive) {
    auto h = MakeHarness();
    h->Start();
    EngineState& s = h->E.S;
    s.Filter1Cutoff = 0;
    s.Filter1Res = 91;
    s.Filter1Stage[4] = 1000.0f;
    h->E.DoFilter1(0.25f);
    EXPECT_EQ(s.Filter1Stage[0], 0.25f - 5.0f);
    s.Filter1Stage[4] = -1e30f;
    h->E.DoFilter1(0.25f);
    EXPECT_EQ(s.Filter1Stage[0], 0.25f + 5.0f);
}

TEST(NoiseFilter, OutputStaysWithinOneAndSettlesAtASixthOfTheLevel) {
    auto h = MakeHarness();
    h->Start();
    EngineState& s = h->E.S;
    s.Filter2Cutoff = 64;
    s.Filter2Res = 0;
    s.Filter2Env = 0.0f;
    double sum = 0;
    int n = 0;
    for (int i = 0; i < 40000; ++i) {
        const float x = static_cast<float>(NoiseDraw(32768)) / 32768.0f; // level 1
        const float y = h->E.DoFilter2(x);
        if (i >= 2000) {
            sum += y;
            ++n;
        }
    }
    EXPECT_NEAR(sum / n, 1.0 / 6.0, 0.01);
    s.Filter2Res = 104; // "Colour" 120: strong resonance, still clipped
    for (int i = 0; i < 20000; ++i) {
        const float y = h->E.DoFilter2(i % 50 < 25 ? 1.0f : 0.0f);
        ASSERT_LE(std::fabs(y), 1.0f);
    }
}

// ---------------------------------------------------------------------------------------------
// Twin-T and noise voices: envelopes, triggers, cut-off

TEST(TwinTVoice, AttackRampThenDecayOfOneStep) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    h->Step(1).TwinTPlay = 1; // decay 64: one step
    h->Start();
    EngineState& s = h->E.S;
    int attack = 0;
    while (s.Env2State == 0 && attack < 500) {
        h->E.DoOsc2();
        ++attack;
    }
    EXPECT_EQ(attack, 101);
    int decay = 1;
    while (s.Env2Level > 0.0f && decay < 10000) {
        h->E.DoOsc2();
        ++decay;
    }
    EXPECT_NEAR(decay, 4725, 2);
}

TEST(TwinTVoice, StepWithoutTriggerLeavesTheRunningDrumAlone) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    h->ForAllSteps([](StepRecord& r) {
        r.TwinTDecay = 127;
        r.TwinTEnvMod = 20;
    });
    h->Step(1).TwinTPlay = 1;
    h->Step(2).TwinTFreq = 1000.0f; // not triggered: must not be used
    h->Start();
    h->Render(4725);
    const float freq = h->E.S.Osc2Freq;
    const float pos = h->E.S.Env2Pos;
    h->Render(1);
    EXPECT_EQ(h->E.S.CurStep, 2);
    EXPECT_LT(h->E.S.Osc2Freq, freq); // swept on from where it was
    EXPECT_GT(h->E.S.Osc2Freq, freq * 0.99f);
    EXPECT_GT(h->E.S.Env2Pos, pos);
}

TEST(TwinTVoice, RetriggerRestartsFromTheCurrentLevelAtPhaseZero) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    h->Step(1).TwinTPlay = 1;
    h->Step(2).TwinTPlay = 1;
    h->Start();
    h->Render(2000);
    const float level = h->E.S.Env2Level;
    ASSERT_GT(level, 0.1f);
    h->Render(2726); // step 2 starts at the last of these samples
    EXPECT_EQ(h->E.S.Env2State, 0);
    EXPECT_EQ(h->E.S.Osc2Phase, h->E.S.Osc2PhaseInc * 1u);
    EXPECT_GT(h->E.S.Env2Level, 0.01f); // not restarted from 0
}

TEST(NoiseVoice, AttackRampThenDecayOfTwoSteps) {
    auto h = MakeHarness();
    h->ForAllSteps(SilenceBass);
    h->Step(1).NoisePlay = 1;
    h->Start();
    EngineState& s = h->E.S;
    int attack = 0;
    while (s.Env3State == 0 && attack < 500) {
        h->E.DoOsc3();
        ++attack;
    }
    EXPECT_EQ(attack, 51);
    int decay = 1;
    while (s.Env3Level > 0.0f && decay < 20000) {
        h->E.DoOsc3();
        ++decay;
    }
    EXPECT_NEAR(decay, 2 * 4725, 2);
}

TEST(NoiseVoice, CutoffFromTheNoteOnlyOnTriggeredSteps) {
    auto h = MakeHarness();
    h->Step(1).NoisePlay = 1;
    h->Step(1).NoiseNote = 37;
    h->Step(2).NoiseNote = 1;
    h->Step(3).NoisePlay = 1;
    h->Step(3).NoiseNote = 1;
    h->Start();
    EXPECT_EQ(h->E.S.Filter2Cutoff, 132); // round(37 * 128 / 36)
    h->Render(4726);
    EXPECT_EQ(h->E.S.CurStep, 2);
    EXPECT_EQ(h->E.S.Filter2Cutoff, 132);
    h->Render(4726);
    EXPECT_EQ(h->E.S.CurStep, 3);
    EXPECT_EQ(h->E.S.Filter2Cutoff, 4); // round(3.556)
}

TEST(StepLoader, RoundsResonanceAndColourToNearest) {
    auto h = MakeHarness();
    h->Step(1).BassResonance = 105;
    h->Step(1).NoiseColour = 120;
    h->Step(1).BassEnvMod = 127;
    h->Step(1).NoiseEnvMod = 0;
    h->Step(1).BassVolume = 0x12345; // only the low 16 bits count
    h->Start();
    EXPECT_EQ(h->E.S.Filter1Res, 91);  // 90.94
    EXPECT_EQ(h->E.S.Filter2Res, 104); // 103.94
    EXPECT_EQ(h->E.S.Filter1EnvMod, 128);
    EXPECT_EQ(h->E.S.Filter2EnvMod, 1);
    EXPECT_EQ(h->E.S.Osc1Volume, 0x2345);
    // d = round(64/64 * 4725); the sweep rate is its reciprocal
    EXPECT_EQ(h->E.S.Osc2SweepRate, 1.0f / 4725.0f);
}

// ---------------------------------------------------------------------------------------------
// Regression guard for the per-sample code: any change to the arithmetic (reordering, fused
// operations, a cached value that goes stale) changes at least one bit of a long busy render.
// The figure was taken from this engine after the checks above had passed; change it only
// together with a deliberate change of the sound.

TEST(RenderedSamples, BusyPatternRendersBitForBitAsBefore) {
    auto h = MakeHarness();
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = h->Step(s);
        r.BassFreq = Note2Freq(1 + (s * 5) % 37);
        r.BassSlide = s % 3 == 0;
        r.BassResonance = 105;
        r.BassCutoff = 40;
        r.BassEnvMod = 100;
        r.BassAmpSwitch = s % 5 != 0;
        r.BassWaveform = s % 2;
        r.BassLength = 32 + s * 5;
        r.TwinTPlay = s % 4 == 1;
        r.TwinTFreq = Note2Freq(s);
        r.TwinTEnvMod = 80;
        r.TwinTDecay = 20 + s * 6;
        r.NoisePlay = s % 2 == 0;
        r.NoiseColour = 120;
        r.NoiseEnvMod = 90;
        r.NoiseDecay = 10 + s * 7;
        r.NoiseNote = 1 + (s * 7) % 37;
    }
    h->Start();
    const std::vector<int16_t> out = h->Render(40 * 4726);
    uint64_t hash = 1469598103934665603ull; // FNV-1a over the little-endian sample bytes
    for (int16_t s : out) {
        const auto u = static_cast<uint16_t>(s);
        for (uint8_t b : {static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>(u >> 8)}) {
            hash ^= b;
            hash *= 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 10976031116783812774ull) << hash;
}
