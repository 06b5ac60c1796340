// Wave tables, note pitch, the random generator and the envelope curves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "engine/Round.h"
#include "engine/Tables.h"

using namespace zelvox;

TEST(NoiseGenerator, FirstDrawsOfAFreshRun) {
    ResetNoiseSeedForTesting();
    EXPECT_EQ(NoiseDraw(32768), 0u);
    EXPECT_EQ(NoiseDraw(32768), 1028u);
    EXPECT_EQ(NoiseDraw(32768), 28214u);
    ResetNoiseSeedForTesting();
    EXPECT_EQ(NoiseDraw(32768), 0u); // the reset really restarts the sequence
}

TEST(NoiseGenerator, DrawIsUpperHalfOfSeedTimesRange) {
    ResetNoiseSeedForTesting();
    uint32_t seed = 0;
    for (int i = 0; i < 1000; ++i) {
        seed = seed * 134775813u + 1u;
        const uint32_t range = (i % 3 == 0) ? 32768u : (i % 3 == 1 ? 100u : 0xFFFFFFFFu);
        const uint32_t got = NoiseDraw(range);
        EXPECT_EQ(got, static_cast<uint32_t>((uint64_t{seed} * range) >> 32));
        if (range == 32768u) {
            EXPECT_EQ(got, seed >> 17);
        }
        EXPECT_LT(got, range);
    }
    EXPECT_EQ(NoiseSeed, seed);
}

class WaveTables : public ::testing::Test {
protected:
    void SetUp() override {
        ResetNoiseSeedForTesting();
        InitWaveTable(Block.get());
    }
    std::unique_ptr<float[]> Block{new float[4 * kTableSize]};
    const float* Table(int k) const { return Block.get() + k * kTableSize; }
};

TEST_F(WaveTables, Square) {
    EXPECT_EQ(Table(0)[0], 1.0f);
    EXPECT_EQ(Table(0)[16383], 1.0f);
    EXPECT_EQ(Table(0)[16384], -1.0f);
    EXPECT_EQ(Table(0)[32767], -1.0f);
}

TEST_F(WaveTables, FallingSaw) {
    EXPECT_EQ(Table(1)[0], 1.0f);
    EXPECT_EQ(Table(1)[16384], 0.0f);
    EXPECT_EQ(Table(1)[8192], 0.5f);
    EXPECT_NEAR(Table(1)[32767], -0.99994f, 1e-5f);
    for (int i = 1; i < kTableSize; ++i)
        ASSERT_LT(Table(1)[i], Table(1)[i - 1]);
}

TEST_F(WaveTables, NoiseTakesTheFirstDrawsInOrder) {
    EXPECT_EQ(Table(2)[0], 0.0f);
    EXPECT_EQ(Table(2)[1], 1028.0f / 32768.0f);
    EXPECT_EQ(Table(2)[2], 28214.0f / 32768.0f);
    for (int i = 0; i < kTableSize; ++i) {
        ASSERT_GE(Table(2)[i], 0.0f);
        ASSERT_LT(Table(2)[i], 1.0f);
    }
    // 32768 draws were used: the next draw continues the same sequence.
    uint32_t seed = 0;
    for (int i = 0; i < kTableSize; ++i)
        seed = seed * 134775813u + 1u;
    EXPECT_EQ(NoiseSeed, seed);
}

TEST_F(WaveTables, Sine) {
    EXPECT_EQ(Table(3)[0], 0.0f);
    EXPECT_EQ(Table(3)[8192], 1.0f);
    EXPECT_EQ(Table(3)[24576], -1.0f);
    EXPECT_NEAR(Table(3)[16384], 0.0f, 1e-7f);
    EXPECT_NEAR(Table(3)[4096], 0.70710678f, 1e-7f);
}

TEST(NotePitch, StatedFrequencies) {
    EXPECT_NEAR(Note2Freq(1), 34.648f, 0.0005f);
    EXPECT_NEAR(Note2Freq(10), 58.270f, 0.0005f);
    EXPECT_NEAR(Note2Freq(13), 69.296f, 0.0005f);
    EXPECT_NEAR(Note2Freq(25), 138.591f, 0.0005f);
    EXPECT_NEAR(Note2Freq(37), 277.183f, 0.0005f);
    EXPECT_EQ(Note2Freq(57), 880.0f);
    EXPECT_EQ(Note2Freq(45), 440.0f);
    EXPECT_EQ(Note2Freq(33), 220.0f);
}

TEST(NotePitch, EverySemitoneIsOneTwelfthOfAnOctave) {
    for (int n = 1; n < 37; ++n) {
        const double ratio = double(Note2Freq(n + 1)) / double(Note2Freq(n));
        EXPECT_NEAR(ratio, std::pow(2.0, 1.0 / 12.0), 1e-6) << n;
    }
}

TEST(NotePitch, PowerIsTakenInDoublePrecision) {
    // The float32 power of note 13 would be one ulp off in some notes; check all 37 against
    // a double-precision power stored as float32, then the two float32 products.
    for (int n = 1; n <= 37; ++n) {
        const float p = static_cast<float>(std::pow(2.0, (n - 57) / 12.0));
        const float expected = (p * 440.0f) * 2.0f;
        EXPECT_EQ(Note2Freq(n), expected) << n;
    }
}

TEST(NotePitch, AnyIndexIsDefined) {
    EXPECT_EQ(Note2Freq(std::numeric_limits<int32_t>::min()), 0.0f);
    EXPECT_TRUE(std::isinf(Note2Freq(std::numeric_limits<int32_t>::max())));
}

TEST(ContourArithmetic, ExponentsOfTheSettings) {
    EXPECT_EQ(AttackExponent(20), 1.0f);
    EXPECT_EQ(DecayExponent(20), 1.0f);
    EXPECT_EQ(AttackExponent(0), 100.0f);
    EXPECT_EQ(DecayExponent(40), 100.0f);
    EXPECT_EQ(AttackExponent(10), 10.0f);
    EXPECT_EQ(DecayExponent(30), 10.0f);
    EXPECT_NEAR(AttackExponent(39), 0.0125893f, 1e-6f);
    EXPECT_NEAR(DecayExponent(0), 0.01f, 1e-9f);
    EXPECT_NEAR(DecayExponent(39), 79.4328f, 1e-3f);
}

TEST(ContourArithmetic, FiguresShownInTheNumberBoxes) {
    EXPECT_EQ(AttackContourFigure(20), 50);
    EXPECT_EQ(DecayContourFigure(20), 50);
    EXPECT_EQ(AttackContourFigure(0), 0);
    EXPECT_EQ(DecayContourFigure(40), 100);
    EXPECT_EQ(DecayContourFigure(0), 0);
    // Halves go to the even neighbour: 2.5 -> 2, 7.5 -> 8, 12.5 -> 12.
    EXPECT_EQ(DecayContourFigure(1), 2);
    EXPECT_EQ(DecayContourFigure(3), 8);
    EXPECT_EQ(DecayContourFigure(5), 12);
    EXPECT_EQ(AttackContourFigure(39), 98);
    EXPECT_EQ(AttackContourFigure(35), 88); // 100 - round(12.5)
}

TEST(EnvelopeCurves, DefaultContoursAreLinear) {
    const ContourCurves curves;
    EXPECT_NEAR(curves.Curve(0)[16384], 0.50002f, 1e-5f);
    for (int c = 1; c < kContourCount; ++c) EXPECT_NEAR(curves.Curve(c)[16384], 0.49998f, 1e-5f);
    for (int i : {0, 1, 100, 16383, 32766, 32767}) {
        EXPECT_EQ(curves.Curve(0)[i], static_cast<float>(i / 32767.0)) << i;
        EXPECT_EQ(curves.Curve(1)[i], static_cast<float>(1.0 - i / 32767.0)) << i;
    }
}

TEST(EnvelopeCurves, EndPointsHoldForEverySetting) {
    std::vector<float> curve(kTableSize);
    for (int v = 0; v <= 40; ++v) {
        BuildAttackCurve(curve.data(), AttackExponent(v));
        EXPECT_EQ(curve[0], 0.0f) << v;
        EXPECT_EQ(curve[32767], 1.0f) << v;
        BuildDecayCurve(curve.data(), DecayExponent(v));
        EXPECT_EQ(curve[0], 1.0f) << v;
        EXPECT_EQ(curve[32767], 0.0f) << v;
    }
}

TEST(EnvelopeCurves, ShapeFollowsTheExponent) {
    std::vector<float> curve(kTableSize);
    // Attack 0: exponent 100, the curve stays near 0 until the very end.
    BuildAttackCurve(curve.data(), AttackExponent(0));
    EXPECT_LT(curve[32767 * 9 / 10], 1e-4f);
    // A whole exponent is a repeated product: x^10 at i = 16384.
    BuildAttackCurve(curve.data(), 10.0f);
    const double x = 16384.0 / 32767.0;
    EXPECT_NEAR(curve[16384], x * x * x * x * x * x * x * x * x * x, 1e-9);
    // Attack 39: an almost immediate rise.
    BuildAttackCurve(curve.data(), AttackExponent(39));
    EXPECT_GT(curve[328], 0.9f);
    // A fractional exponent through exp/log.
    BuildDecayCurve(curve.data(), 0.5f);
    EXPECT_NEAR(curve[16384], 1.0 - std::sqrt(x), 1e-7);
}

TEST(EnvelopeCurves, HostileExponentsStayWithinZeroToOne) {
    std::vector<float> curve(kTableSize);
    const float inf = std::numeric_limits<float>::infinity();
    for (float e : {inf, -inf, std::numeric_limits<float>::quiet_NaN(), -3.0f, 0.0f, 1e30f,
                    AttackExponent(std::numeric_limits<int32_t>::min()),
                    AttackExponent(std::numeric_limits<int32_t>::max())}) {
        BuildAttackCurve(curve.data(), e);
        for (float c : curve)
            ASSERT_TRUE(c >= 0.0f && c <= 1.0f) << e;
        BuildDecayCurve(curve.data(), e);
        for (float c : curve)
            ASSERT_TRUE(c >= 0.0f && c <= 1.0f) << e;
    }
}

TEST(Rounding, NearestTiesToEvenAndSaturating) {
    EXPECT_EQ(RoundToInt32(0.5f), 0);
    EXPECT_EQ(RoundToInt32(1.5f), 2);
    EXPECT_EQ(RoundToInt32(2.5f), 2);
    EXPECT_EQ(RoundToInt32(-0.5f), 0);
    EXPECT_EQ(RoundToInt32(-1.5f), -2);
    EXPECT_EQ(RoundToInt32(-2.5f), -2);
    EXPECT_EQ(RoundToInt32(2269.4882f), 2269);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(RoundToInt32(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<float>::infinity()), INT32_MAX);
    EXPECT_EQ(RoundToInt32(-std::numeric_limits<float>::infinity()), INT32_MIN);
    EXPECT_EQ(RoundToInt32(2147483648.0f), INT32_MAX);
    EXPECT_EQ(RoundToInt32(1e30f), INT32_MAX);
    EXPECT_EQ(RoundToInt32(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(RoundToInt32(-1e30f), INT32_MIN);
    EXPECT_EQ(RoundToInt32(2147483520.0f), 2147483520); // largest float below 2^31
    uint32_t bits = 12345;
    for (int i = 0; i < 100000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float f;
        std::memcpy(&f, &bits, 4);
        if (std::isfinite(f) && std::fabs(f) < 2147483520.0f) {
            ASSERT_EQ(RoundToInt32(f), static_cast<int32_t>(std::nearbyint(f))) << f;
        }
    }
}
