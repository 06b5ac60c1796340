#pragma once
// A small LV2 host on lilv, as a real host loads and drives a plugin: it finds the bundle
// in the build tree, gives the URID map, a log and a worker, sends MIDI, the transport's
// position and patch messages on the control port, reads the notify port, and saves and
// restores state through lilv's own state files. The worker's jobs run after each block
// (as a host's worker thread would between two blocks), their responses before the next.

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace zelvox::test {

// The build tree's bundle folder (its parent goes on LV2_PATH): ZELVOX_LV2_BUNDLE, else
// lv2/zelvox.lv2 in the build folder above this program's own.
inline std::string Lv2BundleDir() {
    if (const char* d = std::getenv("ZELVOX_LV2_BUNDLE")) return d;
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string("./x");
    for (int up = 0; up < 2; ++up) dir = dir.substr(0, dir.find_last_of('/'));
    return dir + "/lv2/zelvox.lv2";
}

class Lv2Host {
    static constexpr const char* kStepStart = "https://zelvox.github.io/lv2/zelvox#StepStart";
    static constexpr const char* kStep = "https://zelvox.github.io/lv2/zelvox#step";
    static constexpr const char* kPattern = "https://zelvox.github.io/lv2/zelvox#pattern";

public:
    static constexpr uint32_t kMaxBlock = 16384;

    struct Step {
        uint64_t Frame; // frames since the host's first block
        int32_t Step, Pattern;
    };

    explicit Lv2Host(const std::string& uri, double rate = 44100.0) {
        World_ = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(World_, nullptr, (Lv2BundleDir() + "/").c_str());
        lilv_world_load_specifications(World_);
        lilv_world_load_bundle(World_, bundle);
        lilv_node_free(bundle);
        LilvNode* u = lilv_new_uri(World_, uri.c_str());
        Plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World_), u);
        lilv_node_free(u);
        if (!Plugin_) throw std::runtime_error("plugin not found: " + uri);

        MapFeature_ = {LV2_URID__map, &Map_};
        UnmapFeature_ = {LV2_URID__unmap, &Unmap_};
        LogFeature_ = {LV2_LOG__log, &Log_};
        ScheduleFeature_ = {LV2_WORKER__schedule, &Schedule_};
        Features_ = {&MapFeature_, &UnmapFeature_, &LogFeature_, &ScheduleFeature_, nullptr};
        Instance_ = lilv_plugin_instantiate(Plugin_, rate, Features_.data());
        if (!Instance_) return;
        Worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(Instance_, LV2_WORKER__interface));

        const uint32_t ports = lilv_plugin_get_num_ports(Plugin_);
        Controls_.assign(ports, 0.0f);
        std::vector<float> defaults(ports), mins(ports), maxs(ports);
        lilv_plugin_get_port_ranges_float(Plugin_, mins.data(), maxs.data(), defaults.data());
        LilvNode* audio = lilv_new_uri(World_, LV2_CORE__AudioPort);
        LilvNode* control = lilv_new_uri(World_, LV2_CORE__ControlPort);
        LilvNode* output = lilv_new_uri(World_, LV2_CORE__OutputPort);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(Plugin_, i);
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(Plugin_, port));
            Symbols_[symbol] = i;
            if (lilv_port_is_a(Plugin_, port, audio)) {
                Outs_.emplace_back(kMaxBlock);
                lilv_instance_connect_port(Instance_, i, Outs_.back().data());
            } else if (lilv_port_is_a(Plugin_, port, control)) {
                Controls_[i] = defaults[i];
                lilv_instance_connect_port(Instance_, i, &Controls_[i]);
            } else if (lilv_port_is_a(Plugin_, port, output)) {
                lilv_instance_connect_port(Instance_, i, symbol == "midi_out" ? MidiOutBuf_.data()
                                                                              : NotifyBuf_.data());
            } else {
                lilv_instance_connect_port(Instance_, i, ControlBuf_.data());
            }
        }
        lilv_node_free(audio);
        lilv_node_free(control);
        lilv_node_free(output);
        lv2_atom_forge_init(&Forge_, &Map_);
        // Mapped once: what a block uses is looked up without allocating.
        for (const char* uri : {LV2_MIDI__MidiEvent, LV2_TIME__Position, LV2_TIME__speed,
                                LV2_TIME__bar, LV2_TIME__barBeat, LV2_TIME__beatsPerBar,
                                LV2_TIME__beatUnit, LV2_TIME__beatsPerMinute, LV2_PATCH__Set,
                                LV2_PATCH__property, LV2_PATCH__value, LV2_ATOM__Sequence,
                                LV2_ATOM__Object, kStepStart, kStep, kPattern})
            Cached_.push_back({uri, MapUri(this, uri)});
        ResetControl();
        lilv_instance_activate(Instance_);
    }

    ~Lv2Host() {
        if (Instance_) {
            lilv_instance_deactivate(Instance_);
            lilv_instance_free(Instance_);
        }
        lilv_world_free(World_);
    }
    Lv2Host(const Lv2Host&) = delete;
    Lv2Host& operator=(const Lv2Host&) = delete;

    bool Ok() const { return Instance_ != nullptr; }
    LV2_URID Map(const char* uri) {
        for (const auto& c : Cached_)
            if (std::strcmp(c.first, uri) == 0) return c.second;
        return MapUri(this, uri);
    }

    void SetPort(const std::string& symbol, float v) { Controls_.at(Symbols_.at(symbol)) = v; }
    void SetPortIndex(uint32_t index, float v) { Controls_.at(index) = v; }
    float PortIndex(uint32_t index) const { return Controls_.at(index); }
    // The host's URID map, for a plugin UI loaded beside the plugin.
    LV2_URID_Map* UridMap() { return &Map_; }
    // Every event of the notify port, as a host hands them to a plugin UI.
    std::function<void(const LV2_Atom*)> OnNotify;
    // Any atom for the next block (a plugin UI's message).
    void SendAtom(uint32_t frame, const LV2_Atom* atom) {
        lv2_atom_forge_frame_time(&Forge_, frame);
        lv2_atom_forge_write(&Forge_, atom, lv2_atom_total_size(atom));
    }
    float Port(const std::string& symbol) const { return Controls_.at(Symbols_.at(symbol)); }

    // ---- Events for the next block, at frame offsets in it ----
    void SendMidi(uint32_t frame, uint8_t status, uint8_t d1, uint8_t d2) {
        const uint8_t msg[3] = {status, d1, d2};
        lv2_atom_forge_frame_time(&Forge_, frame);
        lv2_atom_forge_atom(&Forge_, 3, Map(LV2_MIDI__MidiEvent));
        lv2_atom_forge_write(&Forge_, msg, 3);
    }
    // The transport: rolling or not, where (bar from 0, beat into it), at what tempo.
    // HostFrame >= 0: the host's timeline frame too (time:frame), as most hosts send it.
    void SendPosition(uint32_t frame, float speed, int64_t bar, double barBeat, float bpm,
                      int64_t hostFrame = -1) {
        LV2_Atom_Forge_Frame f;
        lv2_atom_forge_frame_time(&Forge_, frame);
        lv2_atom_forge_object(&Forge_, &f, 0, Map(LV2_TIME__Position));
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__speed));
        lv2_atom_forge_float(&Forge_, speed);
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__bar));
        lv2_atom_forge_long(&Forge_, bar);
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__barBeat));
        lv2_atom_forge_float(&Forge_, static_cast<float>(barBeat));
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&Forge_, 4.0f);
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&Forge_, 4);
        lv2_atom_forge_key(&Forge_, Map(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&Forge_, bpm);
        if (hostFrame >= 0) {
            lv2_atom_forge_key(&Forge_, Map(LV2_TIME__frame));
            lv2_atom_forge_long(&Forge_, hostFrame);
        }
        lv2_atom_forge_pop(&Forge_, &f);
    }
    // patch:Set of a property to a path (a host's file chooser).
    void SendPath(uint32_t frame, const char* property, const std::string& path) {
        LV2_Atom_Forge_Frame f;
        lv2_atom_forge_frame_time(&Forge_, frame);
        lv2_atom_forge_object(&Forge_, &f, 0, Map(LV2_PATCH__Set));
        lv2_atom_forge_key(&Forge_, Map(LV2_PATCH__property));
        lv2_atom_forge_urid(&Forge_, Map(property));
        lv2_atom_forge_key(&Forge_, Map(LV2_PATCH__value));
        lv2_atom_forge_path(&Forge_, path.c_str(), static_cast<uint32_t>(path.size() + 1));
        lv2_atom_forge_pop(&Forge_, &f);
    }

    // Any atom, for a host that sends what it should not.
    void SendAtom(uint32_t frame, LV2_URID type, const void* body, uint32_t size) {
        lv2_atom_forge_frame_time(&Forge_, frame);
        lv2_atom_forge_atom(&Forge_, size, type);
        if (size > 0) lv2_atom_forge_write(&Forge_, body, size);
    }
    // The forge writing the next block's events, at its sequence: for objects of any shape.
    LV2_Atom_Forge& Forge() { return Forge_; }

    // Restores a state holding `bytes` of `type` under `key`, as a host that kept something
    // else (or nothing: null) there would; returns what the plugin answers.
    LV2_State_Status RestoreChunk(LV2_URID key, LV2_URID type, const std::vector<uint8_t>* bytes) {
        const auto* iface = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(Instance_, LV2_STATE__interface));
        Chunk_ = {key, type, bytes};
        return iface->restore(lilv_instance_get_handle(Instance_), RetrieveChunk, this, 0,
                              Features_.data());
    }

    // ---- Blocks ----
    // One block: the worker's responses, run, then the worker's jobs. AudioThread is told
    // when the audio thread's part begins and ends.
    std::function<void(bool)> AudioThread = [](bool) {};

    void Run(uint32_t frames) {
        AudioThread(true);
        DeliverResponses();
        auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(NotifyBuf_.data());
        notify->atom.type = 0;
        notify->atom.size = static_cast<uint32_t>(NotifyBuf_.size() * 8 - sizeof(LV2_Atom));
        auto* midiOut = reinterpret_cast<LV2_Atom_Sequence*>(MidiOutBuf_.data());
        midiOut->atom.type = 0;
        midiOut->atom.size = static_cast<uint32_t>(MidiOutBuf_.size() * 8 - sizeof(LV2_Atom));
        InRun_ = true;
        lilv_instance_run(Instance_, frames);
        InRun_ = false;
        AudioThread(false);
        for (size_t i = 0; i < RunLogCount_; ++i) Log.emplace_back(RunLog_[i].data());
        RunLogCount_ = 0;
        ReadNotify(frames);
        ReadMidiOut();
        ResetControl();
        DoWork();
        Frames_ += frames;
    }
    const float* Out(size_t channel = 0) const { return Outs_.at(channel).data(); }
    size_t OutCount() const { return Outs_.size(); }
    uint64_t Frames() const { return Frames_; }
    std::vector<Step> Steps; // every step start the plugin reported
    struct Note {
        uint64_t Frame; // frames since the host's first block
        uint8_t Bytes[3];
    };
    std::vector<Note> Notes; // every short message on the MIDI output port
    std::vector<std::string> Log;
    std::vector<std::string> PathsReported;

    // ---- State, through lilv's state files as hosts keep them ----
    std::string SaveState() {
        LilvState* s = lilv_state_new_from_instance(Plugin_, Instance_, &Map_, nullptr, nullptr,
                                                    nullptr, nullptr, PortValue, this, 0,
                                                    Features_.data());
        char* text = lilv_state_to_string(World_, &Map_, &Unmap_, s, "urn:zelvox:test", nullptr);
        std::string out = text ? text : "";
        lilv_free(text);
        lilv_state_free(s);
        return out;
    }
    bool RestoreState(const std::string& text) {
        LilvState* s = lilv_state_new_from_string(World_, &Map_, text.c_str());
        if (!s) return false;
        lilv_state_restore(s, Instance_, nullptr, nullptr, 0, Features_.data());
        lilv_state_free(s);
        return true;
    }
    // Saves the state into a folder as jalv -l reads it.
    bool SaveStateDir(const std::string& dir) {
        LilvState* s = lilv_state_new_from_instance(Plugin_, Instance_, &Map_, nullptr, nullptr,
                                                    nullptr, dir.c_str(), PortValue, this, 0,
                                                    Features_.data());
        const int r = lilv_state_save(World_, &Map_, &Unmap_, s, nullptr, dir.c_str(), "state.ttl");
        lilv_state_free(s);
        return r == 0;
    }
    // The presets that apply to the plugin (pset:Preset in the bundle's manifest), their
    // URIs and labels, as a host lists them in its preset menu.
    std::vector<std::pair<std::string, std::string>> Presets() {
        LilvNode* type = lilv_new_uri(World_, "http://lv2plug.in/ns/ext/presets#Preset");
        LilvNode* label = lilv_new_uri(World_, "http://www.w3.org/2000/01/rdf-schema#label");
        LilvNodes* related = lilv_plugin_get_related(Plugin_, type);
        std::vector<std::pair<std::string, std::string>> out;
        LILV_FOREACH (nodes, i, related) {
            const LilvNode* preset = lilv_nodes_get(related, i);
            lilv_world_load_resource(World_, preset);
            LilvNodes* labels = lilv_world_find_nodes(World_, preset, label, nullptr);
            out.emplace_back(lilv_node_as_uri(preset),
                             labels && lilv_nodes_size(labels) ? lilv_node_as_string(lilv_nodes_get_first(labels)) : "");
            lilv_nodes_free(labels);
        }
        lilv_nodes_free(related);
        lilv_node_free(label);
        lilv_node_free(type);
        return out;
    }
    // Loads a preset as a host's preset menu does: its state from the world, restored.
    bool LoadPreset(const std::string& uri) {
        LilvNode* node = lilv_new_uri(World_, uri.c_str());
        lilv_world_load_resource(World_, node);
        LilvState* s = lilv_state_new_from_world(World_, &Map_, node);
        lilv_node_free(node);
        if (!s) return false;
        lilv_state_restore(s, Instance_, nullptr, nullptr, 0, Features_.data());
        lilv_state_free(s);
        return true;
    }
    // The plugin's own state bytes, straight from its state interface.
    std::vector<uint8_t> StateBytes() {
        const auto* iface = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(Instance_, LV2_STATE__interface));
        Stored_.clear();
        iface->save(lilv_instance_get_handle(Instance_), StoreBytes, this, 0, Features_.data());
        return Stored_;
    }

private:
    static LV2_URID MapUri(LV2_URID_Map_Handle h, const char* uri) {
        auto* self = static_cast<Lv2Host*>(h);
        auto it = self->Ids_.find(uri);
        if (it != self->Ids_.end()) return it->second;
        self->Uris_.emplace_back(uri);
        return self->Ids_[uri] = static_cast<LV2_URID>(self->Uris_.size());
    }
    static const char* UnmapUri(LV2_URID_Unmap_Handle h, LV2_URID id) {
        auto* self = static_cast<Lv2Host*>(h);
        return id >= 1 && id <= self->Uris_.size() ? self->Uris_[id - 1].c_str() : nullptr;
    }
    static int Printf(LV2_Log_Handle h, LV2_URID, const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        const int n = VPrintf(h, 0, fmt, args);
        va_end(args);
        return n;
    }
    static int VPrintf(LV2_Log_Handle h, LV2_URID, const char* fmt, va_list args) {
        auto* self = static_cast<Lv2Host*>(h);
        if (self->InRun_) {
            // From the audio thread: into fixed room, as a host's log ring; kept after run.
            if (self->RunLogCount_ == self->RunLog_.size()) return 0;
            auto& slot = self->RunLog_[self->RunLogCount_++];
            return std::vsnprintf(slot.data(), slot.size(), fmt, args);
        }
        char text[2048];
        const int n = std::vsnprintf(text, sizeof text, fmt, args);
        self->Log.emplace_back(text);
        return n;
    }
    static LV2_Worker_Status ScheduleWork(LV2_Worker_Schedule_Handle h, uint32_t size,
                                          const void* data) {
        // Called on the audio thread: fixed room, as a host's ring buffer.
        auto* self = static_cast<Lv2Host*>(h);
        if (self->JobCount_ >= self->Jobs_.size() || size > self->Jobs_[0].Data.size())
            return LV2_WORKER_ERR_NO_SPACE;
        Job& j = self->Jobs_[self->JobCount_++];
        std::memcpy(j.Data.data(), data, size);
        j.Size = size;
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
        auto* self = static_cast<Lv2Host*>(h);
        const auto* b = static_cast<const uint8_t*>(data);
        self->Responses_.emplace_back(b, b + size);
        return LV2_WORKER_SUCCESS;
    }
    static const void* PortValue(const char* symbol, void* h, uint32_t* size, uint32_t* type) {
        auto* self = static_cast<Lv2Host*>(h);
        auto it = self->Symbols_.find(symbol);
        if (it == self->Symbols_.end()) return nullptr;
        *size = sizeof(float);
        *type = self->Map(LV2_ATOM__Float);
        return &self->Controls_[it->second];
    }
    static LV2_State_Status StoreBytes(LV2_State_Handle h, uint32_t key, const void* value,
                                       size_t size, uint32_t, uint32_t) {
        auto* self = static_cast<Lv2Host*>(h);
        if (key != self->Map("https://zelvox.github.io/lv2/zelvox#patterns")) return LV2_STATE_SUCCESS;
        const auto* b = static_cast<const uint8_t*>(value);
        self->Stored_.assign(b, b + size);
        return LV2_STATE_SUCCESS;
    }

    static const void* RetrieveChunk(LV2_State_Handle h, uint32_t key, size_t* size,
                                     uint32_t* type, uint32_t* flags) {
        auto* self = static_cast<Lv2Host*>(h);
        if (!self->Chunk_.Bytes || key != self->Chunk_.Key) return nullptr;
        *size = self->Chunk_.Bytes->size();
        *type = self->Chunk_.Type;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return self->Chunk_.Bytes->empty() ? static_cast<const void*>("") : self->Chunk_.Bytes->data();
    }

    void ResetControl() {
        lv2_atom_forge_set_buffer(&Forge_, reinterpret_cast<uint8_t*>(ControlBuf_.data()),
                                  ControlBuf_.size() * 8);
        lv2_atom_forge_sequence_head(&Forge_, &SeqFrame_, 0);
    }
    void DeliverResponses() {
        // The responses' memory was set aside by DoWork: nothing is allocated here.
        for (const auto& r : Responses_)
            Worker_->work_response(lilv_instance_get_handle(Instance_), uint32_t(r.size()), r.data());
        Responses_.clear();
        if (Worker_ && Worker_->end_run) Worker_->end_run(lilv_instance_get_handle(Instance_));
    }
    void DoWork() {
        for (size_t i = 0; i < JobCount_; ++i)
            Worker_->work(lilv_instance_get_handle(Instance_), Respond, this, Jobs_[i].Size,
                          Jobs_[i].Data.data());
        JobCount_ = 0;
    }
    void ReadNotify(uint32_t) {
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(NotifyBuf_.data());
        if (seq->atom.type != Map(LV2_ATOM__Sequence)) return;
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            if (OnNotify) OnNotify(&ev->body);
            if (ev->body.type != Map(LV2_ATOM__Object)) continue;
            const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
            if (obj->body.otype == Map(kStepStart)) {
                const LV2_Atom *step = nullptr, *pattern = nullptr;
                lv2_atom_object_get(obj, Map(kStep), &step, Map(kPattern), &pattern, 0);
                Steps.push_back({Frames_ + uint64_t(ev->time.frames),
                                 reinterpret_cast<const LV2_Atom_Int*>(step)->body,
                                 reinterpret_cast<const LV2_Atom_Int*>(pattern)->body});
            } else if (obj->body.otype == Map(LV2_PATCH__Set)) {
                const LV2_Atom* value = nullptr;
                lv2_atom_object_get(obj, Map(LV2_PATCH__value), &value, 0);
                // The pattern file's path (the whole state for a window comes as a chunk).
                if (value && value->type == Map(LV2_ATOM__Path))
                    PathsReported.emplace_back(static_cast<const char*>(LV2_ATOM_BODY_CONST(value)));
            }
        }
    }

    void ReadMidiOut() {
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(MidiOutBuf_.data());
        if (seq->atom.type != Map(LV2_ATOM__Sequence)) return;
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            if (ev->body.type != Map(LV2_MIDI__MidiEvent) || ev->body.size != 3) continue;
            const auto* b = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body));
            Notes.push_back({Frames_ + uint64_t(ev->time.frames), {b[0], b[1], b[2]}});
        }
    }

    LilvWorld* World_ = nullptr;
    const LilvPlugin* Plugin_ = nullptr;
    LilvInstance* Instance_ = nullptr;
    const LV2_Worker_Interface* Worker_ = nullptr;
    std::map<std::string, LV2_URID> Ids_;
    std::vector<std::pair<const char*, LV2_URID>> Cached_;
    std::vector<std::string> Uris_;
    LV2_URID_Map Map_{this, MapUri};
    LV2_URID_Unmap Unmap_{this, UnmapUri};
    LV2_Log_Log Log_{this, Printf, VPrintf};
    LV2_Worker_Schedule Schedule_{this, ScheduleWork};
    LV2_Feature MapFeature_{}, UnmapFeature_{}, LogFeature_{}, ScheduleFeature_{};
    std::vector<const LV2_Feature*> Features_;
    std::map<std::string, uint32_t> Symbols_;
    std::vector<float> Controls_;
    std::vector<std::vector<float>> Outs_;
    std::vector<uint64_t> ControlBuf_ = std::vector<uint64_t>(8192);
    std::vector<uint64_t> NotifyBuf_ = std::vector<uint64_t>(8192);
    std::vector<uint64_t> MidiOutBuf_ = std::vector<uint64_t>(1024);
    LV2_Atom_Forge Forge_{};
    LV2_Atom_Forge_Frame SeqFrame_{}; // the open sequence: the forge points at it
    struct Job {
        std::array<uint8_t, 256> Data{};
        uint32_t Size = 0;
    };
    std::array<Job, 16> Jobs_{};
    size_t JobCount_ = 0;
    std::vector<std::vector<uint8_t>> Responses_;
    std::vector<uint8_t> Stored_;
    struct {
        LV2_URID Key = 0, Type = 0;
        const std::vector<uint8_t>* Bytes = nullptr;
    } Chunk_;
    bool InRun_ = false;
    std::array<std::array<char, 512>, 64> RunLog_{};
    size_t RunLogCount_ = 0;
    uint64_t Frames_ = 0;
};

} // namespace zelvox::test
