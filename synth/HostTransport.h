#pragma once
// Plays a PatternSynth on a host's transport: a plugin host (or any sequencer) says where
// its song is (rolling or stopped, tempo, bar and beat), and the synth starts, stops and
// jumps with it, four steps to the beat of a 4/4 bar (a step is a sixteenth note).
//
// Two step clocks:
// - HostGrid: each step begins on the host's sixteenth-note grid, worked out from the
//   position the host last gave, never summed from a rounded step length, so nothing
//   drifts at any tempo. The step begins at the first sample at or after its grid time.
// - SynthClock: the synth's own step length, from the host's tempo rounded to a whole
//   number of beats per minute, exactly as the desktop program and zelvox-render play it;
//   the host starts, stops and places it. Its step is StepLength + 1 samples after the
//   first, so it parts from the host's grid a little every step.
// Until a host gives any position, the synth runs on its own clock with the run switch
// and tempo given here (a host without a transport).
//
// Runs on the thread that renders; nothing here allocates, locks or waits.

#include <array>
#include <cstddef>
#include <cstdint>

#include "synth/PatternSynth.h"

namespace zelvox {

enum class StepClock : uint8_t { HostGrid = 0, SynthClock = 1 };

// What a host says about its transport; fields it does not send are left out.
struct HostPosition {
    bool HasSpeed = false;
    double Speed = 0.0; // 0 stopped, 1 rolling (other values: varispeed)
    bool HasBeat = false;
    int64_t Bar = 0;        // bars since the song start, from 0
    double BarBeat = 0.0;   // beats into the bar
    double BeatsPerBar = 4.0;
    double BeatUnit = 4.0;  // note value of a beat: 4 a quarter note
    bool HasTempo = false;
    double Bpm = 0.0;       // beats per minute
    // A host that gives no bar and beat may give its frame position: taken at the tempo
    // now in force from frame 0.
    bool HasFrame = false;
    int64_t HostFrame = 0;
    // A host at another rate than the synth's: the moment this position describes lies this
    // many synth frames after the frame about to be rendered (-1..1, a fraction).
    double FrameOffset = 0.0;
};

// A step that began in the current block.
struct StepStart {
    uint32_t Frame = 0;  // frames into the block
    int32_t Step = 0;    // 1..16
    int32_t Pattern = 0; // 1..16
    int32_t Transpose = 0; // semitones the step's bass was loaded with (MIDI notes in)
};

class HostTransport final : private SequencerListener {
public:
    static constexpr size_t kMaxStepStarts = 64; // per block; more are dropped

    explicit HostTransport(PatternSynth& synth);
    ~HostTransport() = default;
    HostTransport(const HostTransport&) = delete;
    HostTransport& operator=(const HostTransport&) = delete;

    void SetStepClock(StepClock clock);
    // Where a grid step begins: 0 (the synth's own rate) at the first frame at or after its
    // time; 0.5 for a host at another rate, at the nearest frame, so that after conversion
    // it is heard within half a synth frame of the host's grid.
    void SetGridRounding(double shift) { GridShift_ = shift; }
    StepClock Clock() const { return Clock_; }
    // A host without a transport: the run switch starts and stops, the tempo is the synth's.
    // Both are ignored once the host has given a position (a tempo still counts while the
    // host gives none).
    void SetFreeRun(bool run);
    void SetFreeTempo(int32_t bpm);
    // The plugin's rule: the run switch also plays while a host's transport exists but is
    // stopped, on the synth's own clock at the free tempo; once the host rolls it leads, and
    // when it stops again the run switch plays on from where the synth is.
    void SetRunWhileStopped(bool on) { RunWhileStopped_ = on; }
    // Song (arranger) on or off. Switching stops the synth as the window does; if the host
    // is rolling (or the run switch is on), it starts again where the host is.
    void SetSongMode(bool on);
    // Where the host is at the frame about to be rendered. A position the clock did not
    // predict (beyond one frame) is a jump: the synth goes to the step there.
    void Position(const HostPosition& p);

    // The host's tempo again (after the synth's Tempo control was set from elsewhere).
    void Retempo() {
        if (HostDriven_) ApplyTempo();
    }
    // The host lets go: back to the run switch and the synth's own clock, stopped.
    void Release();

    // Begins a block: the step starts are counted from its first frame.
    void BeginBlock();
    // Renders the next frames (any number), the steps beginning where the clock puts them.
    void Render(int16_t* out, uint32_t frames);

    const std::array<StepStart, kMaxStepStarts>& StepStarts() const { return Starts_; }
    size_t StepStartCount() const { return StartCount_; }
    bool HostDriven() const { return HostDriven_; }
    // Where the transport starts or lands, as MIDI clock tells it: the sixteenth note (from
    // the song start) that begins next on the grid, and the frames from the frame about to
    // be rendered until it begins (0: it begins there).
    struct GridPoint {
        uint64_t Sixteenth = 0;
        double FramesUntil = 0.0;
    };
    GridPoint NextSixteenth() const;
    // The grid's tempo in quarter notes a minute (the host's, else the synth's own).
    double QuarterBpm() const;
    // Positions the clock did not predict while rolling (the host jumped); counts on.
    uint64_t Jumps() const { return Jumps_; }
    bool Rolling() const { return Rolling_; }
    uint64_t Frame() const { return Frame_; }

private:
    void StepAdvanced(int32_t from, int32_t to) override;
    void PatternChanged() override {}
    void PhraseStarted(int32_t) override {}
    void SongEnded() override;
    void StepLoaded() override {}

    double StepBeats() const { return BeatUnit_ / 16.0; }
    double BeatsAt(uint64_t frame) const;
    uint64_t StepIndexAt(double beats) const;
    double SwingBeats(uint64_t step) const;
    uint64_t PlayingIndexAt(double beats) const; // the step playing there, swing counted
    uint64_t BoundaryOf(uint64_t step) const;
    void Anchor(double beats);
    void ApplyTempo();
    void PlayOwnClock();
    void StartHere(double beats, bool jump);
    void Schedule();
    void Record(uint32_t frame);

    PatternSynth& Synth_;
    StepClock Clock_ = StepClock::HostGrid;
    bool HostDriven_ = false; // a host has given a position
    bool FreeRun_ = false;
    bool RunWhileStopped_ = false;
    bool OwnClock_ = false; // the run switch plays while the host is stopped (RunWhileStopped_)
    int32_t FreeTempo_ = 140;
    bool Rolling_ = false;     // the host's transport rolls
    bool StartPending_ = false; // rolling before the song start: the synth starts at beat 0
    double Speed_ = 0.0;
    double Bpm_ = 0.0; // 0: no tempo from the host
    double BeatUnit_ = 4.0;
    uint64_t Frame_ = 0;        // frames rendered since construction
    uint64_t AnchorFrame_ = 0;  // the host's last position was at this frame...
    double AnchorBeats_ = 0.0;  // ...and this many beats from the song start
    double BeatsPerFrame_ = 0.0;
    uint64_t NextIndex_ = 0;    // HostGrid: the next step to begin, counted from the start
    uint64_t NextFrame_ = 0;    // ...and the frame it begins at
    double GridShift_ = 0.0;    // frames: see SetGridRounding
    uint32_t BlockFrame_ = 0;
    bool Stepped_ = false;      // the sequencer moved on inside the render loop
    uint64_t Jumps_ = 0;
    int64_t LastHostFrame_ = -1;     // the host's frame at its last position (-1: none)
    uint64_t LastPositionFrame_ = 0; // ...and our frame then
    int TickRun_ = 0;                // positions in a row whose beat was a whole tick
    std::array<StepStart, kMaxStepStarts> Starts_{};
    size_t StartCount_ = 0;
};

} // namespace zelvox
