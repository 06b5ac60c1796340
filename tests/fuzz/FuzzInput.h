#pragma once
// Reads a fuzzer's input as a script: little-endian numbers and byte runs taken from the
// front. Past the end every read gives zeros (or fewer bytes), so any input is a whole script.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelvox::fuzz {

// A property of a fuzz body does not hold. Under the fuzzer this aborts, so that libFuzzer keeps
// the input; the unit tests that replay the corpus make it throw instead.
class FuzzFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
inline bool& FuzzFailuresThrow() {
    static bool throwing = false;
    return throwing;
}
// area: which body; what: the property that failed.
inline void FuzzCheck(bool ok, const char* area, const char* what) {
    if (ok) return;
    if (FuzzFailuresThrow()) throw FuzzFailure(std::string(area) + ": " + what);
    std::fprintf(stderr, "fuzz check failed: %s: %s\n", area, what);
    std::abort();
}

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : Data_(data), Size_(size) {}

    bool Empty() const { return Pos_ >= Size_; }
    size_t Left() const { return Size_ - Pos_; }

    uint8_t Byte() { return Empty() ? 0 : Data_[Pos_++]; }
    uint16_t U16() {
        const uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }
    uint32_t U32() {
        const uint32_t lo = U16();
        return lo | (uint32_t(U16()) << 16);
    }
    std::vector<uint8_t> Bytes(size_t n) {
        n = std::min(n, Left());
        std::vector<uint8_t> out(Data_ + Pos_, Data_ + Pos_ + n);
        Pos_ += n;
        return out;
    }

private:
    const uint8_t* Data_;
    size_t Size_;
    size_t Pos_ = 0;
};

// The other direction, for the seed generator: builds a script that FuzzInput reads back.
class FuzzScript {
public:
    FuzzScript& Byte(uint8_t b) {
        Data.push_back(b);
        return *this;
    }
    FuzzScript& U16(uint16_t v) { return Byte(uint8_t(v & 0xFF)).Byte(uint8_t(v >> 8)); }
    FuzzScript& U32(uint32_t v) { return U16(uint16_t(v & 0xFFFF)).U16(uint16_t(v >> 16)); }
    FuzzScript& Bytes(const std::vector<uint8_t>& bytes) {
        Data.insert(Data.end(), bytes.begin(), bytes.end());
        return *this;
    }
    std::vector<uint8_t> Data;
};

} // namespace zelvox::fuzz
