#pragma once
// Plays a PatternSynth on MIDI clock: 24 pulses (0xF8) to the quarter note, so six to a step
// (a step is a sixteenth note); Start (0xFA) plays from step 1, Continue (0xFB) from where
// the clock stopped or from the last Song Position Pointer (0xF2, in sixteenths, i.e.
// steps), Stop (0xFC) stops.
//
// A host that receives MIDI with frame times (a JACK period) queues the period's messages
// with Message, in the order they came, then calls Render once for the period. Render plays
// the period in pieces split at the messages' frames: the synth runs on the external step
// clock, and every sixth pulse after Start or Continue begins the next step at exactly that
// pulse's frame (with swing, every second step that share of a step later). The pulses'
// intervals give the tempo (Bpm), which sets the voices' step length (note timing); the
// Tempo control keeps its own value.
//
// Runs on the thread that renders: Message, Render and the getters allocate nothing, lock
// nothing and make no system call. SetFollowing too, so a host may switch it while audio
// runs.

#include <array>
#include <cstddef>
#include <cstdint>

#include "synth/HostTransport.h" // StepStart
#include "synth/PatternSynth.h"

namespace zelvox {

// Tempo from clock pulse intervals: the mean of the last kWindow intervals. An interval more
// than kJump (a fraction) off the mean is held back: alone it is dropped (a late or lost
// pulse); a late pulse's long interval followed by the short one that makes up for it counts
// as the pair; two in a row that agree with each other are a new tempo, and the mean starts
// again from them. Intervals longer than kPause mean the clock paused and are not counted.
class ClockTempo {
public:
    static constexpr size_t kWindow = 24; // one quarter note
    static constexpr double kJump = 0.2;
    static constexpr double kPause = 44100.0; // frames: one second, 2.5 BPM

    // The interval (frames) from the last pulse to this one.
    void Interval(double frames);
    void Reset();
    // Frames per pulse; 0 before the first interval.
    double FramesPerPulse() const { return Count_ > 0 ? Sum_ / static_cast<double>(Count_) : 0.0; }

private:
    void Push(double frames);
    std::array<double, kWindow> Ring_{};
    size_t Next_ = 0;
    size_t Count_ = 0;
    double Sum_ = 0.0;
    double Held_ = 0.0; // an interval held back; 0: none
};

class MidiClockFollow {
public:
    static constexpr size_t kMaxMessages = 256;  // queued per block; more are dropped
    static constexpr size_t kMaxStepStarts = 64; // reported per block; more are dropped
    static constexpr uint32_t kPulsesPerStep = 6;

    explicit MidiClockFollow(PatternSynth& synth);
    MidiClockFollow(const MidiClockFollow&) = delete;
    MidiClockFollow& operator=(const MidiClockFollow&) = delete;

    // On: the synth's steps come from the clock (its external step clock), and the clock's
    // Start, Stop and Continue drive its transport; the position and the tempo estimate
    // start afresh, and a playing synth stops to wait for Start or Continue. Off: the synth's
    // own clock again, its transport left as it is, and Message takes nothing.
    void SetFollowing(bool on);
    bool Following() const { return Following_; }

    // Queues one MIDI message at `frameInBlock` frames into the block the next Render plays.
    // Takes 0xF8, 0xFA, 0xFB, 0xFC (one byte; more bytes are ignored) and 0xF2 with its two
    // data bytes; anything else (other messages, a short or damaged Song Position Pointer) is
    // refused. Messages are taken in the order queued; one at an earlier frame than the one
    // before it counts at that one's frame, one at or past the block's end at its last frame.
    // False when refused, not following, or the queue is full (then Dropped counts it).
    bool Message(uint32_t frameInBlock, const uint8_t* msg, size_t size);

    // Renders one block (any number of frames), applying the queued messages at their frames,
    // and empties the queue. StepStarts then lists the steps that began in this block.
    void Render(int16_t* out, uint32_t frames);

    const std::array<StepStart, kMaxStepStarts>& StepStarts() const { return Starts_; }
    size_t StepStartCount() const { return StartCount_; }

    // Between Start or Continue and Stop.
    bool Running() const { return Running_; }
    // The clock's position: the number of the next pulse, counted from the song's start.
    // Pulse 6n begins step n (0 is the song's first step).
    uint64_t NextPulse() const { return NextPulse_; }
    // The tempo of the pulses (24 to the quarter note); 0 before two pulses came.
    double Bpm() const;
    // The step length the voices use now (frames).
    int32_t StepLength() const { return StepLength_; }
    // Messages dropped because a block brought more than kMaxMessages, since construction.
    uint64_t Dropped() const { return Dropped_; }

private:
    struct Queued {
        uint32_t Frame;
        uint8_t Status;
        uint16_t Position; // Song Position Pointer: sixteenths
    };
    void Apply(const Queued& m, uint32_t frame);
    void Pulse(uint32_t frame);
    void Record(uint32_t frame);
    // Renders frames [from, to) of the block, beginning a swung step where it is due.
    void RenderSpan(int16_t* out, uint32_t from, uint32_t to);
    void BeginSwungStep(uint32_t frame);

    PatternSynth& Synth_;
    bool Following_ = false;
    std::array<Queued, kMaxMessages> Queue_{};
    size_t QueueCount_ = 0;
    uint64_t Dropped_ = 0;
    bool Running_ = false;
    bool StartPending_ = false; // the next step boundary starts (or places) the synth
    uint64_t NextPulse_ = 0;
    uint64_t Frame_ = 0;        // frames rendered since construction
    bool HasPulse_ = false;
    uint64_t LastPulseFrame_ = 0;
    ClockTempo Tempo_;
    int32_t StepLength_ = 0;
    bool SwungPending_ = false; // an off-beat step waits for its swung frame...
    uint64_t SwungAt_ = 0;      // ...this one (counted as Frame_)
    std::array<StepStart, kMaxStepStarts> Starts_{};
    size_t StartCount_ = 0;
};

} // namespace zelvox
