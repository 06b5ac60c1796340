#pragma once
// The pattern editor's operations on the store, without a window: writing a sound control's
// value (to the edit step or to every step), notes, play/slide flags, transpose, rotate, and
// the pattern clipboard. The window decides when its display follows; these only change data.

#include <array>
#include <cstdint>

#include "base/StepRecord.h"

namespace zelvox {

// The page (and so the voice) the editor works on: SynthMode.
enum : uint8_t { kModeBass = 0, kModeTwinT = 1, kModeNoise = 2, kModeArranger = 3 };

// A sound control's value: into the edit step only ("Selected Note"), or into every step of
// patterns 1..16 ("All Notes"). Slot 0 is never touched.
void WriteSoundField(PatternStore& store, int32_t StepRecord::*field, int32_t value,
                     bool selectedNoteOnly, int32_t pattern, int32_t step);

// The note of the page's voice: the bass and Twin-T notes also set their pitch.
// Returns false on the arranger page, which has no notes.
bool SetStepNote(StepRecord& r, uint8_t mode, int32_t note);
int32_t StepNote(const StepRecord& r, uint8_t mode);

// How a step's note slider thumb looks on a page.
enum class StepLook : uint8_t { None, Rest, Note, Slide };
StepLook StepLookOf(const StepRecord& r, uint8_t mode);

// Step menu "Play" / "Slide": a flag the menu shows checked (1) turns off, anything else on.
// Slide exists for the bass only. False when the page has no such flag.
bool TogglePlay(StepRecord& r, uint8_t mode);
bool ToggleSlide(StepRecord& r, uint8_t mode);

// Moves a bass note by delta without overflowing a 32-bit note read from a file.
void MoveBassNote(StepRecord& r, int delta);

// Rotates the whole step records of steps 1..steps of a pattern by one.
void RotateLeft(PatternStore& store, int32_t pattern, int32_t steps);
void RotateRight(PatternStore& store, int32_t pattern, int32_t steps);

// The pattern clipboard: one pattern's 16 steps, zero until the first Copy.
struct PatternClipboard {
    std::array<StepRecord, kStepsPerPattern> Steps{};
    void Copy(const PatternStore& store, int32_t pattern);
    void Paste(PatternStore& store, int32_t pattern) const;
};

// Pattern and step numbers from outside kept to the store's ranges.
constexpr int32_t ClampPattern(int32_t p) {
    return p < 0 ? 0 : (p > 16 ? 16 : p);
}
constexpr int32_t ClampStep(int32_t s) {
    return s < 1 ? 1 : (s > 16 ? 16 : s);
}

} // namespace zelvox
