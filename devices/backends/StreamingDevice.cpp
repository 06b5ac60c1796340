#include "devices/backends/StreamingDevice.h"

#include <chrono>
#include <cstring>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zelvox {

namespace {

// A futex wake is one system call that never blocks: safe from the real-time thread.
void FutexWake(std::atomic<uint32_t>* word) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr,
              nullptr, 0);
}

void FutexWait(std::atomic<uint32_t>* word, uint32_t seen, int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, seen, &ts,
              nullptr, 0);
}

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

StreamingWaveOutDevice::~StreamingWaveOutDevice() {
    // A subclass closes its stream in its own destructor; here only the notifier remains.
    StopNotifier();
}

int32_t StreamingWaveOutDevice::Open(const WaveOutFormat& format, WaveOutProc proc,
                                     void* instance) {
    if (IsOpen_) return kMmsyserrAllocated;
    if (!proc) return kMmsyserrError;
    int32_t r = QueryFormat(format);
    if (r != kMmsyserrNoError) return r;
    Format_ = format;
    Proc_ = proc;
    Instance_ = instance;
    WriteSeq_ = PlaySeq_ = NotifySeq_ = 0;
    Offset_ = 0;
    PlayedSinceReset_ = Starved_ = false;
    Paused_ = false;
    ResetRequest_ = ResetAck_ = 0;
    PlayedBytes_ = 0;
    Underruns_ = 0;
    Xruns_ = 0;
    Callbacks_ = 0;
    Requested_ = 0;
    LostAsked_ = false;
    Quit_ = false;
    Failed_ = false;
    StreamStopped_ = false;
    r = StartStream(format);
    if (r != kMmsyserrNoError) return r;
    IsOpen_ = true;
    try {
        Notifier_ = std::thread([this] { NotifierLoop(); });
    } catch (...) {
        StopStream(false);
        IsOpen_ = false;
        LastError_ = "Could not start the device's thread";
        return kMmsyserrError;
    }
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::Write(void* token, const uint8_t* data, uint32_t bytes) {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    if (Failed_.load()) return kMmsyserrNoDriver;
    uint64_t w = WriteSeq_.load(std::memory_order_relaxed);
    if (w - NotifySeq_.load(std::memory_order_acquire) >= kRingSize) return kMmsyserrNoMem;
    Ring_[w % kRingSize] = Entry{token, data, bytes};
    WriteSeq_.store(w + 1, std::memory_order_release);
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::Pause() {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    Paused_ = true;
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::Restart() {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    Paused_ = false;
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::Reset() {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    if (!Failed_.load()) {
        // The stream thread drops its queue at its next pull and acknowledges.
        uint32_t req = ResetRequest_.fetch_add(1) + 1;
        uint64_t deadline = NowMs() + StallMs_;
        while (ResetAck_.load(std::memory_order_acquire) != req && !Failed_.load() &&
               NowMs() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (ResetAck_.load(std::memory_order_acquire) == req) {
            WakeNotifier();
            return kMmsyserrNoError;
        }
        Failed_ = true; // a stream that doesn't pull in that long is gone
    }
    // No stream to do it: stop it for good, then drop the queue here.
    if (!StreamStopped_) {
        StopStream(true);
        StreamStopped_ = true;
    }
    PlaySeq_.store(WriteSeq_.load(), std::memory_order_release);
    Offset_ = 0;
    PlayedBytes_ = 0;
    WakeNotifier();
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::Close() {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    if (WriteSeq_.load() != PlaySeq_.load()) return kWaverrStillPlaying;
    if (!StreamStopped_) StopStream(Failed_.load());
    StreamStopped_ = true;
    StopNotifier(); // returns what is left, then sends kWomClose
    IsOpen_ = false;
    return kMmsyserrNoError;
}

int32_t StreamingWaveOutDevice::GetPosition(uint64_t& samples) {
    if (!IsOpen_) return kMmsyserrInvalHandle;
    uint16_t align = Format_.BlockAlign();
    samples = align ? PlayedBytes_.load() / align : 0;
    return kMmsyserrNoError;
}

std::string StreamingWaveOutDevice::ErrorText(int32_t result) {
    // What the back-end said, where it said something (a device not found by its name, a
    // server that refused the client).
    if ((result == kMmsyserrError || result == kMmsyserrBadDeviceId) && !LastError_.empty())
        return LastError_;
    if (result == kMmsyserrNoDriver && Failed_.load()) return FailureText();
    return WaveOutDevice::ErrorText(result);
}

std::string StreamingWaveOutDevice::FailureText() {
    return "The sound device stopped playing (its sound server may have shut down)";
}

void StreamingWaveOutDevice::StreamLost() noexcept {
    if (LostAsked_.exchange(true, std::memory_order_acq_rel)) return;
    WakeNotifier();
}

void StreamingWaveOutDevice::Pull(uint8_t* out, uint32_t bytes) noexcept {
    Callbacks_.fetch_add(1, std::memory_order_relaxed);
    Requested_.fetch_add(bytes, std::memory_order_relaxed);
    const uint8_t silence = Format_.BitsPerSample == 8 ? 0x80 : 0x00;
    if (Lost()) {
        // Nothing reaches a lost server: the queue is kept for the failure's clean-up, and
        // silence is not counted as running dry.
        std::memset(out, silence, bytes);
        return;
    }
    uint64_t written = WriteSeq_.load(std::memory_order_acquire);
    uint64_t played = PlaySeq_.load(std::memory_order_relaxed);
    uint32_t req = ResetRequest_.load(std::memory_order_acquire);
    bool returned = false;
    if (req != ResetAck_.load(std::memory_order_relaxed)) {
        played = written;
        PlaySeq_.store(played, std::memory_order_release);
        Offset_ = 0;
        PlayedSinceReset_ = Starved_ = false;
        PlayedBytes_.store(0, std::memory_order_relaxed);
        ResetAck_.store(req, std::memory_order_release);
        returned = true;
    }
    if (Paused_.load(std::memory_order_acquire)) {
        std::memset(out, silence, bytes);
        if (returned) WakeNotifier();
        return;
    }
    uint32_t done = 0;
    while (done < bytes) {
        if (played == written) {
            std::memset(out + done, silence, bytes - done);
            if (PlayedSinceReset_) Starved_ = true;
            break;
        }
        if (Starved_) {
            Underruns_.fetch_add(1, std::memory_order_relaxed);
            Starved_ = false;
        }
        const Entry& e = Ring_[played % kRingSize];
        uint32_t n = e.Bytes - Offset_;
        if (n > bytes - done) n = bytes - done;
        std::memcpy(out + done, e.Data + Offset_, n);
        done += n;
        Offset_ += n;
        PlayedBytes_.fetch_add(n, std::memory_order_relaxed);
        if (Offset_ >= e.Bytes) {
            Offset_ = 0;
            ++played;
            PlaySeq_.store(played, std::memory_order_release);
            PlayedSinceReset_ = true;
            returned = true;
        }
    }
    if (returned) WakeNotifier();
}

void StreamingWaveOutDevice::WakeNotifier() noexcept {
    WakeWord_.fetch_add(1, std::memory_order_release);
    FutexWake(&WakeWord_);
}

void StreamingWaveOutDevice::Deliver() {
    uint64_t n = NotifySeq_.load(std::memory_order_relaxed);
    while (n < PlaySeq_.load(std::memory_order_acquire)) {
        void* token = Ring_[n % kRingSize].Token;
        ++n;
        NotifySeq_.store(n, std::memory_order_release);
        Notify(kWomDone, token);
    }
}

void StreamingWaveOutDevice::NotifierLoop() {
    Notify(kWomOpen, nullptr);
    uint64_t lastCount = 0, lastChange = NowMs();
    bool sawCallback = false;
    // Real time, checked in windows: a stream may ask ahead to fill its buffers, but not for
    // seconds of sound in a fraction of one.
    const uint64_t bytesPerSecond = uint64_t{Format_.SamplesPerSec} * Format_.BlockAlign();
    constexpr uint64_t kWindowMs = 250;
    uint64_t windowStart = lastChange, windowBytes = 0;
    while (!Quit_.load()) {
        uint32_t seen = WakeWord_.load(std::memory_order_acquire);
        Deliver();
        if (!Quit_.load() && WakeWord_.load(std::memory_order_acquire) == seen)
            FutexWait(&WakeWord_, seen, 20);
        Deliver();
        // Watchdog: a stream whose callback stopped, or that lost its server and spins on it,
        // has lost its server or its device.
        if (!Failed_.load()) {
            uint64_t count = Callbacks_.load(std::memory_order_relaxed), now = NowMs();
            if (SpinGuard_ && now - windowStart >= kWindowMs) {
                const uint64_t asked = Requested_.load(std::memory_order_relaxed);
                const uint64_t allowed = bytesPerSecond * (4 * (now - windowStart) + 1000) / 1000;
                if (asked - windowBytes > allowed) StreamLost();
                windowStart = now;
                windowBytes = asked;
            }
            if (LostAsked_.load(std::memory_order_acquire)) {
                Failed_ = true;
                Notify(kWomFailed, nullptr);
                continue;
            }
            if (count != lastCount) {
                lastCount = count;
                lastChange = now;
                sawCallback = true;
            } else if (now - lastChange > (sawCallback ? StallMs_ : FirstCallbackMs_)) {
                Failed_ = true;
                Notify(kWomFailed, nullptr);
            }
        }
    }
    Deliver();
    Notify(kWomClose, nullptr);
}

void StreamingWaveOutDevice::StopNotifier() {
    if (!Notifier_.joinable()) return;
    Quit_ = true;
    WakeNotifier();
    Notifier_.join();
}

} // namespace zelvox
