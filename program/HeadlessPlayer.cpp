#include "program/HeadlessPlayer.h"

#include "devices/AudioBackend.h"

namespace zelvox {

HeadlessPlayer::HeadlessPlayer(const TSettingsFile& settings, std::unique_ptr<WaveOutSystem> system,
                               bool connect)
    : System(std::move(system)) {
    if (!System) {
        AudioBackendChoice choice = ReadAudioBackendChoice(settings);
        choice.Connect = choice.Connect && connect;
        System = CreateWaveOutSystem(choice, &Backend_);
    }
    // Start-up in the program's order: the main window (its chain attached before its
    // FormCreate), the audio setup dialog (NumBuffers from the settings file), the envelope
    // dialog (the four curve tables).
    Rig = std::make_unique<AudioRig>(Form, System.get(), &Queue, settings);
    StartUp([this] { Rig->AudioSetup.FormCreate(); });
}

HeadlessPlayer::~HeadlessPlayer() {
    Rig.reset(); // stops and closes the device and unhooks the form
}

HeadlessPlayResult HeadlessPlayer::Play(bool arranger, int64_t maxBuffers, int32_t startDelayMs,
                                        const std::function<bool()>& stop) {
    if (arranger) Form.Arranger1Click();
    HeadlessPlayOptions options;
    options.MaxBuffers = maxBuffers;
    options.StartDelayMs = startDelayMs;
    options.Start = [this] { Form.Button1Click(); };
    options.Stop = [this] { Form.Button2Click(); };
    options.StopRequested = stop;
    HeadlessPlayResult result = PlayHeadless(Rig->MMWaveOut2, Queue, options);
    // An error ended playback behind the transport's back: put the buttons right.
    if (Form.Eng.S.Playing) Form.Button2Click();
    return result;
}

} // namespace zelvox
