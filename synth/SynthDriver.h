#pragma once
// One period of a synth on a real-time thread, for every host that drives one: the plugin's
// run and the low-latency JACK output's period both go through here, so that each rule has
// one home:
// - rendering: host frames at the synth's own rate, or through a RateStage, the synth kept
//   exactly in step with the host's frames (RateStage::EngineFramesFor);
// - the host's transport (HostTransport), or the MIDI clock that comes in (MidiClockFollow);
// - MIDI in: learned controllers, the controller table, notes in; clock messages go to the
//   clock follower at their frame;
// - swing;
// - where the notes end (PeriodNotes): where the synth stopped or jumped, the song's end;
// - where what the period sends lands on the host's frames (steps begun, notes, clock): the
//   host frame where the sound of that synth frame is heard (see SetPlacement); what falls
//   beyond the period waits for the next one.
//
// A period: Begin; for each event in frame order, RenderTo its frame, then the event (Midi,
// Position, or a command followed by Settle); End; then the period's steps and messages.
// Nothing here allocates, locks, waits or makes a system call.

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/RateStage.h"
#include "synth/ControlChange.h"
#include "synth/HostTransport.h"
#include "synth/MidiClockFollow.h"
#include "synth/MidiNotesOut.h"
#include "synth/PatternSynth.h"
#include "synth/PeriodNotes.h"

namespace zelvox {

class SynthDriver {
public:
    // What the host gives for one period. `Out` (host frames, float) and `Engine` (the
    // synth's int16 stream, only without a stage) may each be null; `Right` copies `Out`.
    struct Block {
        float* Out = nullptr;
        float* Right = nullptr;
        int16_t* Engine = nullptr;
        uint32_t Frames = 0;
    };
    // Sees each piece of the synth's stream as it is rendered (a recording).
    using Tap = void (*)(void* context, const int16_t* frames, uint32_t count);
    // One thing the period sends, at its host frame.
    struct Sent {
        enum class Kind : uint8_t { Midi, Step };
        Kind What = Kind::Midi;
        uint64_t HostFrame = 0;
        ClockMessage Midi;
        StepStart Step;
    };
    static constexpr size_t kMaxSent = 512;

    explicit SynthDriver(PatternSynth& synth) : Synth_(synth), Transport_(synth), Clock_(synth) {}
    SynthDriver(const SynthDriver&) = delete;
    SynthDriver& operator=(const SynthDriver&) = delete;

    // ---- Set-up (between periods) ----
    // The stage to a host's rate (null: the synth's own rate). A host at another rate places
    // its grid steps at the nearest frame (HostTransport::SetGridRounding).
    void SetRate(RateStage* stage);
    RateStage* Rate() const { return Rate_; }
    // Where what the period sends lands beside the sound through a stage:
    // - Compensated (a plugin host, told the stage's latency): the nearest host frame;
    // - Delayed (a JACK client, whose MIDI the server does not delay): the first host frame at
    //   or after the sound, plus `delay` frames (the stage's latency), never ahead of it.
    enum class Placement : uint8_t { Compensated, Delayed };
    void SetPlacement(Placement placement, uint32_t delay) {
        Placement_ = placement;
        SendDelay_ = placement == Placement::Delayed ? delay : 0;
    }
    void SetTap(Tap tap, void* context) {
        Tap_ = tap;
        TapContext_ = context;
    }

    HostTransport& Transport() { return Transport_; }
    MidiClockFollow& Clock() { return Clock_; }
    PeriodNotes& Notes() { return Notes_; }
    const PeriodNotes& Notes() const { return Notes_; }

    // ---- One period ----
    void Begin(const Block& block);
    // Renders up to `frame` (host frames into the period; never backwards).
    void RenderTo(uint32_t frame);
    // The synth frames rendered so far in this period.
    uint32_t EngineFrame() const { return EngineDone_; }
    // The synth frame (into the period) a host frame of the period stands for (at or after
    // the frames rendered so far).
    uint32_t EngineFrameAt(uint32_t frame) const;
    // A host position, at the frame rendered to.
    void Position(HostPosition pos);
    // The position as the synth's frames have it (a host at another rate).
    HostPosition OnSynthFrames(HostPosition pos) const;
    // After anything that may have stopped or moved the synth: its notes end where it stands.
    void Settle();
    // A start from step 1 again while it plays: no legato into it.
    void CutNotes() { Notes_.Cut(EngineDone_); }
    // A MIDI message at host frame `frame` (renders up to it first, but a clock message the
    // follower takes keeps its own frame). Knobs turned call turned(id, value).
    template <class Turned>
    NoteInAction Midi(uint32_t frame, const uint8_t* msg, size_t size, const CcTable& table,
                      const LearnLookup* learned, int32_t channel, Turned&& turned);
    // MIDI notes in; switched off, the bass plays as written again from the next step.
    void SetNotesIn(const NotesInSetup& setup);
    const NotesInSetup& NotesIn() const { return NotesIn_; }
    void SetSwing(int32_t percent);
    // Renders the rest of the period; its steps and notes are then known.
    void End();
    // After End: what the period sends goes on the host's frames: `clock` (a MIDI clock the
    // caller sends), the notes, and the steps when `steps` (in that order within a frame).
    void Place(const ClockMessage* clock, size_t clockCount, bool steps);

    // The steps that began in the period (the synth's frames into it), in order.
    const StepStart* Steps(size_t& count) const {
        count = StepCount_;
        return Steps_.data();
    }
    // What the period places (in frame order; within a frame as Place gives it) that lands
    // before the period's end, each(sent, frame into the period); the rest waits for the next
    // period.
    template <class Each> void Send(Each&& each);
    // Where a synth frame of this period is heard, on the host's frames (counted from the
    // first period; with a stage, the frames taken from it) as the placement rounds it,
    // before the delay.
    uint64_t HostFrameOf(uint32_t engineFrame) const;

private:
    void RenderEngine(int16_t* out, uint32_t frames);
    void Queue(const Sent& s);

    PatternSynth& Synth_;
    HostTransport Transport_;
    MidiClockFollow Clock_;
    PeriodNotes Notes_;
    RateStage* Rate_ = nullptr;
    Placement Placement_ = Placement::Compensated;
    uint32_t SendDelay_ = 0;
    Tap Tap_ = nullptr;
    void* TapContext_ = nullptr;
    NotesInSetup NotesIn_; // off until switched on

    Block Block_;
    uint32_t HostDone_ = 0;    // host frames of the period made
    uint32_t EngineDone_ = 0;  // synth frames of the period rendered
    uint64_t EngineStart_ = 0; // the stage's synth frames pushed at the period's start
    uint64_t HostStart_ = 0;   // the period's first frame on the host's frames
    uint64_t HostClock_ = 0;   // without a stage: host frames of the periods before
    bool WasPlaying_ = false;
    uint64_t Jumps_ = 0;
    std::array<StepStart, HostTransport::kMaxStepStarts + MidiClockFollow::kMaxStepStarts> Steps_{};
    size_t StepCount_ = 0;
    std::array<int16_t, PatternSynth::kMaxFrames> Scratch_{};
    std::array<float, PatternSynth::kMaxFrames> Floats_{};
    std::array<Sent, kMaxSent> Queued_{}; // in host frame order
    size_t QueuedCount_ = 0;
};

template <class Turned>
NoteInAction SynthDriver::Midi(uint32_t frame, const uint8_t* msg, size_t size,
                               const CcTable& table, const LearnLookup* learned, int32_t channel,
                               Turned&& turned) {
    if (Clock_.Following() && size >= 1 && msg[0] >= 0xF2) {
        Clock_.Message(EngineFrameAt(frame) - EngineDone_, msg, size);
        return {};
    }
    RenderTo(frame);
    if (learned) ApplyLearnedChange(Synth_, *learned, msg, size, turned);
    const NoteInAction action = Synth_.PlayNoteIn(NotesIn_, msg, size);
    ApplyControlChange(Synth_, table, channel, msg, size, turned);
    Settle();
    return action;
}

template <class Each> void SynthDriver::Send(Each&& each) {
    const uint64_t end = HostStart_ + Block_.Frames;
    size_t kept = 0;
    for (size_t i = 0; i < QueuedCount_; ++i) {
        const Sent& s = Queued_[i];
        if (s.HostFrame < end)
            each(s, static_cast<uint32_t>(s.HostFrame > HostStart_ ? s.HostFrame - HostStart_ : 0));
        else
            Queued_[kept++] = s;
    }
    QueuedCount_ = kept;
}

} // namespace zelvox
