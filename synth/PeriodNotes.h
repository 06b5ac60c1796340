#pragma once
// Where the sequence's MIDI notes end, in one place for every driver of the synth on a
// real-time thread (the plugin's run, the low-latency output's period): the steps that began
// in a period and the frames where the synth stopped or moved, written in frame order.
// - A stop (the transport's, a Start from step 1 again) or a jump ends every note at its
//   frame; the song ending while the period renders ends them at the period's last frame.
// - Switching the notes off ends them where the period stands (MidiNotesOut::SetOn).
// Call Begin at the period's start, Cut where the synth stopped or moved, Steps with each
// list of steps begun (frames into the period, in order), then End. Nothing allocates.

#include <array>
#include <cstddef>
#include <cstdint>

#include "synth/HostTransport.h"
#include "synth/MidiNotesOut.h"

namespace zelvox {

class PatternSynth;

class PeriodNotes {
public:
    MidiNotesOut Out;

    void Begin() {
        Out.BeginPeriod();
        CutCount_ = 0;
        Written_ = 0;
    }
    // The synth stopped or jumped `frame` frames into the period (16 a period are kept).
    void Cut(uint32_t frame) {
        if (CutCount_ < Cuts_.size()) Cuts_[CutCount_++] = frame;
    }
    // The song's end while the period rendered its `frames`.
    void SongEnd(uint32_t frames) { Cut(frames > 0 ? frames - 1 : 0); }
    // Steps of `synth` that began in the period, each after the cuts at or before it.
    void Steps(const PatternSynth& synth, const StepStart* steps, size_t count);
    // The rest of the cuts, and the gates that close inside the period's `frames`.
    void End(uint32_t frames);

private:
    std::array<uint32_t, 16> Cuts_{};
    size_t CutCount_ = 0;
    size_t Written_ = 0; // cuts already written
};

} // namespace zelvox
