#pragma once
// The playing sequence as MIDI notes, for other synths to follow: the bass voice's notes on
// one channel, the Twin-T and noise hits as notes of their own, each at the exact frame its
// step begins.
//
// - Bass: a played step sends its note (note n of the editor sounds at MIDI note n + 24: the
//   pitch the bass plays) with the step's volume as velocity (at least 1). The note ends where
//   the voice's gate closes (the step's length, as the engine works it out), or at the next
//   step at the latest. A sliding step holds its note into the next step: that step's note
//   goes on first and the held one ends after it in the same frame (legato overlap); the same
//   note again is simply held on (a tie).
// - Twin-T and noise: a triggered step sends the chosen note (velocity from the voice's
//   volume); it ends where the next step begins.
// - Stop, a jump and switching off end every sounding note at once; another pattern (the
//   queued one, or the song's next phrase's) begins without legato.
//
// A host calls, for each period, BeginPeriod, then Step and AllOff in frame order (the frames
// into the period), then EndPeriod, and sends Messages()[0 .. MessageCount()) (in frame
// order). Nothing here allocates, locks or makes a system call.

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/StepRecord.h"
#include "synth/MidiClockSend.h" // ClockMessage: a short message at a frame

namespace zelvox {

struct NoteChannels {
    int32_t Bass = 1;  // 1..16
    int32_t Drum = 10; // the Twin-T
    int32_t Noise = 10;
    int32_t TwinTNote = 36; // 0..127: a bass drum on a General MIDI kit
    int32_t NoiseNote = 42; // a closed hi-hat
};

class MidiNotesOut {
public:
    static constexpr size_t kMaxMessages = 256; // per period; more are dropped (counted)
    static constexpr int32_t kBassNoteOffset = 24;

    // Off by default. Switching off ends the sounding notes at `frame`.
    void SetOn(bool on, uint32_t frame);
    bool On() const { return On_; }
    // Channels (1..16) and drum notes (0..127); values outside are limited. Notes already
    // sounding end on the channel they began on.
    void SetChannels(const NoteChannels& c);
    const NoteChannels& Channels() const { return Channels_; }

    void BeginPeriod() { Count_ = 0; }
    // Step `step` of pattern `pattern` begins `frame` frames into the period; `stepLength`:
    // the step length the voices time their notes by (EngineState::StepLength);
    // `transpose`: the semitones MIDI notes in moved the bass by (StepStart::Transpose).
    void Step(uint32_t frame, const StepRecord& step, int32_t pattern, int32_t stepLength,
              int32_t transpose = 0);
    // Ends every sounding note at `frame` (stop, a jump).
    void AllOff(uint32_t frame);
    // Sends the gates that close inside the period's `frames` frames; the next period
    // begins after them.
    void EndPeriod(uint32_t frames);

    const std::array<ClockMessage, kMaxMessages>& Messages() const { return Messages_; }
    size_t MessageCount() const { return Count_; }
    uint64_t Dropped() const { return Dropped_; }
    // Notes sounding now (for tests): the bass, Twin-T and noise.
    bool Sounding() const { return Bass_.On || TwinT_.On || Noise_.On; }

    // The MIDI note the bass plays for an editor note (1..37: 25..61), limited to 0..127.
    static uint8_t BassNote(int32_t note);

private:
    static constexpr uint64_t kHeld = ~uint64_t{0};
    struct Note {
        bool On = false;
        uint8_t Channel = 0; // 0..15
        uint8_t Key = 0;
        uint64_t Off = kHeld; // the frame its gate closes; kHeld: until the next step
        bool Slide = false;
    };
    uint64_t At(uint32_t frame);
    void Emit(uint64_t frame, uint8_t status, uint8_t key, uint8_t velocity);
    void End(Note& n, uint64_t frame);
    void Begin(Note& n, uint64_t frame, int32_t channel, uint8_t key, int32_t volume);
    void CloseGates(uint64_t before);

    bool On_ = false;
    NoteChannels Channels_{};
    Note Bass_, TwinT_, Noise_;
    int32_t LastPattern_ = 0;
    uint64_t Now_ = 0;  // the period's first frame, counted from construction
    uint64_t Last_ = 0; // the frame of the last message (messages never go back)
    std::array<ClockMessage, kMaxMessages> Messages_{};
    size_t Count_ = 0;
    uint64_t Dropped_ = 0;
};

} // namespace zelvox
