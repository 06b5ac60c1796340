// The transport and the lower panel's controls on the window: Start, Stop, the Steps and
// Tempo spin edits, the Delay/Depth knobs and the step LEDs the sequencer reports.

#include "audio/DelayDepth.h"
#include "ui/MainForm.h"

namespace zelvox {

void MainForm::PaintLedUnlessMaroon(int32_t step, Colour c) {
    if (step < 1 || step > kStepsPerPattern) return;
    Led& led = MMLED(step);
    if (led.Color() != Colours::Maroon) led.SetColor(c);
}

void MainForm::StepAdvanced(int32_t from, int32_t to) {
    PaintLedUnlessMaroon(from, Colours::Lime);
    PaintLedUnlessMaroon(to, Colours::Red);
}

void MainForm::ShowPlayedStep(int32_t step, int32_t pattern) {
    EngineState& e = Synth.Eng.S;
    const int32_t from = e.CurStep;
    if (pattern >= 1 && pattern <= 16 && pattern != Synth.Seq.PlayPattern) {
        Synth.Seq.PlayPattern = pattern;
        PatternChanged();
    }
    e.PrevStep = from;
    e.CurStep = step;
    StepAdvanced(from, step);
}

void MainForm::Button1Click() {
    if (!Synth.Seq.Start()) {
        Button2Click(); // the song has nothing to play
        return;
    }
    if (Device_) Device_->Start();
}

void MainForm::Button2Click() {
    ArrStop();
    Synth.Seq.Stop();
    if (Device_) Device_->Stop();
    if (RecordingArmed) {
        if (Sink_) Sink_->EndRecording();
        Button1.SetCaption(Synth.Seq.SongMode() ? "Play" : "Loop");
    }
    Button1.SetEnabled(true);
}

// Steps or Tempo: the sequencer retimes, the LEDs and sliders of the steps in use light up.
void MainForm::SpinEdit971Change() {
    Synth.ControlChanged(ControlId::Steps, SpinEdit971.Value());
    Synth.ControlChanged(ControlId::Tempo, SpinEdit972.Value());
    const int32_t steps = Steps();
    for (int n = 1; n <= kStepsPerPattern; ++n)
        MMLED(n).SetColor(Colours::Black);
    for (int n = 1; n <= steps; ++n)
        MMLED(n).SetColor(Colours::Lime);
    for (int n = 1; n <= kStepsPerPattern; ++n)
        MMSlider(n).SetEnabled(false);
    for (int n = 1; n <= steps; ++n)
        MMSlider(n).SetEnabled(true);
}

// "Delay": the echo time is the knob value in steps at the tempo now set; changing the tempo
// later does not retune it. The chain's echo is the one the window attached.
void MainForm::MMWheel16Change() {
    Synth.Panel[size_t(ControlId::Delay)] = MMWheel16.Value();
    if (Reverb_)
        DelayKnobChanged(*Reverb_, SpinEdit972.Value(), MMWheel16.Value(), MMWheel6.Value());
}

void MainForm::MMWheel17Change() {
    Synth.Panel[size_t(ControlId::Depth)] = MMWheel17.Value();
    if (Reverb_) DepthKnobChanged(*Reverb_, MMWheel17.Value());
}

// One handler for every control of kControls on the window.
void MainForm::ControlChange(ControlId id) {
    const EditScope edit(*this, EditName(id), ControlKey(id), SynthEdit::Kind::Control, int32_t(id));
    switch (id) {
    case ControlId::Delay:
        MMWheel16Change();
        break;
    case ControlId::Depth:
        MMWheel17Change();
        break;
    case ControlId::Steps:
    case ControlId::Tempo:
        SpinEdit971Change();
        break;
    default:
        // A sound control writes its step field as the edit mode says; the master volume is
        // read live by the render loop.
        Synth.ControlChanged(id, ControlFor(id)->Value());
        break;
    }
}

} // namespace zelvox
