#include "program/MidiKnobs.h"

#include "ui/MainForm.h"

namespace zelvox {

MidiKnobTable MidiKnobsOf(MainForm& form) {
    MidiKnobTable t{};
    for (const ControlRow& row : kControls)
        if (row.CcSlot >= 0 && row.CcSlot < kCCSlots)
            t[static_cast<size_t>(row.CcSlot)] = form.ControlFor(row.Id);
    return t;
}

} // namespace zelvox
