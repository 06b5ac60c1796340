#pragma once
// Measurements for sound at other rates than 44,100 Hz: the reference conversion by sox, the
// RMS of a difference and the loudest component above a frequency, in dB of full scale.

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/RendererProgram.h"

namespace zelvox::test {

// `in` converted by sox's very-high-quality rate conversion; false when sox failed.
inline bool SoxConvert(const std::filesystem::path& in, const std::filesystem::path& out,
                       uint32_t rate) {
    const std::string cmd = "timeout -k 5 60 sox " + Quote(in.string()) + " -r " +
                            std::to_string(rate) + " " + Quote(out.string()) + " rate -v";
    return std::system(cmd.c_str()) == 0;
}

// RMS of a[a0 + i] - b[i] over n samples, as dB of full scale (16-bit).
inline double RmsDifferenceDb(const std::vector<int16_t>& a, size_t a0,
                              const std::vector<int16_t>& b, size_t n) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double d = (double(a.at(a0 + i)) - double(b.at(i))) / 32768.0;
        sum += d * d;
    }
    return 10.0 * std::log10(sum / double(n) + 1e-30);
}

// The loudest spectral component above `hz` over the whole signal, as dB of full scale (a
// full-scale sine reads 0): Hann-windowed transforms of 8,192 frames, overlapping by half,
// from the third bin above `hz` (the window spreads a component over two bins either side).
inline double LoudestAboveDb(const std::vector<int16_t>& s, double rate, double hz) {
    constexpr size_t kN = 8192;
    std::vector<double> window(kN);
    double gain = 0.0;
    for (size_t i = 0; i < kN; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(kN));
        gain += window[i];
    }
    double loudest = 0.0;
    std::vector<std::complex<double>> x(kN);
    for (size_t at = 0; at + kN <= s.size(); at += kN / 2) {
        for (size_t i = 0; i < kN; ++i) x[i] = window[i] * double(s[at + i]) / 32768.0;
        // Iterative radix-2 transform.
        for (size_t i = 1, j = 0; i < kN; ++i) {
            size_t bit = kN >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(x[i], x[j]);
        }
        for (size_t len = 2; len <= kN; len <<= 1) {
            const std::complex<double> w = std::polar(1.0, -2.0 * M_PI / double(len));
            for (size_t i = 0; i < kN; i += len) {
                std::complex<double> wk = 1.0;
                for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                    const auto u = x[i + k], v = x[i + k + len / 2] * wk;
                    x[i + k] = u + v;
                    x[i + k + len / 2] = u - v;
                }
            }
        }
        for (size_t k = size_t(std::ceil(hz * double(kN) / rate)) + 3; k < kN / 2; ++k)
            loudest = std::max(loudest, 2.0 * std::abs(x[k]) / gain);
    }
    return 20.0 * std::log10(loudest + 1e-30);
}

} // namespace zelvox::test
