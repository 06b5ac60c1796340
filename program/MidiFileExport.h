#pragma once
// File, "Export MIDI file..." and zelvox-render --midi-file: the play the synth would give
// as the notes MIDI notes out sends (the same rules: lengths, slides as overlaps, drum notes,
// swing, the song's end), written as a Standard MIDI File, type 1, 960 ticks a quarter note:
// a tempo track, then one track per voice (bass, Twin-T, noise) on the notes' channels.
//
// Each message goes at the tick nearest its frame at the file's tempo, the tempo written as
// the step clock really runs (StepLength + 1 samples a sixteenth), in whole microseconds a
// quarter note: tick = frame x 960 x 1,000,000 / (44,100 x tempo), rounded to nearest, a
// half up.

#include <cstdint>
#include <string>
#include <vector>

#include "synth/MidiNotesOut.h"

namespace zelvox {

class PatternSynth;

struct MidiNoteMessage {
    uint64_t Frame = 0; // 44,100 Hz frames from the play's start
    uint8_t Status = 0, Key = 0, Velocity = 0;
    uint8_t Voice = 0; // 0 bass, 1 Twin-T, 2 noise
};

struct MidiPlay {
    std::vector<MidiNoteMessage> Messages; // in the order notes out sends them
    uint64_t Frames = 0;                   // the play's length: every note has ended by then
    int32_t StepSamples = 0;               // samples a sixteenth (StepLength + 1)
};

// Plays what `synth` holds (its patterns, song, tempo, steps, swing; pattern `pattern` looped,
// or the song with `arranger`) for at most `maxFrames` frames or to the song's end, as notes
// out sends it on the channels and notes given, and ends the notes still sounding there.
MidiPlay PlayMidiNotes(const PatternSynth& synth, bool arranger, int32_t pattern,
                       uint64_t maxFrames, const NoteChannels& channels);

// Microseconds a quarter note for a step of `stepSamples` samples at 44,100 Hz.
uint32_t MidiTempo(int32_t stepSamples);
// The tick (960 a quarter note) nearest `frame` at `tempo` microseconds a quarter note.
uint64_t MidiTick(uint64_t frame, uint32_t tempo);

// The file's bytes.
std::vector<uint8_t> EncodeMidiFile(const MidiPlay& play);

// Plays and writes `path`, replacing it only when complete (as every output of the renderer;
// a device or a pipe is written to). Throws EInOutError.
void ExportMidiFile(const PatternSynth& synth, bool arranger, int32_t pattern, uint64_t maxFrames,
                    const NoteChannels& channels, const std::string& path);

} // namespace zelvox
