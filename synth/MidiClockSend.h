#pragma once
// MIDI clock from the program's own transport: 24 pulses (0xF8) to the quarter note while the
// transport runs, Start (0xFA), Stop (0xFC), Continue (0xFB) and Song Position Pointer
// (0xF2), each at an exact frame of the period it falls in.
//
// Pulse n after a Start at frame S sits at the first frame at or after S + n * interval,
// the interval (frames per pulse) taken from the tempo in double precision: pulses are never
// summed from a rounded interval, so nothing drifts, and each is within one frame (0.023 ms)
// of its exact time. Start sends 0xFA and the first pulse at the same frame; Continue sends
// 0xFB and resumes the pulses there, the position counting on from where Stop left it (or
// from a Song Position Pointer sent while stopped). No pulses while stopped.
//
// A host asks for transport changes at frames of the coming period, then calls Period once
// for the period and sends Messages()[0 .. MessageCount()) (they are in frame order).
// Everything here runs on the thread that renders: no allocation, lock or system call.

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/EngineState.h"

namespace zelvox {

struct ClockMessage {
    uint32_t Frame = 0; // frames into the period
    uint8_t Size = 0;   // 1, or 3 for a Song Position Pointer
    std::array<uint8_t, 3> Bytes{};
};

class MidiClockSend {
public:
    static constexpr size_t kMaxMessages = 256; // per period; more are dropped (counted)
    static constexpr size_t kMaxRequests = 16;  // transport changes per period
    static constexpr double kMinBpm = 1.0;
    static constexpr double kMaxBpm = 1000.0;

    MidiClockSend() = default;

    // Beats per minute (limited to kMinBpm..kMaxBpm; not a finite number: ignored). The next
    // pulse follows the last one sent by the new interval (at the latest at the next period's
    // first frame); pulses after it keep the new interval exactly.
    void SetTempo(double bpm);
    double Tempo() const { return Bpm_; }

    // Transport changes at `frame` frames into the coming period (past its end: at its last
    // frame; before an earlier request: at that one's frame). Start while running starts
    // again from pulse 0; Stop while stopped and Continue while running send nothing.
    // SongPosition (0..16383 sixteenths; more: false) is sent only if the transport is
    // stopped when its frame comes (else it is left out); the next Continue plays from there.
    // False when kMaxRequests are already waiting.
    // `firstPulseIn`: frames from `frame` to the first pulse (a fraction allowed), for a
    // transport that starts or moves between two grid points: the pulses then resume on the
    // grid, the first at the first frame at or after its time.
    bool Start(uint32_t frame, double firstPulseIn = 0.0);
    bool Stop(uint32_t frame);
    bool Continue(uint32_t frame, double firstPulseIn = 0.0);
    bool SongPosition(uint32_t frame, uint32_t sixteenths);

    // Works out the messages of the next `frames` frames.
    void Period(uint32_t frames);
    const std::array<ClockMessage, kMaxMessages>& Messages() const { return Messages_; }
    size_t MessageCount() const { return Count_; }

    bool Running() const { return Running_; }
    // Pulses since the song's start up to the next one to send (position: 6 a sixteenth).
    uint64_t NextPulse() const { return NextPulse_; }
    uint64_t Dropped() const { return Dropped_; }

private:
    enum class Request : uint8_t { Start, Stop, Continue, SongPosition };
    struct Pending {
        uint32_t Frame;
        Request What;
        uint16_t Position;
        double Delay; // frames to the first pulse
    };
    bool Ask(uint32_t frame, Request what, uint16_t position, double delay = 0.0);
    void Anchor(uint64_t frame, double delay = 0.0);
    uint64_t PulseFrame(uint64_t pulse) const;
    void Pulses(uint64_t end);
    void Emit(uint64_t frame, uint8_t a, uint8_t size = 1, uint8_t b = 0, uint8_t c = 0);

    double Bpm_ = 120.0;
    double Interval_ = 60.0 * kSampleRate / (120.0 * 24.0); // frames per pulse
    bool Running_ = false;
    uint64_t NextPulse_ = 0;
    // Pulse AnchorPulse_ is due at AnchorFrame_ + AnchorOffset_ (frames, exact).
    uint64_t AnchorPulse_ = 0;
    uint64_t AnchorFrame_ = 0;
    double AnchorOffset_ = 0.0;
    uint64_t Now_ = 0; // the first frame of the coming period, counted from construction
    std::array<Pending, kMaxRequests> Requests_{};
    size_t RequestCount_ = 0;
    std::array<ClockMessage, kMaxMessages> Messages_{};
    size_t Count_ = 0;
    uint64_t Dropped_ = 0;
};

} // namespace zelvox
