#pragma once
// The step clock, the transport and the arranger, without a window: which pattern plays,
// which is queued, the phrase table and where the song is. The engine's render loop calls
// SeqStep at every step boundary; what a window shows of it (the step LEDs, the pattern on
// the editor, the phrase playing, the end of a song) is reported to a listener.
//
// Runs on the thread that renders. Nothing here allocates, locks or waits; the listener is
// called once per step at most, never per sample.

#include <array>
#include <cstdint>

#include "engine/Engine.h"

namespace zelvox {

constexpr int kPhraseCount = 16;
constexpr int32_t kPhrasePatternMax = 16; // "Phrase" spin edits: 0..16
constexpr int32_t kPhraseCountMax = 100;  // "Count" spin edits: 0..100

// One arranger phrase: which pattern, how many passes.
struct PhraseEntry {
    int32_t Pattern = 0; // 0..16; 0 ends the song
    int32_t Count = 0;   // 0..100; 0 on phrase 1 ends the song, on a later phrase repeats it
};
using PhraseList = std::array<PhraseEntry, kPhraseCount + 1>; // entries 1..16; [0] unused

class SequencerListener {
public:
    // The clock moved on: step `from` is no longer playing, step `to` is (both 1..16).
    virtual void StepAdvanced(int32_t from, int32_t to) = 0;
    // At a pattern end the queued pattern took over: PlayPattern is a different pattern now.
    virtual void PatternChanged() = 0;
    // The song began phrase k (1..16).
    virtual void PhraseStarted(int32_t k) = 0;
    // The song ended inside the render loop: the transport must stop.
    virtual void SongEnded() = 0;
    // The engine has just loaded the current step (at the start and at every step).
    virtual void StepLoaded() = 0;

protected:
    ~SequencerListener() = default;
};

class Sequencer {
public:
    explicit Sequencer(Engine& engine);
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    void SetListener(SequencerListener* listener) { Listener_ = listener; }

    int32_t PlayPattern = 1;   // 0..16: shown, edited and played; 0 = nothing to play
    int32_t QueuedPattern = 1; // 0..16: becomes PlayPattern at the next pattern end
    int32_t Steps = 16;        // steps per pass, 1..16
    int32_t Tempo = 140;       // beats per minute, four steps to the beat
    PhraseList Phrases{};
    int32_t PhraseIndex = 1; // phrase now playing, 1..16
    int32_t RepeatsLeft = 0; // passes of the phrase still to finish

    // Swing, 0..kMaxSwing percent of a step: every second sixteenth (odd StepIndex) begins
    // that much late, the step before it lasting longer and it shorter by as much, so two
    // steps together keep their length. 0 is straight time. Set through SetSwing.
    static constexpr int32_t kMaxSwing = 75;
    int32_t Swing() const { return Swing_; }
    void SetSwing(int32_t percent);
    // Sixteenths since Start (Locate sets it): the parity the swing goes by, so that a
    // pattern of any number of steps swings on the beat's grid.
    uint64_t StepIndex() const { return StepIndex_; }
    // Samples the swing delays an off-beat step by at the own clock's step length now in
    // force (StepLength + 1 samples a step).
    int32_t SwingDelay() const;

    // MIDI notes in: the bass plays `semitones` away from its stored notes from the next
    // step that loads (the stored pattern is not changed). Limited to -127..127.
    void SetTranspose(int32_t semitones);
    // The transpose asked for, and the one the step now sounding was loaded with.
    int32_t PendingTranspose() const { return PendingTranspose_; }
    int32_t Transpose() const { return Eng_.S.BassTranspose; }

    EngineState& State() { return Eng_.S; }
    bool Playing() const { return Eng_.S.Playing; }
    bool SongMode() const { return Eng_.S.ArrangerMode; }
    void SetSongMode(bool on) { Eng_.S.ArrangerMode = on; }

    // The current step's time is up (called by the render loop).
    void SeqStep();
    // The last step of a pass begins: switch to the queued pattern, or advance the song.
    void SeqDone();

    // Start: step 1 is loaded and the clock runs, looping PlayPattern or, in song mode,
    // from phrase 1. False when the song has nothing to play; the caller then stops.
    bool Start();
    void Stop() { Eng_.S.Playing = false; }

    // Puts a started clock where it would be `step` step times after Start (step 0 is the
    // first step of the pass or of the song), as if every step had been played: the queued
    // pattern taken over and the song's phrases counted at every pass end. The step found
    // is loaded and begins now. False when the song has ended by then (the clock stops).
    // Takes time in proportion to the song's phrases, not to `step`; for a host that jumps.
    bool Locate(uint64_t step);

    // Steps or Tempo changed: a position past the new end goes back to step 1, and the step
    // length follows the tempo.
    void Retime();

    // A pattern button: while playing, n is queued for the next pattern end (false);
    // otherwise it plays at once (true).
    bool ChoosePattern(int32_t n);

    // Limits phrase values a file brought in to what the song can play.
    void ClampPhrases();

private:
    bool SongStart();
    void SongPatternEnd();
    void ApplySwing();
    void LoadStep();

    Engine& Eng_;
    int32_t Swing_ = 0;
    int32_t PendingTranspose_ = 0;
    uint64_t StepIndex_ = 0;
    SequencerListener* Listener_ = nullptr;
};

} // namespace zelvox
