#pragma once
// The program without a window or a sound device: the main window's logic and chain, started
// as the program starts, with an offline output end that renders as fast as it can into the
// WAV sink. zelvox-render, its tests and the benchmark drive this.

#include <cstdint>
#include <functional>
#include <string>

#include "audio/OfflineOut.h"
#include "program/MainChain.h"
#include "program/ProgramCore.h"
#include "program/AudioFileFormat.h"
#include "program/RecordToWav.h"

namespace zelvox {

class HeadlessProgram : public ProgramCore {
public:
    // Start-up: the main window (its FormCreate and the chain's format), then the envelope
    // dialog, which builds the four curve tables.
    HeadlessProgram();
    ~HeadlessProgram();
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    // File -> "Load pattern" with this file chosen. EInOutError on failure, nothing changed.
    void Load(const std::string& path) { LoadPattern(path); }

    // Renders into `outPath`: arms the WAV sink, presses "Loop" on the Bass page (or enters
    // the Arranger page and presses "Play"), and writes every buffer the chain delivers until
    // `maxBuffers` were written or the transport stopped (the song ended). The file appears
    // under its name only when complete; on any failure nothing is left there and the error
    // (EMMWaveError, EInOutError, std::runtime_error) is thrown. Returns the buffers written.
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
    MainChain Chain{Out, Form.Synth.Echo};

private:
    struct Transport;
    struct Sink;
    std::unique_ptr<Transport> Transport_;
    std::unique_ptr<Sink> Sink_;
    WavRecorder Recorder_{Out, Chain.MMWaveFile1};
};

} // namespace zelvox
