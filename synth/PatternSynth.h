#pragma once
// The whole synth as one object a host drives: the pattern store, the step clock and
// arranger, the three voices and the echo, with every control's value. The window's model
// presents one of these; the headless renderer, the benchmarks and plugin-style hosts drive
// it directly with plain calls.
//
// Threads: one thread owns the object. Render, and every call below that a host makes while
// audio runs (SetControl, Start, Stop, ChoosePattern, SetSongMode), allocate nothing, take no
// lock, throw nothing and make no system call. Construction, Activate, LoadState and
// SaveState may allocate and belong to a thread that is allowed to.

#include <array>
#include <cstdint>
#include <vector>

#include "audio/MMReverb.h"
#include "engine/Engine.h"
#include "files/PatternFileFormat.h"
#include "sequencer/ControlTable.h"
#include "sequencer/NotesIn.h"
#include "sequencer/PatternEdits.h"
#include "sequencer/Sequencer.h"

namespace zelvox {

class PatternSynth {
public:
    static constexpr uint32_t kMaxFrames = 8192; // most frames one Render call takes

    // Ready to play: the start-up patterns, every control at its start value and the echo's
    // settings as the window's chain has them (StartUp has run). The echo is not running
    // until Activate.
    PatternSynth();
    // For a window that runs its own creation sequence through its controls: every control
    // at its start value and the store still empty, as before the window's creation.
    struct WindowStartsIt {};
    explicit PatternSynth(WindowStartsIt);
    // The start-up sequence: the echo's start settings, the default patterns with the edit
    // step shown on the controls, step 1, the step length from the tempo, the curves.
    void StartUp();
    PatternSynth(const PatternSynth&) = delete;
    PatternSynth& operator=(const PatternSynth&) = delete;

    // ---- Data (the window's model that edits this synth reads and writes these directly) ----
    PatternStore Store{};
    // Current value of every control, by ControlId; the render loop reads the master volume
    // here on every sample.
    std::array<int32_t, kControlCount> Panel{};
    Sequencer Seq{Eng};
    Engine Eng{Store, Seq.PlayPattern, Panel[static_cast<size_t>(ControlId::MasterVolume)]};
    TMMReverb Echo;
    // Where a sound control's turn goes (SetControl, ShowEditStep): into this step, or with
    // "All Notes" into every step. A host sets them as the window does.
    int32_t EditStep = 1;          // 1..16
    bool SelectedNoteMode = false; // false "All Notes", true "Selected Note"

    // ---- Host calls ----
    // Opens the echo for the stream (mono, 16 bits, 44100 Hz); allocates its memory. Until
    // then Render leaves the echo out. A window's chain opens the echo itself instead.
    void Activate();
    void Deactivate();

    // Fills `frames` (1..kMaxFrames; more are rendered in pieces) mono samples: the voices
    // while the transport runs, silence while it is stopped, then the echo. Rendered in any
    // block sizes, the samples are the same as in 441-sample blocks.
    void Render(int16_t* out, uint32_t frames);

    // Turns a control as the window's knob does: the value is limited to the control's
    // range and acts only when it differs from the current one. A sound control writes its
    // step field into the edit step ("Selected Note") or into every step ("All Notes").
    // Returns true when the value changed.
    bool SetControl(ControlId id, int32_t value);
    int32_t Control(ControlId id) const { return Panel[static_cast<size_t>(id)]; }
    // The action of a control whose new value was already checked and stored by a control
    // model (the window's knobs): stores it and acts, without comparing.
    void ControlChanged(ControlId id, int32_t value);

    // Transport: Start loops the pattern, or plays the song in song mode; false when the song
    // has nothing to play (then the synth stays stopped). The echo restarts with the
    // transport, as the chain restarts it.
    bool Start();
    void Stop();
    bool Playing() const { return Seq.Playing(); }
    // Start, then move to `step` step times later (Sequencer::Locate): a host's transport
    // starting somewhere in the middle. False when nothing plays there.
    bool StartAt(uint64_t step);
    // While playing: jump to `step` steps after the start, keeping the echo. False when the
    // song has ended by then (the synth stops).
    bool Locate(uint64_t step);

    // A host's clock instead of the render loop's: with `on`, the render loop never moves
    // to the next step by itself; the host calls BeginStep where each step begins.
    // `stepLength` (samples, at least 1) stands for the tempo in the voices' timing (note
    // length) while on; the Tempo control keeps its own value.
    void SetExternalStepClock(bool on, int32_t stepLength = 0);
    bool ExternalStepClock() const { return ExternalStepLength_ > 0; }
    // The next step begins with the next sample rendered, exactly as when the render loop
    // moves on by itself.
    void BeginStep();

    // A pattern (1..16): at once when stopped, at the next pattern end while playing.
    void ChoosePattern(int32_t pattern);
    // MIDI notes in (sequencer/NotesIn.h): a note-on transposes the bass from the next step
    // or chooses a pattern as ChoosePattern does. Returns what it did.
    NoteInAction PlayNoteIn(const NotesInSetup& setup, const uint8_t* msg, size_t size);
    // Song (arranger) on or off; switching it on stops the transport, as the window's
    // Arranger page does.
    void SetSongMode(bool on);
    void SetTempo(int32_t bpm) { SetControl(ControlId::Tempo, bpm); }

    // The knobs show the edit step: each sound control takes its value from there, and one
    // whose value changes writes it back as SetControl does.
    void ShowEditStep();

    // ---- State: the pattern-file bytes ----
    // Exactly kPatternFileSize bytes: patterns, knobs, contours, tempo, steps, phrases.
    std::vector<uint8_t> SaveState() const;
    // The same bytes into `out` (kPatternFileSize of them) through `scratch`, allocating
    // nothing: for a host that keeps a copy of the state up to date while audio runs.
    void SaveStateInto(uint8_t* out, PatternFileRecord& scratch) const;
    // How many times the state was encoded (SaveState and SaveStateInto): what an editor's
    // hand-over costs, counted (call it on the thread that encodes).
    uint64_t StateEncodes() const { return Encodes_; }
    // Takes any bytes; fewer than kPatternFileSize: false and nothing changes. Applied as a
    // loaded pattern file is: the controls are set (each acting only if it changes), the
    // phrase table limited to what a song can play, pattern 1 shown with its edit step on
    // the knobs; the edit mode in force stays.
    bool LoadState(const uint8_t* data, size_t size);
    // The patterns, controls and song of the bytes, as LoadState takes them, through
    // `scratch`, without allocating and without moving what is shown or played (the pattern,
    // the edit step and mode): another thread's editor handing over its edits.
    bool ApplyState(const uint8_t* data, size_t size, PatternFileRecord& scratch);

private:
    int32_t& Value(ControlId id) { return Panel[static_cast<size_t>(id)]; }
    void ApplyStepLength();
    bool EchoActive_ = false;
    int32_t ExternalStepLength_ = 0; // 0: the render loop's own clock
    mutable uint64_t Encodes_ = 0;
};

} // namespace zelvox
