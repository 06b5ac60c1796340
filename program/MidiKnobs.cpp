#include "program/MidiKnobs.h"

#include "ui/EnvelopeForm.h"
#include "ui/MainForm.h"

namespace zelvox {

MidiKnobTable MidiKnobsOf(MainForm& form) {
    MidiKnobTable t{};
    for (const ControlRow& row : kControls)
        if (row.CcSlot >= 0 && row.CcSlot < kCCSlots)
            t[static_cast<size_t>(row.CcSlot)] = form.ControlFor(row.Id);
    return t;
}

MidiLearn::Targets LearnTargetsOf(MainForm& form, EnvelopeForm& envelopes) {
    MidiLearn::Targets t{};
    for (const ControlRow& row : kControls) {
        ValueControl* c = form.ControlFor(row.Id);
        t[static_cast<size_t>(row.Id)] = c ? c : envelopes.ControlFor(row.Id);
    }
    return t;
}

void PlayNoteOnForm(MainForm& form, const NoteInAction& note) {
    if (note.What == NoteInAction::Kind::Transpose) form.Synth.Seq.SetTranspose(note.Value);
    if (note.What == NoteInAction::Kind::Pattern && note.Value >= 1 && note.Value <= 16)
        form.LEDButtonClick(note.Value);
}

} // namespace zelvox
