#pragma once
// The bytes of one MIDI event as a driver hands them over, split into the packed short
// messages the input component queues (status in the low byte, then the data bytes). One
// event normally holds one message; one that holds several is split, with running status.
// Stray data bytes without a status and stray system-exclusive framing are dropped; a
// message cut short by the next status byte keeps the data bytes it has.
// Allocates nothing: called on a driver's thread.

#include <cstddef>
#include <cstdint>

namespace zelvox {

// Bytes in a short message that starts with this status byte, the status included.
constexpr size_t ShortMessageLength(uint8_t status) {
    if (status < 0xF0) {
        const uint8_t kind = status & 0xF0;
        return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    }
    switch (status) {
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;
    }
}

// Calls emit(packed) for each short message in bytes[0..size).
template <class Emit> void SplitShortMessages(const uint8_t* bytes, size_t size, Emit&& emit) {
    uint8_t running = 0;
    size_t i = 0;
    while (i < size) {
        uint8_t status = bytes[i];
        if (status & 0x80) {
            ++i;
            if (status < 0xF0) running = status;
            else if (status < 0xF8) running = 0;
            if (status == 0xF0 || status == 0xF7) continue; // stray sysex framing
        } else if (running) {
            status = running;
        } else {
            ++i;
            continue;
        }
        uint32_t packed = status;
        const size_t need = ShortMessageLength(status) - 1;
        for (size_t k = 0; k < need && i < size && !(bytes[i] & 0x80); ++k, ++i)
            packed |= uint32_t(bytes[i]) << (8 * (k + 1));
        emit(packed);
    }
}

} // namespace zelvox
