#pragma once
// The 16-bit stream as floats, for outputs that take floats: x / 32767, the scale of the JACK
// output, so that a recording made through a host reads back as the program's own samples.
// Eight samples at a time where the processor has SSE2; the same values either way (each
// is one exact conversion and one float multiply).

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelvox {

inline void Pcm16ToFloat(const int16_t* in, float* out, uint32_t n) {
    constexpr float kScale = 1.0f / 32767.0f;
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(kScale);
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        // Each sample into the high half of a 32-bit lane, then shifted down with its sign.
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(lo), scale));
        _mm_storeu_ps(out + i + 4, _mm_mul_ps(_mm_cvtepi32_ps(hi), scale));
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<float>(in[i]) * kScale;
}

} // namespace zelvox
