#include "files/PatternFile.h"

#include <algorithm>

#include "ui/EnvelopeForm.h"
#include "ui/MainForm.h"

namespace zelvox {

PatternFileRecord FillSaveRecord(const MainForm& form, const EnvelopeForm& envelopes) {
    PatternFileRecord r;
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s)
            r.Store.Step(p, s) = form.Store.Step(p, s);
    r.Delay = form.MMWheel16.Value();
    r.Depth = form.MMWheel17.Value();
    r.Volume = form.MMWheel6.Value();
    r.BassAttackContour = envelopes.SpinEdit971.Value();
    r.BassDecayContour = envelopes.SpinEdit972.Value();
    r.TwinTDecayContour = envelopes.SpinEdit973.Value();
    r.NoiseDecayContour = envelopes.SpinEdit974.Value();
    r.Tempo = form.SpinEdit972.Value();
    r.Steps = form.SpinEdit971.Value();
    for (int p = 1; p <= 16; ++p) {
        r.Phrases[size_t(p)].Pattern = form.PhraseTable[size_t(p)].Pattern;
        r.Phrases[size_t(p)].Count = form.PhraseTable[size_t(p)].Count;
    }
    return r;
}

void SavePatternFile(const MainForm& form, const EnvelopeForm& envelopes, const std::string& path) {
    WriteFileReplacing(path, EncodePatternFile(FillSaveRecord(form, envelopes)));
}

void ApplyPatternFile(MainForm& form, EnvelopeForm& envelopes, const PatternFileRecord& r) {
    const bool modeBefore = form.SelectedNoteMode;
    // Step 3, as the design orders it: per pattern, its steps, then the controls (which only
    // change, and run their handlers, the first time), then its phrase. The Delay knob is set
    // before the Tempo spin edit, so its handler sees the tempo shown before the load.
    for (int p = 1; p <= 16; ++p) {
        for (int s = 1; s <= 16; ++s)
            form.Store.Step(p, s) = r.Store.Step(p, s);
        form.MMWheel6.SetValue(r.Volume);
        form.MMWheel16.SetValue(r.Delay);
        form.MMWheel17.SetValue(r.Depth);
        form.SpinEdit971.SetValue(r.Steps);
        form.SpinEdit972.SetValue(r.Tempo);
        envelopes.SpinEdit971.SetValue(r.BassAttackContour);
        envelopes.SpinEdit972.SetValue(r.BassDecayContour);
        envelopes.SpinEdit973.SetValue(r.TwinTDecayContour);
        envelopes.SpinEdit974.SetValue(r.NoiseDecayContour);
        // The table only ever holds what its spin edits can show.
        form.PhraseTable[size_t(p)].Pattern =
            std::clamp(r.Phrases[size_t(p)].Pattern, 0, kPhrasePatternMax);
        form.PhraseTable[size_t(p)].Count =
            std::clamp(r.Phrases[size_t(p)].Count, 0, kPhraseCountMax);
    }
    // Steps 4 to 9: reload the knobs from pattern 1's edit step without copying them over
    // every step (Selected Note mode writes to that one step only).
    form.SelectedNoteMode = true;
    form.UpdateArranger();
    form.PlayPattern = 1;
    form.UpdateDisplay();
    form.UpdateSynth();
    // Back to the edit mode the menu shows.
    form.SelectedNoteMode = modeBefore;
}

void LoadPatternFile(MainForm& form, EnvelopeForm& envelopes, const std::string& path) {
    const std::vector<uint8_t> bytes = ReadPatternFileBytes(path);
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    ApplyPatternFile(form, envelopes, r);
}

} // namespace zelvox
