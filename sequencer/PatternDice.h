#pragma once
// Randomise and Mutate: a new pattern from a seed, or small changes to some of a pattern's
// steps, with parts of the pattern locked. The same seed and options give the same step
// bytes on every machine: the generator is our own (splitmix64) and every choice is made
// with integer arithmetic on its output, never through library distributions, whose
// results differ between standard libraries.
//
// What a lock keeps: a field changes only when neither its voice nor its row is locked.
//   voice  bass notes: BassNote, BassFreq, BassPlay, BassSlide
//          bass sound: the bass panel's knobs and switches (Length and Waveform too)
//          Twin-T:     TwinTNote, TwinTFreq, TwinTPlay and the Twin-T knobs
//          noise:      NoiseNote, NoisePlay and the noise knobs
//   row    notes:      the three notes (and the two pitches)
//          play/slide: the three play flags and the bass slide
//          knobs:      every sound knob and switch

#include <cstdint>
#include <string>

#include "base/StepRecord.h"

namespace zelvox {

// Our own generator: splitmix64, 64 bits of state, the same sequence everywhere.
class DiceRandom {
public:
    explicit DiceRandom(uint64_t seed) : State_(seed) {}
    uint64_t Next();
    // 0..n-1 (n >= 1). The modulo's bias (below 2^-50 for these n) is not worth a loop.
    int32_t Below(int32_t n) { return static_cast<int32_t>(Next() % static_cast<uint64_t>(n < 1 ? 1 : n)); }
    int32_t Between(int32_t lo, int32_t hi) { return lo + Below(hi - lo + 1); }
    // True k times in n.
    bool Chance(int32_t k, int32_t n) { return Below(n) < k; }

private:
    uint64_t State_;
};

enum class DiceScale : uint8_t { Minor, Major, Pentatonic, Chromatic };

struct DiceLocks {
    bool BassNotes = false, BassSound = false, TwinT = false, Noise = false; // voices
    bool Notes = false, PlaySlide = false, Knobs = false;                    // rows
};

struct DiceOptions {
    DiceScale Scale = DiceScale::Minor;
    // Bass notes come from Low..High (1..37, the note sliders' range); Low is the scale's
    // root, so "1..25 minor" is C minor over two octaves.
    int32_t Low = 1, High = 25;
    DiceLocks Locks;
};

// A new pattern in slot `pattern` (1..16): bass notes of the scale in the range, mostly
// played, some rests and slides; Twin-T mostly on the beat, noise mostly between beats; one
// sound for each voice from ranges that sound (no silent volume, no closed filter). Locked
// fields keep their bytes. Every value is drawn whatever is locked, so a lock changes
// nothing else: the unlocked parts are those of the same seed without the lock.
void RandomisePattern(PatternStore& store, int32_t pattern, uint64_t seed, const DiceOptions& options);

// Changes `amount` percent (0..100) of the pattern's 16 steps, rounded to whole steps, each
// a little: a bass note one scale degree up or down, a play or slide flag turned over, a
// drum's note or one knob nudged. Returns the number of steps changed (fewer than asked
// only when locks or a one-note range leave a step nothing to change).
int32_t MutatePattern(PatternStore& store, int32_t pattern, uint64_t seed, int32_t amount,
                      const DiceOptions& options);

// The window's "All Notes" edit mode, where a knob turned writes every step of every pattern:
// what Randomise or Mutate did to pattern `pattern`'s sound goes to every pattern the same way,
// so choosing another pattern afterwards changes nothing. (The command line, which has no edit
// mode, keeps a sound per pattern and calls neither.)
// Randomise: every sound field it was free to draw (the voices' and the knobs' locks decide),
// with the one value the pattern's steps now share.
void ShareRandomisedSound(PatternStore& store, int32_t pattern, const DiceOptions& options);
// Mutate: each sound field that changed in some step of the pattern (compared with `before`),
// with the value of the last such step, as a turn of that one knob would.
void ShareMutatedSound(PatternStore& store, int32_t pattern, const PatternStore& before);

// Text forms for the command line and the settings: "minor", "major", "pentatonic",
// "chromatic"; locks as a comma list of "bass-notes", "bass-sound", "twin-t", "noise",
// "notes", "play", "knobs". False (and `error` says why) on anything else.
const char* ScaleName(DiceScale s);
bool ParseScale(const std::string& text, DiceScale& out);
bool ParseLocks(const std::string& text, DiceLocks& out, std::string& error);

} // namespace zelvox
