#pragma once
// The program's audio chain on a sound device: the chain of MainChain with a TMMWaveOut as
// its output end (MMWaveOut2), the DSP load meter, the record-to-wav steps and the audio
// setup dialog's logic. It is the transport device and the recording sink of whatever owns
// the synth: the window's model (AudioRig) or the program without it (zelvox-render --play),
// so Loop/Play sound the same from a window and from a terminal.

#include "audio/MMDSPMtr.h"
#include "audio/MMWavOut.h"
#include "devices/WaveOutDevice.h"
#include "program/MainChain.h"
#include "program/RecordToWav.h"
#include "settings/Settings.h"
#include "ui/AudioSetup.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class DeviceChain : public TransportDevice, public RecordingSink {
public:
    // echo: the synth's; system: the sound output (not owned); queue: where the device posts
    // its messages. The audio setup's FormCreate is the caller's, in the program's order.
    DeviceChain(TMMReverb& echo, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings)
        : MMWaveOut2(system, queue), Chain(MMWaveOut2, echo), AudioSetup(MMWaveOut2, settings) {}
    ~DeviceChain() override { CloseDevice(); }
    DeviceChain(const DeviceChain&) = delete;
    DeviceChain& operator=(const DeviceChain&) = delete;

    void Start() override { MMWaveOut2.Start(); }
    void Stop() override { MMWaveOut2.Stop(); }
    void EndRecording() override { Recorder.EndRecording(); }

    // Stops and closes the device, which walks the chain down to the sink: a recording in
    // progress is finalised. Errors are not reported; the program is closing.
    void CloseDevice() {
        try {
            MMWaveOut2.Stop();
            MMWaveOut2.Close();
        } catch (...) {
        }
    }

    TMMDSPMeter Meter;
    TMMWaveOut MMWaveOut2; // declared before Chain: the chain links to it and unlinks at its end
    MainChain Chain;
    WavRecorder Recorder{MMWaveOut2, Chain.MMWaveFile1};
    TAudioSetupForm AudioSetup;
};

} // namespace zelvox
