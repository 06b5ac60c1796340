#pragma once
// The main window's audio chain and the services around it, as the program owns them:
//   head (the render loop) -> echo (MMReverb1) -> output device (MMWaveOut2) -> WAV sink
// in 16-bit mono at 44100 Hz, with the DSP load meter, the record-to-wav steps and the audio
// setup dialog's logic. It is the transport device and the recording sink of MainForm.

#include <memory>

#include "audio/AudioSetup.h"
#include "audio/MMDSPMtr.h"
#include "audio/MMDSPObj.h"
#include "audio/MMReverb.h"
#include "audio/MMWavOut.h"
#include "audio/MMWaveFile.h"
#include "audio/Settings.h"
#include "audio/WaveOutDevice.h"
#include "files/RecordToWav.h"
#include "ui/MainForm.h"
#include "ui/OutputDevice.h"

namespace zelvox::app {

class AudioRig : public TransportDevice, public RecordingSink {
public:
    // system: the sound output (not owned); queue: where the device posts its messages.
    AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings);
    ~AudioRig() override;

    void Start() override { MMWaveOut2.Start(); }
    void Stop() override { MMWaveOut2.Stop(); }
    void EndRecording() override { Recorder.EndRecording(); }

    TMMDSPMeter Meter;
    TMMDSPInterface MMWaveout1;
    TMMReverb MMReverb1;
    TMMWaveOut MMWaveOut2;
    TMMWaveFile MMWaveFile1;
    WavRecorder Recorder{MMWaveOut2, MMWaveFile1};
    TAudioSetupForm AudioSetup;

private:
    MainForm& Form_;
};

} // namespace zelvox::app
