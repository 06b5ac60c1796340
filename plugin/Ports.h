#pragma once
// The plugin's ports, described once: the plugin's glue reads its control ports by this
// table, and the build writes the bundle's port descriptions from it. The sound controls'
// ports come straight from the control table.

#include <array>
#include <cstdint>

#include "sequencer/ControlTable.h"

namespace zelvox::lv2 {

inline constexpr const char* kUri = "https://zelvox.github.io/lv2/zelvox";
inline constexpr const char* kStereoUri = "https://zelvox.github.io/lv2/zelvox-stereo";
inline constexpr const char* kNs = "https://zelvox.github.io/lv2/zelvox#";
// A property a host shows as a file chooser: the pattern file to load.
inline constexpr const char* kPatternFileUri = "https://zelvox.github.io/lv2/zelvox#patternFile";
// The state: the pattern-file bytes.
inline constexpr const char* kPatternsUri = "https://zelvox.github.io/lv2/zelvox#patterns";
// The MIDI controller table (an atom:Vector of kCCSlots atom:Int, a controller number per
// slot): part of the state, so a project turns its knobs alike on every machine. The window
// sets it with a patch:Set.
inline constexpr const char* kControllersUri = "https://zelvox.github.io/lv2/zelvox#controllers";
// One edit from the window, as what it is (an atom:Chunk of synth/SynthEdit.h's wire bytes),
// with a patch:Set: a control, a step, a pattern or a phrase.
inline constexpr const char* kEditUri = "https://zelvox.github.io/lv2/zelvox#edit";
// Sent on the notify port when a step begins: an object with step and pattern (atom:Int).
inline constexpr const char* kStepStartUri = "https://zelvox.github.io/lv2/zelvox#StepStart";
inline constexpr const char* kStepUri = "https://zelvox.github.io/lv2/zelvox#step";
inline constexpr const char* kPatternUri = "https://zelvox.github.io/lv2/zelvox#pattern";
// Sent on the notify port for the plugin's window: MIDI turned a control (an object with
// control, the ControlId's number, and patch:value, both atom:Int), and the play stopped.
inline constexpr const char* kControlTurnUri = "https://zelvox.github.io/lv2/zelvox#ControlTurn";
inline constexpr const char* kControlUri = "https://zelvox.github.io/lv2/zelvox#control";
inline constexpr const char* kStoppedUri = "https://zelvox.github.io/lv2/zelvox#Stopped";
// The state for the plugin's window on the notify port: an object of this type with
// patch:property zelvox:patterns and patch:value the bytes (atom:Chunk). Not a patch:Set,
// which hosts read as a property of theirs to show and warn of when they do not know it.
inline constexpr const char* kWindowStateUri = "https://zelvox.github.io/lv2/zelvox#WindowState";

// What a control port does.
enum class PortRole : uint8_t {
    Control,     // turns a synth control (Id)
    Pattern,     // the pattern to play, 1..16
    Song,        // song (arranger) on or off
    Run,         // run or stop when the host has no transport
    FreeTempo,   // the tempo when the host gives none
    MidiChannel, // 0 every channel, else the channel 1..16
    StepClock,   // 0 the host's grid, 1 the synth's own clock
    EditMode,    // 0 all notes, 1 the selected note
    EditStep,    // the step the sound controls edit in selected-note mode
};

struct ScalePoint {
    float Value;
    const char* Label;
};

struct PortInfo {
    const char* Symbol;
    const char* Name;
    PortRole Role;
    ControlId Id; // for PortRole::Control
    float Min, Max, Default;
    bool Toggle;
    const char* Unit; // an LV2 units term ("bpm", "pc"), or null
    std::array<ScalePoint, 2> Points; // up to two; an empty label ends them
};

// Ports 0.. : audio out (and out right in the stereo plugin's last port), control, notify.
constexpr uint32_t kOutPort = 0;
constexpr uint32_t kControlPort = 1;
constexpr uint32_t kNotifyPort = 2;
constexpr uint32_t kFirstControlPort = 3;

// clang-format off
inline constexpr std::array<PortInfo, 10> kPanelPorts = {{
    {"volume",    "Volume",            PortRole::Control, ControlId::MasterVolume, 0, 26125, 26125, false, nullptr, {}},
    {"delay",     "Echo delay (steps)", PortRole::Control, ControlId::Delay, 0, 16, 0, false, nullptr, {{{0, "Off"}}}},
    {"depth",     "Echo depth",        PortRole::Control, ControlId::Depth, 0, 100, 0, false, "pc", {}},
    {"steps",     "Steps",             PortRole::Control, ControlId::Steps, 1, 16, 16, false, nullptr, {}},
    {"tempo",     "Tempo (without host tempo)", PortRole::FreeTempo, ControlId::Tempo, 20, 240, 140, false, "bpm", {}},
    {"pattern",   "Pattern",           PortRole::Pattern, ControlId::Tempo, 1, 16, 1, false, nullptr, {}},
    {"song",      "Song (arranger)",   PortRole::Song, ControlId::Tempo, 0, 1, 0, true, nullptr, {}},
    {"run",       "Run (without host transport)", PortRole::Run, ControlId::Tempo, 0, 1, 0, true, nullptr, {}},
    {"midi_channel", "MIDI channel",   PortRole::MidiChannel, ControlId::Tempo, 0, 16, 0, false, nullptr, {{{0, "All channels"}}}},
    {"step_clock", "Step clock",       PortRole::StepClock, ControlId::Tempo, 0, 1, 0, false, nullptr, {{{0, "Host grid"}, {1, "Synth clock"}}}},
}};
inline constexpr std::array<PortInfo, 2> kEditPorts = {{
    {"edit_mode", "Knobs edit",        PortRole::EditMode, ControlId::Tempo, 0, 1, 0, false, nullptr, {{{0, "All notes"}, {1, "Selected note"}}}},
    {"edit_step", "Selected step",     PortRole::EditStep, ControlId::Tempo, 1, 16, 1, false, nullptr, {}},
}};
// clang-format on

// Then one port per sound control, in control-table order.
constexpr uint32_t kControlPortCount =
    static_cast<uint32_t>(kPanelPorts.size() + kEditPorts.size() + kSoundControlCount);
constexpr uint32_t kMonoPortCount = kFirstControlPort + kControlPortCount;
constexpr uint32_t kRightPort = kMonoPortCount; // the stereo plugin's second output
// The last port of each: the delay of the sound in frames at the host's rate (0 at 44,100 Hz),
// which a host compensates.
constexpr uint32_t LatencyPort(bool stereo) {
    return stereo ? kRightPort + 1 : kMonoPortCount;
}
// After it, swing: 0..75 % of a step by which every second sixteenth comes late (0 straight,
// the default). Last, so that every earlier port keeps its number in saved projects.
constexpr uint32_t SwingPort(bool stereo) {
    return LatencyPort(stereo) + 1;
}
// After swing: the sequence as MIDI notes (an atom:Sequence of midi:MidiEvent), then the
// control ports that switch them on and choose their channels and drum notes. Appended for
// the same reason.
constexpr uint32_t NotesOutPort(bool stereo) {
    return SwingPort(stereo) + 1;
}
// clang-format off
inline constexpr std::array<PortInfo, 6> kNotesPorts = {{
    {"notes_out",           "MIDI notes out",        PortRole::Control, ControlId::Tempo, 0, 1, 0, true, nullptr, {}},
    {"notes_bass_channel",  "Notes: bass channel",   PortRole::Control, ControlId::Tempo, 1, 16, 1, false, nullptr, {}},
    {"notes_twint_channel", "Notes: Twin-T channel", PortRole::Control, ControlId::Tempo, 1, 16, 10, false, nullptr, {}},
    {"notes_noise_channel", "Notes: noise channel",  PortRole::Control, ControlId::Tempo, 1, 16, 10, false, nullptr, {}},
    {"notes_twint_note",    "Notes: Twin-T note",    PortRole::Control, ControlId::Tempo, 0, 127, 36, false, nullptr, {}},
    {"notes_noise_note",    "Notes: noise note",     PortRole::Control, ControlId::Tempo, 0, 127, 42, false, nullptr, {}},
}};
// clang-format on
constexpr uint32_t NotesControlPort(bool stereo, uint32_t i) {
    return NotesOutPort(stereo) + 1 + i;
}
// After them, MIDI notes in (on the control port's MIDI): notes on a channel transpose the
// bass from the next step by their distance from a root note, and sixteen notes from a first
// note choose patterns 1..16. Both off by default; appended for the same reason.
// clang-format off
inline constexpr std::array<PortInfo, 5> kNotesInPorts = {{
    {"notes_transpose",     "Notes in: transpose",      PortRole::Control, ControlId::Tempo, 0, 1, 0, true, nullptr, {}},
    {"notes_in_channel",    "Notes in: channel",        PortRole::Control, ControlId::Tempo, 1, 16, 1, false, nullptr, {}},
    {"notes_root",          "Notes in: root note",      PortRole::Control, ControlId::Tempo, 0, 127, 60, false, nullptr, {}},
    {"notes_patterns",      "Notes in: choose patterns", PortRole::Control, ControlId::Tempo, 0, 1, 0, true, nullptr, {}},
    {"notes_first_pattern", "Notes in: pattern 1 note", PortRole::Control, ControlId::Tempo, 0, 112, 36, false, nullptr, {}},
}};
// clang-format on
constexpr uint32_t NotesInPort(bool stereo, uint32_t i) {
    return NotesControlPort(stereo, static_cast<uint32_t>(kNotesPorts.size())) + i;
}

// What control port number i is (0-based among the control ports).
inline PortInfo ControlPortInfo(uint32_t i) {
    if (i < kPanelPorts.size()) return kPanelPorts[i];
    i -= static_cast<uint32_t>(kPanelPorts.size());
    if (i < kEditPorts.size()) return kEditPorts[i];
    i -= static_cast<uint32_t>(kEditPorts.size());
    const ControlRow& row = kControls[i];
    PortInfo p{row.RoleName, row.Caption, PortRole::Control, row.Id,
               static_cast<float>(row.Min), static_cast<float>(row.Max),
               static_cast<float>(row.Start), false, nullptr, {}};
    if (row.Kind == ControlKind::Switch)
        p.Points = {{{0, row.BottomCaption}, {1, row.Caption}}};
    return p;
}

// The panel a sound control sits on, for its port's name.
inline const char* VoiceName(ControlPanel panel) {
    switch (panel) {
    case ControlPanel::Bass: return "Bass";
    case ControlPanel::TwinT: return "Twin-T";
    case ControlPanel::Noise: return "Noise";
    default: return "";
    }
}

} // namespace zelvox::lv2
