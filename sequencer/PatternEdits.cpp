#include "sequencer/PatternEdits.h"

#include <limits>

#include "engine/Tables.h"

namespace zelvox {

void WriteSoundField(PatternStore& store, int32_t StepRecord::*field, int32_t value,
                     bool selectedNoteOnly, int32_t pattern, int32_t step) {
    if (selectedNoteOnly) {
        store.Step(ClampPattern(pattern), ClampStep(step)).*field = value;
        return;
    }
    for (int p = 1; p < kPatternSlots; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s)
            store.Step(p, s).*field = value;
}

bool SetStepNote(StepRecord& r, uint8_t mode, int32_t note) {
    switch (mode) {
    case kModeBass:
        r.BassNote = note;
        r.BassFreq = Note2Freq(note);
        return true;
    case kModeTwinT:
        r.TwinTNote = note;
        r.TwinTFreq = Note2Freq(note);
        return true;
    case kModeNoise:
        r.NoiseNote = note;
        return true;
    default:
        return false;
    }
}

int32_t StepNote(const StepRecord& r, uint8_t mode) {
    return mode == kModeBass ? r.BassNote : mode == kModeTwinT ? r.TwinTNote : r.NoiseNote;
}

StepLook StepLookOf(const StepRecord& r, uint8_t mode) {
    switch (mode) {
    case kModeBass:
        return r.BassPlay == 0 ? StepLook::Rest
                               : (r.BassSlide != 0 ? StepLook::Slide : StepLook::Note);
    case kModeTwinT:
        return r.TwinTPlay == 0 ? StepLook::Rest : StepLook::Note;
    case kModeNoise:
        return r.NoisePlay == 0 ? StepLook::Rest : StepLook::Note;
    default:
        return StepLook::None;
    }
}

namespace {
void ToggleFlag(uint8_t& flag) {
    flag = flag == 1 ? 0 : 1;
}
} // namespace

bool TogglePlay(StepRecord& r, uint8_t mode) {
    switch (mode) {
    case kModeBass:
        ToggleFlag(r.BassPlay);
        return true;
    case kModeTwinT:
        ToggleFlag(r.TwinTPlay);
        return true;
    case kModeNoise:
        ToggleFlag(r.NoisePlay);
        return true;
    default:
        return false;
    }
}

bool ToggleSlide(StepRecord& r, uint8_t mode) {
    if (mode != kModeBass) return false;
    ToggleFlag(r.BassSlide);
    return true;
}

void MoveBassNote(StepRecord& r, int delta) {
    const int64_t v = static_cast<int64_t>(r.BassNote) + delta;
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    r.BassNote = static_cast<int32_t>(v > hi ? hi : (v < lo ? lo : v));
}

void RotateLeft(PatternStore& store, int32_t pattern, int32_t steps) {
    const int32_t p = ClampPattern(pattern);
    const int32_t S = ClampStep(steps);
    const StepRecord first = store.Step(p, 1);
    for (int i = 1; i <= S - 1; ++i)
        store.Step(p, i) = store.Step(p, i + 1);
    store.Step(p, S) = first;
}

void RotateRight(PatternStore& store, int32_t pattern, int32_t steps) {
    const int32_t p = ClampPattern(pattern);
    const int32_t S = ClampStep(steps);
    const StepRecord last = store.Step(p, S);
    for (int i = S; i >= 2; --i)
        store.Step(p, i) = store.Step(p, i - 1);
    store.Step(p, 1) = last;
}

void PatternClipboard::Copy(const PatternStore& store, int32_t pattern) {
    const int32_t p = ClampPattern(pattern);
    for (int s = 1; s <= kStepsPerPattern; ++s)
        Steps[static_cast<size_t>(s - 1)] = store.Step(p, s);
}

void PatternClipboard::Paste(PatternStore& store, int32_t pattern) const {
    const int32_t p = ClampPattern(pattern);
    for (int s = 1; s <= kStepsPerPattern; ++s)
        store.Step(p, s) = Steps[static_cast<size_t>(s - 1)];
}

} // namespace zelvox
