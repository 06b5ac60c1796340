// The step clock's window side and the transport: SeqStep, SeqDone, Start, Stop, the Steps
// and Tempo spin edits, the render loop's entry and the Delay/Depth knobs.

#include "engine/DelayDepth.h"
#include "engine/Engine.h"
#include "ui/MainForm.h"

namespace zelvox {

void MainForm::MMWaveOut2BufferLoad(int16_t* samples, uint32_t bufferLength,
                                    uint32_t& bytesRecorded, bool& moreBuffers) {
    Eng.RenderBuffer(samples, bufferLength, bytesRecorded, moreBuffers);
}

void MainForm::MMWaveOut2BufferLoad(TObject*, PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (!lpWaveHdr || !lpWaveHdr->lpData) return;
    // lpData is the byte block right after the header; the chain allocates it suitably
    // aligned for 16-bit samples.
    Eng.RenderBuffer(reinterpret_cast<int16_t*>(lpWaveHdr->lpData), lpWaveHdr->dwBufferLength,
                     lpWaveHdr->dwBytesRecorded, MoreBuffers);
}

void MainForm::PaintLedUnlessMaroon(int32_t step, Colour c) {
    if (step < 1 || step > kStepsPerPattern) return;
    Led& led = MMLED(step);
    if (led.Color() != Colours::Maroon) led.SetColor(c);
}

// Runs inside the render loop when the current step's time is up.
void MainForm::SeqStep() {
    EngineState& s = Eng.S;
    s.SampleCount = 0;
    s.PrevStep = s.CurStep;
    s.CurStep = s.NextStep;
    if (s.CurStep >= Steps()) {
        s.NextStep = 1;
        SeqDone();
    } else {
        s.NextStep = s.CurStep + 1;
    }
    PaintLedUnlessMaroon(s.PrevStep, Colours::Lime);
    PaintLedUnlessMaroon(s.CurStep, Colours::Red);
    Eng.GetOsc1Params();
    if (OnStepLoaded) OnStepLoaded();
}

// The last step of a pass begins: switch to the queued pattern, or advance the song.
void MainForm::SeqDone() {
    if (Eng.S.ArrangerMode) {
        SongPatternEnd();
        return;
    }
    if (QueuedPattern != PlayPattern) {
        PlayPattern = QueuedPattern;
        UpdateDisplay();
    }
}

void MainForm::Button1Click() {
    EngineState& s = Eng.S;
    s.CurStep = 1;
    s.NextStep = 2;
    s.PrevStep = Steps();
    if (s.ArrangerMode) {
        if (!SongStart()) {
            Button2Click();
            return;
        }
    } else {
        QueuedPattern = PlayPattern;
    }
    s.Playing = true;
    s.SampleCount = 0;
    Eng.GetOsc1Params();
    if (OnStepLoaded) OnStepLoaded();
    if (Device_) Device_->Start();
}

void MainForm::Button2Click() {
    ArrStop();
    Eng.S.Playing = false;
    if (Device_) Device_->Stop();
    if (RecordingArmed) {
        if (Sink_) Sink_->EndRecording();
        Button1.SetCaption(Eng.S.ArrangerMode ? "Play" : "Loop");
    }
    Button1.SetEnabled(true);
}

void MainForm::SpinEdit971Change() {
    EngineState& s = Eng.S;
    const int32_t steps = Steps();
    if (steps <= s.CurStep) {
        s.CurStep = 1;
        s.NextStep = 2;
        s.PrevStep = steps;
    }
    for (int n = 1; n <= kStepsPerPattern; ++n) MMLED(n).SetColor(Colours::Black);
    for (int n = 1; n <= steps; ++n) MMLED(n).SetColor(Colours::Lime);
    for (int n = 1; n <= kStepsPerPattern; ++n) MMSlider(n).SetEnabled(false);
    for (int n = 1; n <= steps; ++n) MMSlider(n).SetEnabled(true);
    s.StepLength = StepLengthForTempo(SpinEdit972.Value());
}

// "Delay": the echo time is the knob value in steps at the tempo now set; changing the tempo
// later does not retune it.
void MainForm::MMWheel16Change() {
    if (Reverb_)
        DelayKnobChanged(*Reverb_, SpinEdit972.Value(), MMWheel16.Value(), MMWheel6.Value());
}

void MainForm::MMWheel17Change() {
    if (Reverb_) DepthKnobChanged(*Reverb_, MMWheel17.Value());
}

} // namespace zelvox
