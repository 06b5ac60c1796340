// The arranger (phrase table, song start, pattern ends) and the pattern clipboard.

#include "ui/MainForm.h"

namespace zelvox {

namespace {
int32_t ClampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }
} // namespace

// ---- Phrase table ----

void MainForm::SpinPatternChange(int k) {
    PhraseTable[static_cast<size_t>(k)].Pattern = PhrasePatternSpin(k).Value();
}

void MainForm::SpinCountChange(int k) {
    PhraseTable[static_cast<size_t>(k)].Count = PhraseCountSpin(k).Value();
}

// Show the table on the 32 spin edits (after a pattern file was loaded). Values a file brought
// in outside the spin edits' ranges are limited first: a spin edit that already shows the
// limit would not raise its change handler, and the table must never hold what the song
// cannot play.
void MainForm::UpdateArranger() {
    for (int k = 1; k <= kPhraseCount; ++k) {
        PhraseEntry& e = PhraseTable[static_cast<size_t>(k)];
        e.Pattern = ClampTo(e.Pattern, 0, kPhrasePatternMax);
        e.Count = ClampTo(e.Count, 0, kPhraseCountMax);
    }
    for (int k = 1; k <= kPhraseCount; ++k) {
        const PhraseEntry& e = PhraseTable[static_cast<size_t>(k)];
        PhrasePatternSpin(k).SetValue(e.Pattern);
        PhraseCountSpin(k).SetValue(e.Count);
    }
}

void MainForm::ArrStop() {
    for (int k = 1; k <= kPhraseCount; ++k) PhraseLabel(k).SetFontColour(Colours::White);
}

// ---- Song ----

// Song start: false when phrase 1 has nothing to play (the caller then stops).
bool MainForm::SongStart() {
    PhraseIndex = 1;
    PhraseLabel(1).SetFontColour(Colours::Aqua);
    const PhraseEntry& e = PhraseTable[1];
    PlayPattern = ClampTo(e.Pattern, 0, kPhrasePatternMax);
    RepeatsLeft = ClampTo(e.Count, 0, kPhraseCountMax);
    return PlayPattern != 0 && RepeatsLeft != 0;
}

// The last step of a pass begins. A count of 0 on a later phrase runs the counter below zero
// (wrapping as a 32-bit counter), so that phrase repeats until Stop.
void MainForm::SongPatternEnd() {
    RepeatsLeft = static_cast<int32_t>(static_cast<uint32_t>(RepeatsLeft) - 1u);
    if (RepeatsLeft == 0) {
        ++PhraseIndex;
        if (PhraseIndex > kPhraseCount) {
            // Phrase 16 ran out: there is no next phrase, so the song ends as at a phrase
            // with pattern 0.
            PhraseIndex = kPhraseCount;
            PlayPattern = 0;
            Button2Click();
            return;
        }
        const PhraseEntry& e = PhraseTable[static_cast<size_t>(PhraseIndex)];
        PlayPattern = ClampTo(e.Pattern, 0, kPhrasePatternMax);
        if (PlayPattern == 0) {
            Button2Click();
            return;
        }
        RepeatsLeft = ClampTo(e.Count, 0, kPhraseCountMax);
        PhraseLabel(PhraseIndex).SetFontColour(Colours::Aqua);
    }
    if (PlayPattern == 0) Button2Click();
}

// ---- Clipboard ----

void MainForm::CopyPattern(int32_t pattern) {
    const int32_t p = ClampPattern(pattern);
    for (int s = 1; s <= kStepsPerPattern; ++s)
        PatternClipboard[static_cast<size_t>(s - 1)] = Store.Step(p, s);
}

void MainForm::PastePattern(int32_t pattern) {
    const int32_t p = ClampPattern(pattern);
    for (int s = 1; s <= kStepsPerPattern; ++s)
        Store.Step(p, s) = PatternClipboard[static_cast<size_t>(s - 1)];
    UpdateDisplay();
}

} // namespace zelvox
