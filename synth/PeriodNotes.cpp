#include "synth/PeriodNotes.h"

#include <algorithm>

#include "synth/PatternSynth.h"

namespace zelvox {

void PeriodNotes::Steps(const PatternSynth& synth, const StepStart* steps, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const StepStart& s = steps[i];
        for (; Written_ < CutCount_ && Cuts_[Written_] <= s.Frame; ++Written_) Out.AllOff(Cuts_[Written_]);
        if (!Out.On()) continue;
        const int32_t pattern = std::clamp(s.Pattern, 0, kPatternSlots - 1);
        Out.Step(s.Frame, synth.Store.Step(pattern, std::clamp(s.Step, 1, kStepsPerPattern)), pattern,
                 synth.Eng.S.StepLength, s.Transpose);
    }
}

void PeriodNotes::End(uint32_t frames) {
    for (; Written_ < CutCount_; ++Written_) Out.AllOff(Cuts_[Written_]);
    Out.EndPeriod(frames);
}

} // namespace zelvox
