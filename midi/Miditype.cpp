#include "midi/Miditype.h"

namespace zelvox {

TMyMidiHdr::TMyMidiHdr(uint32_t bufferSize) : Data_(std::make_unique<uint8_t[]>(bufferSize)) {
    Hdr.lpData = Data_.get();
    Hdr.dwBufferLength = bufferSize;
    Hdr.dwUser = reinterpret_cast<uintptr_t>(this);
}

} // namespace zelvox
