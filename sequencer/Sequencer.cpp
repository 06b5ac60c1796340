#include "sequencer/Sequencer.h"

#include <algorithm>
#include <cstdint>

namespace zelvox {

Sequencer::Sequencer(Engine& engine) : Eng_(engine) {}

void Sequencer::SeqStep() {
    EngineState& s = Eng_.S;
    s.SampleCount = 0;
    ++StepIndex_;
    ApplySwing();
    s.PrevStep = s.CurStep;
    s.CurStep = s.NextStep;
    if (s.CurStep >= Steps) {
        s.NextStep = 1;
        SeqDone();
    } else {
        s.NextStep = s.CurStep + 1;
    }
    if (Listener_) Listener_->StepAdvanced(s.PrevStep, s.CurStep);
    LoadStep();
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
    StepIndex_ = 0;
    ApplySwing();
    LoadStep();
    return true;
}

bool Sequencer::Locate(uint64_t step) {
    EngineState& s = Eng_.S;
    const auto steps = static_cast<uint64_t>(std::clamp(Steps, 1, 16));
    // A pass ends (SeqDone) when its last step begins: step indexes steps-1, 2*steps-1, ...
    // Start always queues step 2 next, so a one-step pattern ends its passes at 1, 2, 3 ...
    // and plays step 2 once.
    uint64_t passEnds = steps == 1 ? step : (step + 1) / steps;
    if (!s.ArrangerMode) {
        if (passEnds > 0 && QueuedPattern != PlayPattern) {
            PlayPattern = QueuedPattern;
            if (Listener_) Listener_->PatternChanged();
        }
    } else {
        while (passEnds > 0) {
            // Passes that only count a phrase down are skipped in one go; the pass that
            // moves the song on runs as the clock runs it.
            const auto left = static_cast<uint32_t>(RepeatsLeft);
            if (left > 1 && passEnds > 1) {
                const uint64_t skip = std::min<uint64_t>(passEnds - 1, left - 1u);
                RepeatsLeft = static_cast<int32_t>(left - static_cast<uint32_t>(skip));
                passEnds -= skip;
                continue;
            }
            SongPatternEnd();
            --passEnds;
            if (!s.Playing || PlayPattern == 0) {
                s.Playing = false;
                return false;
            }
        }
    }
    if (step == 0) {
        // Where Start left it.
    } else if (steps == 1) {
        s.PrevStep = step == 1 ? 1 : (step == 2 ? 2 : 1);
        s.CurStep = step == 1 ? 2 : 1;
        s.NextStep = 1;
    } else {
        const auto at = static_cast<int32_t>(step % steps) + 1;
        s.CurStep = at;
        s.NextStep = at >= Steps ? 1 : at + 1;
        s.PrevStep = at == 1 ? Steps : at - 1;
    }
    s.SampleCount = 0;
    StepIndex_ = step;
    ApplySwing();
    LoadStep();
    return true;
}

// The step now beginning is loaded with the transpose asked for by then.
void Sequencer::LoadStep() {
    Eng_.S.BassTranspose = PendingTranspose_;
    Eng_.GetOsc1Params();
    if (Listener_) Listener_->StepLoaded();
}

void Sequencer::SetTranspose(int32_t semitones) {
    PendingTranspose_ = std::clamp(semitones, -127, 127);
}

void Sequencer::SetSwing(int32_t percent) {
    Swing_ = std::clamp(percent, 0, kMaxSwing);
    ApplySwing();
}

int32_t Sequencer::SwingDelay() const {
    // Whole samples, rounded to nearest: percent x (StepLength + 1) / 100 in 64-bit integers,
    // so the same on every machine. Below the step's length at 75 %, so the off-beat step
    // keeps at least a quarter of it.
    const int64_t step = std::max<int64_t>(int64_t{Eng_.S.StepLength} + 1, 1);
    return static_cast<int32_t>(std::min<int64_t>((Swing_ * step + 50) / 100, INT32_MAX / 2));
}

// The step now beginning lasts longer by the delay when the next one is off the beat, and
// shorter by it when it is the off-beat one itself.
void Sequencer::ApplySwing() {
    const int32_t d = Swing_ == 0 ? 0 : SwingDelay();
    Eng_.S.SwingShift = (StepIndex_ & 1u) == 0 ? d : -d;
}

void Sequencer::Retime() {
    EngineState& s = Eng_.S;
    if (Steps <= s.CurStep) {
        s.CurStep = 1;
        s.NextStep = 2;
        s.PrevStep = Steps;
    }
    s.StepLength = StepLengthForTempo(Tempo);
    ApplySwing();
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
