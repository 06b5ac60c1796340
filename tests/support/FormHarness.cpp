#include "support/FormHarness.h"

#include "engine/Tables.h"

namespace zelvox::test {

int32_t NoteOfFreq(float f) {
    for (int32_t n = 1; n <= kNoteCount; ++n)
        if (Note2Freq(n) == f) return n;
    return 0;
}

FormHarness::FormHarness() : Window(std::make_unique<WindowModel>()), Form(&Window->Form) {
    // The echo component as the main window stores it: 2000 ms at most, input 80 %, eight
    // silent taps.
    Reverb.SetMaxDelay(2000);
    Reverb.SetInputGain(80);
    for (int e = 0; e < 8; ++e) Reverb.Echos().Add();
    Form->SetTransportDevice(&Device);
    Form->SetRecordingSink(&Sink);
    Form->SetReverb(&Reverb);
    Form->OnStepLoaded = [this] {
        Loads.push_back({Form->PlayPattern, Form->Eng.S.CurStep, NoteOfFreq(Form->Eng.S.Osc1Freq)});
    };
    Form->FormCreate();
}

bool FormHarness::PumpBuffer() {
    if (!Device.Running) return false;
    uint32_t recorded = 0;
    bool more = false;
    Form->Eng.RenderBuffer(LastBuffer.data(), 882, recorded, more);
    return true;
}

void FormHarness::RenderSteps(size_t count) {
    const size_t target = Loads.size() + count;
    // A step is at most 33076 samples (tempo 20): 76 buffers.
    size_t guard = (count + 1) * 80;
    while (Loads.size() < target && guard-- > 0 && PumpBuffer()) {
    }
}

void FormHarness::RenderBuffers(size_t buffers) {
    for (size_t i = 0; i < buffers && PumpBuffer(); ++i) {
    }
}

void FormHarness::SetPatternNotes(int p, int32_t note) {
    Form->LEDButton(p).Click();
    for (int n = 1; n <= kStepsPerPattern; ++n) Form->MMSlider(n).SetValue(note);
}

} // namespace zelvox::test
