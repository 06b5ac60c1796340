#pragma once
// The buffer header that travels through the audio chain. One zero-filled allocation holds
// the header and, directly after it, the buffer's sample bytes.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvox {

constexpr uint32_t WHDR_DONE = 1;
constexpr uint32_t WHDR_PREPARED = 2;

struct TMMWaveHdr {
    // The platform's WAVEHDR fields, in their order.
    uint8_t* lpData = nullptr;    // the sample bytes, directly after this header
    uint32_t dwBufferLength = 0;  // capacity before a load; bytes to play after it
    uint32_t dwBytesRecorded = 0; // bytes the chain produced in the last load
    uint32_t dwUser = 0;
    uint32_t dwFlags = 0; // WHDR_DONE, WHDR_PREPARED
    uint32_t dwLoops = 0;
    TMMWaveHdr* lpNext = nullptr; // platform-reserved
    uintptr_t reserved = 0;       // platform-reserved
    // The chain's own fields.
    TMMWaveHdr* NextHdr = nullptr; // buffer the device plays next, set just before BufferReady
    int32_t LoopEnabled = 0;       // -1 while the driver loops
    int32_t LoopTotal = 0;         // the driver's loop count, written only when looping
    int32_t LoopsLeft = 0;         // decremented by a looping source
    int32_t LoopDone = 0;          // -1 when a looping source wrapped; cleared by the driver
};
using PWaveHdr = TMMWaveHdr*;

static_assert(sizeof(TMMWaveHdr) % 8 == 0,
              "the sample bytes after the header must stay 8-byte aligned");

struct WaveHdrDeleter {
    void operator()(TMMWaveHdr* h) const noexcept;
};
using WaveHdrPtr = std::unique_ptr<TMMWaveHdr, WaveHdrDeleter>;

// One zero-filled block of header + bufferBytes data bytes; lpData points after the header
// and dwBufferLength = bufferBytes. Throws std::bad_alloc when there is no memory.
WaveHdrPtr AllocWaveHdr(uint32_t bufferBytes);

} // namespace zelvox
