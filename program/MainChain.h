#pragma once
// The main window's audio chain, wired in code in the order its form sets it up:
//
//   MMWaveout1 (TMMDSPInterface; OnBufferLoad = the synth's render loop)
//     -> MMReverb1 (TMMReverb, the echo behind "Delay" and "Depth")
//     -> MMWaveOut2 (the output end: the sound device, or an offline pull loop)
//     -> MMWaveFile1 (TMMWaveFile, the WAV sink; disabled except while recording)
//
// The echo is the synth's (the form's PatternSynth owns it) and the output end is given; the
// chain owns only its head and the WAV sink, so the desktop program and the headless
// renderer share everything else.

#include "audio/MMDSPObj.h"
#include "audio/MMReverb.h"
#include "audio/MMWaveFile.h"

namespace zelvox {

class PatternSynth;

class MainChain {
public:
    // echo: the synth's echo, with its stored settings; waveOut2: the output end.
    MainChain(TMMCustomSoundComponent& waveOut2, TMMReverb& echo);
    ~MainChain(); // the echo outlives the chain: it leaves it here
    MainChain(const MainChain&) = delete;
    MainChain& operator=(const MainChain&) = delete;

    TMMDSPInterface MMWaveout1;
    TMMReverb& MMReverb1;
    TMMCustomSoundComponent& MMWaveOut2;
    TMMWaveFile MMWaveFile1;

    // Before the form's FormCreate: the render loop of the synth the form edits becomes
    // MMWaveout1's OnBufferLoad, and the echo is handed to the Delay/Depth knobs. FormCreate
    // then sets the echo up and hands the stream format to MMWaveout1, from where it travels
    // down the chain. (A template so that the chain itself needs no window: MainForm.)
    template <class Form>
    void AttachForm(Form& form) {
        RenderFrom(form.Synth);
        form.SetDspSource(&MMWaveout1);
        form.SetReverb(&MMReverb1);
    }
    // Without a window: the same render loop, and the stream format goes down the chain at
    // once, as the form's creation hands it over. The synth (its echo is MMReverb1) has
    // started up.
    void AttachSynth(PatternSynth& synth);

private:
    // MMWaveout1's OnBufferLoad: the synth's render loop fills each buffer.
    void RenderFrom(PatternSynth& synth);
};

} // namespace zelvox
