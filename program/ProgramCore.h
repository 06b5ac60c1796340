#pragma once
// What every build of the program is made of, whatever plays it: the program's synth, the
// main window's model and the envelope dialog's that edit it, started in the program's order,
// with the File menu's pattern commands. The desktop program, zelvox-render and its --play
// are each one of these plus an output: the sound device with the window's chain, or the
// same chain ending in an offline pull loop.

#include <functional>
#include <string>

#include "program/PatternFileCommands.h"
#include "ui/EnvelopeForm.h"
#include "ui/MainForm.h"

namespace zelvox {

class ProgramCore {
public:
    ProgramCore() {
        Envelopes.SetSynth(&Synth);
        // The contours are saved with the patterns: a change is an undo step, and undo sets
        // them through the dialog's spin edits.
        Form.OuterControl = [this](ControlId id) { return Envelopes.ControlFor(id); };
        for (int c = 0; c < 4; ++c) {
            const auto id = ControlId(int(ControlId::BassAttackContour) + c);
            ValueControl& spin = *Envelopes.ControlFor(id);
            spin.OnChange = [this, id, change = spin.OnChange] {
                const MainForm::EditScope edit(Form, MainForm::EditName(id), 1 | uint64_t(id) << 8,
                                               SynthEdit::Kind::Control, int32_t(id));
                if (change) change();
            };
        }
    }
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // The program's synth, and the two windows' models that edit it.
    PatternSynth Synth{PatternSynth::WindowStartsIt{}};
    MainForm Form{Synth};
    EnvelopeForm Envelopes;

    // Start-up, once the output's chain is attached to Form: the main window's creation,
    // then `between` (the audio setup dialog, and a desktop program's windows), then the
    // envelope dialog's, which builds the four curve tables.
    void StartUp(const std::function<void()>& between = {}) {
        Form.FormCreate();
        if (between) between();
        Envelopes.FormCreate();
        Form.ClearHistory(); // start-up is not an edit
    }

    // Pattern button n (1..16) on the Bass page, as the window's click: the pattern to play
    // and edit, its step 1 shown on the notes and knobs (in "All Notes" mode a knob that
    // changes writes its value into every step, as in the window).
    void PressPatternButton(int n) { Form.LEDButtonClick(n); }

    // What to render or play: pattern n (1..16) from its step 1, shown as its button shows it.
    // Unlike the click in "All Notes" mode no step changes (nor does one a knob could not
    // show and would write its limit into).
    void ChoosePattern(int n) {
        const PatternStore before = Form.Synth.Store;
        const bool mode = Form.SelectedNoteMode;
        Form.SelectedNoteMode = true;
        Form.LEDButtonClick(n);
        Form.SelectedNoteMode = mode;
        Form.Synth.Store = before;
    }

    // File -> "Load pattern" with this file chosen. EInOutError on failure, nothing changed.
    // One undo step "Load pattern".
    void LoadPattern(const std::string& path) {
        const MainForm::EditScope edit(Form, "Load pattern", 0);
        LoadPatternFile(Form, Envelopes, path);
    }
    // File -> "Save pattern": the record is taken when the command starts (before its file
    // chooser), then written to the chosen file, replacing it. EInOutError on failure.
    PatternFileRecord PatternRecord() const { return CollectPatternFile(Form, Envelopes); }
    static void SavePattern(const PatternFileRecord& record, const std::string& path) {
        WriteFileReplacing(path, EncodePatternFile(record));
    }
};

} // namespace zelvox
