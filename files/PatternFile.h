#pragma once
// File menu "&Save pattern" and "&Load pattern": the whole song state to and from one
// pattern file. The dialogs belong to the window; these run once a file name was chosen.

#include <string>

#include "files/PatternFileFormat.h"

namespace zelvox {

class MainForm;
class EnvelopeForm;

// Save step 1: the record as the window's controls and tables hold it now.
PatternFileRecord FillSaveRecord(const MainForm& form, const EnvelopeForm& envelopes);

// Save step 3: writes the 27,372-byte record. The file is replaced only once the new one is
// completely on disk; on any failure the previous file is untouched and EInOutError tells why.
void SavePatternFile(const MainForm& form, const EnvelopeForm& envelopes, const std::string& path);

// Load steps 2 to 9: reads the file (for reading only) and applies it through the controls,
// so every change handler runs as for a user edit, in the order of the design. A file that
// cannot be read, or is shorter than one record, raises EInOutError before anything changes.
void LoadPatternFile(MainForm& form, EnvelopeForm& envelopes, const std::string& path);

// Steps 3 to 9 on a record already read.
void ApplyPatternFile(MainForm& form, EnvelopeForm& envelopes, const PatternFileRecord& r);

// Dialog texts.
inline constexpr const char* kSavePatternTitle = "Save Zelvox settings";
inline constexpr const char* kSavePatternFilter =
    "Zelvox settings (*.zvx)|*.zvx|All files (*.*)|*.*";
inline constexpr const char* kSavePatternExt = "zvx";
inline constexpr const char* kLoadPatternTitle = "Load Zelvo settings";
inline constexpr const char* kLoadPatternFilter =
    "Zelvox data files (*.zvx)|*.zvx|All files (*.*)|*.*";
inline constexpr const char* kLoadPatternExt = ".zvx";

} // namespace zelvox
