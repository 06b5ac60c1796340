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
    // Start-up in the program's order: the synth (started), its chain with the stream format,
    // the audio setup (NumBuffers from the settings file).
    Rig = std::make_unique<DeviceChain>(Synth.Echo, System.get(), &Queue, settings);
    Rig->Chain.AttachSynth(Synth);
    Rig->AudioSetup.FormCreate();
    SetOutput(Rig.get());
}

HeadlessPlayer::~HeadlessPlayer() {
    SetOutput(nullptr);
    Rig.reset(); // stops and closes the device
}

HeadlessPlayResult HeadlessPlayer::Play(bool arranger, int64_t maxBuffers, int32_t startDelayMs,
                                        const std::function<bool()>& stop) {
    if (arranger) EnterSong();
    HeadlessPlayOptions options;
    options.MaxBuffers = maxBuffers;
    options.StartDelayMs = startDelayMs;
    options.Start = [this] { SynthProgram::Play(false); };
    options.Stop = [this] { Stop(); };
    options.StopRequested = stop;
    HeadlessPlayResult result = PlayHeadless(Rig->MMWaveOut2, Queue, options);
    // An error ended playback behind the transport's back: the synth stops too.
    if (Synth.Playing()) Stop();
    return result;
}

} // namespace zelvox
