#pragma once
// One edit of the synth's patterns, song or knobs, as what it is: a control turned, a step
// or a pattern rewritten, a phrase of the song changed. An editor hands these to a synth that
// plays elsewhere (the low-latency output's on the JACK thread, the plugin's in its host)
// instead of its whole state; what they cannot describe (a load, undo, randomise) still goes
// as the whole state.
//
// Every edit also says where the editor's knobs write after it: its edit mode and edit step.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/StepRecord.h"
#include "sequencer/ControlTable.h"

namespace zelvox {

class PatternSynth;

struct SynthEdit {
    enum class Kind : uint8_t {
        Whole = 0,    // more than one of the below: the whole state goes instead
        Control = 1,  // Id set to Value; a sound control writes its field into step EditStep
                      // of Pattern ("Selected Note") or into every step ("All Notes")
        Step = 2,     // step Step of Pattern becomes Steps[0]
        Pattern = 3,  // the 16 steps of Pattern become Steps
        Phrase = 4,   // song phrase Phrase plays pattern PhrasePattern PhraseCount times
        Position = 5, // nothing changed but the edit mode or step
    };
    Kind What = Kind::Whole;
    bool SelectedNoteMode = false;
    int32_t EditStep = 1;
    int32_t Pattern = 1;
    int32_t Step = 1;
    int32_t Phrase = 1;
    ControlId Id = ControlId::BassAttack;
    int32_t Value = 0;
    int32_t PhrasePattern = 0;
    int32_t PhraseCount = 0;
    std::array<StepRecord, 16> Steps{};
};

// Applies the edit to `synth` as taking the editor's whole state after it would: steps and
// phrases as the edit gives them (the song kept to what it can play), a knob the pattern
// file carries through SetControl. What is shown or played, the edit mode and step, and the
// sound knobs' values stay: the caller shows the edit step again if it wants to. Allocates
// nothing. False for Whole and Position, which change nothing here.
bool ApplyEdit(PatternSynth& synth, const SynthEdit& e);

// True when every pattern-file byte that differs between `before` and `after` (both
// kPatternFileSize bytes: the editor's state around the edit) lies where the edit writes. An
// edit that changed more must go as the whole state.
bool EditCovers(const SynthEdit& e, const uint8_t* before, const uint8_t* after);

// On the wire between processes: a 36-byte head (kind, mode, then eight little-endian int32:
// edit step, pattern, step, phrase, control, value, phrase pattern, phrase count) and the
// kind's step records as the pattern file holds them (one for Step, 16 for Pattern).
constexpr size_t kEditHeadSize = 36;
// The sizes an edit has on the wire: a head alone, or with one or 16 step records.
constexpr bool IsEditSize(size_t n) {
    return n == kEditHeadSize || n == kEditHeadSize + sizeof(StepRecord) ||
           n == kEditHeadSize + 16 * sizeof(StepRecord);
}
std::vector<uint8_t> EncodeEdit(const SynthEdit& e);
// False, and `e` unchanged, for anything but an edit of a known kind with its exact size.
bool DecodeEdit(const uint8_t* data, size_t size, SynthEdit& e);

} // namespace zelvox
