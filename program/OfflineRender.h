#pragma once
// The program's chain ending in an offline output end that renders as fast as it can into
// the WAV sink (and the stems): what a render does, whoever owns the synth. The program
// without a window (SynthRenderer) and the window's model without a window (HeadlessProgram)
// each say how their transport starts and stops.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/OfflineOut.h"
#include "program/AudioFileFormat.h"
#include "program/MainChain.h"
#include "program/RecordToWav.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class Engine;
class TMMReverb;

class OfflineRender {
public:
    OfflineRender(const OfflineRender&) = delete;
    OfflineRender& operator=(const OfflineRender&) = delete;

    // Renders into `outPath`: arms the WAV sink, starts the transport (the song with
    // `arranger`), and writes every buffer the chain delivers until `maxBuffers` were written
    // or the transport stopped (the song ended). The file appears under its name only when
    // complete; on any failure nothing is left there and the error (EMMWaveError,
    // EInOutError, std::runtime_error) is thrown. Returns the buffers written.
    int64_t Render(const std::string& outPath, bool arranger, int64_t maxBuffers,
                   const std::function<void(int64_t written)>& progress = {});

    // What a render writes: the mix (as above), the stems, or both; one of them at least.
    struct Targets {
        std::string Mix;      // the mix file; empty: none
        std::string StemsDir; // a folder for the stems (see StemFiles); empty: none
        uint32_t Rate = 44100; // Hz; any other rate converts the files (program/RateFiles)
        // The files' format (program/AudioFileFormat); the stems take it too, named with its
        // extension. Anything but 16-bit WAV is encoded from the finished files.
        AudioFileFormat Format{};
    };
    // As above, with stems: bass.wav, twin-t.wav, noise.wav (each voice alone, dry, through
    // the master volume) and echo.wav (the echo's wet part), computed in the same pass as
    // the mix from the same voice values, so the mix is the same with or without them. All
    // files have the mix's length and appear only when all of them are complete.
    int64_t Render(const Targets& to, bool arranger, int64_t maxBuffers,
                   const std::function<void(int64_t written)>& progress = {});

    TMMOfflineOut Out;
    MainChain Chain;

protected:
    // echo: the synth's, with its settings; engine: the synth's render loop (for the stems).
    OfflineRender(TMMReverb& echo, Engine& engine);
    virtual ~OfflineRender();

    // The transport: start (entering the song first with `arranger`), and stop.
    virtual void StartPlay(bool arranger) = 0;
    virtual void StopPlay() = 0;
    // The offline output end as the transport's device.
    TransportDevice& OutputDevice();

    WavRecorder Recorder_{Out, Chain.MMWaveFile1};

private:
    struct Transport;
    std::unique_ptr<Transport> Transport_;
    Engine& Engine_;
};

} // namespace zelvox
