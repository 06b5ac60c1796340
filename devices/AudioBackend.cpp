#include "devices/AudioBackend.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <mutex>
#include <vector>

#include <jack/jack.h>
#include <sys/stat.h>
#include <unistd.h>

#include "devices/JackClient.h"
#include "devices/backends/JackDevice.h"
#include "devices/backends/RtAudioDevice.h"
#include "devices/backends/VirtualDevice.h"

namespace zelvox {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool ApiCompiled(RtAudio::Api api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    for (auto a : apis)
        if (a == api) return true;
    return false;
}

class NoWaveOutSystem final : public WaveOutSystem {
public:
    int32_t GetNumDevs() override { return 0; }
    int32_t GetDevCaps(int32_t, WaveOutCaps&) override { return kMmsyserrBadDeviceId; }
    std::unique_ptr<WaveOutDevice> CreateDevice(int32_t) override { return nullptr; }
};

class VirtualWaveOutSystem final : public WaveOutSystem {
public:
    int32_t GetNumDevs() override { return 1; }
    int32_t GetDevCaps(int32_t id, WaveOutCaps& caps) override {
        if (id < -1 || id > 0) return kMmsyserrBadDeviceId;
        return VirtualWaveOutDevice().GetCaps(caps);
    }
    std::unique_ptr<WaveOutDevice> CreateDevice(int32_t id) override {
        if (id < -1 || id > 0) return nullptr;
        return std::make_unique<VirtualWaveOutDevice>();
    }
};

// An output device as the list found it: its name ("" = the API's default) and, when the
// listing saw it, what it offers. The list is a snapshot taken once (start-up probes each
// service once); opening a device checks it afresh.
struct ListedDevice {
    std::string Name;
    bool Seen = false;
    RtAudio::DeviceInfo Info;
};

class RtAudioWaveOutSystem final : public WaveOutSystem {
public:
    RtAudioWaveOutSystem(RtAudio::Api api, std::vector<ListedDevice> devices, std::string client,
                         bool connect)
        : Api_(api), Devices_(std::move(devices)), Client_(std::move(client)), Connect_(connect) {}
    int32_t GetNumDevs() override { return static_cast<int32_t>(Devices_.size()); }
    int32_t GetDevCaps(int32_t id, WaveOutCaps& caps) override {
        if (id == -1) id = 0;
        if (id < 0 || id >= GetNumDevs()) return kMmsyserrBadDeviceId;
        const ListedDevice& d = Devices_[static_cast<size_t>(id)];
        if (d.Seen) {
            RtAudioCapsFromInfo(Api_, d.Info, caps);
            return kMmsyserrNoError;
        }
        if (Api_ == RtAudio::UNIX_JACK) return JackWaveOutDevice(d.Name).GetCaps(caps);
        return RtAudioWaveOutDevice(Api_, d.Name).GetCaps(caps);
    }
    std::unique_ptr<WaveOutDevice> CreateDevice(int32_t id) override {
        if (id == -1) id = 0;
        if (id < 0 || id >= GetNumDevs()) return nullptr;
        const std::string& name = Devices_[static_cast<size_t>(id)].Name;
        // JACK on libjack itself: one client for as long as the device is open.
        if (Api_ == RtAudio::UNIX_JACK) return std::make_unique<JackWaveOutDevice>(name, Client_, Connect_);
        return std::make_unique<RtAudioWaveOutDevice>(Api_, name, Client_);
    }

private:
    RtAudio::Api Api_;
    std::vector<ListedDevice> Devices_;
    std::string Client_;
    bool Connect_;
};

// The list the system offers from what the API lists: the wanted device (or the default,
// "") first, then the API's other output devices. The default is the one the device opens
// for "": the API's default output when it has outputs, else the first that has.
std::vector<ListedDevice> DeviceList(const std::vector<RtAudio::DeviceInfo>& infos,
                                     unsigned defaultId, const std::string& wanted) {
    std::vector<ListedDevice> list;
    std::vector<const RtAudio::DeviceInfo*> outputs;
    for (const auto& info : infos)
        if (info.probed && info.outputChannels > 0) outputs.push_back(&info);
    if (outputs.empty()) return list;
    ListedDevice first{wanted, false, {}};
    if (wanted.empty()) {
        first.Seen = true;
        first.Info = defaultId < infos.size() && infos[defaultId].outputChannels > 0
                         ? infos[defaultId]
                         : *outputs.front();
    }
    for (const auto* info : outputs)
        if (!wanted.empty() && info->name == wanted) {
            first.Seen = true;
            first.Info = *info;
        }
    list.push_back(first);
    for (const auto* info : outputs)
        if (info->name != wanted) list.push_back({info->name, true, *info});
    return list;
}

// The output devices of an API, through RtAudio.
std::vector<ListedDevice> OutputDevices(RtAudio::Api api, const std::string& wanted) {
    try {
        RtAudio rt(api);
        rt.showWarnings(false);
        if (rt.getCurrentApi() != api) return {};
        unsigned count = rt.getDeviceCount();
        std::vector<RtAudio::DeviceInfo> infos;
        for (unsigned i = 0; i < count; ++i) infos.push_back(rt.getDeviceInfo(i));
        return DeviceList(infos, count > 0 ? rt.getDefaultOutputDevice() : 0, wanted);
    } catch (const RtAudioError&) {
        return {};
    }
}

// JACK's output devices, through the program's listing client (RtAudio would open a client
// for the count and one more for each device). False when no server answers.
bool JackOutputDevices(const std::string& wanted, std::vector<ListedDevice>& list) {
    std::vector<RtAudio::DeviceInfo> infos;
    if (!ListJackOutputs(infos)) return false;
    list = DeviceList(infos, 0, wanted);
    return true;
}

} // namespace

namespace {
std::string& JackName() {
    static std::string name = "zelvox";
    return name;
}
} // namespace

const std::string& DefaultJackClientName() {
    return JackName();
}

bool SetDefaultJackClientName(const std::string& name) {
    // Room is left for the suffixes the program's other clients add ("-midi"); a colon
    // would end the client's part of every port name.
    if (name.empty() || name.size() > 40 || name.find(':') != std::string::npos) return false;
    JackName() = name;
    SetJackProgramName(name); // the kept client that answers questions is the one that plays
    return true;
}

namespace {
bool& BySession() {
    static bool bySession = false;
    return bySession;
}
} // namespace

void SetJackConnectionsBySession(bool bySession) {
    BySession() = bySession;
}

bool JackConnectionsBySession() {
    return BySession();
}

AudioBackendChoice ReadAudioBackendChoice(const TSettingsFile& settings) {
    AudioBackendChoice c;
    c.Api = Lower(settings.ReadString("Audio", "API", "auto"));
    c.Device = settings.ReadString("Audio", "Device", "");
    c.Connect = settings.ReadBool("Audio", "Connect", true) && !JackConnectionsBySession();
    return c;
}

void WriteAudioBackendChoice(const TSettingsFile& settings, const AudioBackendChoice& choice) {
    settings.WriteString("Audio", "API", choice.Api);
    settings.WriteString("Audio", "Device", choice.Device);
    // Only when it changes: a file that never had the key keeps the default, and a session's
    // file is not told what the session manager decided.
    if (!JackConnectionsBySession() && choice.Connect != settings.ReadBool("Audio", "Connect", true))
        settings.WriteBool("Audio", "Connect", choice.Connect);
}

LiveSync ReadLiveSync(const TSettingsFile& settings) {
    LiveSync s;
    s.FollowTransport = settings.ReadBool("Audio", "FollowTransport", false);
    s.FollowClock = !s.FollowTransport && settings.ReadBool("Audio", "FollowClock", false);
    s.SendClock = settings.ReadBool("Audio", "SendClock", false);
    s.TimebaseMaster = settings.ReadBool("Audio", "TimebaseMaster", false);
    s.SendNotes = settings.ReadBool("Audio", "SendNotes", false);
    auto number = [&](const char* key, int32_t def, int32_t min, int32_t max) {
        const int32_t v = settings.ReadInteger("Audio", key, def);
        return v < min || v > max ? def : v; // an edited file's nonsense: the default
    };
    s.NotesBassChannel = number("NotesBassChannel", 1, 1, 16);
    s.NotesTwinTChannel = number("NotesTwinTChannel", 10, 1, 16);
    s.NotesNoiseChannel = number("NotesNoiseChannel", 10, 1, 16);
    s.NotesTwinTNote = number("NotesTwinTNote", 36, 0, 127);
    s.NotesNoiseNote = number("NotesNoiseNote", 42, 0, 127);
    return s;
}

void WriteLiveSync(const TSettingsFile& settings, const LiveSync& sync) {
    settings.WriteBool("Audio", "FollowTransport", sync.FollowTransport);
    settings.WriteBool("Audio", "FollowClock", sync.FollowClock);
    settings.WriteBool("Audio", "SendClock", sync.SendClock);
    settings.WriteBool("Audio", "TimebaseMaster", sync.TimebaseMaster);
    // The notes' keys only when they change: a file that never had them stays as it was.
    const LiveSync was = ReadLiveSync(settings);
    if (sync.SendNotes != was.SendNotes) settings.WriteBool("Audio", "SendNotes", sync.SendNotes);
    auto number = [&](const char* key, int32_t v, int32_t old) {
        if (v != old) settings.WriteInteger("Audio", key, v);
    };
    number("NotesBassChannel", sync.NotesBassChannel, was.NotesBassChannel);
    number("NotesTwinTChannel", sync.NotesTwinTChannel, was.NotesTwinTChannel);
    number("NotesNoiseChannel", sync.NotesNoiseChannel, was.NotesNoiseChannel);
    number("NotesTwinTNote", sync.NotesTwinTNote, was.NotesTwinTNote);
    number("NotesNoiseNote", sync.NotesNoiseNote, was.NotesNoiseNote);
}

bool JackServerRunning() {
    return WithJackListClient([](jack_client_t*) {});
}

bool PulseServerAvailable() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
    std::string dir;
    if (const char* rt = std::getenv("XDG_RUNTIME_DIR"); rt && *rt) dir = rt;
    else dir = "/run/user/" + std::to_string(::getuid());
    struct stat st {};
    return ::stat((dir + "/pulse/native").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::unique_ptr<WaveOutSystem> CreateWaveOutSystem(const AudioBackendChoice& choice,
                                                   std::string* description) {
    auto describe = [&](const char* what) {
        if (description) *description = what;
    };
    const std::string api = Lower(choice.Api);
    if (api == "none") {
        describe("none");
        return std::make_unique<NoWaveOutSystem>();
    }
    if (api == "virtual") {
        describe("virtual");
        return CreateVirtualWaveOutSystem();
    }
    if (api == "jack-live") {
        // The sound goes out through the low-latency JACK client the program opens beside
        // the chain; the chain's own output end stays silent.
        describe("JACK (low latency)");
        return CreateVirtualWaveOutSystem();
    }
    struct Candidate {
        const char* Key;
        RtAudio::Api Api;
        const char* Title;
    };
    const Candidate all[] = {{"jack", RtAudio::UNIX_JACK, "JACK"},
                             {"pulse", RtAudio::LINUX_PULSE, "PulseAudio"},
                             {"alsa", RtAudio::LINUX_ALSA, "ALSA"}};
    for (const auto& c : all) {
        if (api != c.Key) continue;
        describe(c.Title);
        if (!ApiCompiled(c.Api)) return std::make_unique<NoWaveOutSystem>();
        // A named API is used even when it has nothing to offer right now: Open then says
        // which device is missing instead of silently playing elsewhere.
        std::vector<ListedDevice> devices;
        if (c.Api == RtAudio::UNIX_JACK) JackOutputDevices(choice.Device, devices);
        else devices = OutputDevices(c.Api, choice.Device);
        if (devices.empty()) devices.push_back({choice.Device, false, {}});
        return std::make_unique<RtAudioWaveOutSystem>(c.Api, devices, choice.ClientName, choice.Connect);
    }
    // Automatic. One client finds out whether JACK runs and what it offers.
    std::vector<ListedDevice> jack;
    if (ApiCompiled(RtAudio::UNIX_JACK) && JackOutputDevices(choice.Device, jack)) {
        for (int attempt = 0; jack.empty() && attempt < 3; ++attempt) {
            // The server answered a moment ago: its ports may still be on their way.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            JackOutputDevices(choice.Device, jack);
        }
        if (!jack.empty()) {
            describe("JACK");
            return std::make_unique<RtAudioWaveOutSystem>(RtAudio::UNIX_JACK, std::move(jack),
                                                          choice.ClientName, choice.Connect);
        }
    }
    if (ApiCompiled(RtAudio::LINUX_PULSE) && PulseServerAvailable()) {
        describe("PulseAudio");
        return std::make_unique<RtAudioWaveOutSystem>(
            RtAudio::LINUX_PULSE, std::vector<ListedDevice>{{choice.Device, false, {}}},
            choice.ClientName, choice.Connect);
    }
    if (ApiCompiled(RtAudio::LINUX_ALSA)) {
        auto devices = OutputDevices(RtAudio::LINUX_ALSA, choice.Device);
        if (!devices.empty()) {
            describe("ALSA");
            return std::make_unique<RtAudioWaveOutSystem>(RtAudio::LINUX_ALSA, devices,
                                                          choice.ClientName, choice.Connect);
        }
    }
    describe("none");
    return std::make_unique<NoWaveOutSystem>();
}

std::vector<std::string> PresentAudioApis() {
    std::vector<std::string> apis;
    if (ApiCompiled(RtAudio::UNIX_JACK) && JackServerRunning()) {
        apis.push_back("jack");
        apis.push_back("jack-live");
    }
    if (ApiCompiled(RtAudio::LINUX_PULSE) && PulseServerAvailable()) apis.push_back("pulse");
    if (ApiCompiled(RtAudio::LINUX_ALSA) && !OutputDevices(RtAudio::LINUX_ALSA, "").empty())
        apis.push_back("alsa");
    apis.push_back("virtual");
    return apis;
}

std::vector<std::string> AudioDeviceNames(const std::string& api) {
    const std::string key = Lower(api);
    RtAudio::Api which;
    if (key == "jack") which = RtAudio::UNIX_JACK;
    else if (key == "pulse") which = RtAudio::LINUX_PULSE;
    else if (key == "alsa") which = RtAudio::LINUX_ALSA;
    else return {};
    if (!ApiCompiled(which)) return {};
    std::vector<ListedDevice> devices;
    if (which == RtAudio::UNIX_JACK) JackOutputDevices("", devices);
    else devices = OutputDevices(which, "");
    std::vector<std::string> names;
    for (const ListedDevice& d : devices)
        // ALSA's own "default" is what the list's first entry, the default, already opens.
        if (!(which == RtAudio::LINUX_ALSA && d.Name == "default")) names.push_back(d.Name);
    if (!names.empty()) names.erase(names.begin()); // the "" that stands for the default
    return names;
}

std::string AudioApiTitle(const std::string& api) {
    const std::string key = Lower(api);
    if (key == "auto") return "Automatic";
    if (key == "jack") return "JACK";
    if (key == "pulse") return "PulseAudio";
    if (key == "alsa") return "ALSA";
    if (key == "virtual") return "Virtual (no sound)";
    if (key == "jack-live") return "JACK (low latency)";
    if (key == "none") return "None";
    return api;
}

AudioOutputProbe RealAudioOutputProbe() {
    return {PresentAudioApis, AudioDeviceNames,
            [](const AudioBackendChoice& c) { return CreateWaveOutSystem(c); }};
}

std::unique_ptr<WaveOutSystem> CreateVirtualWaveOutSystem() {
    return std::make_unique<VirtualWaveOutSystem>();
}

} // namespace zelvox
