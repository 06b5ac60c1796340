// The arranger's phrase table on the window and the pattern clipboard.

#include "ui/MainForm.h"

namespace zelvox {

void MainForm::SpinPatternChange(int k) {
    const EditScope edit(*this, "Phrase " + std::to_string(k), StepKey(3, k), SynthEdit::Kind::Phrase, k);
    PhraseTable[static_cast<size_t>(k)].Pattern = PhrasePatternSpin(k).Value();
}

void MainForm::SpinCountChange(int k) {
    const EditScope edit(*this, "Phrase " + std::to_string(k) + " count", StepKey(4, k), SynthEdit::Kind::Phrase,
                         k);
    PhraseTable[static_cast<size_t>(k)].Count = PhraseCountSpin(k).Value();
}

// Show the table on the 32 spin edits (after a pattern file was loaded). Values a file brought
// in outside the spin edits' ranges are limited first: a spin edit that already shows the
// limit would not raise its change handler, and the table must never hold what the song
// cannot play.
void MainForm::UpdateArranger() {
    Synth.Seq.ClampPhrases();
    for (int k = 1; k <= kPhraseCount; ++k) {
        const PhraseEntry& e = PhraseTable[static_cast<size_t>(k)];
        PhrasePatternSpin(k).SetValue(e.Pattern);
        PhraseCountSpin(k).SetValue(e.Count);
    }
}

void MainForm::ArrStop() {
    for (int k = 1; k <= kPhraseCount; ++k)
        PhraseLabel(k).SetFontColour(Colours::White);
}

void MainForm::CopyPattern(int32_t pattern) {
    Clipboard.Copy(Store, pattern);
}

void MainForm::PastePattern(int32_t pattern) {
    const EditScope edit(*this, "Paste", 0, SynthEdit::Kind::Pattern, pattern);
    Clipboard.Paste(Store, pattern);
    UpdateDisplay();
}

} // namespace zelvox
