#include "program/AudioRig.h"

namespace zelvox {

AudioRig::AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings)
    : MMWaveOut2(system, queue), Chain(MMWaveOut2, form.Synth.Echo), AudioSetup(MMWaveOut2, settings), Form_(form) {
    Chain.AttachForm(Form_);
    Form_.SetTransportDevice(this);
    Form_.SetRecordingSink(this);
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

} // namespace zelvox
