#pragma once
// The one float -> int32 conversion of the engine. Every rounding the sound engine does
// (phase increments, envelope table positions, gate lengths, output samples, ...) goes through
// RoundToInt32, so that any float, however it was produced, converts to a defined value:
//   NaN            -> 0
//   >= 2^31 / +inf -> INT32_MAX
//   <= -2^31 / -inf -> INT32_MIN
//   otherwise      -> nearest integer, a half going to the even neighbour (std::nearbyint
//                     under the default rounding mode).

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelvox {

inline int32_t RoundToInt32(float x) {
    constexpr float kTwo31 = 2147483648.0f;
#if defined(__SSE2__)
    // cvtss2si rounds with the current mode (nearest, ties to even, as the program never
    // changes it): the same integer std::nearbyint gives, without a library call. It yields
    // INT32_MIN for NaN and for anything out of range; the two selects below fix those cases.
    int32_t r = _mm_cvtss_si32(_mm_set_ss(x));
    r = (x >= kTwo31) ? std::numeric_limits<int32_t>::max() : r;
    r = (x != x) ? 0 : r;
    return r;
#else
    if (x != x) return 0;
    if (x >= kTwo31) return std::numeric_limits<int32_t>::max();
    if (x <= -kTwo31) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::nearbyint(x));
#endif
}

} // namespace zelvox
