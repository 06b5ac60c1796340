#pragma once
// The program without a window on the low-latency JACK output: the main window's logic
// edits (a file loaded, a pattern chosen), the synth plays in the JACK process callback, and
// the main thread takes what comes back (knobs MIDI turned, the song's end). zelvox-render
// --play --live and the underrun measurement drive this.

#include <cstdint>
#include <functional>
#include <string>

#include "audio/AudioBackend.h"
#include "audio/Settings.h"
#include "program/ProgramCore.h"
#include "synth/LiveSynth.h"

namespace zelvox {

struct LivePlayResult {
    bool Ok = false;
    std::string Error;
    uint64_t Periods = 0;   // JACK periods rendered
    uint32_t Period = 0;    // frames in one
    uint64_t Xruns = 0;     // periods the server reported late
    float PeakLoad = 0.0f;  // the largest share of a period the callback took (sampled)
};

class LivePlayer : public ProgramCore {
public:
    // The MIDI controller table and channel come from the settings file's [MIDI] section.
    explicit LivePlayer(const TSettingsFile& settings);

    void Load(const std::string& path) { LoadPattern(path); }

    // Starts (the song with `arranger`), or when following the JACK transport or MIDI clock
    // waits for it; plays until `maxFrames` frames (0: no limit), the song's end or `stop`
    // answers true.
    LivePlayResult Play(bool arranger, const LiveSync& sync, uint64_t maxFrames,
                        const std::function<bool()>& stop, const std::string& clientName = "zelvox");

    LiveSynth Live;

private:
    void TakeEvents(bool& ended);
    uint32_t Seen_ = 0;
};

} // namespace zelvox
