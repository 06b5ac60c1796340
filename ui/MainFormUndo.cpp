// Undo and redo on the window: the edit scopes the handlers open, the Edit menu's two items,
// and putting a recorded state back on the controls without touching playback.

#include <algorithm>

#include "files/PatternFileFormat.h"
#include "ui/MainForm.h"

namespace zelvox {

MainForm::EditScope::EditScope(MainForm& form, const std::string& label, uint64_t key,
                               SynthEdit::Kind what, int32_t where)
    : Form_(&form) {
    if (form.Restoring_) {
        Form_ = nullptr;
        return;
    }
    if (form.EditDepth_++ == 0) {
        form.EditBefore_ = form.Synth.SaveState();
        form.EditLabel_ = label;
        form.EditKey_ = key;
        form.EditWhat_ = what;
        form.EditWhere_ = where;
    }
}

MainForm::EditScope::~EditScope() {
    if (!Form_ || --Form_->EditDepth_ != 0) return;
    MainForm& f = *Form_;
    std::vector<uint8_t> after;
    try {
        after = f.Synth.SaveState();
        if (f.History.Record(f.EditLabel_, f.EditBefore_, after, f.EditKey_)) f.UpdateUndoMenu();
    } catch (...) {
        // Out of memory while recording: the edit stands, it just cannot be undone.
    }
    f.Edited(f.DescribeEdit(f.EditWhat_, f.EditWhere_, f.EditBefore_, after));
}

// What the outermost scope said it changes, as it stands now. When the state changed
// anywhere else (or could not be compared), the edit is the whole state.
SynthEdit MainForm::DescribeEdit(SynthEdit::Kind what, int32_t where, const std::vector<uint8_t>& before,
                                 const std::vector<uint8_t>& after) const {
    SynthEdit e;
    e.SelectedNoteMode = SelectedNoteMode;
    e.EditStep = ClampStep(EditStep);
    e.Pattern = ClampPattern(PlayPattern);
    switch (what) {
    case SynthEdit::Kind::Control:
        if (where < 0 || size_t(where) >= kControlCount) return e;
        e.Id = static_cast<ControlId>(where);
        e.Value = Synth.Control(e.Id);
        break;
    case SynthEdit::Kind::Step:
        e.Step = ClampStep(where);
        e.Steps[0] = Store.Step(e.Pattern, e.Step);
        break;
    case SynthEdit::Kind::Pattern:
        e.Pattern = ClampPattern(where);
        for (int s = 1; s <= kStepsPerPattern; ++s) e.Steps[size_t(s - 1)] = Store.Step(e.Pattern, s);
        break;
    case SynthEdit::Kind::Phrase:
        if (where < 1 || where > kPhraseCount) return e;
        e.Phrase = where;
        e.PhrasePattern = PhraseTable[size_t(where)].Pattern;
        e.PhraseCount = PhraseTable[size_t(where)].Count;
        break;
    case SynthEdit::Kind::Whole:
    case SynthEdit::Kind::Position:
        return e;
    }
    e.What = what;
    if (before.size() != kPatternFileSize || after.size() != kPatternFileSize ||
        !EditCovers(e, before.data(), after.data()))
        e.What = SynthEdit::Kind::Whole;
    return e;
}

void MainForm::Edited(const SynthEdit& e) {
    ++Edits_;
    try {
        if (OnSynthEdit) OnSynthEdit(e);
    } catch (...) {
        // A listener that failed (out of memory) hears of the next edit.
    }
    try {
        if (OnEdited) OnEdited();
    } catch (...) {
    }
}

std::string MainForm::EditName(ControlId id) {
    switch (id) {
    case ControlId::BassResonance:
        return "Resonance";
    case ControlId::BassVolume:
        return "Bass volume";
    case ControlId::BassWaveform:
        return "Waveform";
    case ControlId::TwinTDecay:
        return "Twin-T decay";
    case ControlId::TwinTEnvMod:
        return "Twin-T env mod";
    case ControlId::TwinTVolume:
        return "Twin-T volume";
    case ControlId::NoiseDecay:
        return "Noise decay";
    case ControlId::NoiseEnvMod:
        return "Noise env mod";
    case ControlId::NoiseColour:
        return "Noise colour";
    case ControlId::NoiseVolume:
        return "Noise volume";
    case ControlId::BassAttackContour:
        return "Attack contour";
    case ControlId::BassDecayContour:
        return "Decay contour";
    case ControlId::TwinTDecayContour:
        return "Twin-T contour";
    case ControlId::NoiseDecayContour:
        return "Noise contour";
    default:
        return ControlRowOf(id).Caption; // "Attack", "Cut-off", "Volume", "Tempo", ...
    }
}

// Changes of one control merge only while they go to the same place: a sound control in
// "Selected Note" mode edits one step of one pattern ("All Notes": every step of every one).
uint64_t MainForm::ControlKey(ControlId id) const {
    uint64_t key = 1 | uint64_t(id) << 8;
    if (ControlRowOf(id).Field && SelectedNoteMode)
        key |= uint64_t(ClampPattern(PlayPattern)) << 16 | uint64_t(ClampStep(EditStep)) << 24;
    return key;
}

// Kind 2: note slider n of the pattern shown, on the page shown; 3 and 4: phrase k's spin edits.
uint64_t MainForm::StepKey(uint64_t kind, int32_t n) const {
    uint64_t key = kind | uint64_t(n & 0xFF) << 8;
    if (kind == 2) key |= uint64_t(ClampPattern(PlayPattern)) << 16 | uint64_t(SynthMode) << 24;
    return key;
}

void MainForm::UpdateUndoMenu() {
    Undo1.SetCaption(History.CanUndo() ? "&Undo " + History.UndoLabel() : "&Undo");
    Undo1.SetEnabled(History.CanUndo());
    Redo1.SetCaption(History.CanRedo() ? "&Redo " + History.RedoLabel() : "&Redo");
    Redo1.SetEnabled(History.CanRedo());
}

void MainForm::ClearHistory() {
    History.Clear();
    UpdateUndoMenu();
}

void MainForm::Undo1Click() {
    std::vector<uint8_t> state = Synth.SaveState();
    if (!History.Undo(state)) return;
    RestoreEditState(state);
    UpdateUndoMenu();
    Edited(SynthEdit{});
}

void MainForm::Redo1Click() {
    std::vector<uint8_t> state = Synth.SaveState();
    if (!History.Redo(state)) return;
    RestoreEditState(state);
    UpdateUndoMenu();
    Edited(SynthEdit{});
}

void MainForm::ApplyEditState(const std::string& label, const std::vector<uint8_t>& after) {
    const EditScope edit(*this, label, 0);
    RestoreEditState(after);
}

void MainForm::DicePattern(bool mutate, uint64_t seed, int32_t amount, const DiceOptions& options) {
    std::vector<uint8_t> bytes = Synth.SaveState();
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    const int32_t pattern = std::max(1, PlayPattern);
    if (mutate) {
        const PatternStore before = r.Store;
        MutatePattern(r.Store, pattern, seed, amount, options);
        if (!SelectedNoteMode) ShareMutatedSound(r.Store, pattern, before);
    } else {
        RandomisePattern(r.Store, pattern, seed, options);
        if (!SelectedNoteMode) ShareRandomisedSound(r.Store, pattern, options);
    }
    EncodePatternFile(r, bytes.data());
    ApplyEditState(mutate ? "Mutate" : "Randomise", bytes);
}

// The pattern that plays changed at a pattern end: the sliders show it.
void MainForm::PatternChanged() {
    const EditScope edit(*this, "Pattern " + std::to_string(PlayPattern), 0, SynthEdit::Kind::Pattern,
                         PlayPattern);
    UpdateDisplay();
}

// Puts a recorded state on the store, the controls and the phrase table. Unlike loading a
// file it keeps the pattern shown and played, the edit step and the transport as they are;
// the controls are set through their models so the window and the echo follow.
void MainForm::RestoreEditState(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kPatternFileSize) return;
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    auto putSteps = [&] {
        for (int p = 1; p <= 16; ++p)
            for (int s = 1; s <= kStepsPerPattern; ++s)
                Store.Step(p, s) = r.Store.Step(p, s);
        for (int k = 1; k <= kPhraseCount; ++k) {
            PhraseTable[size_t(k)].Pattern = r.Phrases[size_t(k)].Pattern;
            PhraseTable[size_t(k)].Count = r.Phrases[size_t(k)].Count;
        }
    };
    // Nothing below is an edit of its own; the knobs write into the edit step only, which
    // already holds what they show. Both end however this ends.
    struct Restoring {
        MainForm& F;
        const bool ModeBefore = F.SelectedNoteMode;
        Restoring(MainForm& f) : F(f) {
            F.Restoring_ = true;
            F.SelectedNoteMode = true;
        }
        ~Restoring() {
            F.SelectedNoteMode = ModeBefore;
            F.Restoring_ = false;
        }
    } restoring(*this);
    const int32_t stepBefore = EditStep;
    putSteps();
    for (const ControlRow& row : kControls) {
        if (row.File == FileKnob::None) continue;
        const int32_t v = FileKnobField(r, row.File);
        ValueControl* c = ControlFor(row.Id);
        if (!c && OuterControl) c = OuterControl(row.Id);
        if (c)
            c->SetValue(v);
        else
            Synth.SetControl(row.Id, v);
    }
    UpdateArranger();
    UpdateDisplay(); // each slider that moves makes its step the edit step
    EditStep = stepBefore;
    UpdateSynth();
    // A slider or knob that cannot show a value the record holds has written its limit back;
    // the record is what the state was.
    putSteps();
}

} // namespace zelvox
