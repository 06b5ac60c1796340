#pragma once
// Plays a chain through its output device in real time without a window: the main thread
// pumps the message queue the device posts to, exactly as the desktop program's event loop
// does. Used by the headless renderer's --play and by tests of the real device.

#include <cstdint>
#include <string>

#include "audio/MMWavOut.h"

namespace zelvox {

struct HeadlessPlayOptions {
    int64_t MaxBuffers = 0;   // stop after this many played buffers; 0: until the source ends
    int32_t StartDelayMs = 0; // after opening, wait this long before starting (a recorder
                              // can connect to the device's port in the meantime)
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

// Opens Out, starts it and handles Queue until the source ends, MaxBuffers buffers have
// been played or an error ends playback; then stops and closes the device. Out's
// OnBufferReady and OnStop are borrowed while it runs and restored afterwards.
HeadlessPlayResult PlayHeadless(TMMWaveOut& out, MainThreadQueue& queue,
                                const HeadlessPlayOptions& options);

} // namespace zelvox
