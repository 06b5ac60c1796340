#pragma once
// MIDI notes played into the sequencer from a keyboard. A note-on on the chosen channel
// transposes the bass line by the note's distance from the root note, from the next step
// on, as a performance offset (the stored pattern stays as it is). Optionally sixteen notes
// from a chosen first note choose patterns 1..16, as the pattern buttons do. Both are off
// until switched on.
//
// Plain values and pure functions, for the window, the low-latency output and the plugin
// alike; they allocate nothing and may run on a host's audio thread.

#include <cstddef>
#include <cstdint>

namespace zelvox {

struct NotesInSetup {
    bool Transpose = false;    // notes transpose the bass
    bool Patterns = false;     // the sixteen notes from FirstPattern choose patterns
    int32_t Channel = 0;       // 0..15: the status byte's low nibble (MIDI channel 1..16)
    int32_t Root = 60;         // 0..127: the note that plays the pattern as written (middle C)
    int32_t FirstPattern = 36; // 0..112: the note that chooses pattern 1 (C two octaves down)

    bool On() const { return Transpose || Patterns; }
    bool operator==(const NotesInSetup&) const = default;
};

struct NoteInAction {
    enum class Kind : uint8_t { None, Transpose, Pattern };
    Kind What = Kind::None;
    int32_t Value = 0; // Transpose: semitones, -127..127; Pattern: 1..16
};

// What a MIDI message does under `setup`: only a note-on (velocity above 0) on the channel
// acts; a note in the pattern range chooses its pattern, any other transposes. Note-offs
// change nothing, so the last key pressed holds.
NoteInAction ReadNoteIn(const NotesInSetup& setup, const uint8_t* msg, size_t size);

// The setup limited to its ranges (values from a settings file, a port or the command line).
NotesInSetup Limited(const NotesInSetup& setup);

// The setup in one int32 for a command queue, and back (limited).
int32_t PackNotesIn(const NotesInSetup& setup);
NotesInSetup UnpackNotesIn(int32_t packed);

} // namespace zelvox
