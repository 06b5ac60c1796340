#include "synth/MidiClockSend.h"

#include <algorithm>
#include <cmath>

#include "synth/MidiClockMessages.h"

namespace zelvox {

namespace {
using namespace midiclock;
constexpr uint64_t kPulsesPerStep = 6;
// A pulse time within this of a whole frame is that frame.
constexpr double kFrameSlack = 1e-6;

double IntervalFor(double bpm) {
    return 60.0 * kSampleRate / (bpm * kPulsesPerBeat);
}
} // namespace

void MidiClockSend::SetTempo(double bpm) {
    if (!std::isfinite(bpm)) return;
    bpm = std::clamp(bpm, kMinBpm, kMaxBpm);
    if (bpm == Bpm_) return;
    const double interval = IntervalFor(bpm);
    if (Running_ && NextPulse_ > AnchorPulse_) {
        // The last pulse sent becomes the anchor; the next one follows it by the new interval.
        const double last =
            AnchorOffset_ + static_cast<double>(NextPulse_ - 1 - AnchorPulse_) * Interval_;
        const double whole = std::floor(last);
        AnchorPulse_ = NextPulse_ - 1;
        AnchorFrame_ += static_cast<uint64_t>(whole);
        AnchorOffset_ = last - whole;
        const double next = static_cast<double>(AnchorFrame_) + AnchorOffset_ + interval;
        if (next < static_cast<double>(Now_)) {
            // Faster, and the next pulse is already overdue: it goes at once.
            AnchorPulse_ = NextPulse_;
            Anchor(Now_);
        }
    }
    Bpm_ = bpm;
    Interval_ = interval;
}

bool MidiClockSend::Ask(uint32_t frame, Request what, uint16_t position, double delay) {
    if (RequestCount_ >= kMaxRequests) return false;
    // A delay that is not a number, or is negative, is none; beyond a minute it is no grid.
    if (!(delay > 0.0)) delay = 0.0;
    Requests_[RequestCount_++] = {frame, what, position, std::min(delay, 60.0 * kSampleRate)};
    return true;
}

bool MidiClockSend::Start(uint32_t frame, double firstPulseIn) {
    return Ask(frame, Request::Start, 0, firstPulseIn);
}

bool MidiClockSend::Stop(uint32_t frame) {
    return Ask(frame, Request::Stop, 0);
}

bool MidiClockSend::Continue(uint32_t frame, double firstPulseIn) {
    return Ask(frame, Request::Continue, 0, firstPulseIn);
}

bool MidiClockSend::SongPosition(uint32_t frame, uint32_t sixteenths) {
    if (sixteenths > 0x3FFF) return false;
    return Ask(frame, Request::SongPosition, static_cast<uint16_t>(sixteenths));
}

void MidiClockSend::Anchor(uint64_t frame, double delay) {
    AnchorPulse_ = NextPulse_;
    AnchorFrame_ = frame;
    AnchorOffset_ = delay;
}

uint64_t MidiClockSend::PulseFrame(uint64_t pulse) const {
    const double t = AnchorOffset_ + static_cast<double>(pulse - AnchorPulse_) * Interval_;
    return AnchorFrame_ + static_cast<uint64_t>(std::ceil(t - kFrameSlack));
}

void MidiClockSend::Emit(uint64_t frame, uint8_t a, uint8_t size, uint8_t b, uint8_t c) {
    if (Count_ >= kMaxMessages) {
        ++Dropped_;
        return;
    }
    Messages_[Count_++] = {static_cast<uint32_t>(frame - Now_), size, {a, b, c}};
}

void MidiClockSend::Pulses(uint64_t end) {
    while (Running_) {
        const uint64_t f = PulseFrame(NextPulse_);
        if (f >= end) break;
        Emit(std::max(f, Now_), kClock);
        ++NextPulse_;
    }
}

void MidiClockSend::Period(uint32_t frames) {
    Count_ = 0;
    uint32_t pos = 0;
    const uint32_t last = frames > 0 ? frames - 1 : 0;
    for (size_t i = 0; i < RequestCount_; ++i) {
        const Pending& r = Requests_[i];
        pos = std::clamp(r.Frame, pos, std::max(pos, last));
        const uint64_t at = Now_ + pos;
        Pulses(at);
        switch (r.What) {
        case Request::Start:
            Emit(at, kStart);
            Running_ = true;
            NextPulse_ = 0;
            Anchor(at, r.Delay);
            break;
        case Request::Continue:
            if (Running_) break;
            Emit(at, kContinue);
            Running_ = true;
            Anchor(at, r.Delay);
            break;
        case Request::Stop:
            if (!Running_) break;
            Emit(at, kStop);
            Running_ = false;
            break;
        case Request::SongPosition:
            if (Running_) break;
            NextPulse_ = uint64_t{r.Position} * kPulsesPerStep;
            Emit(at, kSongPosition, 3, static_cast<uint8_t>(r.Position & 0x7F),
                 static_cast<uint8_t>(r.Position >> 7));
            break;
        }
    }
    RequestCount_ = 0;
    Pulses(Now_ + frames);
    Now_ += frames;
}

} // namespace zelvox
