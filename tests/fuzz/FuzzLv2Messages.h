#pragma once
// Fuzz body: the LV2 plugin's message and state handling, driven through its own descriptor
// by a minimal host in this file (no lilv, no audio thread): control port values, atoms on
// the control port, blocks of any length, state chunks in and out, the worker's file loads.
//
// The input is a script. Its first byte picks the instance (44,100 or 48,000 Hz, mono or
// stereo); then commands (the first byte of each picks one, some more often than others):
//   0  a control port value (the panel's, swing, notes out and in): port number, then the
//      value's raw float bits (NaN and all)
//   1  an event for the next block: its frame (any, even negative), then what it is: a MIDI
//      message, a time:Position, a patch:Set, a patch:Get, an object of any type or an atom
//      of any type, each property's value an atom of any type and any size (a patch:value
//      now and then a window's edit)
//   2  a block: its length (0..4,096 frames asked, mostly under 64) and the notify port's
//      room (0..8,191 bytes); the worker's jobs run after it and their responses come before
//      the next block.
//   3  a state chunk restored: its key, its type, its size (empty, one short, exact, one
//      over, any) and bytes
//   4  the state saved
//   5  deactivate and activate again: once a script, when the next byte is 0xA5
// A script runs its first 48 commands, at most 8 blocks and 1,024 frames in all (past that a
// block is empty: run() with 0 frames still takes its events). Rendering and publishing the
// sound would otherwise take most of the time; the messages and the state are what this
// target is about. Longer blocks and hours of them are the hostile-host test's and the
// whole-program targets' part.
// A file the plugin is asked to load is one of a few made here (a pattern file, a short
// file, a folder, a missing file, a device); the bytes around its name come from the input.
//
// What must hold, besides no crash and no sanitizer report: every sample leaving run() is
// finite and within -4..4 (see AllSound), the latency port finite and not negative, the notify port's
// sequence within its room; a saved state is one pattern file record of type atom:Chunk.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "files/PatternFileFormat.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"
#include "plugin/Ports.h"
#include "synth/PatternSynth.h"
#include "synth/SynthEdit.h"

#if defined(__clang__)
#define ZELVOX_FUZZ_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define ZELVOX_FUZZ_UNTRACED
#endif

namespace zelvox::fuzz {

using namespace zelvox::lv2;

using Lv2DescriptorFn = const LV2_Descriptor* (*)(uint32_t);

// The URIs the host knows, in URID order (URID = index + 1); others are added when mapped.
inline std::vector<std::string>& Lv2Uris() {
    static std::vector<std::string> uris = {
        LV2_ATOM__Blank, LV2_ATOM__Object, LV2_ATOM__Path, LV2_ATOM__Chunk, LV2_ATOM__Float,
        LV2_ATOM__Double, LV2_ATOM__Int, LV2_ATOM__Long, LV2_ATOM__Sequence, LV2_ATOM__URID,
        LV2_ATOM__String, LV2_ATOM__Bool, LV2_ATOM__Tuple, LV2_ATOM__Vector, LV2_MIDI__MidiEvent,
        LV2_PATCH__Get, LV2_PATCH__Set, LV2_PATCH__property, LV2_PATCH__value,
        LV2_TIME__Position, LV2_TIME__speed, LV2_TIME__bar, LV2_TIME__barBeat,
        LV2_TIME__beatsPerBar, LV2_TIME__beatUnit, LV2_TIME__beatsPerMinute, LV2_TIME__frame,
        kPatternFileUri, kPatternsUri, kStepStartUri, kStepUri, kPatternUri};
    return uris;
}
inline LV2_URID Lv2Map(LV2_URID_Map_Handle, const char* uri) {
    auto& uris = Lv2Uris();
    static std::unordered_map<std::string, LV2_URID> ids; // the script maps a few per event
    if (ids.empty())
        for (size_t i = 0; i < uris.size(); ++i) ids.emplace(uris[i], LV2_URID(i + 1));
    const auto [at, added] = ids.emplace(uri, LV2_URID(uris.size() + 1));
    if (added) uris.emplace_back(uri);
    return at->second;
}
// The script names its URIs by the header's literals: looked up by address first, the
// string's hash and a copy of it on every event cost more than the plugin's work on it.
inline LV2_URID Lv2Id(const char* uri) {
    static std::unordered_map<const char*, LV2_URID> byAddress;
    const auto at = byAddress.find(uri);
    if (at != byAddress.end()) return at->second;
    return byAddress[uri] = Lv2Map(nullptr, uri);
}
// Values are typed by the known URIDs 1..14 (not atom:Path: a path is one of the files
// below) and now and then by one nobody knows.
inline LV2_URID Lv2AnyType(uint8_t b) {
    const LV2_URID t = LV2_URID(1 + b % 15);
    return t == Lv2Id(LV2_ATOM__Path) ? 999 : t;
}

class Lv2FuzzHost {
public:
    static constexpr uint32_t kMaxBlock = 4096;
    static constexpr uint32_t kFrameBudget = 1024;
    static constexpr int kMaxBlocks = 8;
    static constexpr int kMaxCommands = 48;

    Lv2FuzzHost(Lv2DescriptorFn descriptorOf, double rate, bool stereo) {
        Files();
        Descriptor_ = descriptorOf(stereo ? 1 : 0);
        Features_ = {&MapFeature_, &LogFeature_, &ScheduleFeature_, nullptr};
        Handle_ = Descriptor_->instantiate(Descriptor_, rate, "", Features_.data());
        if (!Handle_) FuzzCheck(false, "LV2", "the plugin did not instantiate");
        Stereo_ = stereo;
        State_ = static_cast<const LV2_State_Interface*>(Descriptor_->extension_data(LV2_STATE__interface));
        Worker_ = static_cast<const LV2_Worker_Interface*>(Descriptor_->extension_data(LV2_WORKER__interface));
        Descriptor_->connect_port(Handle_, kOutPort, Out_[0].data());
        if (stereo) Descriptor_->connect_port(Handle_, kRightPort, Out_[1].data());
        Descriptor_->connect_port(Handle_, kControlPort, Control_.data());
        Descriptor_->connect_port(Handle_, kNotifyPort, Notify_.data());
        Descriptor_->connect_port(Handle_, LatencyPort(stereo), &Latency_);
        for (uint32_t i = 0; i < kControlPortCount; ++i) {
            const PortInfo info = ControlPortInfo(i);
            Ports_[i] = float(info.Default);
            Descriptor_->connect_port(Handle_, kFirstControlPort + i, &Ports_[i]);
        }
        // The ports appended after the latency: swing, the notes out and the notes in.
        Descriptor_->connect_port(Handle_, SwingPort(stereo), &Ports_[kControlPortCount]);
        Descriptor_->connect_port(Handle_, NotesOutPort(stereo), MidiOut_.data());
        for (uint32_t i = 0; i < kNotesPorts.size(); ++i) {
            Ports_[kControlPortCount + 1 + i] = float(kNotesPorts[i].Default);
            Descriptor_->connect_port(Handle_, NotesControlPort(stereo, i), &Ports_[kControlPortCount + 1 + i]);
        }
        for (uint32_t i = 0; i < kNotesInPorts.size(); ++i) {
            float& v = Ports_[kControlPortCount + 1 + kNotesPorts.size() + i];
            v = float(kNotesInPorts[i].Default);
            Descriptor_->connect_port(Handle_, NotesInPort(stereo, i), &v);
        }
        Descriptor_->activate(Handle_);
        lv2_atom_forge_init(&Forge_, &Map_);
        StartSequence();
    }
    ~Lv2FuzzHost() {
        Descriptor_->deactivate(Handle_);
        Descriptor_->cleanup(Handle_);
    }
    Lv2FuzzHost(const Lv2FuzzHost&) = delete;
    Lv2FuzzHost& operator=(const Lv2FuzzHost&) = delete;

    void Script(FuzzInput& in) {
        bool reactivated = false;
        uint32_t framesLeft = kFrameBudget;
        int blocks = 0;
        for (int commands = 0; commands < kMaxCommands && !in.Empty(); ++commands) {
            // Events and blocks most often; activating again (a new rate converter) seldom.
            const uint8_t command = in.Byte() % 16;
            if (command < 3) {
                const uint32_t port = in.Byte() % kPorts;
                const uint32_t bits = in.U32();
                std::memcpy(&Ports_[port], &bits, sizeof bits);
            } else if (command < 8) {
                Event(in);
            } else if (command < 11) {
                // Mostly short blocks; now and then (1 in 32) up to the longest. The long
                // ones are most of the sound's work, so they are kept rare.
                const uint8_t b = in.Byte();
                const uint32_t frames = b < 248 ? b % 64 : in.U16() % (kMaxBlock + 1);
                const uint32_t room = in.U16() % 8192;
                if (++blocks > kMaxBlocks) continue;
                const uint32_t taken = std::min(frames, framesLeft);
                framesLeft -= taken;
                Block(taken, room);
            } else if (command < 13) {
                Restore(in);
            } else if (command < 15) {
                Save();
            } else if (in.Byte() == 0xA5 && !reactivated) { // costly: only on a marker byte
                reactivated = true;
                Descriptor_->deactivate(Handle_);
                Descriptor_->activate(Handle_);
            }
        }
        Block(64, 4096);
    }

private:
    static void Check(bool ok, const char* what) { FuzzCheck(ok, "LV2", what); }

    // Every sample finite and not running away. Full scale is no bound here: the engine's
    // -32768 leaves as -32768 / 32767, and at another rate the converter rings past full scale
    // where the sound jumps from rail to rail (the long run found 1.47 after a jump). Four
    // times full scale is beyond any such ringing and still catches a sound that blows up.
    // Not traced for coverage: a loop over every sample has nothing to steer towards, and
    // tracing it took a tenth of the target's time.
    ZELVOX_FUZZ_UNTRACED __attribute__((noinline)) static bool AllSound(const float* s, uint32_t n) {
        bool ok = true;
        for (uint32_t i = 0; i < n; ++i) ok &= std::isfinite(s[i]) && std::fabs(s[i]) <= 4.0f;
        return ok;
    }

    // The files a patch:Set may name, made once: a pattern file, a short one, a folder.
    static const std::vector<std::string>& Files() {
        static const std::vector<std::string> files = [] {
            const auto dir = ScratchDir::Get();
            PatternSynth synth;
            synth.SetControl(ControlId::Tempo, 97);
            const std::vector<uint8_t> good = synth.SaveState();
            WriteBytes(dir / "good.zvx", good.data(), good.size());
            WriteBytes(dir / "short.zvx", good.data(), 100);
            return std::vector<std::string>{(dir / "good.zvx").string(), (dir / "short.zvx").string(),
                                            dir.string(), (dir / "missing.zvx").string(),
                                            "/dev/null"};
        }();
        return files;
    }

    void StartSequence() {
        lv2_atom_forge_set_buffer(&Forge_, reinterpret_cast<uint8_t*>(Control_.data()),
                                  Control_.size() * sizeof(Control_[0]));
        lv2_atom_forge_sequence_head(&Forge_, &Sequence_, 0);
    }

    void Atom(LV2_URID type, const std::vector<uint8_t>& body) {
        lv2_atom_forge_atom(&Forge_, uint32_t(body.size()), type);
        if (!body.empty()) lv2_atom_forge_write(&Forge_, body.data(), uint32_t(body.size()));
    }

    void Value(FuzzInput& in, bool pathValue) {
        if (pathValue && in.Byte() % 4 == 0) {
            // A window's edit: a head of any bytes, and none, one or (early in a block, for
            // the buffer's room) 16 step records, or one byte short.
            const uint8_t form = in.Byte();
            const size_t steps = form % 3 == 0 ? 0 : form % 3 == 1 || Events_ > 8 ? 1 : 16;
            std::vector<uint8_t> body = in.Bytes(kEditHeadSize);
            body.resize(kEditHeadSize + steps * sizeof(StepRecord), form);
            body[0] %= 7;
            if (form & 0x80) body.pop_back();
            Atom(Lv2Id(LV2_ATOM__Chunk), body);
        } else if (pathValue && (in.Byte() & 1)) {
            // A file's name; with or without its terminating zero, bytes after it.
            const std::string& name = Files()[in.Byte() % Files().size()];
            std::vector<uint8_t> body(name.begin(), name.end());
            const uint8_t form = in.Byte();
            if (form & 1) body.push_back(0);
            const std::vector<uint8_t> extra = in.Bytes(form >> 5);
            body.insert(body.end(), extra.begin(), extra.end());
            Atom(Lv2Id(LV2_ATOM__Path), body);
        } else {
            const LV2_URID type = Lv2AnyType(in.Byte());
            // Sizes 0..15: a Float of 2 bytes, a Double of 4 ... as a broken host sends them.
            const std::vector<uint8_t> body = in.Bytes(in.Byte() % 16);
            Atom(type, body);
        }
        lv2_atom_forge_pad(&Forge_, 0);
    }

    void Object(FuzzInput& in, LV2_URID otype, const std::vector<LV2_URID>& keys) {
        LV2_Atom_Forge_Frame f;
        lv2_atom_forge_object(&Forge_, &f, 0, otype);
        for (int n = in.Byte() % 9; n > 0; --n) {
            const uint8_t k = in.Byte();
            const LV2_URID key = k < 200 ? keys[k % keys.size()] : LV2_URID(k);
            lv2_atom_forge_key(&Forge_, key);
            if (key == Lv2Id(LV2_PATCH__property) && (in.Byte() & 1))
                lv2_atom_forge_urid(&Forge_, in.Byte() & 1 ? Lv2Id(in.Byte() & 1 ? kPatternFileUri : kEditUri)
                                                           : LV2_URID(in.Byte()));
            else
                Value(in, key == Lv2Id(LV2_PATCH__value));
        }
        lv2_atom_forge_pop(&Forge_, &f);
    }

    void Event(FuzzInput& in) {
        if (Events_ >= 64) return;
        ++Events_;
        const int64_t frame = int64_t(int32_t(in.U32())) % 5000;
        lv2_atom_forge_frame_time(&Forge_, frame);
        static const std::vector<LV2_URID> timeKeys = {
            Lv2Id(LV2_TIME__speed), Lv2Id(LV2_TIME__bar), Lv2Id(LV2_TIME__barBeat),
            Lv2Id(LV2_TIME__beatsPerBar), Lv2Id(LV2_TIME__beatUnit),
            Lv2Id(LV2_TIME__beatsPerMinute), Lv2Id(LV2_TIME__frame)};
        static const std::vector<LV2_URID> patchKeys = {Lv2Id(LV2_PATCH__property),
                                                        Lv2Id(LV2_PATCH__value)};
        switch (in.Byte() % 6) {
        case 0: {
            const std::vector<uint8_t> msg = in.Bytes(in.Byte() % 8);
            Atom(Lv2Id(LV2_MIDI__MidiEvent), msg);
            break;
        }
        case 1: Object(in, Lv2Id(LV2_TIME__Position), timeKeys); break;
        case 2: Object(in, Lv2Id(LV2_PATCH__Set), patchKeys); break;
        case 3: Object(in, Lv2Id(LV2_PATCH__Get), patchKeys); break;
        case 4: Object(in, LV2_URID(in.Byte()), in.Byte() & 1 ? timeKeys : patchKeys); break;
        case 5: Value(in, false); break;
        }
    }

    void Block(uint32_t frames, uint32_t notifyRoom) {
        for (const auto& r : Responses_)
            Worker_->work_response(Handle_, uint32_t(r.size()), r.data());
        Responses_.clear();
        auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(Notify_.data());
        notify->atom.type = 0;
        notify->atom.size = notifyRoom;
        auto* notes = reinterpret_cast<LV2_Atom_Sequence*>(MidiOut_.data());
        notes->atom.type = 0;
        notes->atom.size = notifyRoom / 2;
        Descriptor_->run(Handle_, frames);
        for (size_t c = 0; c < (Stereo_ ? 2u : 1u); ++c)
            Check(AllSound(Out_[c].data(), frames), "a sample not finite or beyond four times full scale");
        Check(std::isfinite(Latency_) && Latency_ >= 0.0f, "a latency not finite or negative");
        if (notify->atom.type != 0)
            Check(notify->atom.size + sizeof(LV2_Atom) <= std::max<uint32_t>(notifyRoom, sizeof(LV2_Atom_Sequence)),
                  "the notify sequence overran its room");
        if (notes->atom.type != 0)
            Check(notes->atom.size + sizeof(LV2_Atom) <= std::max<uint32_t>(notifyRoom / 2, sizeof(LV2_Atom_Sequence)),
                  "the notes out sequence overran its room");
        for (size_t j = 0; j < Jobs_; ++j) Worker_->work(Handle_, Respond, this, 4, &Job_);
        Jobs_ = 0;
        Events_ = 0;
        StartSequence();
    }

    void Restore(FuzzInput& in) {
        const uint8_t how = in.Byte();
        Chunk_.Key = how & 1 ? LV2_URID(in.Byte()) : Lv2Id(kPatternsUri);
        Chunk_.Type = how & 2 ? Lv2AnyType(in.Byte()) : Lv2Id(LV2_ATOM__Chunk);
        static const size_t sizes[] = {0, 1, kPatternFileSize - 1, kPatternFileSize, kPatternFileSize + 1};
        const size_t size = how & 4 ? in.U16() : sizes[(how >> 3) % 5];
        Chunk_.Bytes = in.Bytes(size);
        Chunk_.Bytes.resize(size);
        Chunk_.Missing = (how & 0xC0) == 0xC0;
        State_->restore(Handle_, Retrieve, this, 0, Features_.data());
    }

    void Save() {
        Saved_.clear();
        const LV2_State_Status s = State_->save(Handle_, Store, this, 0, Features_.data());
        Check(s == LV2_STATE_SUCCESS, "the state was not saved");
        Check(Saved_.size() == kPatternFileSize && SavedType_ == Lv2Id(LV2_ATOM__Chunk),
              "a saved state is not one record of atom:Chunk");
    }

    static const void* Retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
                                uint32_t* flags) {
        auto& self = *static_cast<Lv2FuzzHost*>(h);
        const auto& c = self.Chunk_;
        if (c.Missing || key != c.Key) return nullptr;
        *size = c.Bytes.size();
        *type = c.Type;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return c.Bytes.data();
    }
    static LV2_State_Status Store(LV2_State_Handle h, uint32_t, const void* value, size_t size,
                                  uint32_t type, uint32_t) {
        auto& self = *static_cast<Lv2FuzzHost*>(h);
        const auto* b = static_cast<const uint8_t*>(value);
        self.Saved_.assign(b, b + size);
        self.SavedType_ = type;
        return LV2_STATE_SUCCESS;
    }
    static LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
        auto& self = *static_cast<Lv2FuzzHost*>(h);
        if (self.Jobs_ >= 4 || size > sizeof self.Job_) return LV2_WORKER_ERR_NO_SPACE;
        std::memcpy(&self.Job_, data, size);
        ++self.Jobs_;
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
        auto& self = *static_cast<Lv2FuzzHost*>(h);
        const auto* b = static_cast<const uint8_t*>(data);
        self.Responses_.emplace_back(b, b + size);
        return LV2_WORKER_SUCCESS;
    }
    static int Printf(LV2_Log_Handle, LV2_URID, const char*, ...) { return 0; }
    static int VPrintf(LV2_Log_Handle, LV2_URID, const char*, va_list) { return 0; }

    const LV2_Descriptor* Descriptor_ = nullptr;
    LV2_Handle Handle_ = nullptr;
    bool Stereo_ = false;
    const LV2_State_Interface* State_ = nullptr;
    const LV2_Worker_Interface* Worker_ = nullptr;
    LV2_URID_Map Map_{nullptr, Lv2Map};
    LV2_Log_Log Log_{nullptr, Printf, VPrintf};
    LV2_Worker_Schedule Schedule_{this, Schedule};
    LV2_Feature MapFeature_{LV2_URID__map, &Map_};
    LV2_Feature LogFeature_{LV2_LOG__log, &Log_};
    LV2_Feature ScheduleFeature_{LV2_WORKER__schedule, &Schedule_};
    std::vector<const LV2_Feature*> Features_;
    std::array<std::array<float, kMaxBlock>, 2> Out_{};
    std::array<uint64_t, 8192> Control_{};
    std::array<uint64_t, 1024> Notify_{};
    static constexpr uint32_t kPorts =
        kControlPortCount + 1 + uint32_t(kNotesPorts.size() + kNotesInPorts.size());
    std::array<float, kPorts> Ports_{};
    std::array<uint64_t, 512> MidiOut_{};
    float Latency_ = 0.0f;
    LV2_Atom_Forge Forge_{};
    LV2_Atom_Forge_Frame Sequence_{};
    int Events_ = 0;
    int32_t Job_ = 0;
    size_t Jobs_ = 0;
    std::vector<std::vector<uint8_t>> Responses_;
    struct {
        LV2_URID Key = 0, Type = 0;
        std::vector<uint8_t> Bytes;
        bool Missing = false;
    } Chunk_;
    std::vector<uint8_t> Saved_;
    LV2_URID SavedType_ = 0;
};

// A fresh instance for the script: what the unit tests replay.
inline void Lv2MessagesOne(Lv2DescriptorFn descriptorOf, const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t which = in.Byte();
    Lv2FuzzHost host(descriptorOf, which & 1 ? 48000.0 : 44100.0, (which & 2) != 0);
    host.Script(in);
}

// The fuzzer's entry: one instance of each kind serves every script, as a host's instance
// lives through a session (making one, with its rate converter, costs more than a script).
inline void Lv2MessagesInSession(Lv2DescriptorFn descriptorOf, const uint8_t* data, size_t size) {
    static Lv2FuzzHost* hosts[4] = {};
    FuzzInput in(data, size);
    const uint8_t which = in.Byte() & 3;
    if (!hosts[which])
        hosts[which] = new Lv2FuzzHost(descriptorOf, which & 1 ? 48000.0 : 44100.0, (which & 2) != 0);
    hosts[which]->Script(in);
}

} // namespace zelvox::fuzz
