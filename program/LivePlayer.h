#pragma once
// The program without a window on the low-latency JACK output: the program's synth takes the
// commands (a file loaded, a pattern chosen) and hands its state to the synth that plays in
// the JACK process callback, and the main thread takes what comes back (knobs MIDI turned,
// the song's end). zelvox-render
// --play --live and the underrun measurement drive this.

#include <cstdint>
#include <functional>
#include <string>

#include "devices/AudioBackend.h"
#include "settings/Settings.h"
#include "program/SynthProgram.h"
#include "synth/LiveSynth.h"

namespace zelvox {

struct LivePlayResult {
    bool Ok = false;
    std::string Error;
    uint64_t Periods = 0;   // JACK periods rendered
    uint32_t Period = 0;    // frames in one, when the output opened
    uint32_t ShortestPeriod = 0, LongestPeriod = 0; // frames: the server may change its period
    double Seconds = 0;     // the server's time from the start to the end
    uint32_t Rate = 0;      // the server's rate at the end (Hz)
    uint32_t RateChanges = 0; // times the server changed its rate meanwhile
    uint64_t Xruns = 0;     // periods the server reported late
    float PeakLoad = 0.0f;  // the largest share of a period the callback took (sampled)
};

class LivePlayer : public SynthProgram {
public:
    // The MIDI controller table and channel come from the settings file's [MIDI] section.
    explicit LivePlayer(const TSettingsFile& settings);

    // Opens the output and, after `startDelayMs` (a recorder can connect meanwhile), starts
    // (the song with `arranger`), or when following the JACK transport or MIDI clock waits
    // for it; plays until the time `maxFrames` of the synth's frames take (44,100 a second) has
    // passed on the server, whatever its rate and period do (0: no limit), the song's end or
    // `stop` answers true. With
    // `connect` the output goes to the speakers.
    LivePlayResult Play(bool arranger, const LiveSync& sync, uint64_t maxFrames,
                        const std::function<bool()>& stop, const std::string& clientName = "zelvox",
                        int32_t startDelayMs = 0, bool connect = true);

    LiveSynth Live;

private:
    void TakeEvents(bool& ended);
    uint32_t Seen_ = 0;
};

} // namespace zelvox
