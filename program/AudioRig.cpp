#include "program/AudioRig.h"

namespace zelvox {

AudioRig::AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings)
    : DeviceChain(form.Synth.Echo, system, queue, settings), Form_(form) {
    Chain.AttachForm(Form_);
    Form_.SetTransportDevice(this);
    Form_.SetRecordingSink(this);
}

AudioRig::~AudioRig() {
    // Closing the program while recording finalises the file: the device goes first.
    CloseDevice();
    Form_.SetTransportDevice(nullptr);
    Form_.SetRecordingSink(nullptr);
    Form_.SetReverb(nullptr);
    Form_.SetDspSource(nullptr);
}

void RecordToWav(MainForm& form, WavRecorder& recorder, const std::string& fileName) {
    form.RecordingArmed = true;
    recorder.CloseDevice();
    form.Button1.SetCaption("Record");
    recorder.NameFile(fileName);
    recorder.OpenDevice();
    recorder.Enable();
}

} // namespace zelvox
