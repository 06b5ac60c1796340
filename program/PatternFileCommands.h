#pragma once
// "&Save pattern" and "&Load pattern" on the window's controls: what goes into a pattern file
// record and how a record read back is applied (knobs, spin edits and envelope contours are
// set through their controls, so their change handlers run as for a user's edit). The file
// chooser is the caller's; these take the chosen file name.

#include <string>

#include "files/PatternFileFormat.h"

namespace zelvox {

class MainForm;
class EnvelopeForm;

// The record of the current song state (slot 0 and phrase 0 stay zero).
PatternFileRecord CollectPatternFile(const MainForm& form, const EnvelopeForm& envelopes);

// Applies a record read from a file, in the load order: per pattern its steps, the master
// Volume, Delay and Depth knobs, Steps and Tempo, the four contours and the phrase; then
// with "Selected Note" in force the phrase spin edits, pattern 1 on the sliders and the knobs
// from its edit step; then the edit mode in force before the load is restored.
void ApplyPatternFile(MainForm& form, EnvelopeForm& envelopes, const PatternFileRecord& record);

// Save: the record written to `path` (replacing the file). Throws EInOutError.
void SavePatternFile(const MainForm& form, const EnvelopeForm& envelopes, const std::string& path);
// Load: reads `path` whole first, so a failure (EInOutError) changes nothing.
void LoadPatternFile(MainForm& form, EnvelopeForm& envelopes, const std::string& path);

} // namespace zelvox
