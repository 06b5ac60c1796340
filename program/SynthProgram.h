#pragma once
// The program without the window's model: it owns its synth and acts on it directly. What to
// play is chosen without editing anything (the window's pattern button in "All Notes" mode
// copies knobs, this never does), and the transport starts and stops the synth with the
// output it plays through. zelvox-render, its --play and --play --live, and the desktop
// program's audio export are built on this.

#include <cstdint>
#include <string>

#include "sequencer/Sequencer.h"
#include "synth/PatternSynth.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class SynthProgram : private SequencerListener {
public:
    SynthProgram(); // the synth started up as the program starts
    ~SynthProgram();
    SynthProgram(const SynthProgram&) = delete;
    SynthProgram& operator=(const SynthProgram&) = delete;

    PatternSynth Synth;

    // A pattern file, taken as File -> "Load pattern" takes it. EInOutError on failure
    // (naming the file and the reason), nothing changed.
    void Load(const std::string& path);
    // The state as a pattern file, replacing `path`. EInOutError on failure.
    void Save(const std::string& path) const;
    // What to play: pattern n (1..16) from its step 1, its knobs shown; no step changes.
    void ChoosePattern(int32_t n);
    // After the patterns were changed behind the knobs' back (randomised, mutated): the knobs
    // show the edit step of the pattern shown, writing nothing back.
    void ShowPattern();

    // The transport as the window's buttons run it: Play enters the song first with
    // `arranger` (stopping), then starts the synth and the output; a song with nothing to
    // play stops instead. Stop stops both; so does the end of a song.
    void SetOutput(TransportDevice* output) { Output_ = output; }
    void Play(bool arranger);
    void Stop();
    // The Arranger page entered: the transport stops and the song is what plays next.
    void EnterSong();

private:
    void StepAdvanced(int32_t, int32_t) override {}
    void PatternChanged() override {}
    void PhraseStarted(int32_t) override {}
    void SongEnded() override { Stop(); }
    void StepLoaded() override {}

    TransportDevice* Output_ = nullptr;
};

} // namespace zelvox
