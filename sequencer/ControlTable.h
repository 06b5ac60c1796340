#pragma once
// Every sound and panel control of the synth, one row each: the window's knobs, switches and
// spin edits, the envelope dialog's contours, the MIDI Control Change slots and the pattern
// file's knob block are all built from this table, so adding a control is one line here.
//
// Row order: the sound controls first, left to right as they sit on their panels (each writes
// a field of its own, so the order in which the knobs take the edit step's values changes
// nothing); then the panel controls in the order a loaded pattern file sets them (Volume,
// Delay at the tempo still set, Depth, Steps, Tempo); then the four contours.

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/StepRecord.h"

namespace zelvox {

enum class ControlId : uint8_t {
    // Sound controls: each writes one field of the step records.
    BassAttack,
    BassDecay,
    BassCutoff,
    BassResonance,
    BassEnvMod,
    BassVolume,
    BassLength,
    BassWaveform,
    BassAmpSwitch,
    TwinTDecay,
    TwinTEnvMod,
    TwinTVolume,
    NoiseDecay,
    NoiseEnvMod,
    NoiseColour,
    NoiseVolume,
    // Panel controls of the lower panel.
    MasterVolume,
    Delay,
    Depth,
    Steps,
    Tempo,
    // The envelope dialog's contours.
    BassAttackContour,
    BassDecayContour,
    TwinTDecayContour,
    NoiseDecayContour,
};

constexpr size_t kControlCount = 25;
constexpr size_t kSoundControlCount = 16; // ControlId 0..15 write step fields

enum class ControlKind : uint8_t { Knob, Switch, Spin };
// Where the control sits: the three knob strips, the lower panel, the envelope dialog.
enum class ControlPanel : uint8_t { Bass, TwinT, Noise, Lower, Envelopes };

// Slots of the pattern file's knob block, in file order (4 bytes each from byte 27200).
enum class FileKnob : int8_t {
    None = -1,
    Delay,
    Depth,
    Volume,
    BassAttackContour,
    BassDecayContour,
    TwinTDecayContour,
    NoiseDecayContour,
    Tempo,
    Steps,
};

struct ControlRow {
    ControlId Id;
    const char* DesignName; // the control's name on its window ("MMWheel1")
    const char* RoleName;   // what it does, for hosts and logs ("bass_attack")
    ControlPanel Panel;
    ControlKind Kind;
    int32_t Min, Max, Start;
    const char* Caption;       // shown beside it; for a switch the top caption (value 1)
    const char* BottomCaption; // a switch's caption for value 0; "" otherwise
    int32_t StepRecord::*Field; // the step field a sound control writes; null otherwise
    int8_t CcSlot;              // its slot in the MIDI setup's controller table; -1 none
    FileKnob File;              // its field in the pattern file's knob block
};

// clang-format off
inline constexpr std::array<ControlRow, kControlCount> kControls = {{
    {ControlId::BassAttack,    "MMWheel1",   "bass_attack",    ControlPanel::Bass,  ControlKind::Knob,   1, 127,   3,   "Attack",  "", &StepRecord::BassAttack,    0, FileKnob::None},
    {ControlId::BassDecay,     "MMWheel2",   "bass_decay",     ControlPanel::Bass,  ControlKind::Knob,   1, 127,  35,   "Decay",   "", &StepRecord::BassDecay,     1, FileKnob::None},
    {ControlId::BassCutoff,    "MMWheel3",   "bass_cutoff",    ControlPanel::Bass,  ControlKind::Knob,   0, 126,   0,   "Cut-off", "", &StepRecord::BassCutoff,    2, FileKnob::None},
    {ControlId::BassResonance, "MMWheel4",   "bass_resonance", ControlPanel::Bass,  ControlKind::Knob,   0, 105,   0,   "Res.",    "", &StepRecord::BassResonance, 3, FileKnob::None},
    {ControlId::BassEnvMod,    "MMWheel5",   "bass_env_mod",   ControlPanel::Bass,  ControlKind::Knob,   0, 127,   7,   "Env mod", "", &StepRecord::BassEnvMod,    4, FileKnob::None},
    {ControlId::BassVolume,    "MMWheel7",   "bass_volume",    ControlPanel::Bass,  ControlKind::Knob,   0, 127,   0,   "Volume",  "", &StepRecord::BassVolume,    5, FileKnob::None},
    {ControlId::BassLength,    "MMWheel9",   "bass_length",    ControlPanel::Bass,  ControlKind::Knob,  32, 127,  80,   "Length",  "", &StepRecord::BassLength,    6, FileKnob::None},
    {ControlId::BassWaveform,  "MMSwitch1",  "bass_waveform",  ControlPanel::Bass,  ControlKind::Switch, 0,   1,   0,   "Saw",     "Square", &StepRecord::BassWaveform, -1, FileKnob::None},
    {ControlId::BassAmpSwitch, "MMSlider17", "bass_amp",       ControlPanel::Bass,  ControlKind::Switch, 0,   1,   0,   "Amp",     "Off", &StepRecord::BassAmpSwitch, -1, FileKnob::None},
    {ControlId::TwinTDecay,    "MMWheel8",   "twint_decay",    ControlPanel::TwinT, ControlKind::Knob,   1, 127,  64,   "Decay",   "", &StepRecord::TwinTDecay,   10, FileKnob::None},
    {ControlId::TwinTEnvMod,   "MMWheel10",  "twint_env_mod",  ControlPanel::TwinT, ControlKind::Knob,   0, 127,  10,   "Env mod", "", &StepRecord::TwinTEnvMod,  11, FileKnob::None},
    {ControlId::TwinTVolume,   "MMWheel11",  "twint_volume",   ControlPanel::TwinT, ControlKind::Knob,   0, 127, 127,   "Volume",  "", &StepRecord::TwinTVolume,  12, FileKnob::None},
    {ControlId::NoiseDecay,    "MMWheel12",  "noise_decay",    ControlPanel::Noise, ControlKind::Knob,   1, 127,  64,   "Decay",   "", &StepRecord::NoiseDecay,   20, FileKnob::None},
    {ControlId::NoiseEnvMod,   "MMWheel13",  "noise_env_mod",  ControlPanel::Noise, ControlKind::Knob,   0, 127,  10,   "Env mod", "", &StepRecord::NoiseEnvMod,  21, FileKnob::None},
    {ControlId::NoiseColour,   "MMWheel14",  "noise_colour",   ControlPanel::Noise, ControlKind::Knob,   0, 120, 120,   "Colour",  "", &StepRecord::NoiseColour,  22, FileKnob::None},
    {ControlId::NoiseVolume,   "MMWheel15",  "noise_volume",   ControlPanel::Noise, ControlKind::Knob,   0, 127, 127,   "Volume",  "", &StepRecord::NoiseVolume,  23, FileKnob::None},
    {ControlId::MasterVolume,  "MMWheel6",   "master_volume",  ControlPanel::Lower, ControlKind::Knob,   0, 26125, 26125, "Volume", "", nullptr, -1, FileKnob::Volume},
    {ControlId::Delay,         "MMWheel16",  "delay",          ControlPanel::Lower, ControlKind::Knob,   0,  16,   0,   "Delay",   "", nullptr, -1, FileKnob::Delay},
    {ControlId::Depth,         "MMWheel17",  "depth",          ControlPanel::Lower, ControlKind::Knob,   0, 100,   0,   "Depth",   "", nullptr, -1, FileKnob::Depth},
    {ControlId::Steps,         "SpinEdit971", "steps",         ControlPanel::Lower, ControlKind::Spin,   1,  16,  16,   "Steps",   "", nullptr, -1, FileKnob::Steps},
    {ControlId::Tempo,         "SpinEdit972", "tempo",         ControlPanel::Lower, ControlKind::Spin,  20, 240, 140,   "Tempo",   "", nullptr, -1, FileKnob::Tempo},
    {ControlId::BassAttackContour, "SpinEdit971", "bass_attack_contour", ControlPanel::Envelopes, ControlKind::Spin, 0, 39, 20, "Attack", "", nullptr, -1, FileKnob::BassAttackContour},
    {ControlId::BassDecayContour,  "SpinEdit972", "bass_decay_contour",  ControlPanel::Envelopes, ControlKind::Spin, 0, 40, 20, "Decay",  "", nullptr, -1, FileKnob::BassDecayContour},
    {ControlId::TwinTDecayContour, "SpinEdit973", "twint_decay_contour", ControlPanel::Envelopes, ControlKind::Spin, 0, 39, 20, "Decay",  "", nullptr, -1, FileKnob::TwinTDecayContour},
    {ControlId::NoiseDecayContour, "SpinEdit974", "noise_decay_contour", ControlPanel::Envelopes, ControlKind::Spin, 0, 39, 20, "Decay",  "", nullptr, -1, FileKnob::NoiseDecayContour},
}};
// clang-format on

constexpr const ControlRow& ControlRowOf(ControlId id) { return kControls[static_cast<size_t>(id)]; }
constexpr int32_t ClampToControl(ControlId id, int32_t v) {
    const ControlRow& r = ControlRowOf(id);
    return v < r.Min ? r.Min : (v > r.Max ? r.Max : v);
}

constexpr int kCCSlots = 31; // CCTable slots 0..30: bass 0..9, Twin-T 10..19, noise 20..30

// New value of a slot's knob for controller value v (0..127): v itself, or scaled for the
// knobs whose range is not 0..127 (Resonance, Length, Colour), rounded to nearest.
constexpr int32_t MidiKnobValue(int slot, int32_t v) {
    // x / 127 rounded to nearest is (x + 63) / 127 for x >= 0: x / 127 never ends in exactly
    // one half, since 127 is odd.
    switch (slot) {
    case 3: return (v * 105 + 63) / 127;     // bass Resonance, 0..105
    case 6: return (v * 95 + 63) / 127 + 34; // bass Length, 32..127 (34 from v = 0)
    case 22: return (v * 120 + 63) / 127;    // noise Colour, 0..120
    default: return v;
    }
}

// How a control's value reads to the user while it is turned: a plain number, or a value in
// its units. The Delay knob holds steps but reads as the echo time in milliseconds at the
// tempo shown.
enum class ControlUnit : uint8_t { None, Milliseconds, Percent, Bpm };

constexpr ControlUnit UnitOf(ControlId id) {
    switch (id) {
    case ControlId::Delay: return ControlUnit::Milliseconds;
    case ControlId::Depth: return ControlUnit::Percent;
    case ControlId::Tempo: return ControlUnit::Bpm;
    default: return ControlUnit::None;
    }
}

constexpr const char* UnitSymbol(ControlUnit u) {
    switch (u) {
    case ControlUnit::Milliseconds: return "ms";
    case ControlUnit::Percent: return "%";
    case ControlUnit::Bpm: return "BPM";
    default: return "";
    }
}

// The table is indexed by ControlId.
constexpr bool ControlTableInOrder() {
    for (size_t i = 0; i < kControls.size(); ++i)
        if (static_cast<size_t>(kControls[i].Id) != i) return false;
    for (size_t i = 0; i < kControls.size(); ++i)
        if ((kControls[i].Field != nullptr) != (i < kSoundControlCount)) return false;
    return true;
}
static_assert(ControlTableInOrder(), "kControls rows must follow ControlId, sound controls first");

} // namespace zelvox
