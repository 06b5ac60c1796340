#include "devices/backends/JackDevice.h"

#include <chrono>
#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "devices/JackClient.h"
#include "dsp/RateStage.h"
#include "devices/backends/RtAudioDevice.h"

namespace zelvox {

namespace {

constexpr float kSampleScale = 1.0f / 32767.0f; // as the sound has always left through JACK

} // namespace

// How the device's 44,100 Hz stream meets the server's rate: directly (no stage) or through
// one converter per channel. Made off the audio thread (at open, and on JACK's sample-rate
// callback when the server changes its rate while playing) and handed to the callback.
struct JackConversion {
    uint32_t Rate = 0; // the server's rate this was made for
    std::unique_ptr<RateStage> Stage[2];
    std::vector<float> EngineFrames[2];
    uint32_t Latency = 0; // frames the converter delays the sound, told to the server
};

// What the process callback reaches the device through. It outlives the device when a close
// hangs (libjack may then still call the callback): Device is cleared before the close, and
// the callback then only writes silence.
struct JackDeviceLink {
    std::atomic<JackWaveOutDevice*> Device{nullptr};
    std::atomic<int> InFlight{0};
    std::atomic<bool> Gone{false}; // the server shut the client down
    jack_port_t* Ports[2] = {nullptr, nullptr};
    uint32_t Channels = 0;
    // The callback's own conversion; a new one waits in Pending (the server's rate changed)
    // and the one it replaced in Retired until a thread that may free memory takes it.
    JackConversion* Current = nullptr;
    std::atomic<JackConversion*> Pending{nullptr};
    std::atomic<JackConversion*> Retired{nullptr};
    std::atomic<uint32_t> ServerRate{0};   // as the server last told it
    std::atomic<uint32_t> Latency{0};      // of the conversion in use, for the latency callback
    std::atomic<uint32_t> RateChanges{0};  // rates the server changed to while open
    std::atomic<bool> RateRefused{false};  // the server's rate is one the converter cannot serve
    JackClientUser User; // this play's hooks into the kept client's callbacks

    ~JackDeviceLink() {
        delete Current;
        delete Pending.load();
        delete Retired.load();
    }
};

namespace {

// Host frames converted per piece; the engine frames that need stay below kEnginePiece.
constexpr uint32_t kHostPiece = 1024;
constexpr uint32_t kEnginePiece = kHostPiece * 2 + 8; // 22,050 Hz at the least

void ReportLatency(jack_latency_callback_mode_t mode, void* arg) {
    auto* link = static_cast<JackDeviceLink*>(arg);
    if (mode != JackCaptureLatency) return;
    // The converter's delay is this client's own: it comes on top of nothing upstream.
    const uint32_t latency = link->Latency.load(std::memory_order_acquire);
    jack_latency_range_t range{latency, latency};
    for (uint32_t c = 0; c < link->Channels; ++c)
        if (link->Ports[c]) jack_port_set_latency_range(link->Ports[c], JackCaptureLatency, &range);
}

// The conversion for a server at `rate` Hz: none at the stream's own rate, else a converter
// per channel. Throws std::runtime_error (the converter) or std::invalid_argument (a rate it
// cannot serve).
std::unique_ptr<JackConversion> MakeConversion(uint32_t rate, uint32_t channels) {
    auto conv = std::make_unique<JackConversion>();
    conv->Rate = rate;
    if (IsNativeRate(rate)) return conv;
    for (uint32_t c = 0; c < channels; ++c) {
        conv->Stage[c] = std::make_unique<RateStage>(rate);
        conv->EngineFrames[c].assign(kEnginePiece, 0.0f);
    }
    conv->Latency = conv->Stage[0]->Latency();
    return conv;
}

// JACK's notification thread, when the server changes its rate while the client runs (PipeWire
// does this when another program asks for another rate): a conversion for the new rate is made
// here, where memory may be had, and the callback takes it at its next period. Until then the
// callback plays silence rather than the old conversion's wrong speed and pitch.
int RateChanged(jack_nframes_t rate, void* arg) {
    auto* link = static_cast<JackDeviceLink*>(arg);
    const uint32_t before = link->ServerRate.exchange(rate, std::memory_order_acq_rel);
    delete link->Retired.exchange(nullptr, std::memory_order_acq_rel);
    if (before == rate || before == 0) return 0; // the first call comes at activation
    link->RateChanges.fetch_add(1, std::memory_order_relaxed);
    try {
        std::unique_ptr<JackConversion> conv = MakeConversion(rate, link->Channels);
        link->RateRefused.store(false, std::memory_order_release);
        delete link->Pending.exchange(conv.release(), std::memory_order_acq_rel);
    } catch (const std::exception&) {
        link->RateRefused.store(true, std::memory_order_release);
    }
    return 0;
}

} // namespace

bool ListJackOutputs(std::vector<RtAudio::DeviceInfo>& infos) {
    infos.clear();
    return WithJackListClient([&](jack_client_t* client) {
        const unsigned rate = jack_get_sample_rate(client);
        const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, 0);
        if (!ports) return;
        for (size_t i = 0; ports[i]; ++i) {
            const std::string port = ports[i];
            const size_t colon = port.find(':');
            if (colon == std::string::npos) continue;
            const std::string owner = port.substr(0, colon);
            if (infos.empty() || infos.back().name != owner) {
                RtAudio::DeviceInfo info;
                info.probed = true;
                info.name = owner;
                info.sampleRates = {rate};
                info.preferredSampleRate = rate;
                info.nativeFormats = RTAUDIO_FLOAT32;
                infos.push_back(info);
            }
            const jack_port_t* p = jack_port_by_name(client, ports[i]);
            if (p && (jack_port_flags(p) & JackPortIsInput)) ++infos.back().outputChannels;
            else ++infos.back().inputChannels;
        }
        jack_free(ports);
        if (!infos.empty()) infos.front().isDefaultOutput = true;
    });
}

std::vector<std::string> PhysicalPlaybackPorts(jack_client_t* client) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | JackPortIsInput);
    if (!ports) return names;
    for (size_t i = 0; ports[i] && names.size() < 2; ++i) names.emplace_back(ports[i]);
    jack_free(ports);
    return names;
}

void ConnectOutputs(jack_client_t* client, jack_port_t* const* ports, uint32_t channels,
                    const std::vector<std::string>& targets) {
    if (targets.empty()) return;
    // A mono output feeds both speakers; stereo goes channel by channel.
    const size_t wanted = std::min<size_t>(targets.size(), channels == 1 ? 2 : channels);
    for (size_t i = 0; i < wanted; ++i)
        if (jack_port_t* from = ports[channels == 1 ? 0 : i])
            jack_connect(client, jack_port_name(from), targets[i].c_str());
}

JackWaveOutDevice::JackWaveOutDevice(std::string deviceName, std::string clientName, bool connect)
    : DeviceName_(std::move(deviceName)), ClientName_(std::move(clientName)), Connect_(connect) {}

JackWaveOutDevice::~JackWaveOutDevice() {
    if (IsOpen()) {
        Reset();
        Close();
    }
    StopStream(false);
}

bool JackWaveOutDevice::Find(Target& target, int32_t& code) {
    bool found = false;
    const bool answered = WithJackListClient([&](jack_client_t* client) {
        const unsigned rate = jack_get_sample_rate(client);
        const char** ports =
            jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
        if (!ports) return;
        // The first client with playback ports, or the one named.
        for (size_t i = 0; ports[i]; ++i) {
            const std::string port = ports[i];
            const std::string owner = port.substr(0, port.find(':'));
            if (!found && (DeviceName_.empty() || owner == DeviceName_)) {
                found = true;
                target.Info.name = owner;
            }
            if (found && owner == target.Info.name) target.Playback.push_back(port);
        }
        jack_free(ports);
        if (!found) return;
        target.Info.probed = true;
        target.Info.outputChannels = static_cast<unsigned>(target.Playback.size());
        target.Info.sampleRates = {rate};
        target.Info.preferredSampleRate = rate;
        target.Info.nativeFormats = RTAUDIO_FLOAT32;
    });
    if (!answered) {
        LastError_ = JackStuck() ? JackAttachProblem(JackAttach::Stuck)
                                 : "JACK: the JACK server is not running";
        code = kMmsyserrError;
        return false;
    }
    if (!found) {
        LastError_ = "JACK output device \"" +
                     (DeviceName_.empty() ? std::string("default") : DeviceName_) + "\" not found";
        code = kMmsyserrBadDeviceId;
        return false;
    }
    return true;
}

int32_t JackWaveOutDevice::GetCaps(WaveOutCaps& caps) {
    Target t;
    int32_t code = kMmsyserrNoError;
    if (!Find(t, code)) return code;
    RtAudioCapsFromInfo(RtAudio::UNIX_JACK, t.Info, caps);
    return kMmsyserrNoError;
}

int32_t JackWaveOutDevice::QueryFormat(const WaveOutFormat& f) {
    FormatWhy_.clear();
    if (f.FormatTag != 1 || f.BitsPerSample != 16 || f.Channels < 1 || f.Channels > 2)
        return kWaverrBadFormat;
    Target t;
    int32_t code = kMmsyserrNoError;
    if (!Find(t, code)) return code;
    if (t.Info.outputChannels < f.Channels) {
        FormatWhy_ = "the JACK device " + t.Info.name + " has " +
                     std::to_string(t.Info.outputChannels) + " playback ports";
        return kWaverrBadFormat;
    }
    FormatWhy_ = RateProblem(f.SamplesPerSec, t.Info.sampleRates.front());
    return FormatWhy_.empty() ? kMmsyserrNoError : kWaverrBadFormat;
}

std::string JackWaveOutDevice::RateProblem(uint32_t stream, uint32_t server) {
    if (stream == server) return "";
    // The synth's stream is converted to any server rate the converter serves.
    if (stream == 44100) {
        const std::string why = CheckHostRate(server);
        return why.empty() ? "" : "the JACK server runs at " + std::to_string(server) + " Hz: " + why;
    }
    return "the JACK server runs at " + std::to_string(server) + " Hz, not " +
           std::to_string(stream) + " Hz";
}

int32_t JackWaveOutDevice::StartStream(const WaveOutFormat& f) {
    Target t;
    int32_t code = kMmsyserrNoError;
    if (!Find(t, code)) return code;
    if (t.Info.outputChannels < f.Channels) return kWaverrBadFormat;
    // The program's kept client, the one that answered Find: the ports are its for this play.
    if (const JackAttach a = AttachJackClient(ClientName_, Client_); a != JackAttach::Ok) {
        LastError_ = JackAttachProblem(a);
        return kMmsyserrError;
    }
    Link_ = new JackDeviceLink;
    Link_->User.Process = &JackWaveOutDevice::Process;
    Link_->User.Xrun = &JackWaveOutDevice::Xrun;
    Link_->User.Latency = &ReportLatency;
    Link_->User.Shutdown = &JackWaveOutDevice::Shutdown;
    // Only a stream made at the synth's rate can follow the server to another rate.
    if (IsNativeRate(f.SamplesPerSec)) Link_->User.SampleRate = &RateChanged;
    Link_->User.Arg = Link_;
    auto fail = [&](int32_t r, const std::string& why) {
        for (jack_port_t* p : Link_->Ports)
            if (p) jack_port_unregister(Client_, p);
        DetachJackClient(Client_);
        Client_ = nullptr;
        delete Link_;
        Link_ = nullptr;
        LastError_ = why;
        return r;
    };
    const uint32_t serverRate = jack_get_sample_rate(Client_);
    if (const std::string why = RateProblem(f.SamplesPerSec, serverRate); !why.empty())
        return fail(kWaverrBadFormat, why);
    Link_->Channels = f.Channels;
    Link_->ServerRate.store(serverRate);
    try {
        Link_->Current = (IsNativeRate(f.SamplesPerSec) ? MakeConversion(serverRate, f.Channels)
                                                          : std::make_unique<JackConversion>())
                             .release();
        if (!IsNativeRate(f.SamplesPerSec)) Link_->Current->Rate = serverRate;
    } catch (const std::exception& e) {
        return fail(kMmsyserrError, std::string("JACK: the rate converter: ") + e.what());
    }
    Link_->Latency.store(Link_->Current->Latency);
    for (uint32_t c = 0; c < f.Channels; ++c) {
        const std::string name = "outport " + std::to_string(c);
        Link_->Ports[c] =
            jack_port_register(Client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!Link_->Ports[c]) {
            return fail(kMmsyserrError, "JACK: could not make the port " + name);
        }
    }
    BufferFrames_ = jack_get_buffer_size(Client_);
    // The callback pulls in pieces of this size whatever the period; room for 8 periods.
    Scratch_.assign(size_t{BufferFrames_ > 0 ? BufferFrames_ : 1024} * 8 * f.BlockAlign(), 0);
    Link_->Device.store(this, std::memory_order_release);
    // The client is active already: the callbacks reach this play from here on.
    if (!AddJackUser(Client_, &Link_->User)) {
        Link_->Device.store(nullptr);
        return fail(kMmsyserrError, "JACK: the program's client has no room for another output");
    }
    // The converter's delay is told once the ports are there. PipeWire's libjack gets no
    // latency callback (see JackIsPipeWire's use): there the ports are told it here.
    if (const uint32_t latency = Link_->Current->Latency; latency > 0) {
        if (JackIsPipeWire()) {
            jack_latency_range_t range{latency, latency};
            for (uint32_t c = 0; c < f.Channels; ++c)
                jack_port_set_latency_range(Link_->Ports[c], JackCaptureLatency, &range);
        }
        jack_recompute_total_latencies(Client_);
    }
    if (Connect_) {
        // The named device's own playback ports, else the speakers (the first physical
        // playback ports), else the first device that takes sound.
        std::vector<std::string> speakers;
        if (DeviceName_.empty()) speakers = PhysicalPlaybackPorts(Client_);
        ConnectOutputs(Client_, Link_->Ports, f.Channels, speakers.empty() ? t.Playback : speakers);
    }
    return kMmsyserrNoError;
}

void JackWaveOutDevice::StopStream(bool failed) {
    if (!Client_) return;
    // From here the callback no longer reaches this device; wait out one that is running.
    Link_->Device.store(nullptr, std::memory_order_seq_cst);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (Link_->InFlight.load(std::memory_order_seq_cst) != 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool unhooked = RemoveJackUser(Client_, &Link_->User);
    // The client stays for the next play; its ports go. A client whose server has gone has
    // nothing left to unregister (it is closed as it is detached).
    // A play that failed while the server was there (it stopped calling) leaves the client
    // to be closed rather than asked again.
    const bool alive = !failed && !Link_->Gone.load(std::memory_order_acquire) && !JackClientGone(Client_);
    if (alive && unhooked)
        for (jack_port_t* p : Link_->Ports)
            if (p) jack_port_unregister(Client_, p);
    DetachJackClient(Client_, !alive || !unhooked);
    if (unhooked) delete Link_; // else libjack may still call it
    Client_ = nullptr;
    Link_ = nullptr;
}

int JackWaveOutDevice::Process(jack_nframes_t frames, void* arg) {
    auto* link = static_cast<JackDeviceLink*>(arg);
    link->InFlight.fetch_add(1, std::memory_order_seq_cst);
    JackWaveOutDevice* self = link->Device.load(std::memory_order_seq_cst);
    float* dst[2] = {nullptr, nullptr};
    for (uint32_t c = 0; c < link->Channels; ++c)
        dst[c] = static_cast<float*>(jack_port_get_buffer(link->Ports[c], frames));
    if (!self) {
        for (uint32_t c = 0; c < link->Channels; ++c)
            if (dst[c]) std::memset(dst[c], 0, sizeof(float) * frames);
        link->InFlight.fetch_sub(1, std::memory_order_seq_cst);
        return 0;
    }
    // A conversion made for the server's new rate takes over here, once the one it replaced
    // before was freed.
    if (link->Pending.load(std::memory_order_acquire) &&
        !link->Retired.load(std::memory_order_acquire)) {
        link->Retired.store(link->Current, std::memory_order_release);
        link->Current = link->Pending.exchange(nullptr, std::memory_order_acq_rel);
        link->Latency.store(link->Current->Latency, std::memory_order_release);
    }
    if (link->Current->Rate != link->ServerRate.load(std::memory_order_acquire)) {
        // The server's rate changed and its conversion is not there (yet): silence, never the
        // sound at the wrong speed.
        for (uint32_t c = 0; c < link->Channels; ++c)
            if (dst[c]) std::memset(dst[c], 0, sizeof(float) * frames);
    } else if (link->Current->Stage[0]) {
        self->PlayConverted(*link->Current, link->Channels, dst, frames);
    } else {
        self->PlayDirect(link->Channels, dst, frames);
    }
    link->InFlight.fetch_sub(1, std::memory_order_seq_cst);
    return 0;
}

// Little-endian 16-bit frames of the queue to float, at the scale the sound always had.
void JackWaveOutDevice::PullFloat(uint32_t channels, float* const* dst, uint32_t at, uint32_t frames) {
    const uint32_t maxFrames = static_cast<uint32_t>(Scratch_.size() / (2 * channels));
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t n = std::min(frames - done, maxFrames);
        Pull(Scratch_.data(), n * 2 * channels);
        const uint8_t* src = Scratch_.data();
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t c = 0; c < channels; ++c) {
                const size_t b = 2 * (size_t{i} * channels + c);
                const auto v = static_cast<int16_t>(static_cast<uint16_t>(src[b] | (src[b + 1] << 8)));
                if (dst[c]) dst[c][at + done + i] = static_cast<float>(v) * kSampleScale;
            }
        done += n;
    }
}

void JackWaveOutDevice::PlayDirect(uint32_t channels, float* const* dst, uint32_t frames) {
    PullFloat(channels, dst, 0, frames);
}

// The engine keeps exactly in step with the server's frames: each piece pulls the engine
// frames that its host frames stand for, and the converters give them out delayed.
void JackWaveOutDevice::PlayConverted(JackConversion& conv, uint32_t channels, float* const* dst,
                                      uint32_t frames) {
    float* engine[2] = {conv.EngineFrames[0].data(), channels > 1 ? conv.EngineFrames[1].data() : nullptr};
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t n = std::min(frames - done, kHostPiece);
        const uint32_t need = std::min(conv.Stage[0]->EngineFramesFor(n), kEnginePiece);
        PullFloat(channels, engine, 0, need);
        for (uint32_t c = 0; c < channels; ++c) {
            conv.Stage[c]->Push(engine[c], need);
            if (dst[c]) conv.Stage[c]->Take(dst[c] + done, n);
        }
        done += n;
    }
}

int JackWaveOutDevice::Xrun(void* arg) {
    auto* link = static_cast<JackDeviceLink*>(arg);
    link->InFlight.fetch_add(1, std::memory_order_seq_cst);
    if (JackWaveOutDevice* self = link->Device.load(std::memory_order_seq_cst)) self->CountXrun();
    link->InFlight.fetch_sub(1, std::memory_order_seq_cst);
    return 0;
}

void JackWaveOutDevice::Shutdown(void* arg) {
    auto* link = static_cast<JackDeviceLink*>(arg);
    link->Gone.store(true, std::memory_order_release);
    // The notifier says so at once, rather than after the stream has been silent a while.
    link->InFlight.fetch_add(1, std::memory_order_seq_cst);
    if (JackWaveOutDevice* self = link->Device.load(std::memory_order_seq_cst)) self->StreamLost();
    link->InFlight.fetch_sub(1, std::memory_order_seq_cst);
}

std::string JackWaveOutDevice::FailureText() {
    if (Link_ && Link_->Gone.load(std::memory_order_acquire))
        return "JACK: the JACK server has gone away (it stopped or was restarted)";
    return StreamingWaveOutDevice::FailureText();
}

} // namespace zelvox
