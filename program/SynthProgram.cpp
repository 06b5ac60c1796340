#include "program/SynthProgram.h"

#include "files/PatternFileFormat.h"

namespace zelvox {

SynthProgram::SynthProgram() { Synth.Seq.SetListener(this); }

SynthProgram::~SynthProgram() { Synth.Seq.SetListener(nullptr); }

void SynthProgram::Load(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadPatternFileBytes(path);
    Synth.LoadState(bytes.data(), bytes.size());
}

void SynthProgram::Save(const std::string& path) const { WriteFileReplacing(path, Synth.SaveState()); }

void SynthProgram::ChoosePattern(int32_t n) {
    // While playing it is taken over at the pattern end, as the window's button does it.
    if (!Synth.Seq.ChoosePattern(n < 1 ? 1 : n > 16 ? 16 : n)) return;
    Synth.EditStep = 1;
    ShowPattern();
}

void SynthProgram::ShowPattern() {
    // A knob that cannot show a step's value would write its limit back: keep the patterns.
    const PatternStore before = Synth.Store;
    const bool mode = Synth.SelectedNoteMode;
    Synth.SelectedNoteMode = true;
    Synth.ShowEditStep();
    Synth.SelectedNoteMode = mode;
    Synth.Store = before;
}

void SynthProgram::Play(bool arranger) {
    if (arranger) EnterSong();
    if (!Synth.Seq.Start()) {
        Stop(); // the song has nothing to play
        return;
    }
    if (Output_) Output_->Start();
}

void SynthProgram::EnterSong() {
    Stop();
    Synth.Seq.SetSongMode(true);
}

void SynthProgram::Stop() {
    Synth.Seq.Stop();
    if (Output_) Output_->Stop();
}

} // namespace zelvox
