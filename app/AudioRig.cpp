#include "app/AudioRig.h"

namespace zelvox::app {

AudioRig::AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings)
    : MMWaveOut2(system, queue), AudioSetup(MMWaveOut2, settings), Form_(form) {
    MMWaveout1.SetOutput(&MMReverb1);
    MMReverb1.SetOutput(&MMWaveOut2);
    MMWaveOut2.SetOutput(&MMWaveFile1);
    MMWaveFile1.SetEnabled(false); // armed only by Record to wav
    MMWaveFile1.Wave().SetFileMustExist(false); // a recording names a file still to be made
    // The render loop fills the head's buffers; the form's creation gives the head the
    // stream format (PCM, mono, 44100 Hz, 16 bits), which propagates down the chain.
    Form_.SetDspSource(&MMWaveout1);
    Form_.SetTransportDevice(this);
    Form_.SetRecordingSink(this);
    Form_.SetReverb(&MMReverb1);
}

AudioRig::~AudioRig() {
    // Closing the program while recording finalises the file: stop and close the device
    // first, which walks the chain down to the sink.
    try {
        MMWaveOut2.Stop();
        MMWaveOut2.Close();
    } catch (...) {
    }
    Form_.SetTransportDevice(nullptr);
    Form_.SetRecordingSink(nullptr);
    Form_.SetReverb(nullptr);
    Form_.SetDspSource(nullptr);
}

} // namespace zelvox::app
