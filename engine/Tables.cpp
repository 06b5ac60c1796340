#include "engine/Tables.h"

#include <cmath>

#include "engine/Round.h"

namespace zelvox {

uint32_t NoiseSeed = 0;

void InitWaveTable(float* waveTable) {
    InitWaveTable(waveTable, NoiseSeed);
}

void InitWaveTable(float* waveTable, uint32_t& seed) {
    float* square = waveTable;
    float* saw = waveTable + kTableSize;
    float* noise = waveTable + 2 * kTableSize;
    float* sine = waveTable + 3 * kTableSize;
    constexpr double kTwoPi = 6.283185307179586476925286766559;
    // In increasing i, so that the noise table takes draws 1..32768 of the program's sequence
    // in order, entry 0 first.
    for (int i = 0; i < kTableSize; ++i) {
        square[i] = i < kTableSize / 2 ? 1.0f : -1.0f;
        saw[i] = 1.0f - static_cast<float>(i) / 16384.0f;
        noise[i] = static_cast<float>(NoiseDraw(32768, seed)) / 32768.0f;
        sine[i] = static_cast<float>(std::sin(static_cast<double>(i) * kTwoPi / 32768.0));
    }
}

float Note2Freq(int32_t n) {
    // The power is taken at double precision and stored as float32; the two products are
    // float32. (n - 57) is formed in double so that no int32 can overflow here.
    const float p = static_cast<float>(std::pow(2.0, (static_cast<double>(n) - 57.0) / 12.0));
    const float f = p * 440.0f;
    return f * 2.0f;
}

float AttackExponent(int32_t setting) {
    const float b = (40.0f - static_cast<float>(setting)) / 10.0f;
    const float e = std::pow(10.0f, b);
    return e / 100.0f;
}

float DecayExponent(int32_t setting) {
    const float b = static_cast<float>(setting) / 10.0f;
    const float e = std::pow(10.0f, b);
    return e / 100.0f;
}

int32_t AttackContourFigure(int32_t setting) {
    const float b = (40.0f - static_cast<float>(setting)) / 10.0f;
    const int64_t figure = 100 - static_cast<int64_t>(RoundToInt32(b * 25.0f));
    // Only a hostile setting can leave the int32 range here.
    if (figure > INT32_MAX) return INT32_MAX;
    if (figure < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(figure);
}

int32_t DecayContourFigure(int32_t setting) {
    const float b = static_cast<float>(setting) / 10.0f;
    return RoundToInt32(b * 25.0f);
}

namespace {

// Exponents with no fractional part up to this size are computed by repeated multiplication
// (the contour settings produce 1, 10 and 100); a larger whole number (only reachable through
// a hostile setting, e.g. infinity) goes through exp/log like any other value, so the loop is
// always bounded.
constexpr double kMaxMultipliedExponent = 1024.0;

// x^e for x in [0, 1] and e >= 0, at double precision.
double CurvePower(double x, double e) {
    if (e == 0.0) return 1.0;
    if (x == 0.0) return 0.0;
    if (x == 1.0) return 1.0;
    if (e == std::floor(e) && e <= kMaxMultipliedExponent) {
        const int n = static_cast<int>(e);
        double r = x;
        for (int k = 1; k < n; ++k)
            r *= x;
        return r;
    }
    return std::exp(e * std::log(x));
}

double SaneExponent(float exponent) {
    // NaN and negative exponents would make curves leave 0..1 (or infinite at entry 0).
    return exponent >= 0.0f ? static_cast<double>(exponent) : 0.0;
}

} // namespace

void BuildAttackCurve(float* curve, float exponent) {
    const double e = SaneExponent(exponent);
    for (int i = 0; i < kTableSize; ++i) {
        const double x = static_cast<double>(i) / 32767.0;
        curve[i] = static_cast<float>(CurvePower(x, e));
    }
}

void BuildDecayCurve(float* curve, float exponent) {
    const double e = SaneExponent(exponent);
    for (int i = 0; i < kTableSize; ++i) {
        const double x = static_cast<double>(i) / 32767.0;
        curve[i] = static_cast<float>(1.0 - CurvePower(x, e));
    }
}

ContourCurves::ContourCurves() : Block_(new float[kContourCount * kTableSize]) {
    BuildAll();
}

void ContourCurves::BuildAll(int32_t attack, int32_t bassDecay, int32_t twinTDecay, int32_t noiseDecay) {
    Build(0, attack);
    Build(1, bassDecay);
    Build(2, twinTDecay);
    Build(3, noiseDecay);
}

void ContourCurves::Build(int contour, int32_t setting) {
    if (contour == 0)
        BuildAttackCurve(Curve(0), AttackExponent(setting));
    else
        BuildDecayCurve(Curve(contour), DecayExponent(setting));
}

int32_t ContourFigure(int contour, int32_t setting) {
    return contour == 0 ? AttackContourFigure(setting) : DecayContourFigure(setting);
}

} // namespace zelvox
