#include "synth/SynthDriver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/FloatSamples.h"

namespace zelvox {

namespace {
// Host frames made at once through a stage: at most 4,097 synth frames behind them at the
// lowest host rate served, half a scratch.
constexpr uint32_t kHostPiece = 2048;
} // namespace

void SynthDriver::SetRate(RateStage* stage) {
    Rate_ = stage;
    Transport_.SetGridRounding(stage ? 0.5 : 0.0);
    // What waits was placed on the old stage's frames: it goes out at the next period's start.
    const uint64_t now = stage ? stage->HostTaken() : HostClock_;
    for (size_t i = 0; i < QueuedCount_; ++i)
        Queued_[i].HostFrame = now;
}

void SynthDriver::Begin(const Block& block) {
    Block_ = block;
    HostDone_ = 0;
    EngineDone_ = 0;
    StepCount_ = 0;
    EngineStart_ = Rate_ ? Rate_->EnginePushed() : 0;
    HostStart_ = Rate_ ? Rate_->HostTaken() : HostClock_;
    Transport_.BeginBlock();
    Notes_.Begin();
}

uint32_t SynthDriver::EngineFrameAt(uint32_t frame) const {
    // Past what is made: the synth frames the stage would need for the host frames up to there.
    const uint32_t ahead = std::min(frame, Block_.Frames) - std::min(frame, HostDone_);
    return EngineDone_ + (Rate_ ? Rate_->EngineFramesFor(ahead) : ahead);
}

void SynthDriver::RenderEngine(int16_t* out, uint32_t frames) {
    if (Clock_.Following()) {
        Clock_.Render(out, frames);
        for (size_t i = 0;
             i < Clock_.StepStartCount() && StepCount_ < MidiClockFollow::kMaxStepStarts; ++i) {
            StepStart s = Clock_.StepStarts()[i];
            s.Frame += EngineDone_;
            Steps_[StepCount_++] = s;
        }
    } else {
        Transport_.Render(out, frames);
    }
    if (Tap_) Tap_(TapContext_, out, frames);
    EngineDone_ += frames;
}

void SynthDriver::RenderTo(uint32_t frame) {
    frame = std::min(frame, Block_.Frames);
    auto copyRight = [this](uint32_t from, uint32_t n) {
        if (Block_.Out && Block_.Right)
            std::memcpy(Block_.Right + from, Block_.Out + from, n * sizeof(float));
    };
    if (!Rate_) {
        while (HostDone_ < frame) {
            const uint32_t n = std::min<uint32_t>(frame - HostDone_, PatternSynth::kMaxFrames);
            int16_t* pcm = Block_.Engine ? Block_.Engine + HostDone_ : Scratch_.data();
            RenderEngine(pcm, n);
            // The scale of the desktop program's own JACK output: a recording made through a
            // host sounds and reads back as one made from the program.
            if (Block_.Out) Pcm16ToFloat(pcm, Block_.Out + HostDone_, n);
            copyRight(HostDone_, n);
            HostDone_ += n;
        }
        return;
    }
    while (HostDone_ < frame) {
        const uint32_t n = std::min<uint32_t>(frame - HostDone_, kHostPiece);
        for (uint32_t engine = Rate_->EngineFramesFor(n); engine > 0;) {
            const uint32_t m = std::min<uint32_t>(engine, PatternSynth::kMaxFrames);
            RenderEngine(Scratch_.data(), m);
            Pcm16ToFloat(Scratch_.data(), Floats_.data(), m);
            Rate_->Push(Floats_.data(), m);
            engine -= m;
        }
        Rate_->Take(Block_.Out ? Block_.Out + HostDone_ : Floats_.data(), n);
        copyRight(HostDone_, n);
        HostDone_ += n;
    }
}

HostPosition SynthDriver::OnSynthFrames(HostPosition pos) const {
    if (Rate_) {
        // The position holds for the host frame about to be made, heard (after the stage's
        // latency) from the synth time HostFrameOf maps there.
        pos.FrameOffset = Rate_->NextHostFrameOffset();
        pos.HostFrame = Rate_->EngineFrameOf(pos.HostFrame);
    }
    return pos;
}

void SynthDriver::Position(HostPosition pos) {
    Transport_.Position(OnSynthFrames(pos));
    Settle();
}

void SynthDriver::Settle() {
    const bool playing = Synth_.Playing();
    if ((WasPlaying_ && !playing) || Transport_.Jumps() != Jumps_) Notes_.Cut(EngineDone_);
    WasPlaying_ = playing;
    Jumps_ = Transport_.Jumps();
}

void SynthDriver::SetNotesIn(const NotesInSetup& setup) {
    if (NotesIn_.Transpose && !setup.Transpose) Synth_.Seq.SetTranspose(0);
    NotesIn_ = setup;
}

void SynthDriver::SetSwing(int32_t percent) {
    Synth_.Seq.SetSwing(percent);
}

void SynthDriver::End() {
    RenderTo(Block_.Frames);
    // Stopped while rendering: the song's end, or a MIDI clock's Stop.
    const bool playing = Synth_.Playing();
    if (WasPlaying_ && !playing) Notes_.SongEnd(EngineDone_);
    WasPlaying_ = playing;
    // The host's steps, then those of the MIDI clock (one of the two plays).
    const size_t clockSteps = StepCount_;
    const size_t hostSteps = std::min(Transport_.StepStartCount(), Steps_.size() - clockSteps);
    std::move_backward(Steps_.begin(), Steps_.begin() + ptrdiff_t(clockSteps),
                       Steps_.begin() + ptrdiff_t(clockSteps + hostSteps));
    std::copy_n(Transport_.StepStarts().begin(), hostSteps, Steps_.begin());
    StepCount_ = clockSteps + hostSteps;
    Notes_.Steps(Synth_, Steps_.data(), StepCount_);
    Notes_.End(EngineDone_);
    if (!Rate_) HostClock_ += Block_.Frames;
}

uint64_t SynthDriver::HostFrameOf(uint32_t engineFrame) const {
    if (!Rate_) return HostStart_ + engineFrame;
    const double heard = Rate_->HostFrameOf(double(EngineStart_ + engineFrame));
    const auto at = static_cast<int64_t>(Placement_ == Placement::Delayed ? std::ceil(heard)
                                                                          : std::llround(heard));
    return at > 0 ? static_cast<uint64_t>(at) : 0;
}

void SynthDriver::Queue(const Sent& s) {
    if (QueuedCount_ >= Queued_.size()) return;
    // Kept in frame order, the earlier of one frame first: a port takes its events in order.
    size_t i = QueuedCount_++;
    for (; i > 0 && Queued_[i - 1].HostFrame > s.HostFrame; --i)
        Queued_[i] = Queued_[i - 1];
    Queued_[i] = s;
}

void SynthDriver::Place(const ClockMessage* clock, size_t clockCount, bool steps) {
    Sent s;
    s.What = Sent::Kind::Midi;
    auto midi = [&](const ClockMessage* m, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            s.HostFrame = HostFrameOf(m[i].Frame) + SendDelay_;
            s.Midi = m[i];
            Queue(s);
        }
    };
    midi(clock, clockCount);
    midi(Notes_.Out.Messages().data(), Notes_.Out.MessageCount());
    if (!steps) return;
    s.What = Sent::Kind::Step;
    for (size_t i = 0; i < StepCount_; ++i) {
        s.HostFrame = HostFrameOf(Steps_[i].Frame) + SendDelay_;
        s.Step = Steps_[i];
        Queue(s);
    }
}

} // namespace zelvox
