#pragma once
// "&Record to wav" as the chain sees it: the output device and the WAV sink. The window
// runs the command's steps in their order (RecordingArmed and the "Record" caption are its
// own); the Stop button ends a recording with EndRecording.

#include <string>

namespace zelvox {

class TMMDSPComponent;
class TMMCustomWaveFile;

class WavRecorder {
public:
    // device: the output device of the chain (MMWaveOut2); sink: MMWaveFile1.
    WavRecorder(TMMDSPComponent& device, TMMCustomWaveFile& sink) : Device_(device), Sink_(sink) {}

    // Step 3: stops and closes the device; the chain's Closed() finalises an earlier file.
    void CloseDevice();
    // Step 5: names the file. An existing non-WAVE file: EMMWaveError "Invalid wave file...".
    void NameFile(const std::string& fileName);
    // Step 6: opens the device; the sink creates the file with its header. A failure to
    // create it comes back as EMMWaveError and the device is closed again.
    void OpenDevice();
    // Step 7.
    void Enable();

    // Steps 3 to 7 in one go, for callers without a caption to change in between.
    void Arm(const std::string& fileName) {
        CloseDevice();
        NameFile(fileName);
        OpenDevice();
        Enable();
    }

    // Stop while armed: the sink is switched off and its file finalised and forgotten.
    void EndRecording();

private:
    TMMDSPComponent& Device_;
    TMMCustomWaveFile& Sink_;
};


} // namespace zelvox
