#include "sequencer/Sequencer.h"

#include <algorithm>

namespace zelvox {

Sequencer::Sequencer(Engine& engine) : Eng_(engine) {}

void Sequencer::SeqStep() {
    EngineState& s = Eng_.S;
    s.SampleCount = 0;
    s.PrevStep = s.CurStep;
    s.CurStep = s.NextStep;
    if (s.CurStep >= Steps) {
        s.NextStep = 1;
        SeqDone();
    } else {
        s.NextStep = s.CurStep + 1;
    }
    if (Listener_) Listener_->StepAdvanced(s.PrevStep, s.CurStep);
    Eng_.GetOsc1Params();
    if (Listener_) Listener_->StepLoaded();
}

void Sequencer::SeqDone() {
    if (Eng_.S.ArrangerMode) {
        SongPatternEnd();
        return;
    }
    if (QueuedPattern != PlayPattern) {
        PlayPattern = QueuedPattern;
        if (Listener_) Listener_->PatternChanged();
    }
}

bool Sequencer::Start() {
    EngineState& s = Eng_.S;
    s.CurStep = 1;
    s.NextStep = 2;
    s.PrevStep = Steps;
    if (s.ArrangerMode) {
        if (!SongStart()) return false;
    } else {
        QueuedPattern = PlayPattern;
    }
    s.Playing = true;
    s.SampleCount = 0;
    Eng_.GetOsc1Params();
    if (Listener_) Listener_->StepLoaded();
    return true;
}

void Sequencer::Retime() {
    EngineState& s = Eng_.S;
    if (Steps <= s.CurStep) {
        s.CurStep = 1;
        s.NextStep = 2;
        s.PrevStep = Steps;
    }
    s.StepLength = StepLengthForTempo(Tempo);
}

bool Sequencer::ChoosePattern(int32_t n) {
    if (Eng_.S.Playing) {
        QueuedPattern = n; // taken over when the last step of the current pass begins
        return false;
    }
    PlayPattern = n;
    return true;
}

void Sequencer::ClampPhrases() {
    for (int k = 1; k <= kPhraseCount; ++k) {
        PhraseEntry& e = Phrases[static_cast<size_t>(k)];
        e.Pattern = std::clamp(e.Pattern, 0, kPhrasePatternMax);
        e.Count = std::clamp(e.Count, 0, kPhraseCountMax);
    }
}

// False when phrase 1 has nothing to play.
bool Sequencer::SongStart() {
    PhraseIndex = 1;
    if (Listener_) Listener_->PhraseStarted(1);
    const PhraseEntry& e = Phrases[1];
    PlayPattern = std::clamp(e.Pattern, 0, kPhrasePatternMax);
    RepeatsLeft = std::clamp(e.Count, 0, kPhraseCountMax);
    return PlayPattern != 0 && RepeatsLeft != 0;
}

// The last step of a pass begins. A count of 0 on a later phrase runs the counter below zero
// (wrapping as a 32-bit counter), so that phrase repeats until Stop.
void Sequencer::SongPatternEnd() {
    auto end = [this] {
        if (Listener_)
            Listener_->SongEnded();
        else
            Stop();
    };
    RepeatsLeft = static_cast<int32_t>(static_cast<uint32_t>(RepeatsLeft) - 1u);
    if (RepeatsLeft == 0) {
        ++PhraseIndex;
        if (PhraseIndex > kPhraseCount) {
            // Phrase 16 ran out: there is no next phrase, so the song ends as at a phrase
            // with pattern 0.
            PhraseIndex = kPhraseCount;
            PlayPattern = 0;
            end();
            return;
        }
        const PhraseEntry& e = Phrases[static_cast<size_t>(PhraseIndex)];
        PlayPattern = std::clamp(e.Pattern, 0, kPhrasePatternMax);
        if (PlayPattern == 0) {
            end();
            return;
        }
        RepeatsLeft = std::clamp(e.Count, 0, kPhraseCountMax);
        if (Listener_) Listener_->PhraseStarted(PhraseIndex);
    }
    if (PlayPattern == 0) end();
}

} // namespace zelvox
