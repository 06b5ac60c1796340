// The pattern editor and the sound panels: note sliders, step selection, pattern buttons,
// the step context menu, edit mode, transpose and rotate; the knob handlers and UpdateSynth.

#include "engine/Tables.h"
#include "ui/MainForm.h"

namespace zelvox {

// ---- Sound controls ----

// Show the edit step on the sound controls. A control whose value changes fires its handler,
// which writes the value back according to the edit mode.
void MainForm::UpdateSynth() {
    for (size_t i = 0; i < kSoundControlCount; ++i) {
        const ControlRow& row = kControls[i];
        ControlFor(row.Id)->SetValue(EditedStep().*row.Field);
    }
}

// ---- Notes ----

void MainForm::NoteChange(int32_t note, std::string& name) {
    if (!SetStepNote(EditedStep(), SynthMode, note)) return;
    name = NoteName(note);
}

void MainForm::MMSliderChange(int n) {
    const EditScope edit(*this, "Note", StepKey(2, n), SynthEdit::Kind::Step, n);
    EditStep = n;
    std::string name;
    NoteChange(MMSlider(n).Value(), name);
    NoteLabel(n).SetCaption(name);
}

void MainForm::UpdateDisplay() {
    if (SynthMode <= kModeNoise) {
        for (int n = 1; n <= kStepsPerPattern; ++n) {
            MMSlider(n).SetValue(StepNote(Store.Step(ClampPattern(PlayPattern), n), SynthMode));
        }
    }
    for (int n = 1; n <= kStepsPerPattern; ++n) UpdateThumb(n);
}

void MainForm::UpdateThumb(int n) {
    switch (StepLookOf(Store.Step(ClampPattern(PlayPattern), ClampStep(n)), SynthMode)) {
    case StepLook::Rest:
        MMSlider(ClampStep(n)).SetThumbColour(Colours::Grey);
        break;
    case StepLook::Note:
        MMSlider(ClampStep(n)).SetThumbColour(Colours::Lime);
        break;
    case StepLook::Slide:
        MMSlider(ClampStep(n)).SetThumbColour(Colours::Red);
        break;
    case StepLook::None:
        break;
    }
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
    // The knobs show the step; one that cannot show a value the step holds writes its limit.
    const EditScope edit(*this, "Step " + std::to_string(n), 0, SynthEdit::Kind::Step, n);
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
    // While playing, n is taken over when the last step of the current pass begins.
    if (!Synth.Seq.ChoosePattern(n)) return;
    // With "All Notes" the knobs write the pattern's step 1 into every step: an edit.
    const EditScope edit(*this, "Pattern " + std::to_string(n), 0, SynthEdit::Kind::Pattern, PlayPattern);
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

void MainForm::Play1Click() {
    const EditScope edit(*this, "Play", 0, SynthEdit::Kind::Step, EditStep);
    if (TogglePlay(EditedStep(), SynthMode)) UpdateThumb(EditStep);
}

void MainForm::Slide1Click() {
    const EditScope edit(*this, "Slide", 0, SynthEdit::Kind::Step, EditStep);
    ToggleSlide(EditedStep(), SynthMode);
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

// Transpose always moves the bass notes, whatever page is shown. With "All Notes" the display
// follows every step's move (its sliders write the notes they show back), as the window did.
void MainForm::Transpose(int delta) {
    const EditScope edit(*this, delta > 0 ? "Transpose up" : "Transpose down", 0, SynthEdit::Kind::Pattern,
                         PlayPattern);
    const int32_t pattern = ClampPattern(PlayPattern);
    if (SelectedNoteMode) {
        MoveBassNote(Store.Step(pattern, ClampStep(EditStep)), delta);
        UpdateDisplay();
        return;
    }
    const int32_t saved = EditStep;
    for (int k = 1; k <= kStepsPerPattern; ++k) {
        MoveBassNote(Store.Step(pattern, k), delta);
        UpdateDisplay();
        EditStep = saved;
    }
    UpdateDisplay();
}

// Rotate the whole step records of steps 1..Steps.
void MainForm::MMLabel3Click() {
    const EditScope edit(*this, "Rotate left", 0, SynthEdit::Kind::Pattern, PlayPattern);
    RotateLeft(Store, PlayPattern, Steps());
    UpdateDisplay();
}

void MainForm::MMLabel4Click() {
    const EditScope edit(*this, "Rotate right", 0, SynthEdit::Kind::Pattern, PlayPattern);
    RotateRight(Store, PlayPattern, Steps());
    UpdateDisplay();
}

} // namespace zelvox
