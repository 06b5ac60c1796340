#pragma once
// The main window's audio chain around a real engine, without a window:
// head (render loop) -> echo -> TMMWaveOut -> WAV sink (disabled), 16-bit mono 44100 Hz,
// 882-byte buffers, playing a busy pattern (bass on every step, Twin-T and noise hits, a
// tempo-synced echo).

#include <memory>
#include <vector>

#include "audio/MMDSPObj.h"
#include "audio/MMReverb.h"
#include "audio/MMWavOut.h"
#include "audio/MMWaveFile.h"
#include "audio/DelayDepth.h"
#include "EngineHarness.h"

namespace zelvox::test {

struct PlaybackRig {
    std::unique_ptr<EngineHarness> Engine;
    TMMDSPInterface MMWaveout1;
    TMMReverb MMReverb1;
    TMMWaveOut MMWaveOut2;
    TMMWaveFile MMWaveFile1;
    WAVEFORMATEX Format = PcmWaveFormat(16, 1, 44100);

    PlaybackRig(WaveOutSystem* system, MainThreadQueue* queue, int32_t numBuffers = 40)
        : MMWaveOut2(system, queue) {
        Engine = std::make_unique<EngineHarness>(); // fresh NoiseSeed: same sound every run
        for (int s = 1; s <= 16; ++s) {
            StepRecord& st = Engine->Step(s);
            st.BassPlay = 1;
            st.TwinTPlay = (s % 4 == 1) ? 1 : 0;
            st.NoisePlay = (s % 2 == 0) ? 1 : 0;
        }
        MMWaveout1.SetOutput(&MMReverb1);
        MMReverb1.SetOutput(&MMWaveOut2);
        MMWaveOut2.SetOutput(&MMWaveFile1);
        MMWaveFile1.SetEnabled(false);
        MMWaveOut2.SetBufferSize(882);
        MMWaveOut2.SetNumBuffers(numBuffers);
        DelayDepthStartup(MMReverb1);
        MMWaveout1.SetWaveFormat(&Format);
        DelayKnobChanged(MMReverb1, 140, 3, 26125);
        DepthKnobChanged(MMReverb1, 50);
        MMWaveout1.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            Engine->E.RenderBuffer(reinterpret_cast<int16_t*>(h->lpData), h->dwBufferLength,
                                   h->dwBytesRecorded, more);
        };
        Engine->Start();
    }
};

} // namespace zelvox::test
