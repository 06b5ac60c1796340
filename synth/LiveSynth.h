#pragma once
// The synth played on a real-time thread (a JACK process callback) while the window edits
// on its own thread. They meet only through lock-free hand-overs:
// - the window hands over each edit as what it is (synth/SynthEdit.h), in a queue the
//   real-time thread empties at its next period; what an edit cannot say (a load, undo) it
//   publishes as its whole state (the patterns and controls it holds, the edit mode and
//   step), taken in its place in that queue;
// - transport commands (start, stop, pattern, song mode, follow the host) go in a queue;
// - what the window shows comes back in a queue: steps begun, pattern changes, song end,
//   knobs that MIDI turned (so the window's knob follows), the period's load.
// MIDI Control Change and the host's transport are handled on the real-time thread, at the
// frame they arrive, so they are heard within the period.
//
// Process allocates nothing, takes no lock, waits for nothing and makes no system call.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/LatestValue.h"
#include "base/SpscRing.h"
#include "files/PatternFileFormat.h"
#include "synth/ControlChange.h"
#include "synth/HostTransport.h"
#include "synth/MidiClockFollow.h"
#include "synth/MidiClockSend.h"
#include "synth/MidiNotesOut.h"
#include "synth/PatternSynth.h"
#include "synth/SynthDriver.h"
#include "synth/SynthEdit.h"

namespace zelvox {

struct LiveCommand {
    enum class Kind : uint8_t {
        Start,           // play from step 1 (the song in song mode)
        Stop,
        ChoosePattern,   // A: 1..16
        SongMode,        // A: 0 off, 1 on
        FollowTransport, // A: 0 own transport, 1 the host's
        StepClock,       // A: 0 the host's grid, 1 the synth's clock
        MidiChannel,     // A: -1 every channel, else the status byte's low nibble
        FollowClock,     // A: 1 play on the MIDI clock that comes in, 0 not
        SendClock,       // A: 1 send MIDI clock from the transport, 0 not
        Swing,           // A: 0..75 percent of a step (Sequencer::SetSwing)
        NotesOut,        // A: 1 send the sequence as MIDI notes, 0 not (notes sounding end)
        NoteChannels,    // A: PackNoteChannels of the channels and drum notes
        NotesIn,         // A: PackNotesIn of the MIDI notes-in setup
    };
    Kind What = Kind::Stop;
    int32_t A = 0;
};

struct LiveEvent {
    enum class Kind : uint8_t {
        StepBegan,      // Frame into the period; A the step, B the pattern
        ControlTurned,  // A the ControlId, B its new value (MIDI turned it)
        Stopped,        // the song ended or nothing was there to play
        PhraseBegan,    // A the song's phrase (1..16) now playing
        Controller,     // a Control Change came in: A its status byte, B controller << 8 | value
        PatternChosen,  // a MIDI note chose pattern A (1..16), as its pattern button does
    };
    Kind What = Kind::Stopped;
    uint32_t Frame = 0;
    int32_t A = 0;
    int32_t B = 0;
    uint32_t Seq = 0; // ControlTurned: counts 1, 2, 3 ...
    uint64_t Time = 0;      // the device's frame clock at Frame (the period's time + Frame)
    int64_t HostFrame = -1; // StepBegan: the host transport's frame there, when it gave one
    int32_t Transpose = 0;  // StepBegan: semitones the step's bass plays transposed by
};

// A short MIDI message at a frame of the period.
struct LiveMidi {
    uint32_t Frame = 0;
    uint8_t Size = 0;
    std::array<uint8_t, 3> Bytes{};
};

// The note channels and drum notes in one command's value (each limited to its range).
inline int32_t PackNoteChannels(const NoteChannels& c) {
    auto ch = [](int32_t v) { return std::clamp(v, 1, 16) - 1; };
    auto key = [](int32_t v) { return std::clamp(v, 0, 127); };
    return ch(c.Bass) | ch(c.Drum) << 4 | ch(c.Noise) << 8 | key(c.TwinTNote) << 12 | key(c.NoiseNote) << 19;
}
inline NoteChannels UnpackNoteChannels(int32_t a) {
    return {(a & 15) + 1, (a >> 4 & 15) + 1, (a >> 8 & 15) + 1, a >> 12 & 127, a >> 19 & 127};
}

class LiveSynth {
public:
    LiveSynth();
    LiveSynth(const LiveSynth&) = delete;
    LiveSynth& operator=(const LiveSynth&) = delete;

    // ---- The editing thread ----
    // Hands over the patterns, controls and song the editor holds, and its edit position.
    // `seen`: the Seq of the last ControlTurned event the editor has taken in; turns it has
    // not seen yet are kept over its older state.
    void Publish(const PatternSynth& edited, uint32_t seen);
    // How many times Publish ran, and whether the real-time thread has taken the last one.
    uint64_t Publications() const { return Version_; }
    bool PublicationTaken() const { return State_.Taken(); }
    // One edit, applied at the next period in the order of edits and publications (`seen`
    // as for Publish). With the queue full the editor is Behind: edits are dropped until it
    // publishes its whole state again.
    void Edit(const SynthEdit& edit, uint32_t seen);
    bool Behind() const { return Behind_; }
    // Edits handed over, and of those the real-time thread has taken (applied, or found in
    // a state it took).
    uint64_t EditsHanded() const { return EditsHanded_; }
    uint64_t EditsTaken() const { return EditsTaken_.load(std::memory_order_acquire); }
    // False when the queue is full (the command is dropped).
    bool Post(LiveCommand command) { return Commands_.Push(command); }
    bool Poll(LiveEvent& event) { return Events_.Pop(event); }
    // The controller table, and the controllers learned for controls (MIDI learn) beside it;
    // the real-time thread takes the newest at its next period.
    void SetControllers(const CcTable& table) {
        MapsEdit_.Controllers = table;
        PublishMaps();
    }
    void SetLearned(const LearnLookup& learned) {
        MapsEdit_.Learned = learned;
        PublishMaps();
    }

    // ---- The real-time thread ----
    // One period at the synth's own rate (no stage set): `frames` samples into `out`; MIDI in
    // frame order; `host` where the host's transport is at the period's first frame (null: the
    // host says nothing). `time`: the device's frame clock at the period's first frame (for
    // the events).
    void Process(int16_t* out, uint32_t frames, const LiveMidi* midi, size_t midiCount,
                 const HostPosition* host, uint64_t time = 0);
    // One period of the host's frames (through the stage SetRate gave, if any): `out` gets
    // `frames` host frames; MIDI frames are the host's. With a stage the events' times count
    // the synth's frames pushed through it.
    void ProcessHost(float* out, uint32_t frames, const LiveMidi* midi, size_t midiCount,
                     const HostPosition* host, uint64_t time = 0);

    // The MIDI clock to send in the period just processed (the synth's frames into it).
    const ClockMessage* ClockOut(size_t& count) const {
        count = Send_.MessageCount();
        return Send_.Messages().data();
    }

    // The notes to send for the period just processed (the synth's frames into it, in frame
    // order).
    const ClockMessage* NotesOut(size_t& count) const {
        count = Driver_.Notes().Out.MessageCount();
        return Driver_.Notes().Out.Messages().data();
    }

    // After a period: the clock and notes it sends, on the host's frames, each(message,
    // frame into the period); what lands beyond it waits for the next.
    template <class Each>
    void SendOut(Each&& each) {
        Driver_.Place(Send_.Messages().data(), Send_.MessageCount(), false);
        Driver_.Send([&](const SynthDriver::Sent& s, uint32_t frame) { each(s.Midi, frame); });
    }

    // A stage to the host's rate (null: none), and the host frames by which what the period
    // sends comes late to keep with the stage's sound (SynthDriver::Placement::Delayed). Set
    // between periods.
    void SetRate(RateStage* stage, uint32_t sendDelay) {
        Driver_.SetRate(stage);
        Driver_.SetPlacement(SynthDriver::Placement::Delayed, sendDelay);
    }
    // Sees each piece of the synth's stream as it is rendered (a recording).
    void SetTap(SynthDriver::Tap tap, void* context) { Driver_.SetTap(tap, context); }

    // The synth itself: for tests, and for the real-time thread's own use.
    PatternSynth& Synth() { return Synth_; }
    uint64_t DroppedEvents() const { return Dropped_; }

private:
    struct MidiMaps {
        CcTable Controllers{};
        LearnLookup Learned = NoLearned();
    };
    void PublishMaps() {
        Maps_.WriteSlot() = MapsEdit_;
        Maps_.Publish();
    }
    struct Published {
        std::array<uint8_t, kPatternFileSize> State{};
        bool SelectedNoteMode = false;
        int32_t EditStep = 1;
        uint64_t Version = 0;
        uint32_t Seen = 0;
    };
    // What the editing thread queues: an edit, or (State nonzero) the place of a publication.
    struct Handed {
        SynthEdit Edit;
        uint32_t Seen = 0;
        uint64_t State = 0;
    };
    void Apply(const Published& p);
    void TakeEdits();
    // The end of every hand-over: the editor's edit mode and step, the knobs showing that
    // step, MIDI turns the editor has not seen kept, the host's tempo when following one.
    void Settle(bool selectedNoteMode, int32_t editStep, uint32_t seen);
    void RestoreEditorTempo();
    void Command(const LiveCommand& c);
    void Period(const SynthDriver::Block& block, const LiveMidi* midi, size_t midiCount,
                const HostPosition* host, uint64_t time);
    void Emit(const LiveEvent& e);
    void EmitStep(const StepStart& s);

    void SendTransport(bool wasPlaying, bool playing, uint32_t frame);
    void SendHostTransport(bool wasRolling, bool jumped);

    PatternSynth Synth_;
    SynthDriver Driver_{Synth_};
    HostTransport& Transport_ = Driver_.Transport();
    MidiClockFollow& Clock_ = Driver_.Clock();
    MidiClockSend Send_;
    bool Sending_ = false;
    bool Restarted_ = false; // a Start command: clock starts again from pulse 0
    LatestValue<Published> State_;
    uint64_t Version_ = 0;   // editing thread: versions published
    uint64_t Applied_ = 0;   // real-time thread: the version applied
    uint64_t Marked_ = 0;    // real-time thread: the newest publication's place reached
    SpscRing<Handed, 64> Edits_;
    bool Behind_ = false;     // editing thread: an edit did not fit; publish to catch up
    uint64_t EditsHanded_ = 0;
    std::atomic<uint64_t> EditsTaken_{0};
    uint32_t Seen_ = 0;       // real-time thread: the editor's Seen in its last hand-over
    int32_t EditorTempo_ = 0; // real-time thread: the tempo the editor's state has
    PatternFileRecord Scratch_;
    SpscRing<LiveCommand, 256> Commands_;
    SpscRing<LiveEvent, 1024> Events_;
    MidiMaps MapsEdit_;          // editing thread
    LatestValue<MidiMaps> Maps_; // the real-time thread reads the newest
    int32_t Channel_ = -1;
    bool FollowHost_ = false;
    bool WasPlaying_ = false;
    int32_t ShownPhrase_ = 0; // the phrase last reported
    uint64_t PeriodTime_ = 0;
    int64_t PeriodHostFrame_ = -1;
    uint64_t Dropped_ = 0;
    uint32_t TurnSeq_ = 0;
    std::array<uint32_t, kControlCount> TurnedAt_{}; // the Seq of each control's last turn
    std::array<int32_t, kControlCount> TurnedValue_{};
};

} // namespace zelvox
