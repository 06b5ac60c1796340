#include "synth/LiveSynth.h"

#include <algorithm>

namespace zelvox {

namespace {
LiveEvent Event(LiveEvent::Kind what, uint32_t frame, int32_t a, int32_t b, uint32_t seq) {
    LiveEvent e;
    e.What = what;
    e.Frame = frame;
    e.A = a;
    e.B = b;
    e.Seq = seq;
    return e;
}
} // namespace

LiveSynth::LiveSynth() {
    Synth_.Activate();
    EditorTempo_ = Synth_.Control(ControlId::Tempo);
    Publish(Synth_, 0);
}

void LiveSynth::Publish(const PatternSynth& edited, uint32_t seen) {
    Published& p = State_.WriteSlot();
    PatternFileRecord scratch;
    edited.SaveStateInto(p.State.data(), scratch);
    p.SelectedNoteMode = edited.SelectedNoteMode;
    p.EditStep = edited.EditStep;
    p.Version = ++Version_;
    p.Seen = seen;
    State_.Publish();
    Handed h;
    h.State = p.Version;
    Behind_ = !Edits_.Push(h);
}

void LiveSynth::Edit(const SynthEdit& edit, uint32_t seen) {
    if (Behind_) return; // the next publication holds it
    Handed h;
    h.Edit = edit;
    h.Seen = seen;
    Behind_ = !Edits_.Push(h);
    if (!Behind_) ++EditsHanded_;
}

void LiveSynth::Apply(const Published& p) {
    Synth_.ApplyState(p.State.data(), p.State.size(), Scratch_);
    EditorTempo_ = Synth_.Control(ControlId::Tempo);
    Applied_ = p.Version;
    Settle(p.SelectedNoteMode, p.EditStep, p.Seen);
}

void LiveSynth::Settle(bool selectedNoteMode, int32_t editStep, uint32_t seen) {
    Synth_.EditStep = std::clamp(editStep, 1, 16);
    // The knobs show the edit step (writing nothing new into it), as the editor's do.
    Synth_.SelectedNoteMode = true;
    Synth_.ShowEditStep();
    Synth_.SelectedNoteMode = selectedNoteMode;
    // A knob MIDI turned after the editor's state was taken keeps its new value.
    for (size_t i = 0; i < kControlCount; ++i)
        if (TurnedAt_[i] > seen) Synth_.SetControl(static_cast<ControlId>(i), TurnedValue_[i]);
    Seen_ = seen;
    Transport_.Retempo();
}

// Edits and publications in the editor's order. A publication's place applies the newest
// state, which may be a later one than the place's own: the edits queued up to that later
// place are in it already and are passed over.
void LiveSynth::TakeEdits() {
    Handed h;
    while (Edits_.Pop(h)) {
        if (h.State != 0) {
            Marked_ = h.State;
            if (h.State > Applied_ && State_.TakeNewest()) Apply(State_.Read());
            continue;
        }
        EditsTaken_.store(EditsTaken_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        if (Applied_ > Marked_) continue;
        ApplyEdit(Synth_, h.Edit);
        if (h.Edit.What == SynthEdit::Kind::Control && h.Edit.Id == ControlId::Tempo)
            EditorTempo_ = ClampToControl(ControlId::Tempo, h.Edit.Value);
        Settle(h.Edit.SelectedNoteMode, h.Edit.EditStep, h.Seen);
    }
    // A publication whose place did not fit in the queue (nothing was queued after it), or
    // one made while the queue was being read: the edits queued before its place arrives are
    // in it and are passed over.
    if (State_.TakeNewest()) Apply(State_.Read());
}

// Released from the host's transport or MIDI clock, which set the tempo: the editor's again
// (or the one MIDI turned since).
void LiveSynth::RestoreEditorTempo() {
    constexpr auto tempo = static_cast<size_t>(ControlId::Tempo);
    Synth_.SetControl(ControlId::Tempo, TurnedAt_[tempo] > Seen_ ? TurnedValue_[tempo] : EditorTempo_);
    Transport_.Retempo();
}

void LiveSynth::Emit(const LiveEvent& e) {
    LiveEvent timed = e;
    timed.Time = PeriodTime_ + e.Frame;
    if (e.What == LiveEvent::Kind::StepBegan && PeriodHostFrame_ >= 0)
        timed.HostFrame = PeriodHostFrame_ + e.Frame;
    if (!Events_.Push(timed)) ++Dropped_;
}

void LiveSynth::EmitStep(const StepStart& s) {
    LiveEvent e = Event(LiveEvent::Kind::StepBegan, s.Frame, s.Step, s.Pattern, 0);
    e.Transpose = s.Transpose;
    Emit(e);
}

void LiveSynth::Command(const LiveCommand& c) {
    switch (c.What) {
    case LiveCommand::Kind::Start:
        if (!FollowHost_) {
            Driver_.CutNotes(); // from the start again: no legato into it
            Synth_.Stop();
            Transport_.SetFreeRun(true);
            Restarted_ = Synth_.Playing();
            if (!Synth_.Playing()) Emit(Event(LiveEvent::Kind::Stopped, Driver_.EngineFrame(), 0, 0, 0));
        }
        break;
    case LiveCommand::Kind::Stop:
        if (!FollowHost_) Transport_.SetFreeRun(false);
        WasPlaying_ = false; // asked for: no news for the editor
        break;
    case LiveCommand::Kind::ChoosePattern:
        Synth_.ChoosePattern(c.A);
        break;
    case LiveCommand::Kind::SongMode:
        Transport_.SetSongMode(c.A != 0);
        break;
    case LiveCommand::Kind::FollowTransport:
        FollowHost_ = c.A != 0;
        if (!FollowHost_) {
            Transport_.Release();
            RestoreEditorTempo();
        }
        break;
    case LiveCommand::Kind::StepClock:
        Transport_.SetStepClock(c.A != 0 ? StepClock::SynthClock : StepClock::HostGrid);
        break;
    case LiveCommand::Kind::MidiChannel:
        Channel_ = c.A;
        break;
    case LiveCommand::Kind::FollowClock:
        // One clock drives the synth: the MIDI clock or the host's transport.
        if (c.A != 0 && FollowHost_) {
            FollowHost_ = false;
            Transport_.Release();
        }
        Clock_.SetFollowing(c.A != 0);
        if (c.A == 0) RestoreEditorTempo();
        break;
    case LiveCommand::Kind::NotesIn:
        Driver_.SetNotesIn(UnpackNotesIn(c.A));
        break;
    case LiveCommand::Kind::Swing:
        Driver_.SetSwing(c.A);
        break;
    case LiveCommand::Kind::NotesOut:
        Driver_.Notes().Out.SetOn(c.A != 0, Driver_.EngineFrame());
        break;
    case LiveCommand::Kind::NoteChannels:
        Driver_.Notes().Out.SetChannels(UnpackNoteChannels(c.A));
        break;
    case LiveCommand::Kind::SendClock:
        Sending_ = c.A != 0;
        if (!Sending_ && Send_.Running()) Send_.Stop(Driver_.EngineFrame());
        break;
    }
}

void LiveSynth::SendTransport(bool wasPlaying, bool playing, uint32_t frame) {
    if (!Sending_ || Clock_.Following()) return;
    const bool hostClock = FollowHost_ && Transport_.HostDriven();
    // The tempo the steps really have: the render loop's step is StepLength + 1 samples;
    // on a host's grid, the grid's own tempo (its step rounded to whole frames would drift).
    const int32_t step = Synth_.ExternalStepClock() ? Synth_.Eng.S.StepLength
                                                    : Synth_.Eng.S.StepLength + 1;
    if (hostClock && Synth_.ExternalStepClock())
        Send_.SetTempo(Transport_.QuarterBpm());
    else if (step > 0)
        Send_.SetTempo(60.0 * 44100.0 / (4.0 * static_cast<double>(step)));
    // On a host's transport the clock starts and moves with the transport (SendHostTransport);
    // here only the song's end stops it.
    if (!hostClock && (Restarted_ || (!wasPlaying && playing))) Send_.Start(frame);
    Restarted_ = false;
    if (wasPlaying && !playing) Send_.Stop(frame);
}

void LiveSynth::SendHostTransport(bool wasRolling, bool jumped) {
    if (!Sending_ || Clock_.Following() || !FollowHost_) return;
    const bool rolling = Transport_.Rolling();
    if (Synth_.ExternalStepClock()) Send_.SetTempo(Transport_.QuarterBpm());
    // A relocation while rolling: Stop, where it went, Continue; the pulses resume on the
    // new grid, the first at the sixteenth the Song Position Pointer names (a receiver
    // plays that sixteenth on the first pulse after Continue).
    if (wasRolling && (!rolling || jumped)) Send_.Stop(0);
    if (!rolling || (wasRolling && !jumped)) return;
    const HostTransport::GridPoint at = Transport_.NextSixteenth();
    if (at.Sixteenth == 0) {
        Send_.Start(0, at.FramesUntil);
    } else {
        // Beyond 16,383 sixteenths (1,024 bars) the pointer has no bits left: Continue alone.
        Send_.SongPosition(0, static_cast<uint32_t>(std::min<uint64_t>(at.Sixteenth, 0x3FFF)));
        Send_.Continue(0, at.FramesUntil);
    }
}

void LiveSynth::Process(int16_t* out, uint32_t frames, const LiveMidi* midi, size_t midiCount,
                        const HostPosition* host, uint64_t time) {
    SynthDriver::Block b;
    b.Engine = out;
    b.Frames = frames;
    Period(b, midi, midiCount, host, time);
}

void LiveSynth::ProcessHost(float* out, uint32_t frames, const LiveMidi* midi, size_t midiCount,
                            const HostPosition* host, uint64_t time) {
    SynthDriver::Block b;
    b.Out = out;
    b.Frames = frames;
    Period(b, midi, midiCount, host, Driver_.Rate() ? Driver_.Rate()->EnginePushed() : time);
}

void LiveSynth::Period(const SynthDriver::Block& block, const LiveMidi* midi, size_t midiCount,
                       const HostPosition* host, uint64_t time) {
    const uint32_t frames = block.Frames;
    PeriodTime_ = time;
    Driver_.Begin(block);
    const bool playingBefore = Synth_.Playing();
    // The host's frame moves only while it rolls.
    PeriodHostFrame_ = host && host->HasFrame && host->Speed > 0 ? Driver_.OnSynthFrames(*host).HostFrame : -1;
    TakeEdits();
    LiveCommand c;
    while (Commands_.Pop(c)) Command(c);
    const bool rollingBefore = Transport_.Rolling();
    const uint64_t jumpsBefore = Transport_.Jumps();
    if (host && FollowHost_) Driver_.Position(*host);

    // A start or stop the commands (or the host's transport) made sends clock from the
    // period's first frame.
    SendTransport(playingBefore, Synth_.Playing(), 0);
    SendHostTransport(rollingBefore, Transport_.Jumps() != jumpsBefore);
    const bool playingAtStart = Synth_.Playing();
    // Stopped, or moved elsewhere, from the period's first frame: every note ends there.
    Driver_.Settle();

    const MidiMaps& maps = Maps_.Newest();
    for (size_t i = 0; i < midiCount; ++i) {
        const LiveMidi& m = midi[i];
        const uint32_t at = std::min(m.Frame, frames);
        const uint32_t engineAt = Driver_.EngineFrameAt(at);
        auto turned = [&](ControlId id, int32_t value) {
            TurnedAt_[static_cast<size_t>(id)] = ++TurnSeq_;
            TurnedValue_[static_cast<size_t>(id)] = value;
            Emit(Event(LiveEvent::Kind::ControlTurned, engineAt, static_cast<int32_t>(id), value,
                       TurnSeq_));
        };
        if (m.Size == 3 && (m.Bytes[0] & 0xF0) == 0xB0) // for the window's MIDI learn
            Emit(Event(LiveEvent::Kind::Controller, engineAt, m.Bytes[0], m.Bytes[1] << 8 | m.Bytes[2], 0));
        const NoteInAction action =
            Driver_.Midi(at, m.Bytes.data(), m.Size, maps.Controllers, &maps.Learned, Channel_, turned);
        if (action.What == NoteInAction::Kind::Pattern)
            Emit(Event(LiveEvent::Kind::PatternChosen, engineAt, Synth_.Seq.Playing() ? Synth_.Seq.QueuedPattern
                                                                                    : Synth_.Seq.PlayPattern, 0, 0));
    }
    Driver_.End();
    const uint32_t engineFrames = Driver_.EngineFrame();

    size_t steps = 0;
    const StepStart* began = Driver_.Steps(steps);
    for (size_t i = 0; i < steps; ++i) EmitStep(began[i]);
    const bool playing = Synth_.Playing();
    if (playing && Synth_.Seq.SongMode() && Synth_.Seq.PhraseIndex != ShownPhrase_) {
        ShownPhrase_ = Synth_.Seq.PhraseIndex;
        Emit(Event(LiveEvent::Kind::PhraseBegan, 0, ShownPhrase_, 0, 0));
    }
    if (!playing) ShownPhrase_ = 0;
    // The song's end (or the host's transport) stopping the synth inside the period.
    SendTransport(playingAtStart, playing, engineFrames > 0 ? engineFrames - 1 : 0);
    Send_.Period(engineFrames);
    // Stopped by the song's end, the host's transport or MIDI clock (not by a Stop command).
    if (WasPlaying_ && !playing) Emit(Event(LiveEvent::Kind::Stopped, engineFrames, 0, 0, 0));
    WasPlaying_ = playing;
}

} // namespace zelvox
