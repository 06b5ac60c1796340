#include "program/MainChain.h"

#include "ui/MainForm.h"

namespace zelvox {

MainChain::MainChain(TMMCustomSoundComponent& waveOut2, TMMReverb& echo)
    : MMReverb1(echo), MMWaveOut2(waveOut2) {
    // The links, in the order of the form.
    MMReverb1.SetInput(&MMWaveout1);
    MMReverb1.SetOutput(&MMWaveOut2);
    MMWaveOut2.SetInput(&MMReverb1);
    MMWaveOut2.SetOutput(&MMWaveFile1);
    MMWaveOut2.SetBufferSize(882);
    MMWaveFile1.SetEnabled(false);
    MMWaveFile1.Wave().SetFileMustExist(false);
}

MainChain::~MainChain() {
    MMReverb1.SetInput(nullptr);
    MMReverb1.SetOutput(nullptr);
}

void MainChain::AttachForm(MainForm& form) {
    form.SetDspSource(&MMWaveout1);
    form.SetReverb(&MMReverb1);
}

} // namespace zelvox
