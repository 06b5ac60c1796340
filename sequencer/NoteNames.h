#pragma once
// The names shown under the note sliders, indexed by note 1..37 (entry 0 is unused and empty).
// The octave number changes at the A, not at the C, and entries 21 and 31 carry no octave digit.

#include <array>
#include <cstdint>

namespace zelvox {

constexpr int kNoteCount = 37;

inline constexpr std::array<const char*, kNoteCount + 1> NoteNames = {
    "",                                                                  // unused
    "C1",  "C#1", "D1",  "D#1", "E1",  "F1",  "F#1", "G1",  "G#1", "A2", // 1..10
    "A#2", "B2",  "C2",  "C#2", "D2",  "D#2", "E2",  "F2",  "F#2", "G2", // 11..20
    "G#",  "A3",  "A#3", "B3",  "C3",  "C#3", "D3",  "D#3", "E3",  "F3", // 21..30
    "F#",  "G3",  "G#3", "A4",  "A#4", "B4",  "C4",                      // 31..37
};

// The name of note n, or "" for an index outside 1..37 (a pattern file may hold any value).
inline const char* NoteName(int32_t n) {
    return (n >= 1 && n <= kNoteCount) ? NoteNames[static_cast<size_t>(n)] : "";
}

} // namespace zelvox
