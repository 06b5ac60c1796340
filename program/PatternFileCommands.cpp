#include "program/PatternFileCommands.h"

#include "ui/EnvelopeForm.h"
#include "ui/MainForm.h"

namespace zelvox {

namespace {
// The control of a row of kControls that the window or its envelope dialog shows.
template <class Form, class Envelopes> auto* WindowControl(Form& form, Envelopes& envelopes, ControlId id) {
    auto* c = form.ControlFor(id);
    return c ? c : envelopes.ControlFor(id);
}
} // namespace

PatternFileRecord CollectPatternFile(const MainForm& form, const EnvelopeForm& envelopes) {
    PatternFileRecord r;
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s) r.Store.Step(p, s) = form.Store.Step(p, s);
    for (const ControlRow& row : kControls)
        if (row.File != FileKnob::None)
            FileKnobField(r, row.File) = WindowControl(form, envelopes, row.Id)->Value();
    for (int k = 1; k <= kPhraseCount; ++k) {
        r.Phrases[size_t(k)].Pattern = form.PhraseTable[size_t(k)].Pattern;
        r.Phrases[size_t(k)].Count = form.PhraseTable[size_t(k)].Count;
    }
    return r;
}

void ApplyPatternFile(MainForm& form, EnvelopeForm& envelopes, const PatternFileRecord& r) {
    const bool modeBefore = form.SelectedNoteMode;
    for (int p = 1; p <= 16; ++p) {
        for (int s = 1; s <= kStepsPerPattern; ++s) form.Store.Step(p, s) = r.Store.Step(p, s);
        // Each control clamps to its range and runs its handler only when its value changes,
        // so after the first pattern these are no-ops. In table order: Volume, Delay (with
        // the tempo still shown), Depth, Steps, Tempo, the four contours.
        for (const ControlRow& row : kControls)
            if (row.File != FileKnob::None)
                WindowControl(form, envelopes, row.Id)->SetValue(FileKnobField(r, row.File));
        form.PhraseTable[size_t(p)].Pattern = r.Phrases[size_t(p)].Pattern;
        form.PhraseTable[size_t(p)].Count = r.Phrases[size_t(p)].Count;
    }
    // Knob handlers below must write into one step only, or one step's sound would be copied
    // over every step of every pattern.
    form.SelectedNoteMode = true;
    form.UpdateArranger(); // the spin edits clamp the table's values and write them back
    form.PlayPattern = 1;
    form.UpdateDisplay();
    form.UpdateSynth();
    // The edit mode the user had chosen stays in force; the menu's marks still show it.
    form.SelectedNoteMode = modeBefore;
}

void SavePatternFile(const MainForm& form, const EnvelopeForm& envelopes, const std::string& path) {
    WriteFileReplacing(path, EncodePatternFile(CollectPatternFile(form, envelopes)));
}

void LoadPatternFile(MainForm& form, EnvelopeForm& envelopes, const std::string& path) {
    const std::vector<uint8_t> bytes = ReadPatternFileBytes(path);
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    ApplyPatternFile(form, envelopes, r);
}

} // namespace zelvox
