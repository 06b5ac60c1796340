#pragma once
// Little-endian reads and writes of fixed-width integers: every file layout of the program
// (pattern files, WAV headers, the echo's stored settings) goes through these, never through
// a copy of a struct's memory.

#include <cstdint>
#include <cstring>

namespace zelvox {

inline uint16_t GetU16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t GetI32(const uint8_t* p) {
    return int32_t(GetU32(p));
}
inline float GetF32(const uint8_t* p) {
    const uint32_t u = GetU32(p);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void PutI32(uint8_t* p, int32_t v) {
    PutU32(p, uint32_t(v));
}
inline void PutF32(uint8_t* p, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    PutU32(p, u);
}

} // namespace zelvox
