// Step records no control can produce (a pattern file may carry any bytes): the engine must
// stay defined (run these under the sanitizer build), never write -32768, and sound normally
// again once sane steps return.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "support/EngineHarness.h"

using namespace zelvox;
using zelvox::test::EngineHarness;

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Hostile {
    std::mt19937 Rng{12345};

    int32_t Int() {
        static const int32_t picks[] = {0,   1,   -1,  kMin,  kMax, 2,       3,         4,
                                        127, 128, 255, 65535, -127, 1 << 30, -(1 << 30)};
        if (Rng() % 4 == 0) return static_cast<int32_t>(Rng());
        return picks[Rng() % (sizeof(picks) / sizeof(picks[0]))];
    }
    float Float() {
        static const float picks[] = {kNaN,   kInf,    -kInf,    1e30f, -1e30f,   0.0f,     -0.0f,
                                      1e-40f, 3.4e38f, -3.4e38f, 69.3f, 22050.0f, 44100.0f, 1e9f};
        if (Rng() % 4 == 0) {
            float f;
            const uint32_t bits = static_cast<uint32_t>(Rng());
            std::memcpy(&f, &bits, 4);
            return f;
        }
        return picks[Rng() % (sizeof(picks) / sizeof(picks[0]))];
    }
    uint8_t Byte() { return static_cast<uint8_t>(Rng() % 3 == 0 ? Rng() : Rng() % 2); }

    void Fill(StepRecord& r) {
        r.BassNote = Int();
        r.TwinTNote = Int();
        r.NoiseNote = Int();
        r.TwinTFreq = Float();
        r.TwinTDecay = Int();
        r.NoiseDecay = Int();
        r.TwinTVolume = Int();
        r.NoiseVolume = Int();
        r.TwinTEnvMod = Int();
        r.BassAmpSwitch = Int();
        r.TwinTPlay = Byte();
        r.BassFreq = Float();
        r.Reserved1 = Int();
        r.Reserved2 = Float();
        r.BassCutoff = Int();
        r.BassResonance = Int();
        r.NoiseColour = Int();
        r.BassAttack = Int();
        r.BassDecay = Int();
        r.BassEnvMod = Int();
        r.NoiseEnvMod = Int();
        r.BassVolume = Int();
        r.BassWaveform = Int();
        r.BassPlay = Byte();
        r.BassSlide = Byte();
        r.NoisePlay = Byte();
        r.BassLength = Int();
    }
};

// A busy, sane pattern: all three voices, slides, strong resonance and colour.
void SaneBusyPattern(EngineHarness& h) {
    InitPatternStoreDefaults(h.Store);
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = h.Step(s);
        r.BassFreq = Note2Freq(1 + (s * 5) % 37);
        r.BassSlide = s % 4 == 2;
        r.BassResonance = 100;
        r.BassEnvMod = 90;
        r.BassAmpSwitch = 1;
        r.BassWaveform = s % 2;
        r.TwinTPlay = s % 4 == 1;
        r.TwinTEnvMod = 60;
        r.NoisePlay = s % 2 == 0;
        r.NoiseColour = 120;
        r.NoiseEnvMod = 80;
        r.NoiseNote = 1 + (s * 7) % 37;
    }
    h.E.S.StepLength = 4725;
}

bool AllFinite(const EngineState& s) {
    const float values[] = {s.Osc1Freq,      s.Env1Pos,       s.Env1Level,     s.Env1AttackRate,
                            s.Env1DecayRate, s.Filter1Env,    s.Osc2Freq,      s.Env2Pos,
                            s.Env2Level,     s.Env2DecayRate, s.Osc2SweepRate, s.Env3Pos,
                            s.Env3Level,     s.Env3DecayRate, s.Filter2Env};
    for (float v : values)
        if (!std::isfinite(v)) return false;
    for (int j = 0; j <= 4; ++j)
        if (!std::isfinite(s.Filter1Stage[j]) || !std::isfinite(s.Filter1AP[j]) ||
            !std::isfinite(s.Filter1In[j]) || !std::isfinite(s.Filter2Stage[j]))
            return false;
    return true;
}

double Rms(const std::vector<int16_t>& v) {
    double sum = 0;
    for (int16_t s : v)
        sum += double(s) * s;
    return std::sqrt(sum / double(v.size()));
}

} // namespace

TEST(HostileSteps, ThousandsOfBuffersStayDefinedAndTheEngineRecovers) {
    auto h = std::make_unique<EngineHarness>();
    Hostile gen;
    // Reference loudness of the sane pattern on a fresh engine.
    SaneBusyPattern(*h);
    h->Start();
    const double saneRms = Rms(h->Render(16 * 4726));
    ASSERT_GT(saneRms, 500.0);

    const int32_t lengths[] = {4725, 1, 2, 0, -1, 31, kMin, kMax, 100};
    for (int round = 0; round < 4; ++round) {
        // Hostile phase: every step of every slot damaged, odd step lengths and positions.
        for (int p = 0; p <= 16; ++p)
            for (int s = 1; s <= 16; ++s)
                gen.Fill(h->Store.Step(p, s));
        for (int b = 0; b < 1000; ++b) {
            if (b % 50 == 0) {
                h->E.S.StepLength = lengths[gen.Rng() % 9];
                h->E.S.SampleCount = gen.Rng() % 7 == 0 ? kMax : h->E.S.SampleCount;
                h->MasterVolume = gen.Rng() % 5 == 0 ? gen.Int() : 26125;
                h->PlayPattern = static_cast<int32_t>(gen.Rng() % 17);
            }
            if (b % 100 == 0) {
                // The step indices themselves may be anything, as far as the loader goes.
                h->E.S.CurStep = gen.Int();
                h->E.S.NextStep = gen.Int();
                h->E.S.PrevStep = gen.Int();
                h->E.GetOsc1Params();
                h->E.S.CurStep = 1;
                h->E.S.NextStep = 2;
                h->E.S.PrevStep = 16;
            }
            for (int16_t s : h->Render(441))
                ASSERT_NE(s, -32768);
        }
        // Sane again: after a few steps the engine sounds as loud as a fresh one and holds no
        // infinity or NaN anywhere.
        h->PlayPattern = 1;
        h->MasterVolume = 26125;
        SaneBusyPattern(*h);
        h->Start();
        h->Render(4 * 4726);
        EXPECT_TRUE(AllFinite(h->E.S)) << "round " << round;
        const double rms = Rms(h->Render(16 * 4726));
        EXPECT_GT(rms, saneRms * 0.7) << "round " << round;
        EXPECT_LT(rms, saneRms * 1.3) << "round " << round;
    }
}

TEST(HostileSteps, ZeroDivisorsAreTakenAsOne) {
    auto zero = std::make_unique<EngineHarness>();
    auto one = std::make_unique<EngineHarness>();
    for (EngineHarness* h : {zero.get(), one.get()}) {
        const int32_t v = h == zero.get() ? 0 : 1;
        StepRecord& r = h->Step(1);
        r.BassAttack = v;
        r.BassDecay = v;
        r.TwinTDecay = v;
        r.NoiseDecay = v;
        r.TwinTPlay = 1;
        r.NoisePlay = 1;
        h->Start();
    }
    EXPECT_EQ(zero->E.S.Env1AttackRate, one->E.S.Env1AttackRate);
    EXPECT_EQ(zero->E.S.Env1DecayRate, one->E.S.Env1DecayRate);
    EXPECT_EQ(zero->E.S.Env2DecayRate, one->E.S.Env2DecayRate);
    EXPECT_EQ(zero->E.S.Env3DecayRate, one->E.S.Env3DecayRate);
    EXPECT_EQ(zero->E.S.Osc2SweepRate, one->E.S.Osc2SweepRate);
    EXPECT_TRUE(std::isfinite(zero->E.S.Env1AttackRate));
}

TEST(HostileSteps, NonFiniteBassFilterMemoryIsCleared) {
    auto h = std::make_unique<EngineHarness>();
    h->Start();
    h->E.S.Filter1AP[2] = kNaN;
    h->E.S.Filter1In[3] = kInf;
    const std::vector<int16_t> out = h->Render(2000);
    EXPECT_EQ(out[0], 0);
    EXPECT_TRUE(AllFinite(h->E.S));
    EXPECT_GT(Rms(out), 100.0);
}

TEST(HostileSteps, NoiseFilterCannotLockIntoSilence) {
    // Poles left near the top of the float range by a runaway filter: even an in-range step
    // overflows on them ((p1 - p2) * q). The sample is 0 and the poles start again from 0, so
    // the noise is heard again at once.
    auto h = std::make_unique<EngineHarness>();
    h->ForAllSteps([](StepRecord& r) {
        r.BassVolume = 0;
        r.NoisePlay = 1;
        r.NoiseColour = 120;
    });
    h->Start();
    h->E.S.Filter2Stage[1] = 3.0e38f;
    h->E.S.Filter2Stage[2] = -3.0e38f;
    const std::vector<int16_t> out = h->Render(4000);
    EXPECT_EQ(out[0], 0);
    EXPECT_GT(Rms(out), 100.0);
    EXPECT_TRUE(AllFinite(h->E.S));
}

TEST(HostileSteps, NonFinitePitchesRecoverOnTheNextPlayedStep) {
    auto h = std::make_unique<EngineHarness>();
    h->Step(1).BassFreq = kNaN;
    h->Step(1).TwinTFreq = kInf;
    h->Step(1).TwinTPlay = 1;
    h->Step(1).TwinTEnvMod = 127;
    h->Step(2).TwinTPlay = 1;
    h->Start();
    h->Render(4725);
    EXPECT_EQ(h->E.S.Osc1PhaseInc, 0); // NaN pitch: increment 0, not undefined
    h->Render(1);
    EXPECT_EQ(h->E.S.Osc1Freq, Note2Freq(13));
    EXPECT_EQ(h->E.S.Osc2Freq, Note2Freq(13)); // step 2 sweeps by 0
    EXPECT_TRUE(AllFinite(h->E.S));
}

TEST(HostileSteps, WaveformOutsideTheTablesReadsTheNearestTable) {
    auto h = std::make_unique<EngineHarness>();
    h->Step(1).BassWaveform = 7;
    h->Step(2).BassWaveform = kMin;
    h->Start();
    EXPECT_EQ(h->E.S.Osc1Wave, 3);
    h->Render(4726);
    EXPECT_EQ(h->E.S.Osc1Wave, 0);
}
