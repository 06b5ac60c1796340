#include "audio/MMWaveHdr.h"

#include <cstdlib>
#include <new>

namespace zelvox {

void WaveHdrDeleter::operator()(TMMWaveHdr* h) const noexcept {
    if (!h) return;
    h->~TMMWaveHdr();
    std::free(h);
}

WaveHdrPtr AllocWaveHdr(uint32_t bufferBytes) {
    void* block = std::calloc(1, sizeof(TMMWaveHdr) + size_t(bufferBytes));
    if (!block) throw std::bad_alloc();
    auto* h = new (block) TMMWaveHdr();
    h->lpData = reinterpret_cast<uint8_t*>(block) + sizeof(TMMWaveHdr);
    h->dwBufferLength = bufferBytes;
    return WaveHdrPtr(h);
}

} // namespace zelvox
