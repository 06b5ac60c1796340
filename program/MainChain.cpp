#include "program/MainChain.h"

#include "files/MMFormat.h"
#include "synth/PatternSynth.h"

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

void MainChain::RenderFrom(PatternSynth& synth) {
    Engine& engine = synth.Eng;
    // lpData is the byte block right after the header; the chain allocates it suitably
    // aligned for 16-bit samples.
    MMWaveout1.OnBufferLoad = [&engine](TObject*, PWaveHdr hdr, bool& more) {
        if (!hdr || !hdr->lpData) return;
        engine.RenderBuffer(reinterpret_cast<int16_t*>(hdr->lpData), hdr->dwBufferLength,
                            hdr->dwBytesRecorded, more);
    };
}

void MainChain::AttachSynth(PatternSynth& synth) {
    RenderFrom(synth);
    const auto format = PcmWaveFormat(16, 1, kSampleRate);
    MMWaveout1.SetWaveFormat(&format);
}

} // namespace zelvox
