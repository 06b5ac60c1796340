#include "synth/HostTransport.h"

#include <algorithm>
#include <cmath>

#include "files/MMFormat.h"

namespace zelvox {

namespace {
constexpr double kRate = kSampleRate;
// Grid times are worked out in doubles; a time within this of a whole frame is that frame.
constexpr double kFrameSlack = 1e-6;
constexpr double kMaxBeats = 1e15; // beyond this a position is not taken
constexpr double kMaxSpeed = 1000.0; // a faster varispeed is taken as this
constexpr double kMaxAhead = 1e18;   // frames; a boundary further off (a speed near 0) is never reached
// Hosts give bar and beat in whole ticks (1,920 a beat in the finest of them): a beat that
// far from where the clock is, is the host's rounding, not a move.
constexpr double kTickBeats = 1.0 / 1920.0;
} // namespace

HostTransport::HostTransport(PatternSynth& synth) : Synth_(synth) {
    Synth_.Seq.SetListener(this);
}

void HostTransport::SetStepClock(StepClock clock) {
    if (clock == Clock_) return;
    Clock_ = clock;
    ApplyTempo();
    if (Rolling_) StartHere(BeatsAt(Frame_), true);
}

void HostTransport::Release() {
    HostDriven_ = false;
    Rolling_ = false;
    StartPending_ = false;
    Bpm_ = 0.0;
    Speed_ = 0.0;
    Synth_.Stop();
    if (Synth_.ExternalStepClock()) Synth_.SetExternalStepClock(false);
    FreeRun_ = false;
    OwnClock_ = false;
}

void HostTransport::SetFreeRun(bool run) {
    FreeRun_ = run;
    if (HostDriven_ && !(RunWhileStopped_ && !Rolling_)) return;
    if (run && HostDriven_) {
        PlayOwnClock();
    } else if (run && !Synth_.Playing()) {
        if (Synth_.Start()) Record(BlockFrame_);
    } else if (!run) {
        Synth_.Stop();
        if (OwnClock_) {
            OwnClock_ = false;
            ApplyTempo(); // the host's tempo and grid again, for its next start
        }
    }
}

// The host is stopped and the run switch is on: the synth plays on its own clock at the
// free tempo, on from where it is if it already plays.
void HostTransport::PlayOwnClock() {
    if (!OwnClock_) {
        OwnClock_ = true;
        ApplyTempo();
    }
    if (!Synth_.Playing() && Synth_.Start()) Record(BlockFrame_);
}

void HostTransport::SetFreeTempo(int32_t bpm) {
    FreeTempo_ = bpm;
    if (Bpm_ <= 0.0 || OwnClock_) Synth_.SetTempo(bpm);
}

void HostTransport::SetSongMode(bool on) {
    if (on == Synth_.Seq.SongMode()) return;
    Synth_.SetSongMode(on);
    if (Rolling_) {
        Synth_.Stop();
        StartHere(BeatsAt(Frame_), false);
    } else if ((!HostDriven_ || OwnClock_) && FreeRun_) {
        Synth_.Stop();
        if (Synth_.Start()) Record(BlockFrame_);
    }
}

double HostTransport::BeatsAt(uint64_t frame) const {
    return AnchorBeats_ + static_cast<double>(frame - AnchorFrame_) * BeatsPerFrame_;
}

uint64_t HostTransport::StepIndexAt(double beats) const {
    if (!(beats > 0.0)) return 0;
    return static_cast<uint64_t>(std::floor(beats / StepBeats() + kFrameSlack));
}

// Swing: an odd (off-beat) sixteenth begins that share of a step late; the grid stays.
double HostTransport::SwingBeats(uint64_t step) const {
    return (step & 1u) != 0 ? StepBeats() * Synth_.Seq.Swing() / 100.0 : 0.0;
}

uint64_t HostTransport::PlayingIndexAt(double beats) const {
    const uint64_t k = StepIndexAt(beats);
    const bool early = k > 0 && beats < static_cast<double>(k) * StepBeats() + SwingBeats(k) - kFrameSlack * StepBeats();
    return early ? k - 1 : k;
}

uint64_t HostTransport::BoundaryOf(uint64_t step) const {
    const double frames =
        (static_cast<double>(step) * StepBeats() + SwingBeats(step) - AnchorBeats_) / BeatsPerFrame_;
    if (!(frames - GridShift_ > kFrameSlack)) return AnchorFrame_;
    return AnchorFrame_ +
           static_cast<uint64_t>(std::ceil(std::min(frames - GridShift_ - kFrameSlack, kMaxAhead)));
}

void HostTransport::Anchor(double beats) {
    AnchorFrame_ = Frame_;
    AnchorBeats_ = beats;
    const double bpm = Bpm_ > 0.0 ? Bpm_ : static_cast<double>(Synth_.Control(ControlId::Tempo));
    BeatsPerFrame_ = Speed_ * bpm / 60.0 / kRate;
}

void HostTransport::ApplyTempo() {
    if (OwnClock_) {
        if (Synth_.ExternalStepClock()) Synth_.SetExternalStepClock(false);
        Synth_.SetTempo(FreeTempo_);
        return;
    }
    if (Bpm_ > 0.0) {
        const double whole = std::clamp(std::round(Bpm_), 20.0, 240.0);
        Synth_.SetTempo(static_cast<int32_t>(whole));
    }
    const bool grid = HostDriven_ && Clock_ == StepClock::HostGrid;
    if (grid) {
        const double bpm =
            Bpm_ > 0.0 ? Bpm_ : static_cast<double>(Synth_.Control(ControlId::Tempo));
        const double frames = StepBeats() * 60.0 * kRate / bpm;
        Synth_.SetExternalStepClock(true, static_cast<int32_t>(std::clamp(std::round(frames), 1.0, 1e9)));
    } else if (Synth_.ExternalStepClock()) {
        Synth_.SetExternalStepClock(false);
    }
}

void HostTransport::Position(const HostPosition& p) {
    const bool wasDriven = HostDriven_;
    HostDriven_ = true;
    bool retime = !wasDriven;
    if (p.HasTempo && std::isfinite(p.Bpm) && p.Bpm > 0.0 && p.Bpm != Bpm_) {
        Bpm_ = std::min(p.Bpm, 1000.0);
        retime = true;
    }
    if (p.HasBeat && std::isfinite(p.BeatUnit) && p.BeatUnit >= 1.0 && p.BeatUnit != BeatUnit_) {
        BeatUnit_ = std::min(p.BeatUnit, 64.0);
        retime = true;
    }
    if (retime) ApplyTempo();

    const double predicted = BeatsAt(Frame_);
    double beats = predicted;
    // How far the host's beat may lie from where the clock is and still be the same place.
    double slack = std::fabs(BeatsPerFrame_);
    const double bpm = Bpm_ > 0.0 ? Bpm_ : static_cast<double>(Synth_.Control(ControlId::Tempo));
    const double fromFrame = static_cast<double>(p.HostFrame) * bpm / 60.0 / kRate;
    if (p.HasBeat) {
        const double bpb = std::isfinite(p.BeatsPerBar) && p.BeatsPerBar > 0 ? p.BeatsPerBar : 4.0;
        const double b = static_cast<double>(p.Bar) * bpb + p.BarBeat;
        if (std::isfinite(b) && std::fabs(b) < kMaxBeats) beats = b;
        // Bar and beat rounded to ticks: the frame says exactly where, when the two agree
        // within a tick (a tempo that was the same since the song start). Else the bar and
        // beat hold, and a tick off is their rounding. A finer beat (a float) is taken as is.
        // A host that rounds to ticks gives beats that are whole ticks (as floats) every time;
        // four in a row tell it from a host with a finer beat that met one by chance.
        const double ticks = p.BarBeat / kTickBeats;
        const bool whole = std::isfinite(ticks) && std::fabs(ticks) < 1e12 &&
                           static_cast<float>(std::round(ticks) * kTickBeats) == static_cast<float>(p.BarBeat);
        TickRun_ = whole ? std::min(TickRun_ + 1, 4) : 0;
        const bool rounded = TickRun_ >= 4;
        if (p.HasFrame && std::isfinite(fromFrame) && std::fabs(fromFrame - beats) <= kTickBeats + 1e-9)
            beats = fromFrame;
        else if (rounded)
            slack = std::max(slack, kTickBeats);
    } else if (p.HasFrame) {
        beats = fromFrame;
    }
    const double speed = p.HasSpeed && std::isfinite(p.Speed) ? std::min(p.Speed, kMaxSpeed) : Speed_;
    // A frame that merely continues the host's timeline (advanced by what was rendered since
    // its last position) places nothing again, whatever its bar and beat say.
    const bool continues =
        p.HasFrame && LastHostFrame_ >= 0 && Rolling_ && speed == Speed_ &&
        std::fabs(static_cast<double>(p.HostFrame) - static_cast<double>(LastHostFrame_) -
                  static_cast<double>(Frame_ - LastPositionFrame_) * Speed_) <= 1.0;
    LastHostFrame_ = p.HasFrame ? p.HostFrame : -1;
    LastPositionFrame_ = Frame_;
    if ((p.HasBeat || p.HasFrame) && p.FrameOffset != 0.0 && std::isfinite(p.FrameOffset) &&
        speed > 0.0) {
        // Back to the frame about to be rendered, at the tempo in force from there.
        beats -= p.FrameOffset * speed * bpm / 60.0 / kRate;
    }
    // Within a frame of where the clock is: the host's own rounding (its beat is often a
    // float), so the clock keeps its count. Further off but in the same step: the host's
    // clock corrects ours. In another step: the host jumped.
    const double off = std::fabs(beats - predicted);
    const bool moved = (p.HasBeat || p.HasFrame) && !continues && off > slack + 1e-12;
    const bool grid = Synth_.ExternalStepClock();
    const bool jumped = moved && Rolling_ &&
                        (StartPending_ || !grid || PlayingIndexAt(beats) + 1 != NextIndex_);
    if (!moved) beats = predicted;

    Speed_ = speed > 0.0 ? speed : 0.0;
    Anchor(beats);
    if (Speed_ <= 0.0) {
        const bool was = Rolling_;
        Rolling_ = false;
        StartPending_ = false;
        if (RunWhileStopped_ && FreeRun_) {
            PlayOwnClock();
            return;
        }
        if (was || !wasDriven) Synth_.Stop();
        return;
    }
    if (!Rolling_) {
        Rolling_ = true;
        if (OwnClock_) {
            // The host rolls: it leads from its own place, at its tempo, on its grid.
            OwnClock_ = false;
            Synth_.Stop();
            ApplyTempo();
            Anchor(beats);
        }
        StartHere(beats, false);
    } else if (jumped) {
        ++Jumps_;
        StartHere(beats, true);
    } else {
        Schedule();
    }
}

HostTransport::GridPoint HostTransport::NextSixteenth() const {
    const double beats = BeatsAt(Frame_);
    if (!(beats > 0.0) || BeatsPerFrame_ <= 0.0) {
        // At or before the song start: the first sixteenth, at beat 0.
        const double until = BeatsPerFrame_ > 0.0 ? -beats / BeatsPerFrame_ : 0.0;
        return {0, until > kFrameSlack ? until : 0.0};
    }
    uint64_t k = StepIndexAt(beats);
    double until = (static_cast<double>(k) * StepBeats() - beats) / BeatsPerFrame_;
    if (until < -kFrameSlack) {
        ++k; // inside step k: the next one begins on the grid
        until = (static_cast<double>(k) * StepBeats() - beats) / BeatsPerFrame_;
    }
    return {k, std::max(until, 0.0)};
}

double HostTransport::QuarterBpm() const {
    const double bpm = Bpm_ > 0.0 ? Bpm_ : static_cast<double>(Synth_.Control(ControlId::Tempo));
    return bpm * 4.0 / BeatUnit_;
}

void HostTransport::StartHere(double beats, bool jump) {
    StartPending_ = beats < -kFrameSlack * BeatsPerFrame_;
    if (StartPending_) {
        Synth_.Stop();
        NextIndex_ = 0;
        NextFrame_ = BoundaryOf(0);
        return;
    }
    const uint64_t k = PlayingIndexAt(beats);
    const bool playing = jump && Synth_.Playing() ? Synth_.Locate(k) : Synth_.StartAt(k);
    if (playing) {
        Record(BlockFrame_);
        // On the synth's own clock a start in the swung end of a step (before the off-beat
        // sixteenth after it has begun) leaves that step only the time until the off-beat
        // one's swung start, so the off-beat step comes its swing's share late and the steps
        // after it keep the host's beat. Without swing no start lands there.
        if (!Synth_.ExternalStepClock() && k < StepIndexAt(beats) && BeatsPerFrame_ > 0.0) {
            const double left =
                (static_cast<double>(k + 1) * StepBeats() + SwingBeats(k + 1) - beats) / BeatsPerFrame_;
            EngineState& s = Synth_.Eng.S;
            const int64_t end = int64_t{s.StepLength} + s.SwingShift;
            if (std::isfinite(left) && end > 0)
                s.SampleCount = static_cast<int32_t>(end - std::clamp<int64_t>(std::llround(left), 0, end));
        }
    }
    NextIndex_ = k + 1;
    Schedule();
}

void HostTransport::Schedule() {
    if (!Rolling_ || BeatsPerFrame_ <= 0.0) return;
    NextFrame_ = std::max(BoundaryOf(NextIndex_), Frame_);
}

void HostTransport::BeginBlock() {
    BlockFrame_ = 0;
    StartCount_ = 0;
}

void HostTransport::Record(uint32_t frame) {
    if (StartCount_ >= kMaxStepStarts) return;
    Starts_[StartCount_++] = {frame, Synth_.Eng.S.CurStep, Synth_.Seq.PlayPattern,
                                  Synth_.Seq.Transpose()};
}

void HostTransport::StepAdvanced(int32_t, int32_t) {
    Stepped_ = true;
}

void HostTransport::SongEnded() {
    Synth_.Stop();
}

void HostTransport::Render(int16_t* out, uint32_t frames) {
    while (frames > 0) {
        uint32_t n = frames;
        const bool grid = Rolling_ && (StartPending_ || Synth_.ExternalStepClock());
        if (grid) {
            if (NextFrame_ <= Frame_) {
                if (StartPending_) {
                    StartPending_ = false;
                    if (Synth_.StartAt(NextIndex_)) Record(BlockFrame_);
                } else if (Synth_.Playing()) {
                    Stepped_ = false;
                    Synth_.BeginStep();
                    if (Stepped_ && Synth_.Playing()) Record(BlockFrame_);
                }
                ++NextIndex_;
                NextFrame_ = std::max(BoundaryOf(NextIndex_), Frame_ + 1);
            }
            n = static_cast<uint32_t>(std::min<uint64_t>(n, NextFrame_ - Frame_));
        }
        const bool ownClock = Synth_.Playing() && !Synth_.ExternalStepClock();
        // At most one step of the synth's own clock in a piece, so that its frame is known
        // (a swung off-beat step is shorter by the swing's delay).
        if (ownClock)
            n = std::min(n, static_cast<uint32_t>(
                                std::max(Synth_.Eng.S.StepLength - Synth_.Seq.SwingDelay(), 1)));
        Stepped_ = false;
        Synth_.Render(out, n);
        if (ownClock && Stepped_ && Synth_.Playing()) {
            // The step began on the sample after which the count restarted.
            const auto since = static_cast<uint32_t>(std::max(Synth_.Eng.S.SampleCount, 0));
            Record(BlockFrame_ + n - 1 - std::min(since, n - 1));
        }
        out += n;
        frames -= n;
        Frame_ += n;
        BlockFrame_ += n;
    }
}

} // namespace zelvox
