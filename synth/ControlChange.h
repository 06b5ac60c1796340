#pragma once
// A MIDI Control Change turning the synth's knobs by the MIDI setup's controller table
// (CCTable: a controller number per slot), scaled as the window's MIDI setup scales them.
// For hosts that take MIDI on their audio thread: allocates nothing.

#include <array>
#include <cstddef>
#include <cstdint>

#include "synth/PatternSynth.h"

namespace zelvox {

using CcTable = std::array<int32_t, kCCSlots>;

// `channel`: the low nibble of the status byte a message must have, or -1 for every
// channel. Calls turned(id, value) for each control that changed; returns how many did.
template <class Turned>
int ApplyControlChange(PatternSynth& synth, const CcTable& table, int32_t channel,
                       const uint8_t* msg, size_t size, Turned&& turned) {
    if (size < 3 || (msg[0] & 0xF0) != 0xB0) return 0;
    if (channel >= 0 && (msg[0] & 0x0F) != channel) return 0;
    const int32_t cc = msg[1] & 0x7F;
    const int32_t v = msg[2] & 0x7F;
    int n = 0;
    for (const ControlRow& row : kControls) {
        if (row.CcSlot < 0 || row.CcSlot >= kCCSlots) continue;
        if (table[static_cast<size_t>(row.CcSlot)] != cc) continue;
        if (synth.SetControl(row.Id, MidiKnobValue(row.CcSlot, v))) {
            turned(row.Id, synth.Control(row.Id));
            ++n;
        }
    }
    return n;
}

} // namespace zelvox
