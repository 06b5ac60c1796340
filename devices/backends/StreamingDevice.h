#pragma once
// The part every streaming device shares: a lock-free queue of written buffers that a
// real-time "pull" drains, and a notifier thread that hands played buffers back in order.
//
// Threads:
// - the caller's (main) thread: Open, Write, Pause, Restart, Reset, Close;
// - the stream's thread: Pull, called by the sound server's callback (RtAudio) or by the
//   virtual device's pacing thread. It only copies bytes and moves atomic counters; it never
//   locks, allocates, prints or waits;
// - the notifier thread (the device's own thread): sends kWomOpen, every kWomDone in order,
//   kWomFailed when the stream stops answering, and kWomClose.
//
// The ring of entries is indexed by three monotonic counters: WriteSeq (entries written,
// advanced by Write), PlaySeq (entries fully played, advanced by Pull) and NotifySeq (entries
// returned, advanced by the notifier). Entries in [NotifySeq, PlaySeq) are played and wait
// to be returned; [PlaySeq, WriteSeq) wait to be played.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "devices/WaveOutDevice.h"

namespace zelvox {

class StreamingWaveOutDevice : public WaveOutDevice {
public:
    static constexpr uint32_t kRingSize = 1024; // more than the engine's 500 buffers

    ~StreamingWaveOutDevice() override;

    int32_t Open(const WaveOutFormat& format, WaveOutProc proc, void* instance) override;
    int32_t Write(void* token, const uint8_t* data, uint32_t bytes) override;
    int32_t Pause() override;
    int32_t Restart() override;
    int32_t Reset() override;
    int32_t Close() override;
    int32_t GetPosition(uint64_t& samples) override;
    std::string ErrorText(int32_t result) override;
    std::string FailureText() override;
    uint64_t Underruns() const override { return Underruns_.load(); }
    uint64_t ServerXruns() const override { return Xruns_.load(); }

    // Silent stretches of time the stream tolerates before the notifier declares the device
    // dead (the first callback may take longer: PulseAudio needs most of a second). A stream
    // that asks for sound far faster than real time (a client whose server died spins on
    // failed writes) is declared dead too.
    void SetWatchdog(uint32_t firstCallbackMs, uint32_t stallMs) {
        FirstCallbackMs_ = firstCallbackMs;
        StallMs_ = stallMs;
    }
    // Whether asking for sound far faster than real time counts as a lost server: true for a
    // stream a sound server paces, false for one that catches up after falling behind.
    void SetSpinGuard(bool on) { SpinGuard_ = on; }

protected:
    StreamingWaveOutDevice() = default;

    // Starts the stream that calls Pull; 0 or an error code (with LastError_ set).
    virtual int32_t StartStream(const WaveOutFormat& format) = 0;
    // Stops it; once this returns Pull is not running and will not be called again.
    // Failed tells that the stream stopped answering (its server may be gone).
    virtual void StopStream(bool failed) = 0;

    bool IsOpen() const { return IsOpen_; }
    // Stream thread: fills Bytes bytes of Out from the queue, silence where it has none.
    void Pull(uint8_t* out, uint32_t bytes) noexcept;
    // Stream thread: the server reported a break in the output.
    void CountXrun() noexcept { Xruns_.fetch_add(1, std::memory_order_relaxed); }
    // Stream thread: the stream has lost its server (its writes keep failing). From here Pull
    // only gives silence, and the notifier reports the device failed at once.
    void StreamLost() noexcept;
    bool Lost() const noexcept { return Failed_.load(std::memory_order_acquire) || LostAsked_.load(std::memory_order_acquire); }

    std::string LastError_; // text for kMmsyserrError, set on the main thread
    WaveOutFormat Format_;

private:
    struct Entry {
        void* Token;
        const uint8_t* Data;
        uint32_t Bytes;
    };
    void NotifierLoop();
    void Deliver();
    void WakeNotifier() noexcept;
    void StopNotifier();
    void Notify(uint32_t msg, void* token) { Proc_(Instance_, msg, token); }

    WaveOutProc Proc_ = nullptr;
    void* Instance_ = nullptr;
    bool IsOpen_ = false;
    bool StreamStopped_ = false; // main thread: StopStream has run after a failure

    Entry Ring_[kRingSize] = {};
    std::atomic<uint64_t> WriteSeq_{0};
    std::atomic<uint64_t> PlaySeq_{0};
    std::atomic<uint64_t> NotifySeq_{0};
    uint32_t Offset_ = 0;          // stream thread: bytes of entry PlaySeq already played
    bool PlayedSinceReset_ = false; // stream thread
    bool Starved_ = false;          // stream thread: ran dry after playing something

    std::atomic<bool> Paused_{false};
    std::atomic<uint32_t> ResetRequest_{0};
    std::atomic<uint32_t> ResetAck_{0};
    std::atomic<uint64_t> PlayedBytes_{0};
    std::atomic<uint64_t> Underruns_{0};
    std::atomic<uint64_t> Xruns_{0};
    std::atomic<uint64_t> Callbacks_{0};
    std::atomic<uint64_t> Requested_{0}; // bytes the stream asked for, played or silence
    std::atomic<bool> LostAsked_{false};

    std::atomic<uint32_t> WakeWord_{0}; // futex word the stream thread bumps
    std::atomic<bool> Quit_{false};
    std::atomic<bool> Failed_{false};
    std::thread Notifier_;
    bool SpinGuard_ = false;
    uint32_t FirstCallbackMs_ = 5000;
    uint32_t StallMs_ = 1500;
};

} // namespace zelvox
