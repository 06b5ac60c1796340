#pragma once
// The main window's knobs that MIDI Control Change messages turn, by CCTable slot (the
// control table's CC column), and the controls MIDI learn may turn.

#include "settings/Settings.h"
#include "synth/ControlChange.h"
#include "ui/MidiSetup.h"

namespace zelvox {

class MainForm;
class EnvelopeForm;

// Slots 0-6 bass Attack, Decay, Cut-off, Resonance, Env-Mod, Volume, Length; 10-12 Twin-T
// Decay, Env-Mod, Volume; 20-23 noise Decay, Env-mod, Colour, Volume. Other slots: none.
MidiKnobTable MidiKnobsOf(MainForm& form);

// Every control of the table by ControlId: the main window's, then the envelope dialog's
// contour spin edits.
MidiLearn::Targets LearnTargetsOf(MainForm& form, EnvelopeForm& envelopes);

// A note the MIDI setup's notes-in acted on, played on the main window: a transpose from
// the next step of its sequencer, or the pattern button of that pattern pressed.
void PlayNoteOnForm(MainForm& form, const NoteInAction& note);

} // namespace zelvox
