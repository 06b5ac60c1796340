#pragma once
// Which sound output the program uses, chosen in the settings file:
//
//   [Audio]
//   API=auto        auto | jack | pulse | alsa | virtual | none
//   Device=         an output device of that API by name; empty: the API's default
//
// "auto" (also when the key is absent or unknown) takes JACK when a JACK server is running,
// otherwise PulseAudio when a PulseAudio (or PipeWire) server answers, otherwise ALSA when
// it has an output device; with none of them the program has no output device at all.
// "virtual" plays in real time into nothing, for machines without sound.

#include <memory>
#include <string>

#include "audio/Settings.h"
#include "audio/WaveOutDevice.h"

namespace zelvox {

struct AudioBackendChoice {
    std::string Api = "auto";
    std::string Device;
    std::string ClientName = "zelvox"; // how the program is named to JACK (not stored)
};

AudioBackendChoice ReadAudioBackendChoice(const TSettingsFile& settings);
void WriteAudioBackendChoice(const TSettingsFile& settings, const AudioBackendChoice& choice);

// True when a JACK server answers (never starts one).
bool JackServerRunning();
// True when a PulseAudio-compatible server's socket is there.
bool PulseServerAvailable();

// The device list for a choice. Device 0 is the chosen (or default) device; further ids are
// the API's other output devices. Description tells, for messages and --help, what was
// picked ("JACK", "PulseAudio", "ALSA", "virtual", "none").
std::unique_ptr<WaveOutSystem> CreateWaveOutSystem(const AudioBackendChoice& choice,
                                                   std::string* description = nullptr);

// A system holding one virtual device.
std::unique_ptr<WaveOutSystem> CreateVirtualWaveOutSystem();

} // namespace zelvox
