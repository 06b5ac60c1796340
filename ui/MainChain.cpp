#include "ui/MainChain.h"

#include "ui/MainForm.h"

namespace zelvox {

MainChain::MainChain(TMMCustomSoundComponent& waveOut2) : MMWaveOut2(waveOut2) {
    // The echo's stored settings.
    MMReverb1.SetDescription("Untitled");
    MMReverb1.SetMaxDelay(2000);
    MMReverb1.SetInputGain(80);
    MMReverb1.SetInputPan(0);
    MMReverb1.SetOutputGain(100);
    MMReverb1.SetFeedBack(0);
    MMReverb1.SetFilter(false);
    // The links, in the order of the form.
    MMReverb1.SetInput(&MMWaveout1);
    MMReverb1.SetOutput(&MMWaveOut2);
    MMWaveOut2.SetInput(&MMReverb1);
    MMWaveOut2.SetOutput(&MMWaveFile1);
    MMWaveOut2.SetBufferSize(882);
    MMWaveFile1.SetEnabled(false);
    MMWaveFile1.Wave().SetFileMustExist(false);
}

void MainChain::AttachForm(MainForm& form) {
    form.SetDspSource(&MMWaveout1);
    form.SetReverb(&MMReverb1);
}

} // namespace zelvox
