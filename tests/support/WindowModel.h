#pragma once
// A main window's model with the synth it edits, for tests that need no more of the program.

#include "synth/PatternSynth.h"
#include "ui/MainForm.h"

namespace zelvox::test {

struct WindowModel {
    PatternSynth Synth{PatternSynth::WindowStartsIt{}};
    MainForm Form{Synth};
};

} // namespace zelvox::test
