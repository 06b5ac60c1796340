#pragma once
// A MIDI Control Change turning the synth's knobs by the MIDI setup's controller table
// (CCTable: a controller number per slot), scaled as the window's MIDI setup scales them.
// For hosts that take MIDI on their audio thread: allocates nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "synth/PatternSynth.h"

namespace zelvox {

using CcTable = std::array<int32_t, kCCSlots>;

// The reverse of a learned map: the control a channel's controller turns, or kNone.
struct LearnLookup {
    static constexpr int8_t kNone = -1;
    std::array<std::array<int8_t, 128>, 16> Control;
    std::optional<ControlId> Find(int channel, int cc) const {
        if (channel < 0 || channel > 15 || cc < 0 || cc > 127) return std::nullopt;
        const int8_t c = Control[size_t(channel)][size_t(cc)];
        if (c == kNone) return std::nullopt;
        return ControlId(c);
    }
};
// The value a learned controller's value v (0..127) gives the control: 0..127 onto Min..Max,
// rounded to nearest (as the fixed table's scaled knobs). Out-of-range v is clamped first.
constexpr int32_t LearnedValue(ControlId id, int32_t ccValue) {
    const ControlRow& r = ControlRowOf(id);
    const int64_t v = ccValue < 0 ? 0 : (ccValue > 127 ? 127 : ccValue);
    // x / 127 rounded to nearest is (x + 63) / 127 for x >= 0 (127 is odd: no halves).
    return r.Min + int32_t((v * (int64_t(r.Max) - r.Min) + 63) / 127);
}

// A lookup with nothing learned.
inline LearnLookup NoLearned() {
    LearnLookup l{};
    for (auto& row : l.Control) row.fill(LearnLookup::kNone);
    return l;
}

// A Control Change on the learned controllers: the control its channel's controller turns,
// scaled onto its range. Calls turned(id, value) when it changed; true then.
template <class Turned>
bool ApplyLearnedChange(PatternSynth& synth, const LearnLookup& learned, const uint8_t* msg,
                        size_t size, Turned&& turned) {
    if (size < 3 || (msg[0] & 0xF0) != 0xB0) return false;
    const std::optional<ControlId> id = learned.Find(msg[0] & 0x0F, msg[1] & 0x7F);
    if (!id || !synth.SetControl(*id, LearnedValue(*id, msg[2] & 0x7F))) return false;
    turned(*id, synth.Control(*id));
    return true;
}

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
