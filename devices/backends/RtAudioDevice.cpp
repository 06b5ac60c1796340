#include "devices/backends/RtAudioDevice.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <sched.h>

namespace zelvox {

namespace {
float kSampleScale = 1.0f / 32767.0f;

// Writes that failed one after another before the stream counts as lost. A device that ran
// dry fails one write and recovers at the next; a server that has gone fails every write.
constexpr uint32_t kLostAfterFailedWrites = 8;

// The device whose callback runs on this thread (RtAudio reports a failed write on the
// thread that made it, right after the callback), and what StartStream wants to hear of
// errors RtAudio reports while it opens (with an error callback it no longer throws then).
thread_local RtAudioWaveOutDevice* tStreaming = nullptr;
thread_local std::string* tOpening = nullptr;

// RtAudio's messages begin with where they come from ("RtApiPulse::callbackEvent: ").
size_t OriginLength(const std::string& text) {
    const size_t colon = text.find(": ");
    return colon != std::string::npos && text.compare(0, 5, "RtApi") == 0 ? colon + 2 : 0;
}
std::string WithoutOrigin(const std::string& text) {
    return text.substr(OriginLength(text));
}
} // namespace

void RtAudioWaveOutDevice::OnRtAudioError(RtAudioError::Type type, const std::string& text) {
    if (tStreaming) {
        tStreaming->WriteFailed(text);
        return;
    }
    if (tOpening && type != RtAudioError::WARNING && tOpening->empty()) *tOpening = WithoutOrigin(text);
}

// The stream's thread: keep the first message, count the failure; the callback judges.
void RtAudioWaveOutDevice::WriteFailed(const std::string& text) noexcept {
    if (!FailText_.Set.load(std::memory_order_acquire)) {
        const size_t from = OriginLength(text);
        const size_t n = std::min(text.size() - from, sizeof FailText_.Text - 1);
        text.copy(FailText_.Text, n, from);
        FailText_.Text[n] = '\0';
        FailText_.Set.store(true, std::memory_order_release);
    }
    WriteFailedSinceCallback_ = true;
}

std::string RtAudioWaveOutDevice::FailureText() {
    std::string text = RtAudioApiTitle(Api_) + ": the sound server has gone away or stopped taking sound";
    if (FailText_.Set.load(std::memory_order_acquire)) text += std::string(" (") + FailText_.Text + ")";
    return text;
}

std::string RtAudioApiTitle(RtAudio::Api api) {
    switch (api) {
    case RtAudio::UNIX_JACK: return "JACK";
    case RtAudio::LINUX_PULSE: return "PulseAudio";
    case RtAudio::LINUX_ALSA: return "ALSA";
    default: return RtAudio::getApiDisplayName(api);
    }
}

void RtAudioCapsFromInfo(RtAudio::Api api, const RtAudio::DeviceInfo& info, WaveOutCaps& caps) {
    caps.Name = RtAudioApiTitle(api) + ": " + info.name;
    caps.DriverVersion = 0x0502; // RtAudio 5.2
    caps.Channels = static_cast<uint16_t>(info.outputChannels > 2 ? 2 : info.outputChannels);
    caps.Formats = 0;
    for (unsigned rate : info.sampleRates) {
        int shift = rate <= 11025 ? 0 : rate <= 22050 ? 4 : rate <= 48000 ? 8 : -1;
        if (shift < 0) continue;
        // 16-bit mono always; stereo when the device has two channels. 8-bit is not offered.
        caps.Formats |= 1u << (shift + 2);
        if (info.outputChannels >= 2) caps.Formats |= 1u << (shift + 3);
    }
}

RtAudioWaveOutDevice::RtAudioWaveOutDevice(RtAudio::Api api, std::string deviceName,
                                           std::string clientName)
    : Api_(api), DeviceName_(std::move(deviceName)), ClientName_(std::move(clientName)) {
    // PulseAudio and ALSA pace the stream: a stream asking faster than real time has lost them.
    SetSpinGuard(true);
}

RtAudioWaveOutDevice::~RtAudioWaveOutDevice() {
    if (IsOpen()) {
        Reset();
        Close();
    }
    StopStream(false);
}

bool RtAudioWaveOutDevice::FindDevice(RtAudio& rt, unsigned& id, RtAudio::DeviceInfo& info) {
    unsigned count = rt.getDeviceCount();
    if (count == 0) {
        LastError_ = RtAudioApiTitle(Api_) + " has no output device";
        return false;
    }
    if (DeviceName_.empty()) {
        id = rt.getDefaultOutputDevice();
        if (id >= count) id = 0;
        info = rt.getDeviceInfo(id);
        if (info.outputChannels > 0) return true;
        for (id = 0; id < count; ++id) {
            info = rt.getDeviceInfo(id);
            if (info.probed && info.outputChannels > 0) return true;
        }
    } else {
        for (id = 0; id < count; ++id) {
            info = rt.getDeviceInfo(id);
            if (info.probed && info.outputChannels > 0 && info.name == DeviceName_) return true;
        }
    }
    LastError_ = RtAudioApiTitle(Api_) + " output device \"" +
                 (DeviceName_.empty() ? std::string("default") : DeviceName_) + "\" not found";
    return false;
}

int32_t RtAudioWaveOutDevice::GetCaps(WaveOutCaps& caps) {
    int32_t r = kMmsyserrError;
    // A busy JACK server now and then refuses the probing client for a moment: try again
    // before telling the engine that the device is not there.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        r = ProbeCaps(caps);
        if (r != kMmsyserrBadDeviceId && r != kMmsyserrError) break;
    }
    return r;
}

int32_t RtAudioWaveOutDevice::QueryFormat(const WaveOutFormat& f) {
    int32_t r = kMmsyserrError;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        r = ProbeFormat(f);
        if (r != kMmsyserrBadDeviceId && r != kMmsyserrError) break;
    }
    return r;
}

int32_t RtAudioWaveOutDevice::ProbeCaps(WaveOutCaps& caps) {
    try {
        RtAudio rt(Api_);
        rt.showWarnings(false);
        unsigned id;
        RtAudio::DeviceInfo info;
        if (!FindDevice(rt, id, info)) return kMmsyserrBadDeviceId;
        RtAudioCapsFromInfo(Api_, info, caps);
        return kMmsyserrNoError;
    } catch (const RtAudioError& e) {
        LastError_ = e.getMessage();
        return kMmsyserrError;
    }
}

int32_t RtAudioWaveOutDevice::ProbeFormat(const WaveOutFormat& f) {
    if (f.FormatTag != 1 || f.BitsPerSample != 16 || f.Channels < 1 || f.Channels > 2)
        return kWaverrBadFormat;
    try {
        RtAudio rt(Api_);
        rt.showWarnings(false);
        unsigned id;
        RtAudio::DeviceInfo info;
        if (!FindDevice(rt, id, info)) return kMmsyserrBadDeviceId;
        if (info.outputChannels < f.Channels) return kWaverrBadFormat;
        for (unsigned rate : info.sampleRates)
            if (rate == f.SamplesPerSec) return kMmsyserrNoError;
        return kWaverrBadFormat;
    } catch (const RtAudioError& e) {
        LastError_ = e.getMessage();
        return kMmsyserrError;
    }
}

int32_t RtAudioWaveOutDevice::StartStream(const WaveOutFormat& f) {
    try {
        Rt_ = std::make_unique<RtAudio>(Api_);
        Rt_->showWarnings(false);
        unsigned id;
        RtAudio::DeviceInfo info;
        if (!FindDevice(*Rt_, id, info)) {
            Rt_.reset();
            return kMmsyserrBadDeviceId;
        }
        RtAudio::StreamParameters params;
        params.deviceId = id;
        params.nChannels = f.Channels;
        RtAudio::StreamOptions options;
        options.streamName = ClientName_;
        // Real-time priority is asked for by the callback itself (RtAudio's own request prints
        // a line on standard error for every stream).
        options.flags = 0;
        RaisedPriority_ = false;
        // 10 ms a period; JACK decides for itself (its own period), PulseAudio and ALSA try.
        BufferFrames_ = f.SamplesPerSec / 100;
        // The stream runs in float and the callback converts, so that every 16-bit value
        // maps to x / 32768 exactly and converts back to itself (RtAudio's own conversion
        // offsets by half a step, which changes negative values on the way through JACK).
        FailText_.Set.store(false);
        WriteFailedSinceCallback_ = false;
        FailedWritesInARow_ = 0;
        Rt_->openStream(&params, nullptr, RTAUDIO_FLOAT32, f.SamplesPerSec, &BufferFrames_,
                        &RtAudioWaveOutDevice::Callback, this, &options, &OnRtAudioError);
        // The callback may be asked for more frames than negotiated; keep room for 8 periods.
        Scratch_.assign(size_t{BufferFrames_} * 8 * f.BlockAlign(), 0);
        std::string refused;
        tOpening = &refused;
        Rt_->startStream();
        tOpening = nullptr;
        if (!refused.empty()) {
            LastError_ = RtAudioApiTitle(Api_) + ": " + refused;
            StopStream(true);
            return kMmsyserrError;
        }
        return kMmsyserrNoError;
    } catch (const RtAudioError& e) {
        tOpening = nullptr;
        LastError_ = e.getMessage();
        Rt_.reset();
        return kMmsyserrError;
    }
}

void RtAudioWaveOutDevice::StopStream(bool failed) {
    if (!Rt_) return;
    if (failed && Api_ == RtAudio::UNIX_JACK) {
        // When JACK shuts a client down, RtAudio closes the stream on a thread of its own;
        // give it the time to finish before touching the stream (closing it here as well
        // while that thread is still at it can hang both in libjack). On a slow machine it
        // takes longer than the usual few milliseconds: wait until it is closed, for a while.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < 100 && Rt_->isStreamOpen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    try {
        if (Rt_->isStreamRunning()) Rt_->abortStream();
    } catch (const RtAudioError&) {
    }
    try {
        if (Rt_->isStreamOpen()) Rt_->closeStream();
    } catch (const RtAudioError&) {
    }
    Rt_.reset();
    (void)CallbacksDone_.load(std::memory_order_acquire);
}

int RtAudioWaveOutDevice::Callback(void* out, void*, unsigned frames, double,
                                   RtAudioStreamStatus status, void* user) {
    auto* self = static_cast<RtAudioWaveOutDevice*>(user);
    tStreaming = self;
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) self->CountXrun();
    auto* dst = static_cast<float*>(out);
    const uint32_t channels = self->Format_.Channels;
    // The last write failed: while they keep failing, nothing is taken from the queue (a
    // server that has gone would otherwise drain it as fast as the thread spins).
    if (self->WriteFailedSinceCallback_) {
        self->WriteFailedSinceCallback_ = false;
        if (++self->FailedWritesInARow_ >= kLostAfterFailedWrites) self->StreamLost();
        std::fill(dst, dst + size_t{frames} * channels, 0.0f);
        self->CallbacksDone_.fetch_add(1, std::memory_order_release);
        return 0;
    }
    self->FailedWritesInARow_ = 0;
    if (!self->RaisedPriority_) {
        // Once, on the stream's own thread (RtAudio's, not a host's); without the right to it
        // the stream plays at normal priority.
        self->RaisedPriority_ = true;
        sched_param param{};
        param.sched_priority = 70;
        pthread_setschedparam(pthread_self(), SCHED_RR, &param);
    }
    const size_t maxFrames = self->Scratch_.size() / (2 * channels);
    uint32_t done = 0;
    while (done < frames) {
        uint32_t n = frames - done;
        if (n > maxFrames) n = static_cast<uint32_t>(maxFrames);
        self->Pull(self->Scratch_.data(), n * 2 * channels);
        const auto* src = self->Scratch_.data();
        for (uint32_t i = 0; i < n * channels; ++i) {
            // little-endian 16-bit sample
            auto v = static_cast<int16_t>(static_cast<uint16_t>(src[2 * i] | (src[2 * i + 1] << 8)));
            dst[i] = static_cast<float>(v) * kSampleScale;
        }
        dst += n * channels;
        done += n;
    }
    self->CallbacksDone_.fetch_add(1, std::memory_order_release);
    return 0;
}

} // namespace zelvox
