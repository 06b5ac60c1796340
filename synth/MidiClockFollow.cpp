#include "synth/MidiClockFollow.h"

#include <algorithm>
#include <cmath>

#include "synth/MidiClockMessages.h"

namespace zelvox {

namespace {
using namespace midiclock;
} // namespace

// ---- ClockTempo ----

void ClockTempo::Reset() {
    Next_ = 0;
    Count_ = 0;
    Sum_ = 0.0;
    Held_ = 0.0;
}

void ClockTempo::Push(double frames) {
    if (Count_ == kWindow) {
        Sum_ -= Ring_[Next_];
    } else {
        ++Count_;
    }
    Ring_[Next_] = frames;
    Sum_ += frames;
    Next_ = (Next_ + 1) % kWindow;
    if (Next_ == 0) {
        // Summed afresh once a round, so that rounding never builds up.
        Sum_ = 0.0;
        for (size_t i = 0; i < Count_; ++i)
            Sum_ += Ring_[i];
    }
}

void ClockTempo::Interval(double frames) {
    if (!(frames >= 0.0) || frames > kPause) {
        Held_ = 0.0;
        return;
    }
    if (Count_ == 0) {
        Push(frames);
        return;
    }
    const double mean = FramesPerPulse();
    const double slack = kJump * mean;
    if (std::fabs(frames - mean) <= slack) {
        Held_ = 0.0;
        Push(frames);
        return;
    }
    if (Held_ > 0.0) {
        const double held = Held_;
        Held_ = 0.0;
        if (std::fabs(held + frames - 2.0 * mean) <= slack) {
            // A late pulse and the next one on time again: together two intervals.
            Push(held);
            Push(frames);
            return;
        }
        if (std::fabs(frames - held) <= kJump * held) {
            // Two alike, both away from the mean: the tempo changed.
            Reset();
            Push(held);
            Push(frames);
            return;
        }
    }
    Held_ = frames > 0.0 ? frames : 0.0;
}

// ---- MidiClockFollow ----

MidiClockFollow::MidiClockFollow(PatternSynth& synth) : Synth_(synth) {}

void MidiClockFollow::SetFollowing(bool on) {
    QueueCount_ = 0;
    Running_ = false;
    StartPending_ = false;
    NextPulse_ = 0;
    HasPulse_ = false;
    Tempo_.Reset();
    Following_ = on;
    if (on) {
        Synth_.Stop();
        StepLength_ = std::max(Synth_.Eng.S.StepLength, 1);
        Synth_.SetExternalStepClock(true, StepLength_);
    } else {
        Synth_.SetExternalStepClock(false);
    }
}

double MidiClockFollow::Bpm() const {
    const double fpp = Tempo_.FramesPerPulse();
    return fpp > 0.0 ? 60.0 * kSampleRate / (kPulsesPerBeat * fpp) : 0.0;
}

bool MidiClockFollow::Message(uint32_t frameInBlock, const uint8_t* msg, size_t size) {
    if (!Following_ || msg == nullptr || size == 0) return false;
    Queued q{frameInBlock, msg[0], 0};
    switch (msg[0]) {
    case kClock:
    case kStart:
    case kContinue:
    case kStop:
        break;
    case kSongPosition:
        if (size < 3 || ((msg[1] | msg[2]) & 0x80) != 0) return false;
        q.Position = static_cast<uint16_t>(msg[1] | (msg[2] << 7));
        break;
    default:
        return false;
    }
    if (QueueCount_ >= kMaxMessages) {
        ++Dropped_;
        return false;
    }
    Queue_[QueueCount_++] = q;
    return true;
}

void MidiClockFollow::Render(int16_t* out, uint32_t frames) {
    StartCount_ = 0;
    uint32_t pos = 0;
    const uint32_t last = frames > 0 ? frames - 1 : 0;
    for (size_t i = 0; i < QueueCount_; ++i) {
        const uint32_t at = std::clamp(Queue_[i].Frame, pos, std::max(pos, last));
        if (at > pos) {
            RenderSpan(out, pos, at);
            pos = at;
        }
        Apply(Queue_[i], pos);
    }
    QueueCount_ = 0;
    if (pos < frames) RenderSpan(out, pos, frames);
}

void MidiClockFollow::RenderSpan(int16_t* out, uint32_t from, uint32_t to) {
    while (from < to) {
        uint32_t n = to - from;
        if (SwungPending_) {
            if (SwungAt_ <= Frame_) {
                BeginSwungStep(from);
                continue;
            }
            n = static_cast<uint32_t>(std::min<uint64_t>(n, SwungAt_ - Frame_));
        }
        Synth_.Render(out + from, n);
        Frame_ += n;
        from += n;
    }
}

void MidiClockFollow::BeginSwungStep(uint32_t frame) {
    SwungPending_ = false;
    if (!Synth_.Playing()) return;
    Synth_.BeginStep();
    if (Synth_.Playing()) Record(frame);
}

void MidiClockFollow::Apply(const Queued& m, uint32_t frame) {
    if (m.Status != kClock) SwungPending_ = false; // the transport moves: no late step is due
    switch (m.Status) {
    case kClock:
        Pulse(frame);
        break;
    case kStart:
        Running_ = true;
        NextPulse_ = 0;
        StartPending_ = true;
        break;
    case kContinue:
        if (!Running_) {
            Running_ = true;
            StartPending_ = true;
        }
        break;
    case kStop:
        Running_ = false;
        StartPending_ = false;
        Synth_.Stop();
        break;
    case kSongPosition:
        NextPulse_ = uint64_t{m.Position} * kPulsesPerStep;
        if (Running_) StartPending_ = true;
        break;
    default:
        break;
    }
}

void MidiClockFollow::Pulse(uint32_t frame) {
    if (HasPulse_) {
        Tempo_.Interval(static_cast<double>(Frame_ - LastPulseFrame_));
        const double fpp = Tempo_.FramesPerPulse();
        if (fpp > 0.0) {
            const double len = std::clamp(std::round(fpp * kPulsesPerStep), 1.0, 2147483647.0);
            const auto length = static_cast<int32_t>(len);
            if (length != StepLength_) {
                StepLength_ = length;
                Synth_.SetExternalStepClock(true, StepLength_);
            }
        }
    }
    HasPulse_ = true;
    LastPulseFrame_ = Frame_;
    if (!Running_) return;
    const uint64_t p = NextPulse_++;
    if (p % kPulsesPerStep != 0) return;
    const uint64_t step = p / kPulsesPerStep;
    const int32_t swing = Synth_.Seq.Swing();
    const double fpp = Tempo_.FramesPerPulse();
    // An off-beat sixteenth begins the swing's share of a step (six pulses at the clock's
    // tempo) after its pulse, at the nearest frame.
    const bool late = step % 2 == 1 && swing > 0 && fpp > 0.0;
    if (StartPending_) {
        // Start, Continue or a new position: the synth plays the step here from its start,
        // as if it had played every step before (the queued pattern, the song's phrases).
        // On an off-beat sixteenth that is the step before it, whose swung length reaches
        // past this pulse, as on a host's grid; the off-beat step follows at its swung time.
        StartPending_ = false;
        if (!Synth_.StartAt(late ? step - 1 : step)) return;
        Record(frame);
        if (!late) return;
    } else if (!Synth_.Playing()) {
        return;
    } else if (SwungPending_) {
        BeginSwungStep(frame); // a tempo that rose sharply: not later than this
    }
    if (late) {
        SwungPending_ = true;
        SwungAt_ = Frame_ + static_cast<uint64_t>(
                                std::min(std::round(fpp * kPulsesPerStep * swing / 100.0), 1e9));
        if (SwungAt_ > Frame_) return;
        SwungPending_ = false;
    }
    Synth_.BeginStep();
    if (Synth_.Playing()) Record(frame);
}

void MidiClockFollow::Record(uint32_t frame) {
    if (StartCount_ >= kMaxStepStarts) return;
    Starts_[StartCount_++] = {frame, Synth_.Eng.S.CurStep, Synth_.Seq.PlayPattern,
                                  Synth_.Seq.Transpose()};
}

} // namespace zelvox
