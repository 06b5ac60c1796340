// The LV2 glue: maps the plugin's ports, atoms, state and worker onto the synth object and
// the driver of its period (synth/SynthDriver.h), which the low-latency JACK output runs too.
// No sound and no policy of its own lives here.
//
// Threads, as LV2 defines them:
// - run, work_response: the host's audio thread. Nothing allocated, locked or waited for.
// - work: the host's worker thread; reads a pattern file into a buffer the audio thread
//   does not touch until the response hands it over.
// - save: any thread, even while run runs. It reads the newest copy of the state that run
//   leaves in a triple buffer, never the synth itself.
// - restore, instantiate, activate: while nothing else runs on the instance.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <sys/stat.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "files/MMFormat.h"
#include "base/LatestValue.h"
#include "files/PatternFileFormat.h"
#include "plugin/AtomChecks.h"
#include "plugin/Ports.h"
#include "synth/ControlChange.h"
#include "synth/HostTransport.h"
#include "synth/PatternSynth.h"
#include "synth/SynthDriver.h"
#include "synth/SynthEdit.h"
#include "dsp/RateStage.h"

namespace zelvox::lv2 {
namespace {

constexpr size_t kPathMax = 4096;

struct Uris {
    LV2_URID AtomBlank, AtomObject, AtomPath, AtomChunk, AtomFloat, AtomDouble, AtomInt,
        AtomLong, AtomSequence, AtomURID, AtomVector, MidiEvent, PatchGet, PatchSet, PatchProperty,
        PatchValue, TimePosition, TimeSpeed, TimeBar, TimeBarBeat, TimeBeatsPerBar,
        TimeBeatUnit, TimeBpm, TimeFrame, PatternFile, Patterns, StepStart, Step, Pattern,
        ControlTurn, ControlKey, Stopped, WindowState, Controllers, Edit;

    explicit Uris(LV2_URID_Map* m) {
        auto map = [m](const char* uri) { return m->map(m->handle, uri); };
        AtomBlank = map(LV2_ATOM__Blank);
        AtomObject = map(LV2_ATOM__Object);
        AtomPath = map(LV2_ATOM__Path);
        AtomChunk = map(LV2_ATOM__Chunk);
        AtomFloat = map(LV2_ATOM__Float);
        AtomDouble = map(LV2_ATOM__Double);
        AtomInt = map(LV2_ATOM__Int);
        AtomLong = map(LV2_ATOM__Long);
        AtomSequence = map(LV2_ATOM__Sequence);
        AtomURID = map(LV2_ATOM__URID);
        AtomVector = map(LV2_ATOM__Vector);
        MidiEvent = map(LV2_MIDI__MidiEvent);
        PatchGet = map(LV2_PATCH__Get);
        PatchSet = map(LV2_PATCH__Set);
        PatchProperty = map(LV2_PATCH__property);
        PatchValue = map(LV2_PATCH__value);
        TimePosition = map(LV2_TIME__Position);
        TimeSpeed = map(LV2_TIME__speed);
        TimeBar = map(LV2_TIME__bar);
        TimeBarBeat = map(LV2_TIME__barBeat);
        TimeBeatsPerBar = map(LV2_TIME__beatsPerBar);
        TimeBeatUnit = map(LV2_TIME__beatUnit);
        TimeBpm = map(LV2_TIME__beatsPerMinute);
        TimeFrame = map(LV2_TIME__frame);
        PatternFile = map(kPatternFileUri);
        Patterns = map(kPatternsUri);
        StepStart = map(kStepStartUri);
        Step = map(kStepUri);
        Pattern = map(kPatternUri);
        ControlTurn = map(kControlTurnUri);
        ControlKey = map(kControlUri);
        Stopped = map(kStoppedUri);
        WindowState = map(kWindowStateUri);
        Controllers = map(kControllersUri);
        Edit = map(kEditUri);
    }
};

using StateBytes = std::array<uint8_t, kPatternFileSize>;

// The controller table as the state keeps it: an atom:Vector body of kCCSlots atom:Int.
struct ControllerVector {
    LV2_Atom_Vector_Body Head{};
    CcTable Slots{};
};
static_assert(sizeof(ControllerVector) == sizeof(LV2_Atom_Vector_Body) + kCCSlots * sizeof(int32_t));

// What save() stores.
struct SavedState {
    StateBytes Patterns{};
    CcTable Controllers{};
};

// The newest state for save(): run publishes, save takes it; neither waits.
using StateMailbox = LatestValue<SavedState>;

// A pattern file on its way in: filled by the worker, applied by the audio thread.
struct FileLoad {
    std::array<char, kPathMax> Path{};
    StateBytes Bytes{};
    bool Ok = false;
};

struct Plugin {
    explicit Plugin(LV2_URID_Map* map) : U(map), Driver(Synth), Transport(Driver.Transport()) {
        // "Run" plays whenever the host's transport does not roll (stopped, or none).
        Transport.SetRunWhileStopped(true);
    }

    Uris U;
    PatternSynth Synth;
    SynthDriver Driver; // the period: transport, MIDI in, notes, the rate stage
    HostTransport& Transport;
    LV2_URID_Map* Map = nullptr;
    LV2_Log_Logger Logger{};
    LV2_Worker_Schedule* Schedule = nullptr;
    LV2_Atom_Forge Forge{};

    bool Stereo = false;
    float* Out = nullptr;
    float* OutRight = nullptr;
    float* LatencyOut = nullptr;
    const float* SwingIn = nullptr;
    int32_t Swing = 0; // percent, as the sequencer has it
    const LV2_Atom_Sequence* Control = nullptr;
    LV2_Atom_Sequence* Notify = nullptr;

    // The sequence as MIDI notes: the port and its control ports.
    LV2_Atom_Sequence* MidiOut = nullptr;
    std::array<const float*, kNotesPorts.size()> NotesPorts{};
    std::array<const float*, kNotesInPorts.size()> NotesInPorts{};
    LV2_Atom_Forge NotesForge{};
    std::array<const float*, kControlPortCount> Ports{};
    std::array<float, kControlPortCount> Seen{};
    bool PortsSeen = false;

    CcTable Controllers{};

    // At a host rate other than 44,100 Hz: the synth's stream converted (the driver renders
    // through it). Absent at 44,100 Hz.
    std::unique_ptr<RateStage> Rate;

    StateMailbox Mailbox;
    PatternFileRecord EncodeScratch;
    bool Dirty = true;

    FileLoad Load;
    bool LoadBusy = false;
    bool LoadQueued = false;
    std::array<char, kPathMax> QueuedPath{};
    std::array<char, kPathMax> CurrentPath{};
    bool ReportPath = false;

    // The plugin's window asked for the state, or the state changed under it (restored, a
    // pattern file loaded): run sends the whole state on the notify port.
    bool ReportState = false;
    StateBytes Report{};
    // For an open window: the controls MIDI turned since the last block's notifications
    // (their newest values), and whether it was last told of a play.
    std::array<bool, kControlCount> MidiTurned{};
    std::array<int32_t, kControlCount> MidiTurnedTo{};
    bool AnyMidiTurned = false;
    bool ToldPlaying = false;
};

// ---- Control ports ----

int32_t PortInt(float v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int32_t>(std::lround(std::fmax(-1e6f, std::fmin(1e6f, v))));
}

void ApplyPort(Plugin& p, uint32_t i, float value) {
    const PortInfo info = ControlPortInfo(i);
    const int32_t v = PortInt(value);
    switch (info.Role) {
    case PortRole::Control:
        if (p.Synth.SetControl(info.Id, v)) p.Dirty = true;
        break;
    case PortRole::FreeTempo:
        p.Transport.SetFreeTempo(v);
        p.Dirty = true;
        break;
    case PortRole::Pattern:
        p.Synth.ChoosePattern(v);
        break;
    case PortRole::Song:
        p.Transport.SetSongMode(v != 0);
        break;
    case PortRole::Run:
        p.Transport.SetFreeRun(v != 0);
        break;
    case PortRole::StepClock:
        p.Transport.SetStepClock(v != 0 ? StepClock::SynthClock : StepClock::HostGrid);
        break;
    case PortRole::EditMode:
        p.Synth.SelectedNoteMode = v != 0;
        break;
    case PortRole::EditStep:
        p.Synth.EditStep = std::max(1, std::min(16, v));
        p.Synth.ShowEditStep();
        break;
    case PortRole::MidiChannel:
        break; // read with each message
    }
}

// A port acts when its value changes. The first values a host gives only set the starting
// point: a host restores its ports beside the state, and the state already holds what the
// ports did before it was saved.
void ReadPorts(Plugin& p) {
    for (uint32_t i = 0; i < kControlPortCount; ++i) {
        const float* port = p.Ports[i];
        if (!port) continue;
        const float v = *port;
        if (!p.PortsSeen) {
            p.Seen[i] = v;
            // The transport's own settings have no state: they take the port's value.
            const PortRole role = ControlPortInfo(i).Role;
            if (role == PortRole::Run || role == PortRole::StepClock || role == PortRole::Song ||
                role == PortRole::EditMode)
                ApplyPort(p, i, v);
            continue;
        }
        if (v != p.Seen[i]) {
            p.Seen[i] = v;
            ApplyPort(p, i, v);
        }
    }
    p.PortsSeen = true;
}

// ---- Events ----

constexpr uint32_t kChannelPort = 8;
static_assert(kPanelPorts[kChannelPort].Role == PortRole::MidiChannel);

void Midi(Plugin& p, uint32_t frame, const uint8_t* msg, uint32_t size) {
    const int32_t port = p.Ports[kChannelPort] ? PortInt(*p.Ports[kChannelPort]) : 0;
    const int32_t channel = port >= 1 && port <= 16 ? port - 1 : -1;
    auto turned = [&p](ControlId id, int32_t v) {
        const auto i = static_cast<size_t>(id);
        if (i >= kControlCount) return;
        p.MidiTurned[i] = true;
        p.MidiTurnedTo[i] = v;
        p.AnyMidiTurned = true;
        p.Dirty = true;
    };
    p.Driver.Midi(frame, msg, size, p.Controllers, nullptr, channel, turned);
}

double Number(const Uris& u, const LV2_Atom* a, double fallback) {
    if (!a) return fallback;
    if (a->type == u.AtomFloat && Holds(a, sizeof(float)))
        return reinterpret_cast<const LV2_Atom_Float*>(a)->body;
    if (a->type == u.AtomDouble && Holds(a, sizeof(double)))
        return reinterpret_cast<const LV2_Atom_Double*>(a)->body;
    if (a->type == u.AtomInt && Holds(a, sizeof(int32_t)))
        return reinterpret_cast<const LV2_Atom_Int*>(a)->body;
    if (a->type == u.AtomLong && Holds(a, sizeof(int64_t)))
        return static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(a)->body);
    return fallback;
}

void TimePosition(Plugin& p, const LV2_Atom_Object* obj) {
    const Uris& u = p.U;
    const LV2_Atom *speed = nullptr, *bar = nullptr, *barBeat = nullptr, *bpb = nullptr,
                   *unit = nullptr, *bpm = nullptr, *frame = nullptr;
    lv2_atom_object_get(obj, u.TimeSpeed, &speed, u.TimeBar, &bar, u.TimeBarBeat, &barBeat,
                        u.TimeBeatsPerBar, &bpb, u.TimeBeatUnit, &unit, u.TimeBpm, &bpm,
                        u.TimeFrame, &frame, 0);
    HostPosition pos;
    pos.HasSpeed = speed != nullptr;
    pos.Speed = Number(u, speed, 0.0);
    pos.HasBeat = bar != nullptr || barBeat != nullptr;
    const double b = Number(u, bar, 0.0);
    pos.Bar = std::isfinite(b) ? static_cast<int64_t>(std::fmax(-1e12, std::fmin(1e12, b))) : 0;
    pos.BarBeat = Number(u, barBeat, 0.0);
    pos.BeatsPerBar = Number(u, bpb, 4.0);
    pos.BeatUnit = Number(u, unit, 4.0);
    pos.HasTempo = bpm != nullptr;
    pos.Bpm = Number(u, bpm, 0.0);
    pos.HasFrame = frame != nullptr;
    const double f = Number(u, frame, 0.0);
    pos.HostFrame = std::isfinite(f) ? static_cast<int64_t>(std::fmax(0.0, std::fmin(1e15, f))) : 0;
    p.Driver.Position(pos);
}

void CopyPath(std::array<char, kPathMax>& to, const char* from, uint32_t size) {
    const size_t n = std::min<size_t>(strnlen(from, size), kPathMax - 1);
    std::memcpy(to.data(), from, n);
    to[n] = '\0';
}

void StartLoad(Plugin& p, const std::array<char, kPathMax>& path) {
    p.Load.Path = path;
    p.LoadBusy = true;
    const int32_t job = 1;
    if (p.Schedule->schedule_work(p.Schedule->handle, sizeof job, &job) != LV2_WORKER_SUCCESS) {
        p.LoadBusy = false;
        lv2_log_error(&p.Logger, "Zelvox: the host did not take the pattern file to load\n");
    }
}

// A controller table from a vector body (`body`, `size` bytes from its child size on), as
// the window sends it or the state holds it. False, and the table unchanged, for anything else.
bool TakeControllerBody(const Uris& u, const void* body, size_t size, CcTable& table) {
    if (!body || size != sizeof(ControllerVector)) return false;
    ControllerVector v;
    std::memcpy(&v, body, sizeof v);
    if (v.Head.child_type != u.AtomInt || v.Head.child_size != sizeof(int32_t)) return false;
    table = v.Slots;
    return true;
}
bool TakeControllers(const Uris& u, const LV2_Atom* value, size_t size, CcTable& table) {
    if (!value || value->type != u.AtomVector || size != sizeof(ControllerVector)) return false;
    return TakeControllerBody(u, LV2_ATOM_BODY_CONST(value), size, table);
}

// The window's edits: its whole state (patterns, song, knobs), applied from the next step
// without moving what plays, as the low-latency player takes the desktop window's.
void WindowState(Plugin& p, const LV2_Atom* value) {
    if (!value || value->type != p.U.AtomChunk || value->size != kPatternFileSize) {
        lv2_log_error(&p.Logger, "Zelvox: the window's state is not %zu bytes of patterns; "
                                 "it was left out\n", kPatternFileSize);
        return;
    }
    if (p.Synth.ApplyState(static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(value)), value->size,
                           p.EncodeScratch))
        p.Dirty = true;
}

// One edit of the window's, applied as its whole state after it would be.
void WindowEdit(Plugin& p, const LV2_Atom* value) {
    SynthEdit e;
    if (!value || value->type != p.U.AtomChunk ||
        !DecodeEdit(static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(value)), value->size, e)) {
        lv2_log_error(&p.Logger, "Zelvox: the window's edit is not one this plugin knows; it was left out\n");
        return;
    }
    if (ApplyEdit(p.Synth, e)) p.Dirty = true;
}

void PatchMessage(Plugin& p, const LV2_Atom_Object* obj) {
    const Uris& u = p.U;
    const LV2_Atom *property = nullptr, *value = nullptr;
    lv2_atom_object_get(obj, u.PatchProperty, &property, u.PatchValue, &value, 0);
    const LV2_URID asked = property && property->type == u.AtomURID && Holds(property, sizeof(LV2_URID))
                               ? reinterpret_cast<const LV2_Atom_URID*>(property)->body
                               : 0;
    if (obj->body.otype == u.PatchGet) {
        if (asked == u.Patterns) p.ReportState = true;
        else p.ReportPath = true;
        return;
    }
    if (obj->body.otype != u.PatchSet) return;
    if (asked == u.Patterns) {
        WindowState(p, value);
        return;
    }
    if (asked == u.Edit) {
        WindowEdit(p, value);
        return;
    }
    if (asked == u.Controllers) {
        if (TakeControllers(p.U, value, value ? value->size : 0, p.Controllers)) p.Dirty = true;
        else lv2_log_error(&p.Logger, "Zelvox: a controller table must be %d atom:Int; it was left out\n", kCCSlots);
        return;
    }
    if (asked != u.PatternFile) return;
    if (!value || value->type != u.AtomPath || value->size == 0) {
        lv2_log_error(&p.Logger, "Zelvox: a pattern file must be given as a path\n");
        return;
    }
    if (!p.Schedule) {
        lv2_log_error(&p.Logger, "Zelvox: this host has no worker thread; pattern files "
                                 "cannot be loaded while playing\n");
        return;
    }
    std::array<char, kPathMax> path{};
    CopyPath(path, static_cast<const char*>(LV2_ATOM_BODY_CONST(value)), value->size);
    if (path[0] == '\0') {
        // A path of no characters (a cleared file chooser): nothing to look for.
        lv2_log_error(&p.Logger, "Zelvox: the pattern file path is empty; choose a .zvx file\n");
        return;
    }
    if (p.LoadBusy) {
        p.QueuedPath = path; // the newest wins
        p.LoadQueued = true;
    } else {
        StartLoad(p, path);
    }
}

// An event at `frame` of the block, the block rendered up to it.
void Event(Plugin& p, uint32_t frame, const LV2_Atom_Event* ev) {
    const Uris& u = p.U;
    if (ev->body.type == u.MidiEvent) {
        Midi(p, frame, static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body)), ev->body.size);
        return;
    }
    if (ev->body.type != u.AtomObject && ev->body.type != u.AtomBlank) return;
    const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
    if (!PropertiesFit(obj)) return;
    if (obj->body.otype == u.TimePosition)
        TimePosition(p, obj);
    else
        PatchMessage(p, obj);
}

// ---- Notifications ----

void WritePath(Plugin& p, int64_t frame) {
    const Uris& u = p.U;
    LV2_Atom_Forge_Frame f;
    if (!lv2_atom_forge_frame_time(&p.Forge, frame)) return;
    lv2_atom_forge_object(&p.Forge, &f, 0, u.PatchSet);
    lv2_atom_forge_key(&p.Forge, u.PatchProperty);
    lv2_atom_forge_urid(&p.Forge, u.PatternFile);
    lv2_atom_forge_key(&p.Forge, u.PatchValue);
    lv2_atom_forge_path(&p.Forge, p.CurrentPath.data(),
                        static_cast<uint32_t>(std::strlen(p.CurrentPath.data())));
    lv2_atom_forge_pop(&p.Forge, &f);
}

void WriteStep(Plugin& p, const StepStart& s, uint32_t frame) {
    const Uris& u = p.U;
    LV2_Atom_Forge_Frame f;
    if (!lv2_atom_forge_frame_time(&p.Forge, frame)) return;
    lv2_atom_forge_object(&p.Forge, &f, 0, u.StepStart);
    lv2_atom_forge_key(&p.Forge, u.Step);
    lv2_atom_forge_int(&p.Forge, s.Step);
    lv2_atom_forge_key(&p.Forge, u.Pattern);
    lv2_atom_forge_int(&p.Forge, s.Pattern);
    lv2_atom_forge_pop(&p.Forge, &f);
}

// For the window: the knobs MIDI turned (so that they move there too), and a stop (its LEDs
// stop with the play).
void WriteWindowNews(Plugin& p, int64_t frame) {
    const Uris& u = p.U;
    const bool playing = p.Synth.Playing();
    if (p.ToldPlaying && !playing) {
        LV2_Atom_Forge_Frame f;
        if (!lv2_atom_forge_frame_time(&p.Forge, frame)) return;
        lv2_atom_forge_object(&p.Forge, &f, 0, u.Stopped);
        lv2_atom_forge_pop(&p.Forge, &f);
    }
    p.ToldPlaying = playing;
    if (!p.AnyMidiTurned) return;
    for (size_t i = 0; i < kControlCount; ++i) {
        if (!p.MidiTurned[i]) continue;
        LV2_Atom_Forge_Frame f;
        if (!lv2_atom_forge_frame_time(&p.Forge, frame)) return; // the rest in the next block
        lv2_atom_forge_object(&p.Forge, &f, 0, u.ControlTurn);
        lv2_atom_forge_key(&p.Forge, u.ControlKey);
        lv2_atom_forge_int(&p.Forge, static_cast<int32_t>(i));
        lv2_atom_forge_key(&p.Forge, u.PatchValue);
        lv2_atom_forge_int(&p.Forge, p.MidiTurnedTo[i]);
        lv2_atom_forge_pop(&p.Forge, &f);
        p.MidiTurned[i] = false;
    }
    p.AnyMidiTurned = false;
}

// The whole state for the window, when the notify port has room for it (a host that gives
// less than the bundle asks for gets none, and the window waits rather than guess).
void WriteState(Plugin& p, int64_t frame) {
    const Uris& u = p.U;
    const uint32_t need = 160 + static_cast<uint32_t>(kPatternFileSize);
    if (p.Forge.size < p.Forge.offset + need) return;
    p.Synth.SaveStateInto(p.Report.data(), p.EncodeScratch);
    LV2_Atom_Forge_Frame f;
    if (!lv2_atom_forge_frame_time(&p.Forge, frame)) return;
    lv2_atom_forge_object(&p.Forge, &f, 0, u.WindowState);
    lv2_atom_forge_key(&p.Forge, u.PatchProperty);
    lv2_atom_forge_urid(&p.Forge, u.Patterns);
    lv2_atom_forge_key(&p.Forge, u.PatchValue);
    lv2_atom_forge_atom(&p.Forge, static_cast<uint32_t>(kPatternFileSize), u.AtomChunk);
    lv2_atom_forge_write(&p.Forge, p.Report.data(), static_cast<uint32_t>(kPatternFileSize));
    lv2_atom_forge_pop(&p.Forge, &f);
    p.ReportState = false;
}

// ---- MIDI notes out ----

// A whole-number setting's port, clamped to its range; its default when not connected or
// not a number.
int32_t WholePortValue(const float* port, const PortInfo& info) {
    const float v = port && std::isfinite(*port) ? std::clamp(*port, info.Min, info.Max) : info.Default;
    return static_cast<int32_t>(std::lround(v));
}

// The switch, channels and drum notes from their ports (one not connected: its default).
void ReadNotesPorts(Plugin& p) {
    auto value = [&](size_t i) { return WholePortValue(p.NotesPorts[i], kNotesPorts[i]); };
    p.Driver.Notes().Out.SetChannels({value(1), value(2), value(3), value(4), value(5)});
    MidiNotesOut& out = p.Driver.Notes().Out;
    const bool on = p.MidiOut && value(0) != 0;
    if (on != out.On()) out.SetOn(on, 0);
}

// ---- MIDI notes in ----

// The setup from its ports (one not connected: its default). Switched off, the bass plays as
// written again from the next step.
void ReadNotesInPorts(Plugin& p) {
    auto value = [&](size_t i) { return WholePortValue(p.NotesInPorts[i], kNotesInPorts[i]); };
    NotesInSetup s;
    s.Transpose = value(0) != 0;
    s.Channel = value(1) - 1;
    s.Root = value(2);
    s.Patterns = value(3) != 0;
    s.FirstPattern = value(4);
    if (s != p.Driver.NotesIn()) p.Driver.SetNotesIn(s);
}

// What the block sends: steps for the window on the notify port, notes on the MIDI port, each
// at the host frame where the synth's sound of it is heard.
void WriteSent(Plugin& p) {
    p.Driver.Place(nullptr, 0, p.Notify != nullptr);
    LV2_Atom_Forge& notes = p.NotesForge;
    LV2_Atom_Forge_Frame seq{};
    bool opened = false;
    if (p.MidiOut) {
        lv2_atom_forge_set_buffer(&notes, reinterpret_cast<uint8_t*>(p.MidiOut), p.MidiOut->atom.size);
        opened = lv2_atom_forge_sequence_head(&notes, &seq, 0) != 0;
    }
    bool room = opened;
    p.Driver.Send([&](const SynthDriver::Sent& s, uint32_t frame) {
        if (s.What == SynthDriver::Sent::Kind::Step) {
            if (p.Notify) WriteStep(p, s.Step, frame);
            return;
        }
        if (!room || !lv2_atom_forge_frame_time(&notes, frame)) {
            room = false; // no room for the rest
            return;
        }
        lv2_atom_forge_atom(&notes, s.Midi.Size, p.U.MidiEvent);
        lv2_atom_forge_write(&notes, s.Midi.Bytes.data(), s.Midi.Size);
    });
    if (opened) lv2_atom_forge_pop(&notes, &seq);
}

void Publish(Plugin& p) {
    SavedState& slot = p.Mailbox.WriteSlot();
    p.Synth.SaveStateInto(slot.Patterns.data(), p.EncodeScratch);
    slot.Controllers = p.Controllers;
    p.Mailbox.Publish();
    p.Dirty = false;
}

// ---- LV2 entry points ----

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    LV2_Log_Log* log = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const char* uri = features[i]->URI;
        if (!std::strcmp(uri, LV2_URID__map)) map = static_cast<LV2_URID_Map*>(features[i]->data);
        if (!std::strcmp(uri, LV2_LOG__log)) log = static_cast<LV2_Log_Log*>(features[i]->data);
        if (!std::strcmp(uri, LV2_WORKER__schedule))
            schedule = static_cast<LV2_Worker_Schedule*>(features[i]->data);
    }
    LV2_Log_Logger logger{};
    lv2_log_logger_init(&logger, map, log);
    if (!map) {
        lv2_log_error(&logger, "Zelvox: the host gives no URID map\n");
        return nullptr;
    }
    const std::string rateProblem = CheckHostRate(rate);
    if (!rateProblem.empty()) {
        lv2_log_error(&logger, "Zelvox: this host runs at %.6g Hz. %s\n", rate, rateProblem.c_str());
        return nullptr;
    }
    std::unique_ptr<Plugin> p(new (std::nothrow) Plugin(map));
    if (!p) return nullptr;
    p->Stereo = descriptor && descriptor->URI && !std::strcmp(descriptor->URI, kStereoUri);
    if (!IsNativeRate(rate)) {
        try {
            p->Rate = std::make_unique<RateStage>(static_cast<uint32_t>(rate));
        } catch (const std::exception& e) {
            lv2_log_error(&logger, "Zelvox: %s\n", e.what());
            return nullptr;
        }
        p->Driver.SetRate(p->Rate.get());
    }
    p->Map = map;
    p->Logger = logger;
    p->Schedule = schedule;
    lv2_atom_forge_init(&p->Forge, map);
    lv2_atom_forge_init(&p->NotesForge, map);
    p->OutRight = nullptr;
    Publish(*p);
    return p.release();
}

void ConnectPort(LV2_Handle h, uint32_t port, void* data) {
    auto& p = *static_cast<Plugin*>(h);
    if (port == kOutPort)
        p.Out = static_cast<float*>(data);
    else if (port == kControlPort)
        p.Control = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kNotifyPort)
        p.Notify = static_cast<LV2_Atom_Sequence*>(data);
    else if (port == LatencyPort(p.Stereo))
        p.LatencyOut = static_cast<float*>(data);
    else if (port == SwingPort(p.Stereo))
        p.SwingIn = static_cast<const float*>(data);
    else if (port == NotesOutPort(p.Stereo))
        p.MidiOut = static_cast<LV2_Atom_Sequence*>(data);
    else if (port > NotesOutPort(p.Stereo) && port <= NotesControlPort(p.Stereo, kNotesPorts.size() - 1))
        p.NotesPorts[port - NotesControlPort(p.Stereo, 0)] = static_cast<const float*>(data);
    else if (port >= NotesInPort(p.Stereo, 0) && port < NotesInPort(p.Stereo, kNotesInPorts.size()))
        p.NotesInPorts[port - NotesInPort(p.Stereo, 0)] = static_cast<const float*>(data);
    else if (p.Stereo && port == kRightPort)
        p.OutRight = static_cast<float*>(data);
    else if (port >= kFirstControlPort && port < kFirstControlPort + kControlPortCount)
        p.Ports[port - kFirstControlPort] = static_cast<const float*>(data);
}

void Activate(LV2_Handle h) {
    auto& p = *static_cast<Plugin*>(h);
    p.Synth.Activate();
    // Activated again: the converter starts empty, as the synth's echo does.
    if (p.Rate && p.Rate->EnginePushed() > 0) {
        try {
            p.Rate = std::make_unique<RateStage>(p.Rate->Rate());
            p.Driver.SetRate(p.Rate.get());
        } catch (const std::exception& e) {
            lv2_log_error(&p.Logger, "Zelvox: %s\n", e.what());
        }
    }
}

void Deactivate(LV2_Handle h) {
    static_cast<Plugin*>(h)->Synth.Deactivate();
}

void Run(LV2_Handle h, uint32_t frames) {
    auto& p = *static_cast<Plugin*>(h);
    if (!p.Out) return;
    LV2_Atom_Forge_Frame notify{};
    if (p.Notify) {
        const uint32_t capacity = p.Notify->atom.size;
        lv2_atom_forge_set_buffer(&p.Forge, reinterpret_cast<uint8_t*>(p.Notify), capacity);
        lv2_atom_forge_sequence_head(&p.Forge, &notify, 0);
    }
    if (p.LatencyOut) *p.LatencyOut = p.Rate ? static_cast<float>(p.Rate->Latency()) : 0.0f;
    if (p.SwingIn) {
        const float v = *p.SwingIn;
        const int32_t swing = std::isfinite(v) ? static_cast<int32_t>(std::clamp(std::lround(v), 0L, 75L)) : 0;
        if (swing != p.Swing) {
            p.Swing = swing;
            p.Driver.SetSwing(swing);
        }
    }
    SynthDriver::Block block;
    block.Out = p.Out;
    block.Right = p.OutRight;
    block.Frames = frames;
    p.Driver.Begin(block); // before the ports: switching the notes off ends them in this block
    ReadNotesPorts(p);
    ReadNotesInPorts(p);
    ReadPorts(p);
    p.Driver.Settle();
    if (p.Control) {
        LV2_ATOM_SEQUENCE_FOREACH(p.Control, ev) {
            if (!EventFits(p.Control, ev)) break; // the rest of the sequence cannot be read
            const int64_t t = ev->time.frames;
            const uint32_t at = t < 0 ? 0 : (t > frames ? frames : static_cast<uint32_t>(t));
            p.Driver.RenderTo(at);
            Event(p, at, ev);
            p.Driver.Settle();
        }
    }
    p.Driver.End();
    WriteSent(p);
    if (p.Notify) {
        WriteWindowNews(p, frames ? frames - 1 : 0);
        if (p.ReportPath && p.CurrentPath[0]) WritePath(p, frames ? frames - 1 : 0);
        p.ReportPath = false;
        if (p.ReportState) WriteState(p, frames ? frames - 1 : 0);
        lv2_atom_forge_pop(&p.Forge, &notify);
    }
    if (p.Dirty) Publish(p);
}

void Cleanup(LV2_Handle h) {
    delete static_cast<Plugin*>(h);
}

// ---- Worker ----

LV2_Worker_Status Work(LV2_Handle h, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle rh, uint32_t, const void*) {
    auto& p = *static_cast<Plugin*>(h);
    FileLoad& load = p.Load;
    load.Ok = false;
    // A pipe would keep this thread waiting for a writer for ever, and a device gives what
    // it likes (/dev/zero: silence taken as patterns). A folder the read refuses by name.
    struct stat st;
    if (::stat(load.Path.data(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        lv2_log_error(&p.Logger, "Zelvox: cannot load the pattern file %s: it is a device or a "
                                 "pipe, not a file\n", load.Path.data());
    } else try {
        const std::vector<uint8_t> bytes = ReadPatternFileBytes(load.Path.data());
        std::memcpy(load.Bytes.data(), bytes.data(), kPatternFileSize);
        load.Ok = true;
    } catch (const EInOutError& e) {
        // The text names the file and the system's reason.
        lv2_log_error(&p.Logger, "Zelvox: cannot load the pattern file: %s\n", e.what());
    } catch (const std::exception& e) {
        lv2_log_error(&p.Logger, "Zelvox: cannot load the pattern file %s: %s\n",
                      load.Path.data(), e.what());
    }
    const int32_t done = 1;
    respond(rh, sizeof done, &done);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status WorkResponse(LV2_Handle h, uint32_t, const void*) {
    auto& p = *static_cast<Plugin*>(h);
    if (p.Load.Ok && p.Synth.LoadState(p.Load.Bytes.data(), p.Load.Bytes.size())) {
        p.CurrentPath = p.Load.Path;
        p.ReportPath = true;
        p.ReportState = true;
        p.Dirty = true;
    }
    p.LoadBusy = false;
    if (p.LoadQueued) {
        p.LoadQueued = false;
        StartLoad(p, p.QueuedPath);
    }
    return LV2_WORKER_SUCCESS;
}

// ---- State ----

LV2_State_Status Save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle sh,
                      uint32_t, const LV2_Feature* const*) {
    auto& p = *static_cast<Plugin*>(h);
    const SavedState& saved = p.Mailbox.Newest();
    ControllerVector controllers;
    controllers.Head = {sizeof(int32_t), p.U.AtomInt};
    controllers.Slots = saved.Controllers;
    const LV2_State_Status r = store(sh, p.U.Controllers, &controllers, sizeof controllers,
                                     p.U.AtomVector, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    if (r != LV2_STATE_SUCCESS) return r;
    return store(sh, p.U.Patterns, saved.Patterns.data(), saved.Patterns.size(), p.U.AtomChunk,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle sh, uint32_t, const LV2_Feature* const*) {
    auto& p = *static_cast<Plugin*>(h);
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    // A state without a controller table (a preset, a project from before the table was
    // kept) leaves the instance's own.
    if (const void* table = retrieve(sh, p.U.Controllers, &size, &type, &flags)) {
        if (type != p.U.AtomVector || !TakeControllerBody(p.U, table, size, p.Controllers))
            lv2_log_error(&p.Logger, "Zelvox: the saved controller table is not %d atom:Int; "
                                     "it was left out\n", kCCSlots);
        Publish(p);
    }
    const void* data = retrieve(sh, p.U.Patterns, &size, &type, &flags);
    if (!data) return LV2_STATE_SUCCESS; // nothing saved: keep what there is
    if (type != p.U.AtomChunk || size != kPatternFileSize) {
        lv2_log_error(&p.Logger, "Zelvox: the saved state is not %zu bytes of patterns; "
                                 "it was left out\n", kPatternFileSize);
        return LV2_STATE_ERR_BAD_TYPE;
    }
    p.Synth.LoadState(static_cast<const uint8_t*>(data), size);
    Publish(p);
    p.ReportState = true; // an open window shows what was restored
    return LV2_STATE_SUCCESS;
}

const void* ExtensionData(const char* uri) {
    static const LV2_State_Interface state{Save, Restore};
    static const LV2_Worker_Interface worker{Work, WorkResponse, nullptr};
    if (!std::strcmp(uri, LV2_STATE__interface)) return &state;
    if (!std::strcmp(uri, LV2_WORKER__interface)) return &worker;
    return nullptr;
}

const LV2_Descriptor kMono = {kUri, Instantiate, ConnectPort, Activate, Run,
                              Deactivate, Cleanup, ExtensionData};
const LV2_Descriptor kStereo = {kStereoUri, Instantiate, ConnectPort, Activate, Run,
                                Deactivate, Cleanup, ExtensionData};

} // namespace
} // namespace zelvox::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    switch (index) {
    case 0: return &zelvox::lv2::kMono;
    case 1: return &zelvox::lv2::kStereo;
    default: return nullptr;
    }
}
