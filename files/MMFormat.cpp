#include "files/MMFormat.h"

namespace zelvox {

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return 0;
    const int64_t p = int64_t(a) * int64_t(b);
    const int64_t r = p / c + (2 * (p % c)) / c;
    // Results outside int32 only arise from nonsense formats; saturate rather than wrap.
    if (r > INT32_MAX) return INT32_MAX;
    if (r < INT32_MIN) return INT32_MIN;
    return int32_t(r);
}

WAVEFORMATEX PcmWaveFormat(uint16_t bits, uint16_t channels, uint32_t rate) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(uint16_t(channels * bits) / 8);
    f.nAvgBytesPerSec = uint32_t(f.nBlockAlign) * rate;
    f.cbSize = 0;
    return f;
}

uint32_t WaveFormatSize(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM ? 18u : 18u + f.cbSize;
}

std::unique_ptr<WAVEFORMATEX> CopyWaveFormat(PWaveFormatEx f) {
    if (!f) return nullptr;
    auto c = std::make_unique<WAVEFORMATEX>(*f);
    if (c->wFormatTag == WAVE_FORMAT_PCM) {
        c->cbSize = 0;
        c->Extra.clear();
    } else {
        c->Extra.resize(c->cbSize, 0);
    }
    return c;
}

bool IsValidPcmFormat(PWaveFormatEx f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           (f->nChannels == 1 || f->nChannels == 2) && f->nSamplesPerSec >= 4000 &&
           f->nSamplesPerSec <= 100000;
}

namespace {

// MulDivRound for the format's rates, which are unsigned 32-bit fields: a rate above
// INT32_MAX (only in a damaged file) must not turn negative and give negative lengths.
int32_t MulDivRate(int32_t a, uint32_t b, uint32_t c) {
    if (c == 0) return 0;
    const int64_t p = int64_t(a) * int64_t(b);
    const int64_t r = p / int64_t(c) + (2 * (p % int64_t(c))) / int64_t(c);
    if (r > INT32_MAX) return INT32_MAX;
    if (r < INT32_MIN) return INT32_MIN;
    return int32_t(r);
}

} // namespace

int32_t wioBytesToSamples(const WAVEFORMATEX& f, int32_t bytes) {
    return MulDivRate(bytes, f.nSamplesPerSec, f.nAvgBytesPerSec);
}

int32_t wioSamplesToBytes(const WAVEFORMATEX& f, int32_t samples) {
    int32_t b = MulDivRate(samples, f.nAvgBytesPerSec, f.nSamplesPerSec);
    if (f.nBlockAlign > 1 && b > 0 && b % f.nBlockAlign != 0) {
        const int64_t up = int64_t(b) + (f.nBlockAlign - b % f.nBlockAlign);
        b = up > INT32_MAX ? INT32_MAX - INT32_MAX % f.nBlockAlign : int32_t(up);
    }
    return b;
}

int32_t wioSamplesToTime(const WAVEFORMATEX& f, int32_t samples) {
    return MulDivRate(samples, 1000, f.nSamplesPerSec);
}

int32_t wioTimeToSamples(const WAVEFORMATEX& f, int32_t ms) {
    return MulDivRate(ms, f.nSamplesPerSec, 1000);
}

} // namespace zelvox
