#include "synth/SynthEdit.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "files/PatternFileFormat.h"
#include "sequencer/PatternEdits.h"
#include "synth/PatternSynth.h"

namespace zelvox {

namespace {

constexpr size_t kStepBytes = sizeof(StepRecord);

// How many step records an edit of this kind carries; -1 for a kind that does not exist.
int StepsCarried(SynthEdit::Kind k) {
    switch (k) {
    case SynthEdit::Kind::Whole:
    case SynthEdit::Kind::Control:
    case SynthEdit::Kind::Phrase:
    case SynthEdit::Kind::Position:
        return 0;
    case SynthEdit::Kind::Step:
        return 1;
    case SynthEdit::Kind::Pattern:
        return kStepsPerPattern;
    }
    return -1;
}

size_t FieldOffset(int32_t StepRecord::*field) {
    static const StepRecord probe{};
    return size_t(reinterpret_cast<const uint8_t*>(&(probe.*field)) - reinterpret_cast<const uint8_t*>(&probe));
}

// Byte `at` of the pattern file against what the edit writes. The store's image comes first,
// slot by slot, 16 steps of 100 bytes each.
bool Covered(const SynthEdit& e, size_t at) {
    const bool inStore = at < kPatternFileKnobs;
    const int32_t pattern = inStore ? int32_t(at / (kStepBytes * kStepsPerPattern)) : -1;
    const int32_t step = inStore ? int32_t(at / kStepBytes % kStepsPerPattern) + 1 : -1;
    switch (e.What) {
    case SynthEdit::Kind::Control: {
        const ControlRow& row = ControlRowOf(e.Id);
        if (row.Field) {
            if (!inStore || pattern == 0) return false;
            if (e.SelectedNoteMode && (pattern != e.Pattern || step != e.EditStep)) return false;
            const size_t field = FieldOffset(row.Field);
            const size_t in = at % kStepBytes;
            return in >= field && in < field + 4;
        }
        const size_t knob = kPatternFileKnobs + 4 * size_t(row.File);
        return row.File != FileKnob::None && at >= knob && at < knob + 4;
    }
    case SynthEdit::Kind::Step:
        return pattern == e.Pattern && step == e.Step;
    case SynthEdit::Kind::Pattern:
        return pattern == e.Pattern;
    case SynthEdit::Kind::Phrase: {
        const size_t entry = kPatternFilePhrases + 8 * size_t(e.Phrase);
        return at >= entry && at < entry + 8;
    }
    case SynthEdit::Kind::Whole:
        return true;
    case SynthEdit::Kind::Position:
        return false;
    }
    return false;
}

bool ValidPattern(int32_t p) { return p >= 1 && p <= 16; }
bool ValidStep(int32_t s) { return s >= 1 && s <= kStepsPerPattern; }

} // namespace

bool ApplyEdit(PatternSynth& synth, const SynthEdit& e) {
    switch (e.What) {
    case SynthEdit::Kind::Control: {
        if (static_cast<size_t>(e.Id) >= kControlCount) return false;
        const ControlRow& row = ControlRowOf(e.Id);
        if (!row.Field) return synth.SetControl(e.Id, e.Value);
        // The field, as the editor's knob wrote it; the knob here shows what its owner says.
        if (e.SelectedNoteMode && !ValidPattern(e.Pattern)) return false;
        WriteSoundField(synth.Store, row.Field, ClampToControl(e.Id, e.Value), e.SelectedNoteMode,
                        e.Pattern, e.EditStep);
        return true;
    }
    case SynthEdit::Kind::Step:
        if (!ValidPattern(e.Pattern) || !ValidStep(e.Step)) return false;
        synth.Store.Step(e.Pattern, e.Step) = e.Steps[0];
        return true;
    case SynthEdit::Kind::Pattern:
        if (!ValidPattern(e.Pattern)) return false;
        for (int s = 1; s <= kStepsPerPattern; ++s) synth.Store.Step(e.Pattern, s) = e.Steps[size_t(s - 1)];
        return true;
    case SynthEdit::Kind::Phrase: {
        if (e.Phrase < 1 || e.Phrase > kPhraseCount) return false;
        PhraseEntry& entry = synth.Seq.Phrases[size_t(e.Phrase)];
        entry.Pattern = std::clamp(e.PhrasePattern, 0, kPhrasePatternMax);
        entry.Count = std::clamp(e.PhraseCount, 0, kPhraseCountMax);
        return true;
    }
    case SynthEdit::Kind::Whole:
    case SynthEdit::Kind::Position:
        return false;
    }
    return false;
}

bool EditCovers(const SynthEdit& e, const uint8_t* before, const uint8_t* after) {
    for (size_t i = 0; i < kPatternFileSize; ++i)
        if (before[i] != after[i] && !Covered(e, i)) return false;
    return true;
}

std::vector<uint8_t> EncodeEdit(const SynthEdit& e) {
    const int n = std::max(StepsCarried(e.What), 0);
    std::vector<uint8_t> out(kEditHeadSize + size_t(n) * kStepBytes);
    out[0] = static_cast<uint8_t>(e.What);
    out[1] = e.SelectedNoteMode ? 1 : 0;
    size_t at = 4;
    for (int32_t v : {e.EditStep, e.Pattern, e.Step, e.Phrase, static_cast<int32_t>(e.Id), e.Value,
                      e.PhrasePattern, e.PhraseCount}) {
        PutI32(out.data() + at, v);
        at += 4;
    }
    for (int i = 0; i < n; ++i) EncodeStepRecord(e.Steps[size_t(i)], out.data() + kEditHeadSize + size_t(i) * kStepBytes);
    return out;
}

bool DecodeEdit(const uint8_t* data, size_t size, SynthEdit& e) {
    if (!data || size < kEditHeadSize) return false;
    const auto kind = static_cast<SynthEdit::Kind>(data[0]);
    const int n = StepsCarried(kind);
    if (n < 0 || data[1] > 1 || size != kEditHeadSize + size_t(n) * kStepBytes) return false;
    const auto id = GetI32(data + 20);
    if (id < 0 || size_t(id) >= kControlCount) return false;
    SynthEdit d;
    d.What = kind;
    d.SelectedNoteMode = data[1] == 1;
    d.EditStep = GetI32(data + 4);
    d.Pattern = GetI32(data + 8);
    d.Step = GetI32(data + 12);
    d.Phrase = GetI32(data + 16);
    d.Id = static_cast<ControlId>(id);
    d.Value = GetI32(data + 24);
    d.PhrasePattern = GetI32(data + 28);
    d.PhraseCount = GetI32(data + 32);
    for (int i = 0; i < n; ++i) DecodeStepRecord(data + kEditHeadSize + size_t(i) * kStepBytes, d.Steps[size_t(i)]);
    e = d;
    return true;
}

} // namespace zelvox
