#pragma once
// The main window's knobs that MIDI Control Change messages turn, by CCTable slot (the
// control table's CC column).

#include "ui/MidiSetup.h"

namespace zelvox {

class MainForm;

// Slots 0-6 bass Attack, Decay, Cut-off, Resonance, Env-Mod, Volume, Length; 10-12 Twin-T
// Decay, Env-Mod, Volume; 20-23 noise Decay, Env-mod, Colour, Volume. Other slots: none.
MidiKnobTable MidiKnobsOf(MainForm& form);

} // namespace zelvox
