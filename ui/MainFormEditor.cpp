// The pattern editor and the sound panels: note sliders, step selection, pattern buttons,
// the step context menu, edit mode, transpose and rotate; the knob handlers and UpdateSynth.

#include <limits>

#include "engine/Tables.h"
#include "ui/MainForm.h"

namespace zelvox {

// ---- Sound controls ----

// A knob or switch changed: write its value into its step field, in the edit step only
// ("Selected Note") or in every step of patterns 1..16 ("All Notes"). Slot 0 is never touched.
void MainForm::SoundControlChange(size_t index) {
    const SoundControl& sc = SoundControls_[index];
    const int32_t v = sc.Control->Value();
    if (SelectedNoteMode) {
        EditedStep().*sc.Field = v;
        return;
    }
    for (int p = 1; p < kPatternSlots; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s) Store.Step(p, s).*sc.Field = v;
}

// Show the edit step on the sound controls. A control whose value changes fires its handler,
// which writes the value back according to the edit mode.
void MainForm::UpdateSynth() {
    for (const SoundControl& sc : SoundControls_) sc.Control->SetValue(EditedStep().*sc.Field);
}

// ---- Notes ----

void MainForm::NoteChange(int32_t note, std::string& name) {
    if (SynthMode > kModeNoise) return;
    StepRecord& r = EditedStep();
    switch (SynthMode) {
    case kModeBass:
        r.BassNote = note;
        r.BassFreq = Note2Freq(note);
        break;
    case kModeTwinT:
        r.TwinTNote = note;
        r.TwinTFreq = Note2Freq(note);
        break;
    default:
        r.NoiseNote = note;
        break;
    }
    name = NoteName(note);
}

void MainForm::MMSliderChange(int n) {
    EditStep = n;
    std::string name;
    NoteChange(MMSlider(n).Value(), name);
    NoteLabel(n).SetCaption(name);
}

void MainForm::UpdateDisplay() {
    if (SynthMode <= kModeNoise) {
        for (int n = 1; n <= kStepsPerPattern; ++n) {
            const StepRecord& r = Store.Step(ClampPattern(PlayPattern), n);
            const int32_t note = SynthMode == kModeBass    ? r.BassNote
                                 : SynthMode == kModeTwinT ? r.TwinTNote
                                                           : r.NoiseNote;
            MMSlider(n).SetValue(note);
        }
    }
    for (int n = 1; n <= kStepsPerPattern; ++n) UpdateThumb(n);
}

void MainForm::UpdateThumb(int n) {
    const StepRecord& r = Store.Step(ClampPattern(PlayPattern), ClampStep(n));
    Colour c;
    switch (SynthMode) {
    case kModeBass:
        c = r.BassPlay == 0 ? Colours::Grey : (r.BassSlide != 0 ? Colours::Red : Colours::Lime);
        break;
    case kModeTwinT:
        c = r.TwinTPlay == 0 ? Colours::Grey : Colours::Lime;
        break;
    case kModeNoise:
        c = r.NoisePlay == 0 ? Colours::Grey : Colours::Lime;
        break;
    default:
        return;
    }
    MMSlider(ClampStep(n)).SetThumbColour(c);
}

void MainForm::EnableLabels() {
    for (int n = 1; n <= kStepsPerPattern; ++n) NoteLabel(n).SetVisible(true);
}

void MainForm::DisableLabels() {
    for (int n = 1; n <= kStepsPerPattern; ++n) NoteLabel(n).SetVisible(false);
}

// ---- Step and pattern selection ----

void MainForm::MMSliderEnter(int n) {
    EditStep = n;
    for (int m = 1; m <= Steps(); ++m) MMLED(m).SetColor(Colours::Lime);
    MMLED(n).SetColor(Colours::Maroon);
    if (SelectedNoteMode) UpdateSynth();
}

void MainForm::ClearLeds() {
    for (int n = 1; n <= kStepsPerPattern; ++n) LEDButton(n).SetLedOn(false);
}

void MainForm::LEDButtonClick(int n) {
    ClearLeds();
    LEDButton(n).SetLedOn(true);
    SpeedButtonClick(n);
}

void MainForm::SpeedButtonClick(int n) {
    if (Eng.S.Playing) {
        QueuedPattern = n; // taken over when the last step of the current pass begins
        return;
    }
    PlayPattern = n;
    EditStep = 1;
    MMSlider(1).SetFocus();
    UpdateDisplay();
    UpdateSynth();
}

void MainForm::SpeedButtonMouseMove(int n) { HoverPattern = n; }

// ---- Step context menu ----

void MainForm::PopupMenu1Popup() {
    const StepRecord& r = EditedStep();
    switch (SynthMode) {
    case kModeBass:
        Slide1.SetEnabled(true);
        Play1.SetChecked(r.BassPlay == 1);
        Slide1.SetChecked(r.BassSlide == 1);
        break;
    case kModeTwinT:
    case kModeNoise:
        Slide1.SetEnabled(false);
        Slide1.SetChecked(false);
        Play1.SetChecked((SynthMode == kModeTwinT ? r.TwinTPlay : r.NoisePlay) == 1);
        break;
    default:
        break;
    }
}

namespace {
// A flag the menu shows checked (1) turns off; anything else turns on.
void ToggleFlag(uint8_t& flag) { flag = flag == 1 ? 0 : 1; }
} // namespace

void MainForm::Play1Click() {
    StepRecord& r = EditedStep();
    switch (SynthMode) {
    case kModeBass:
        ToggleFlag(r.BassPlay);
        break;
    case kModeTwinT:
        ToggleFlag(r.TwinTPlay);
        break;
    case kModeNoise:
        ToggleFlag(r.NoisePlay);
        break;
    default:
        return;
    }
    UpdateThumb(EditStep);
}

void MainForm::Slide1Click() {
    if (SynthMode == kModeBass) ToggleFlag(EditedStep().BassSlide);
    UpdateThumb(EditStep);
}

// ---- Edit mode ----

void MainForm::AllNotes1Click() {
    AllNotes1.SetChecked(true);
    SelectedNote1.SetChecked(false);
    SelectedNoteMode = false;
}

void MainForm::SelectedNote1Click() {
    SelectedNote1.SetChecked(true);
    AllNotes1.SetChecked(false);
    SelectedNoteMode = true;
}

// ---- Arrows ----

namespace {
// A note from a file may hold any 32-bit value; moving it one step must not overflow.
int32_t AddNote(int32_t note, int delta) {
    const int64_t v = static_cast<int64_t>(note) + delta;
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}
} // namespace

// Transpose always moves the bass notes, whatever page is shown.
void MainForm::Transpose(int delta) {
    const int32_t pattern = ClampPattern(PlayPattern);
    if (SelectedNoteMode) {
        StepRecord& r = Store.Step(pattern, ClampStep(EditStep));
        r.BassNote = AddNote(r.BassNote, delta);
        UpdateDisplay();
        return;
    }
    const int32_t saved = EditStep;
    for (int k = 1; k <= kStepsPerPattern; ++k) {
        StepRecord& r = Store.Step(pattern, k);
        r.BassNote = AddNote(r.BassNote, delta);
        UpdateDisplay();
        EditStep = saved;
    }
    UpdateDisplay();
}

// Rotate the whole step records of steps 1..Steps.
void MainForm::MMLabel3Click() {
    const int32_t pattern = ClampPattern(PlayPattern);
    const int S = Steps();
    const StepRecord first = Store.Step(pattern, 1);
    for (int i = 1; i <= S - 1; ++i) Store.Step(pattern, i) = Store.Step(pattern, i + 1);
    Store.Step(pattern, S) = first;
    UpdateDisplay();
}

void MainForm::MMLabel4Click() {
    const int32_t pattern = ClampPattern(PlayPattern);
    const int S = Steps();
    const StepRecord last = Store.Step(pattern, S);
    for (int i = S; i >= 2; --i) Store.Step(pattern, i) = Store.Step(pattern, i - 1);
    Store.Step(pattern, 1) = last;
    UpdateDisplay();
}

} // namespace zelvox
