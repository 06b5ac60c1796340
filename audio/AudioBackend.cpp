#include "audio/AudioBackend.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <mutex>
#include <vector>

#include <jack/jack.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/backends/RtAudioDevice.h"
#include "audio/backends/VirtualDevice.h"

namespace zelvox {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void SilentJackMessage(const char*) {}

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

class RtAudioWaveOutSystem final : public WaveOutSystem {
public:
    RtAudioWaveOutSystem(RtAudio::Api api, std::vector<std::string> devices, std::string client)
        : Api_(api), Devices_(std::move(devices)), Client_(std::move(client)) {}
    int32_t GetNumDevs() override { return static_cast<int32_t>(Devices_.size()); }
    int32_t GetDevCaps(int32_t id, WaveOutCaps& caps) override {
        if (id == -1) id = 0;
        if (id < 0 || id >= GetNumDevs()) return kMmsyserrBadDeviceId;
        return RtAudioWaveOutDevice(Api_, Devices_[static_cast<size_t>(id)]).GetCaps(caps);
    }
    std::unique_ptr<WaveOutDevice> CreateDevice(int32_t id) override {
        if (id == -1) id = 0;
        if (id < 0 || id >= GetNumDevs()) return nullptr;
        return std::make_unique<RtAudioWaveOutDevice>(Api_, Devices_[static_cast<size_t>(id)],
                                                      Client_);
    }

private:
    RtAudio::Api Api_;
    std::vector<std::string> Devices_; // "" = the API's default output
    std::string Client_;
};

// The output devices of an API, the wanted one (or the default, "") first.
std::vector<std::string> OutputDevices(RtAudio::Api api, const std::string& wanted) {
    std::vector<std::string> list;
    try {
        RtAudio rt(api);
        rt.showWarnings(false);
        if (rt.getCurrentApi() != api) return list;
        unsigned count = rt.getDeviceCount();
        std::vector<std::string> names;
        for (unsigned i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
            if (info.probed && info.outputChannels > 0) names.push_back(info.name);
        }
        if (names.empty()) return list;
        list.push_back(wanted);
        for (const auto& n : names)
            if (n != wanted) list.push_back(n);
    } catch (const RtAudioError&) {
        list.clear();
    }
    return list;
}

} // namespace

AudioBackendChoice ReadAudioBackendChoice(const TSettingsFile& settings) {
    AudioBackendChoice c;
    c.Api = Lower(settings.ReadString("Audio", "API", "auto"));
    c.Device = settings.ReadString("Audio", "Device", "");
    return c;
}

void WriteAudioBackendChoice(const TSettingsFile& settings, const AudioBackendChoice& choice) {
    settings.WriteString("Audio", "API", choice.Api);
    settings.WriteString("Audio", "Device", choice.Device);
}

bool JackServerRunning() {
    static std::mutex lock; // the error-function swap is process-wide
    std::lock_guard guard(lock);
    jack_set_error_function(SilentJackMessage);
    jack_set_info_function(SilentJackMessage);
    // A busy server now and then refuses a client for a moment: ask twice before saying no.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        jack_status_t status;
        jack_client_t* client = jack_client_open("zelvox-probe", JackNoStartServer, &status);
        if (client) {
            jack_client_close(client);
            return true;
        }
        if (status & JackServerFailed) return false; // nobody there
    }
    return false;
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
        auto devices = OutputDevices(c.Api, choice.Device);
        if (devices.empty()) devices.push_back(choice.Device);
        return std::make_unique<RtAudioWaveOutSystem>(c.Api, devices, choice.ClientName);
    }
    // Automatic.
    if (ApiCompiled(RtAudio::UNIX_JACK) && JackServerRunning()) {
        auto devices = OutputDevices(RtAudio::UNIX_JACK, choice.Device);
        for (int attempt = 0; devices.empty() && attempt < 3; ++attempt) {
            // The server answered a moment ago: its ports may still be on their way.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            devices = OutputDevices(RtAudio::UNIX_JACK, choice.Device);
        }
        if (!devices.empty()) {
            describe("JACK");
            return std::make_unique<RtAudioWaveOutSystem>(RtAudio::UNIX_JACK, devices,
                                                          choice.ClientName);
        }
    }
    if (ApiCompiled(RtAudio::LINUX_PULSE) && PulseServerAvailable()) {
        describe("PulseAudio");
        return std::make_unique<RtAudioWaveOutSystem>(
            RtAudio::LINUX_PULSE, std::vector<std::string>{choice.Device}, choice.ClientName);
    }
    if (ApiCompiled(RtAudio::LINUX_ALSA)) {
        auto devices = OutputDevices(RtAudio::LINUX_ALSA, choice.Device);
        if (!devices.empty()) {
            describe("ALSA");
            return std::make_unique<RtAudioWaveOutSystem>(RtAudio::LINUX_ALSA, devices,
                                                          choice.ClientName);
        }
    }
    describe("none");
    return std::make_unique<NoWaveOutSystem>();
}

std::vector<std::string> PresentAudioApis() {
    std::vector<std::string> apis;
    if (ApiCompiled(RtAudio::UNIX_JACK) && JackServerRunning()) apis.push_back("jack");
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
    std::vector<std::string> names = OutputDevices(which, "");
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
