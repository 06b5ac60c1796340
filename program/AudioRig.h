#pragma once
// The device chain (DeviceChain) as the main window's: the form's render loop heads it and
// the form's transport buttons and "Record to wav" drive it. The desktop program plays
// through this.

#include "program/DeviceChain.h"
#include "ui/MainForm.h"

namespace zelvox {

class AudioRig : public DeviceChain {
public:
    // Attaches itself to the form; the form's FormCreate is the caller's (it comes after).
    AudioRig(MainForm& form, WaveOutSystem* system, MainThreadQueue* queue, const TSettingsFile& settings);
    ~AudioRig() override;

private:
    MainForm& Form_;
};

// "Record to wav" on the window, after its file chooser, in its order: RecordingArmed, the
// device closed (an earlier file finalised), "Record" on the start button, the file named ("Invalid wave
// file..." ends the command here), the device opened (the sink creates the file; "Unable to
// create wave file" ends it here), the sink enabled.
void RecordToWav(MainForm& form, WavRecorder& recorder, const std::string& fileName);

} // namespace zelvox
