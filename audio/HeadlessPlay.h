#pragma once
// Plays a chain through its output device in real time without a window: the main thread
// pumps the message queue the device posts to, exactly as the desktop program's event loop
// does. Used by the headless renderer's --play and by tests of the real device.

#include <cstdint>
#include <functional>
#include <string>

#include "audio/MMWavOut.h"

namespace zelvox {

struct HeadlessPlayOptions {
    int64_t MaxBuffers = 0;   // stop after this many played buffers; 0: until the source ends
    int32_t StartDelayMs = 0; // after opening, wait this long before starting (a recorder
                              // can connect to the device's port in the meantime)
    // How playback starts and stops; empty: Start() and Stop() on the device. A program
    // passes its transport buttons here, so the sequencer starts and stops with the device.
    std::function<void()> Start, Stop;
    // Asked between messages; true ends playback as MaxBuffers does (e.g. after Ctrl-C).
    std::function<bool()> StopRequested;
};

struct HeadlessPlayResult {
    bool Ok = false;
    std::string Error;        // the exception text when not Ok
    int64_t BuffersPlayed = 0;
    uint64_t Underruns = 0;   // the device ran dry mid-stream
    uint64_t ServerXruns = 0; // breaks the sound server reported
    int32_t PeakDspUsage = 0; // highest meter reading seen (when a meter exists), percent
    double MeanDspUsage = 0;  // mean of the readings taken once a second
};

// Opens Out, starts it and handles Queue until the source ends (or the start left the
// device stopped), MaxBuffers buffers have been played, a stop was requested or an error
// ends playback; then stops and closes the device. Out's
// OnBufferReady and OnStop are borrowed while it runs and restored afterwards.
HeadlessPlayResult PlayHeadless(TMMWaveOut& out, MainThreadQueue& queue,
                                const HeadlessPlayOptions& options);

} // namespace zelvox
