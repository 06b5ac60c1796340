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

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "devices/WaveOutDevice.h"

namespace zelvox {

// How the program names itself to JACK where nothing else is said: "zelvox", or under a
// session manager the client id the manager gave it, so that two instances in one session
// keep apart and keep their connections from one session to the next. Set once at start-up,
// before any client opens; a name JACK could not take is refused (false).
const std::string& DefaultJackClientName();
bool SetDefaultJackClientName(const std::string& name);

// Whether the program's JACK outputs connect themselves to the speakers when they start. Under
// a session manager the session restores its own connections, and the program makes none:
// the manager's start-up turns them off for the process.
void SetJackConnectionsBySession(bool bySession);
bool JackConnectionsBySession();

struct AudioBackendChoice {
    std::string Api = "auto";
    std::string Device;
    std::string ClientName = DefaultJackClientName(); // how the program is named to JACK (not stored)
    // [Audio] Connect (1 by default): a JACK output connects itself to the first two physical
    // playback ports (the speakers) when it starts; 0 leaves its ports unconnected.
    bool Connect = true;
};

AudioBackendChoice ReadAudioBackendChoice(const TSettingsFile& settings);
void WriteAudioBackendChoice(const TSettingsFile& settings, const AudioBackendChoice& choice);

// How the low-latency JACK output keeps time with other programs ([Audio] FollowTransport,
// FollowClock, SendClock, TimebaseMaster; 1 on, all off by default). It follows one clock:
// the JACK transport before MIDI clock when both are set. It may also send the sequence as
// MIDI notes ([Audio] SendNotes, off by default; the channels NotesBassChannel,
// NotesTwinTChannel, NotesNoiseChannel 1..16 and the drum notes NotesTwinTNote,
// NotesNoiseNote 0..127).
struct LiveSync {
    bool FollowTransport = false;
    bool FollowClock = false;
    bool SendClock = false;
    bool TimebaseMaster = false;
    bool SendNotes = false;
    int32_t NotesBassChannel = 1;
    int32_t NotesTwinTChannel = 10;
    int32_t NotesNoiseChannel = 10;
    int32_t NotesTwinTNote = 36;
    int32_t NotesNoiseNote = 42;
    bool operator==(const LiveSync&) const = default;
};
LiveSync ReadLiveSync(const TSettingsFile& settings);
void WriteLiveSync(const TSettingsFile& settings, const LiveSync& sync);

// True when a JACK server answers (never starts one).
bool JackServerRunning();
// True when a PulseAudio-compatible server's socket is there.
bool PulseServerAvailable();

// The device list for a choice. Device 0 is the chosen (or default) device; further ids are
// the API's other output devices. Description tells, for messages and --help, what was
// picked ("JACK", "PulseAudio", "ALSA", "virtual", "none").
std::unique_ptr<WaveOutSystem> CreateWaveOutSystem(const AudioBackendChoice& choice,
                                                   std::string* description = nullptr);

// What the audio setup offers. The sound systems present now, as their API keys: "jack" while
// a JACK server runs, "pulse" while a PulseAudio server answers, "alsa" when ALSA has an
// output device, and always "virtual". Each probe opens each service once.
std::vector<std::string> PresentAudioApis();
// The output devices of a system by name (none for "virtual", "auto" and unknown keys).
std::vector<std::string> AudioDeviceNames(const std::string& api);
// The name the user reads for an API key: "Automatic", "JACK", "PulseAudio", "ALSA",
// "Virtual (no sound)"; the key itself when unknown.
std::string AudioApiTitle(const std::string& api);

// The probes and the maker of device lists, as the audio setup uses them; tests give their own.
struct AudioOutputProbe {
    std::function<std::vector<std::string>()> Apis;
    std::function<std::vector<std::string>(const std::string&)> Devices;
    std::function<std::unique_ptr<WaveOutSystem>(const AudioBackendChoice&)> Create;
};
AudioOutputProbe RealAudioOutputProbe();

// A system holding one virtual device.
std::unique_ptr<WaveOutSystem> CreateVirtualWaveOutSystem();

} // namespace zelvox
