#include "synth/PatternSynth.h"

#include <algorithm>

#include "audio/DelayDepth.h"
#include "files/MMFormat.h"
#include "engine/Tables.h"
#include "files/PatternFileFormat.h"
#include "sequencer/PatternDefaults.h"

namespace zelvox {

namespace {
constexpr size_t Index(ControlId id) {
    return static_cast<size_t>(id);
}
// The render loop's step hook: its own clock moves the sequencer on; under a host's clock
// the host does (BeginStep) and the loop's count is ignored.
void OwnClockStep(void* seq) {
    static_cast<Sequencer*>(seq)->SeqStep();
}
void HostClockStep(void*) {}
constexpr int ContourOf(ControlId id) {
    return static_cast<int>(id) - static_cast<int>(ControlId::BassAttackContour);
}
} // namespace

PatternSynth::PatternSynth() : PatternSynth(WindowStartsIt{}) {
    StartUp();
}

PatternSynth::PatternSynth(WindowStartsIt) {
    Eng.SetSeqStepHook(&OwnClockStep, &Seq);
    for (const ControlRow& row : kControls)
        Panel[Index(row.Id)] = row.Start;
    // The echo's stored settings, as the window's chain has them.
    Echo.SetDescription("Untitled");
    Echo.SetMaxDelay(kEchoMaxDelayMs);
    Echo.SetInputGain(80);
    Echo.SetInputPan(0);
    Echo.SetOutputGain(100);
    Echo.SetFeedBack(0);
    Echo.SetFilter(false);
}

void PatternSynth::StartUp() {
    // Start-up as the window's creation does it: the echo, the default patterns with the
    // edit step shown on the knobs, the step length from the tempo.
    DelayDepthStartup(Echo);
    InitPatternStoreDefaults(Store);
    ShowEditStep();
    for (int s = 1; s <= kStepsPerPattern; ++s)
        Store.Step(0, s).BassVolume = 0;
    Eng.S.CurStep = 1;
    Eng.S.NextStep = 2;
    Eng.S.PrevStep = Seq.Steps;
    Eng.S.MoreBuffers = true;
    Seq.Retime();
    for (int c = 0; c < kContourCount; ++c)
        Eng.Curves.Build(c, Panel[Index(ControlId::BassAttackContour) + size_t(c)]);
}

void PatternSynth::Activate() {
    if (EchoActive_) return;
    const auto format = PcmWaveFormat(16, 1, kSampleRate);
    Echo.SetWaveFormat(&format);
    Echo.Opened();
    EchoActive_ = true;
}

void PatternSynth::Deactivate() {
    if (!EchoActive_) return;
    Echo.Stopped();
    Echo.Closed();
    EchoActive_ = false;
}

void PatternSynth::Render(int16_t* out, uint32_t frames) {
    while (frames > 0) {
        const uint32_t n = std::min(frames, kMaxFrames);
        if (Seq.Playing() && Seq.PlayPattern != 0) {
            uint32_t bytes = 0;
            bool more = true;
            Eng.RenderBuffer(out, n * 2, bytes, more);
        } else {
            std::fill(out, out + n, int16_t{0});
        }
        if (EchoActive_) Echo.ProcessInPlace(reinterpret_cast<uint8_t*>(out), n * 2);
        out += n;
        frames -= n;
    }
}

bool PatternSynth::SetControl(ControlId id, int32_t value) {
    const int32_t v = ClampToControl(id, value);
    if (v == Panel[Index(id)]) return false;
    ControlChanged(id, v);
    return true;
}

void PatternSynth::ControlChanged(ControlId id, int32_t value) {
    Panel[Index(id)] = value;
    const ControlRow& row = ControlRowOf(id);
    if (row.Field) {
        WriteSoundField(Store, row.Field, value, SelectedNoteMode, Seq.PlayPattern, EditStep);
        return;
    }
    switch (id) {
    case ControlId::MasterVolume:
        break; // the render loop reads it live
    case ControlId::Delay:
        // The echo time in steps at the tempo now set; a later tempo does not retune it.
        DelayKnobChanged(Echo, Value(ControlId::Tempo), value, Value(ControlId::MasterVolume));
        break;
    case ControlId::Depth:
        DepthKnobChanged(Echo, value);
        break;
    case ControlId::Steps:
    case ControlId::Tempo:
        Seq.Steps = Value(ControlId::Steps);
        Seq.Tempo = Value(ControlId::Tempo);
        Seq.Retime();
        ApplyStepLength();
        break;
    default:
        Eng.Curves.Build(ContourOf(id), value);
        break;
    }
}

bool PatternSynth::Start() {
    if (!Seq.Start()) {
        Stop();
        return false;
    }
    if (EchoActive_) {
        // The chain clears the echo at every start; so does a host's transport.
        Echo.Stopped();
        Echo.Started();
    }
    return true;
}

namespace {
// The sequencer just started: on to `step`; the song may end on the way.
bool LocateFromStart(PatternSynth& synth, uint64_t step) {
    if (step == 0 || synth.Seq.Locate(step)) return true;
    synth.Stop();
    return false;
}
} // namespace

bool PatternSynth::StartAt(uint64_t step) {
    return Start() && LocateFromStart(*this, step);
}

bool PatternSynth::Locate(uint64_t step) {
    if (!Seq.Playing()) return false;
    // Counted from the start wherever the clock is now: the song from phrase 1, the pass
    // from step 1 (the sequencer counts on from its own place). A pattern queued while
    // looping stays queued.
    const int32_t queued = Seq.QueuedPattern;
    if (!Seq.Start()) {
        Stop();
        return false;
    }
    if (!Seq.SongMode()) Seq.QueuedPattern = queued;
    return LocateFromStart(*this, step);
}

void PatternSynth::SetExternalStepClock(bool on, int32_t stepLength) {
    ExternalStepLength_ = on ? std::max(stepLength, 1) : 0;
    if (on) {
        Eng.SetSeqStepHook(&HostClockStep, nullptr);
        ApplyStepLength();
    } else {
        Eng.SetSeqStepHook(&OwnClockStep, &Seq);
        Seq.Retime();
    }
}

void PatternSynth::ApplyStepLength() {
    if (ExternalStepLength_ > 0) Eng.S.StepLength = ExternalStepLength_;
}

void PatternSynth::BeginStep() {
    if (!Seq.Playing()) return;
    Seq.SeqStep();
    // The render loop moves on inside a sample, after counting it: the voices see 0 on the
    // step's first sample. Counting from -1 gives the same.
    Eng.S.SampleCount = -1;
}

void PatternSynth::Stop() {
    Seq.Stop();
}

void PatternSynth::ChoosePattern(int32_t pattern) {
    const int32_t p = std::clamp(pattern, 1, 16);
    if (Seq.ChoosePattern(p)) {
        EditStep = 1;
        ShowEditStep();
    }
}

NoteInAction PatternSynth::PlayNoteIn(const NotesInSetup& setup, const uint8_t* msg, size_t size) {
    const NoteInAction a = ReadNoteIn(setup, msg, size);
    if (a.What == NoteInAction::Kind::Transpose) Seq.SetTranspose(a.Value);
    if (a.What == NoteInAction::Kind::Pattern) ChoosePattern(a.Value);
    return a;
}

void PatternSynth::SetSongMode(bool on) {
    if (on == Seq.SongMode()) return;
    if (on) Stop();
    Seq.SetSongMode(on);
}

void PatternSynth::ShowEditStep() {
    for (size_t i = 0; i < kSoundControlCount; ++i) {
        const ControlRow& row = kControls[i];
        const StepRecord& r = Store.Step(ClampPattern(Seq.PlayPattern), ClampStep(EditStep));
        SetControl(row.Id, r.*row.Field);
    }
}

std::vector<uint8_t> PatternSynth::SaveState() const {
    PatternFileRecord r;
    std::vector<uint8_t> out(kPatternFileSize);
    SaveStateInto(out.data(), r);
    return out;
}

void PatternSynth::SaveStateInto(uint8_t* out, PatternFileRecord& r) const {
    ++Encodes_;
    r = PatternFileRecord{};
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s)
            r.Store.Step(p, s) = Store.Step(p, s);
    for (const ControlRow& row : kControls)
        if (row.File != FileKnob::None) FileKnobField(r, row.File) = Panel[Index(row.Id)];
    for (int k = 1; k <= kPhraseCount; ++k) {
        r.Phrases[size_t(k)].Pattern = Seq.Phrases[size_t(k)].Pattern;
        r.Phrases[size_t(k)].Count = Seq.Phrases[size_t(k)].Count;
    }
    EncodePatternFile(r, out);
}

bool PatternSynth::ApplyState(const uint8_t* data, size_t size, PatternFileRecord& r) {
    if (!data || size < kPatternFileSize) return false;
    DecodePatternFile(data, r);
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= kStepsPerPattern; ++s)
            Store.Step(p, s) = r.Store.Step(p, s);
    // Volume, Delay (at the tempo still set), Depth, Steps, Tempo, the contours: table order.
    for (const ControlRow& row : kControls)
        if (row.File != FileKnob::None) SetControl(row.Id, FileKnobField(r, row.File));
    for (int k = 1; k <= kPhraseCount; ++k) {
        Seq.Phrases[size_t(k)].Pattern = r.Phrases[size_t(k)].Pattern;
        Seq.Phrases[size_t(k)].Count = r.Phrases[size_t(k)].Count;
    }
    Seq.ClampPhrases();
    return true;
}

bool PatternSynth::LoadState(const uint8_t* data, size_t size) {
    PatternFileRecord r;
    if (!ApplyState(data, size, r)) return false;
    // The knobs follow pattern 1's edit step, writing into that step only.
    const bool modeBefore = SelectedNoteMode;
    SelectedNoteMode = true;
    Seq.PlayPattern = 1;
    ShowEditStep();
    SelectedNoteMode = modeBefore;
    return true;
}

} // namespace zelvox
