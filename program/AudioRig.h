#pragma once
// The main window's audio chain on a sound device, as the program owns it: the chain of
// MainChain with a TMMWaveOut as its output end (MMWaveOut2), the DSP load meter, the
// record-to-wav steps and the audio setup dialog's logic. It is the transport device and the
// recording sink of MainForm. The desktop program and zelvox-render --play both play
// through it, so Loop/Play sound the same from a window and from a terminal.

#include "ui/AudioSetup.h"
#include "audio/MMDSPMtr.h"
#include "audio/MMWavOut.h"
#include "settings/Settings.h"
#include "devices/WaveOutDevice.h"
#include "program/RecordToWav.h"
#include "program/MainChain.h"
#include "ui/MainForm.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class AudioRig : public TransportDevice, public RecordingSink {
public:
    // system: the sound output (not owned); queue: where the device posts its messages.
    // Attaches itself to the form; the form's FormCreate is the caller's (it comes after).
    AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings);
    ~AudioRig() override;
    AudioRig(const AudioRig&) = delete;
    AudioRig& operator=(const AudioRig&) = delete;

    void Start() override { MMWaveOut2.Start(); }
    void Stop() override { MMWaveOut2.Stop(); }
    void EndRecording() override { Recorder.EndRecording(); }

    TMMDSPMeter Meter;
    TMMWaveOut MMWaveOut2; // declared before Chain: the chain links to it and unlinks at its end
    MainChain Chain; // with the form's echo
    WavRecorder Recorder{MMWaveOut2, Chain.MMWaveFile1};
    TAudioSetupForm AudioSetup;

private:
    MainForm& Form_;
};

} // namespace zelvox
