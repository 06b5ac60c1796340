#pragma once
// The program without a window, playing through the sound device in real time: its own
// synth (no window's model) through the device chain the window's Loop/Play use, started as
// the program starts, with the main thread pumping the queue the device posts to.
// zelvox-render --play and its tests drive this.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/HeadlessPlay.h"
#include "devices/MessageQueue.h"
#include "settings/Settings.h"
#include "devices/WaveOutDevice.h"
#include "program/DeviceChain.h"
#include "program/SynthProgram.h"

namespace zelvox {

class HeadlessPlayer : public SynthProgram {
public:
    // settings: the back-end choice and "Buffers" are read from it (it must outlive the
    // player). system: the sound output; null: the one the settings file chooses, whose JACK
    // output connects itself to the speakers unless `connect` or the settings say not to.
    explicit HeadlessPlayer(const TSettingsFile& settings, std::unique_ptr<WaveOutSystem> system = nullptr,
                            bool connect = true);
    ~HeadlessPlayer();
    HeadlessPlayer(const HeadlessPlayer&) = delete;
    HeadlessPlayer& operator=(const HeadlessPlayer&) = delete;

    // Loops the pattern (or plays the song with `arranger`) and
    // plays until `maxBuffers` buffers were played (0: no limit), the song ended, `stop`
    // answered true or an error ended playback; then "Stop" and the device is closed.
    // startDelayMs: the device is opened that long before the start (a recorder can connect
    // to its port meanwhile). Errors (e.g. "No wave audio playing device found") come back in
    // the result, not as exceptions.
    HeadlessPlayResult Play(bool arranger, int64_t maxBuffers, int32_t startDelayMs = 0,
                            const std::function<bool()>& stop = {});

    // What the back-end choice picked ("JACK", "PulseAudio", "ALSA", "virtual", "none"), or
    // "given" for a system passed in.
    const std::string& Backend() const { return Backend_; }

    MainThreadQueue Queue; // declared first: the device posts here until it is gone
    std::unique_ptr<WaveOutSystem> System;
    std::unique_ptr<DeviceChain> Rig;

private:
    std::string Backend_ = "given";
};

} // namespace zelvox
