#include "sequencer/PatternDice.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sequencer/NoteNames.h"
#include "sequencer/PatternEdits.h"

namespace zelvox {

uint64_t DiceRandom::Next() {
    State_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = State_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

namespace {

// Semitones above the root that belong to the scale, as a 12-bit mask.
uint16_t ScaleMask(DiceScale s) {
    switch (s) {
    case DiceScale::Major: return 0b1010'1011'0101; // 0 2 4 5 7 9 11
    case DiceScale::Pentatonic: return 0b0100'1010'1001; // 0 3 5 7 10
    case DiceScale::Chromatic: return 0xFFF;
    default: return 0b0101'1010'1101; // natural minor: 0 2 3 5 7 8 10
    }
}

struct Range {
    int32_t Low, High;
};

Range NoteRange(const DiceOptions& o) {
    const int32_t a = std::clamp(o.Low, 1, kNoteCount), b = std::clamp(o.High, 1, kNoteCount);
    return {std::min(a, b), std::max(a, b)};
}

bool InScale(int32_t note, const DiceOptions& o, Range r) {
    const int32_t above = note - r.Low;
    return note >= r.Low && note <= r.High && ((ScaleMask(o.Scale) >> (((above % 12) + 12) % 12)) & 1) != 0;
}

// Which fields may change.
struct Allowed {
    bool BassNote, BassFlags, BassKnobs, TwinTNote, TwinTPlay, TwinTKnobs, NoiseNote, NoisePlay,
        NoiseKnobs;
};

Allowed AllowedBy(const DiceLocks& l) {
    return {!l.BassNotes && !l.Notes, !l.BassNotes && !l.PlaySlide, !l.BassSound && !l.Knobs,
            !l.TwinT && !l.Notes,     !l.TwinT && !l.PlaySlide,     !l.TwinT && !l.Knobs,
            !l.Noise && !l.Notes,     !l.Noise && !l.PlaySlide,     !l.Noise && !l.Knobs};
}

// A knob's field, its range and the range a new pattern draws it from.
struct KnobRange {
    int32_t StepRecord::*Field;
    int32_t Min, Max;       // the control's range
    int32_t DrawLo, DrawHi; // what Randomise draws
};
constexpr std::array<KnobRange, 9> kBassKnobs = {{
    {&StepRecord::BassAttack, 1, 127, 1, 24},
    {&StepRecord::BassDecay, 1, 127, 10, 100},
    {&StepRecord::BassCutoff, 0, 126, 8, 96},
    {&StepRecord::BassResonance, 0, 105, 20, 100},
    {&StepRecord::BassEnvMod, 0, 127, 16, 120},
    {&StepRecord::BassVolume, 0, 127, 96, 127},
    {&StepRecord::BassLength, 32, 127, 40, 120},
    {&StepRecord::BassWaveform, 0, 1, 0, 1},
    {&StepRecord::BassAmpSwitch, 0, 1, 0, 1},
}};
constexpr std::array<KnobRange, 3> kTwinTKnobs = {{
    {&StepRecord::TwinTDecay, 1, 127, 16, 96},
    {&StepRecord::TwinTEnvMod, 0, 127, 0, 90},
    {&StepRecord::TwinTVolume, 0, 127, 96, 127},
}};
constexpr std::array<KnobRange, 4> kNoiseKnobs = {{
    {&StepRecord::NoiseDecay, 1, 127, 4, 48},
    {&StepRecord::NoiseEnvMod, 0, 127, 0, 64},
    {&StepRecord::NoiseColour, 0, 120, 40, 120},
    {&StepRecord::NoiseVolume, 0, 127, 64, 127},
}};
constexpr int32_t kTwinTNoteLo = 1, kTwinTNoteHi = 13; // a drum's pitch: the lowest octave
constexpr int32_t kNoiseNoteLo = 22, kNoiseNoteHi = 37; // the noise filter: bright

template <size_t N> std::array<int32_t, N> DrawKnobs(DiceRandom& rng, const std::array<KnobRange, N>& knobs) {
    std::array<int32_t, N> v{};
    for (size_t i = 0; i < N; ++i) v[i] = rng.Between(knobs[i].DrawLo, knobs[i].DrawHi);
    return v;
}

template <size_t N>
void PutKnobs(StepRecord& r, const std::array<KnobRange, N>& knobs, const std::array<int32_t, N>& v) {
    for (size_t i = 0; i < N; ++i) r.*knobs[i].Field = v[i];
}

// A knob of the list moved by 1..8 (a switch turned over); down when up would leave its
// range.
template <size_t N> void NudgeKnob(DiceRandom& rng, StepRecord& r, const std::array<KnobRange, N>& knobs) {
    const KnobRange& k = knobs[static_cast<size_t>(rng.Below(static_cast<int32_t>(N)))];
    const int32_t by = std::min(rng.Between(1, 8), k.Max - k.Min);
    const int32_t now = std::clamp(r.*k.Field, k.Min, k.Max);
    const bool up = rng.Chance(1, 2);
    int32_t next = up ? now + by : now - by;
    if (next > k.Max || next < k.Min) next = up ? now - by : now + by;
    r.*k.Field = next;
}

// The scale note next to `note` (up or down, the other way at the range's end).
int32_t NeighbourNote(DiceRandom& rng, int32_t note, const DiceOptions& o, Range r) {
    const bool up = rng.Chance(1, 2);
    for (int pass = 0; pass < 2; ++pass) {
        const int32_t dir = (up == (pass == 0)) ? 1 : -1;
        for (int32_t n = std::clamp(note, r.Low - 1, r.High + 1) + dir; n >= r.Low && n <= r.High; n += dir)
            if (InScale(n, o, r) && n != note) return n;
    }
    return note;
}

} // namespace

void RandomisePattern(PatternStore& store, int32_t pattern, uint64_t seed, const DiceOptions& o) {
    DiceRandom rng(seed);
    const Allowed may = AllowedBy(o.Locks);
    const Range range = NoteRange(o);
    std::array<int32_t, kNoteCount> notes{};
    int32_t count = 0;
    for (int32_t n = range.Low; n <= range.High; ++n)
        if (InScale(n, o, range)) notes[static_cast<size_t>(count++)] = n;

    // One sound per voice for the pattern, then the steps, always in this order.
    const auto bass = DrawKnobs(rng, kBassKnobs);
    const auto twinT = DrawKnobs(rng, kTwinTKnobs);
    const auto noise = DrawKnobs(rng, kNoiseKnobs);
    const int32_t twinTNote = rng.Between(kTwinTNoteLo, kTwinTNoteHi);
    for (int s = 1; s <= kStepsPerPattern; ++s) {
        StepRecord& r = store.Step(ClampPattern(pattern), s);
        const bool onBeat = (s - 1) % 4 == 0, between = (s - 1) % 4 == 2;
        // The root a quarter of the time, else any note of the scale in the range.
        const int32_t bassNote = rng.Chance(1, 4) ? notes[0] : notes[static_cast<size_t>(rng.Below(count))];
        const bool bassPlay = rng.Chance(3, 4);
        const bool bassSlide = rng.Chance(1, 5);
        const bool twinTPlay = rng.Chance(onBeat ? 8 : 1, 10);
        const bool noisePlay = rng.Chance(between ? 8 : 3, 10);
        const int32_t noiseNote = rng.Between(kNoiseNoteLo, kNoiseNoteHi);
        if (may.BassNote) SetStepNote(r, kModeBass, bassNote);
        if (may.BassFlags) {
            r.BassPlay = bassPlay ? 1 : 0;
            r.BassSlide = bassSlide ? 1 : 0;
        }
        if (may.BassKnobs) PutKnobs(r, kBassKnobs, bass);
        if (may.TwinTNote) SetStepNote(r, kModeTwinT, twinTNote);
        if (may.TwinTPlay) r.TwinTPlay = twinTPlay ? 1 : 0;
        if (may.TwinTKnobs) PutKnobs(r, kTwinTKnobs, twinT);
        if (may.NoiseNote) SetStepNote(r, kModeNoise, noiseNote);
        if (may.NoisePlay) r.NoisePlay = noisePlay ? 1 : 0;
        if (may.NoiseKnobs) PutKnobs(r, kNoiseKnobs, noise);
    }
}

int32_t MutatePattern(PatternStore& store, int32_t pattern, uint64_t seed, int32_t amount,
                      const DiceOptions& o) {
    DiceRandom rng(seed);
    const Allowed may = AllowedBy(o.Locks);
    const Range range = NoteRange(o);
    const int32_t want = (std::clamp(amount, 0, 100) * kStepsPerPattern + 50) / 100;
    // The first `want` steps of a shuffle of 1..16 (Fisher-Yates).
    std::array<int32_t, kStepsPerPattern> order{};
    for (int i = 0; i < kStepsPerPattern; ++i) order[static_cast<size_t>(i)] = i + 1;
    for (int i = 0; i < want; ++i)
        std::swap(order[static_cast<size_t>(i)], order[static_cast<size_t>(rng.Between(i, kStepsPerPattern - 1))]);

    enum Change : uint8_t { BassNote, BassPlay, BassSlide, BassKnob, TwinTNote, TwinTPlay, TwinTKnob, NoiseNote, NoisePlay, NoiseKnob };
    std::array<Change, 10> open{};
    size_t n = 0;
    auto allow = [&](bool ok, Change c) {
        if (ok) open[n++] = c;
    };
    allow(may.BassNote, BassNote);
    allow(may.BassFlags, BassPlay);
    allow(may.BassFlags, BassSlide);
    allow(may.BassKnobs, BassKnob);
    allow(may.TwinTNote, TwinTNote);
    allow(may.TwinTPlay, TwinTPlay);
    allow(may.TwinTKnobs, TwinTKnob);
    allow(may.NoiseNote, NoiseNote);
    allow(may.NoisePlay, NoisePlay);
    allow(may.NoiseKnobs, NoiseKnob);
    if (n == 0) return 0;

    int32_t changed = 0;
    for (int i = 0; i < want; ++i) {
        StepRecord& r = store.Step(ClampPattern(pattern), order[static_cast<size_t>(i)]);
        const StepRecord before = r;
        switch (open[static_cast<size_t>(rng.Below(static_cast<int32_t>(n)))]) {
        case BassNote:
            SetStepNote(r, kModeBass, NeighbourNote(rng, r.BassNote, o, range));
            break;
        case BassPlay:
            r.BassPlay = r.BassPlay == 1 ? 0 : 1;
            break;
        case BassSlide:
            r.BassSlide = r.BassSlide == 1 ? 0 : 1;
            break;
        case BassKnob:
            NudgeKnob(rng, r, kBassKnobs);
            break;
        case TwinTNote: {
            const int32_t now = std::clamp(r.TwinTNote, 1, kNoteCount);
            SetStepNote(r, kModeTwinT, now < kNoteCount && (now == 1 || rng.Chance(1, 2)) ? now + 1 : now - 1);
            break;
        }
        case TwinTPlay:
            r.TwinTPlay = r.TwinTPlay == 1 ? 0 : 1;
            break;
        case TwinTKnob:
            NudgeKnob(rng, r, kTwinTKnobs);
            break;
        case NoiseNote: {
            const int32_t now = std::clamp(r.NoiseNote, 1, kNoteCount);
            const int32_t by = rng.Between(1, 3);
            SetStepNote(r, kModeNoise, now + by <= kNoteCount && (now - by < 1 || rng.Chance(1, 2)) ? now + by : now - by);
            break;
        }
        case NoisePlay:
            r.NoisePlay = r.NoisePlay == 1 ? 0 : 1;
            break;
        case NoiseKnob:
            NudgeKnob(rng, r, kNoiseKnobs);
            break;
        }
        if (std::memcmp(&before, &r, sizeof r) != 0) ++changed;
    }
    return changed;
}

namespace {

// The field's value into every step of patterns 1..16, as a knob turned in "All Notes".
void ShareField(PatternStore& store, int32_t StepRecord::*field, int32_t value) {
    WriteSoundField(store, field, value, false, 1, 1);
}

template <size_t N>
void ShareKnobs(PatternStore& store, const StepRecord& from,
                const std::array<KnobRange, N>& knobs) {
    for (const KnobRange& k : knobs)
        ShareField(store, k.Field, from.*k.Field);
}

} // namespace

void ShareRandomisedSound(PatternStore& store, int32_t pattern, const DiceOptions& o) {
    const Allowed may = AllowedBy(o.Locks);
    const StepRecord from = store.Step(ClampPattern(pattern), 1);
    if (may.BassKnobs) ShareKnobs(store, from, kBassKnobs);
    if (may.TwinTKnobs) ShareKnobs(store, from, kTwinTKnobs);
    if (may.NoiseKnobs) ShareKnobs(store, from, kNoiseKnobs);
}

void ShareMutatedSound(PatternStore& store, int32_t pattern, const PatternStore& before) {
    const int32_t p = ClampPattern(pattern);
    auto share = [&](const auto& knobs) {
        for (const KnobRange& k : knobs)
            for (int s = kStepsPerPattern; s >= 1; --s)
                if (store.Step(p, s).*k.Field != before.Step(p, s).*k.Field) {
                    ShareField(store, k.Field, store.Step(p, s).*k.Field);
                    break;
                }
    };
    share(kBassKnobs);
    share(kTwinTKnobs);
    share(kNoiseKnobs);
}

const char* ScaleName(DiceScale s) {
    switch (s) {
    case DiceScale::Major: return "major";
    case DiceScale::Pentatonic: return "pentatonic";
    case DiceScale::Chromatic: return "chromatic";
    default: return "minor";
    }
}

bool ParseScale(const std::string& text, DiceScale& out) {
    for (DiceScale s : {DiceScale::Minor, DiceScale::Major, DiceScale::Pentatonic, DiceScale::Chromatic})
        if (text == ScaleName(s)) {
            out = s;
            return true;
        }
    return false;
}

bool ParseLocks(const std::string& text, DiceLocks& out, std::string& error) {
    DiceLocks l;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string word = text.substr(from, comma - from);
        if (word == "bass-notes") l.BassNotes = true;
        else if (word == "bass-sound") l.BassSound = true;
        else if (word == "twin-t") l.TwinT = true;
        else if (word == "noise") l.Noise = true;
        else if (word == "notes") l.Notes = true;
        else if (word == "play") l.PlaySlide = true;
        else if (word == "knobs") l.Knobs = true;
        else if (!word.empty()) {
            error = "unknown lock '" + word +
                    "' (bass-notes, bass-sound, twin-t, noise, notes, play, knobs)";
            return false;
        }
        from = comma + 1;
    }
    out = l;
    return true;
}

} // namespace zelvox
