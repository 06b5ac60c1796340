#pragma once
// The stream format record and the helpers that convert between bytes, sample frames and
// milliseconds. Every chain component holds its own copy of the format it works on.

#include <cstdint>
#include <memory>
#include <vector>

namespace zelvox {

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The platform's WAVEFORMATEX, field for field. Not written to files as a memory image: the
// WAV writer serialises it field by field (18 bytes, then the extra bytes).
struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;      // 1 = PCM
    uint16_t nChannels = 0;       // 1 mono, 2 stereo
    uint32_t nSamplesPerSec = 0;  // frames per second
    uint32_t nAvgBytesPerSec = 0; // nBlockAlign * nSamplesPerSec
    uint16_t nBlockAlign = 0;     // bytes per frame
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;        // count of extra bytes (non-PCM formats only)
    std::vector<uint8_t> Extra; // the cbSize extra bytes that follow the record
};

using PWaveFormatEx = const WAVEFORMATEX*;

// a*b/c with a 64-bit product, rounded half up: a*b div c + (2*(a*b mod c)) div c.
// c = 0 gives 0 (a format read from a damaged file may hold zero rates).
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);

// PCM format: nBlockAlign = channels * bits / 8 in 16-bit arithmetic,
// nAvgBytesPerSec = nBlockAlign * rate, cbSize 0.
WAVEFORMATEX PcmWaveFormat(uint16_t bits, uint16_t channels, uint32_t rate);

// 18 for PCM, 18 + cbSize otherwise.
uint32_t WaveFormatSize(const WAVEFORMATEX& f);

// A held copy; a PCM copy gets cbSize 0 and no extra bytes. nullptr gives nullptr.
std::unique_ptr<WAVEFORMATEX> CopyWaveFormat(PWaveFormatEx f);

// PCM, 8 or 16 bits, 1 or 2 channels, 4000..100000 frames per second.
bool IsValidPcmFormat(PWaveFormatEx f);

// bytes -> frames: MulDivRound(bytes, nSamplesPerSec, nAvgBytesPerSec).
int32_t wioBytesToSamples(const WAVEFORMATEX& f, int32_t bytes);
// frames -> bytes, rounded up to a multiple of nBlockAlign.
int32_t wioSamplesToBytes(const WAVEFORMATEX& f, int32_t samples);
int32_t wioSamplesToTime(const WAVEFORMATEX& f, int32_t samples); // milliseconds
int32_t wioTimeToSamples(const WAVEFORMATEX& f, int32_t ms);

} // namespace zelvox
