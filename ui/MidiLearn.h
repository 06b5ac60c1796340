#pragma once
// MIDI learn: any knob or spin edit can be given a Control Change controller of its own. The
// user chooses "Learn MIDI controller" on the control's context menu and moves a controller;
// from then on that controller on that channel turns the control, its 0..127 scaled onto the
// control's range. The learned map lives beside the MIDI setup's fixed controller table and
// changes nothing about it.
//
// One controller turns one control and one control follows one controller: learning a
// controller for a control replaces the control's old one, and a controller learned for a
// second control leaves the first.
//
// The map is saved in the settings file at once, section "[MIDI Learn]", one key per control
// role name with the value "channel,cc" (channel 1..16, controller 0..127); an empty value
// means none. Controllers 120..127 (the channel mode messages) are never learned.
//
// LearnMap and LearnLookup are plain values: a copy can be handed to another thread (a MIDI
// reader in an audio callback), and LearnedValue is a pure function.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "sequencer/ControlTable.h"
#include "synth/ControlChange.h"
#include "ui/Controls.h"

namespace zelvox {

// A control's learned controller: channel 0..15 (shown as 1..16) and controller number.
struct LearnedCc {
    int8_t Channel = -1; // -1: none learned
    int8_t Cc = -1;
    bool Mapped() const { return Channel >= 0 && Cc >= 0; }
    bool operator==(const LearnedCc&) const = default;
};

// The learned controller of every control, indexed by ControlId.
using LearnMap = std::array<LearnedCc, kControlCount>;

LearnLookup LookupOf(const LearnMap& map);

// The settings text of a learned controller, "channel,cc" with channel 1..16; "" for none.
std::string LearnedCcText(const LearnedCc& c);
// Reads such a text; false for anything else (blanks around the numbers are allowed).
bool ParseLearnedCc(const std::string& text, LearnedCc& out);

// A control's name for the user, with its voice where the caption alone is ambiguous:
// "Bass Cut-off", "Twin-T Decay", "Master Volume", "Tempo", "Noise Decay contour".
std::string LearnName(ControlId id);

class MidiLearn : public Control {
public:
    static constexpr const char* kSection = "MIDI Learn";
    using Targets = std::array<ValueControl*, kControlCount>; // null: not on any window

    explicit MidiLearn(const TSettingsFile& settings) : Control("MidiLearn"), Settings_(settings) {}

    // The controls the map turns. A learned control with no target keeps its entry.
    void SetTargets(const Targets& targets) { Targets_ = targets; }
    ValueControl* TargetOf(ControlId id) const { return Targets_[size_t(id)]; }
    // Reads the map from the settings file; unreadable entries are left out (and left in
    // the file), and a controller named twice goes to the first control in table order.
    void Load();

    // The context menu's "Learn MIDI controller" on control `id`: starts learning for it;
    // chosen again while it waits, it cancels. Another control waiting is replaced.
    void LearnClick(ControlId id);
    void Cancel(); // Escape: stop waiting, nothing learned
    std::optional<ControlId> Pending() const { return Pending_; }

    // Every MIDI message received (the MIDI setup passes each one). A Control Change ends a
    // pending learn; then the message turns the control learned for its controller, if
    // any. Returns true when the message was learned.
    bool HandleMessage(uint8_t status, uint8_t data1, uint8_t data2);

    // Forget one control's controller, or all of them (saved at once).
    void Clear(ControlId id);
    void ClearAll();

    const LearnMap& Map() const { return Map_; }
    const LearnLookup& Lookup() const { return Lookup_; }

    // What the status bar shows: "Move a controller for Bass Cut-off ..." while waiting;
    // after a learn "Bass Cut-off: channel 1, CC 74"; a settings write failure; else "".
    const std::string& StatusText() const { return Status_; }
    // One line per learned control, in table order: "Bass Cut-off: channel 1, CC 74".
    struct Entry {
        ControlId Id;
        std::string Text;
    };
    std::vector<Entry> Entries() const;

private:
    void Assign(ControlId id, LearnedCc cc); // in memory, lookup rebuilt
    void Save(ControlId id);                 // one key; a failure goes to the status text
    void SetStatus(std::string text);

    const TSettingsFile& Settings_;
    Targets Targets_{};
    LearnMap Map_{};
    LearnLookup Lookup_ = LookupOf(LearnMap{});
    std::optional<ControlId> Pending_;
    std::string Status_;
};

} // namespace zelvox
