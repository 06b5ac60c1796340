#pragma once
// The low-latency JACK output: the audio output port, a MIDI input port and a MIDI output
// port (clock) on the program's kept JACK client (devices/JackClient.h) for as long as it lives,
// rendering a LiveSynth in the JACK process callback, period by period, so that a knob, a MIDI
// message or a transport change is heard within the period. The callback reads the ports'
// buffers and the transport's position (both documented real-time safe by JACK) and calls
// LiveSynth::Process; it allocates, locks and waits for nothing.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <memory>

#include "devices/JackClient.h"
#include "dsp/RateStage.h"
#include "base/SpscRing.h"
#include "synth/LiveSynth.h"

namespace zelvox {

class JackLiveOutput {
public:
    static constexpr uint32_t kMaxPeriod = 8192;

    // Attaches to the program's kept client called clientName (opened and activated when
    // needed, never starting a server) and registers the ports; with `connect`, its output then
    // goes to the speakers (the first two physical playback ports). runtime_error with the
    // reason when there is no server, JACK is stuck or a port cannot be made.
    JackLiveOutput(LiveSynth& synth, const std::string& clientName, bool connect = true);
    ~JackLiveOutput();
    JackLiveOutput(const JackLiveOutput&) = delete;
    JackLiveOutput& operator=(const JackLiveOutput&) = delete;

    std::string ClientName() const;
    std::string OutPort() const;    // "zelvox:out"
    std::string MidiInPort() const; // "zelvox:midi_in"
    std::string MidiOutPort() const; // "zelvox:midi_out": MIDI clock and notes, when sent
    uint32_t Period() const;
    // Periods the server reported late (xruns), and periods rendered.
    uint64_t Xruns() const { return Xruns_.load(std::memory_order_relaxed); }
    uint64_t Periods() const { return Periods_.load(std::memory_order_relaxed); }
    // The server's time since the client started, in nanoseconds: each period's frames at the
    // rate the server ran at then, whatever its rate and period size did.
    uint64_t PlayedNanos() const { return PlayedNanos_.load(std::memory_order_relaxed); }
    // The shortest and longest period seen (frames; the server may change its period size).
    uint32_t ShortestPeriod() const { return MinPeriod_.load(std::memory_order_relaxed); }
    uint32_t LongestPeriod() const { return MaxPeriod_.load(std::memory_order_relaxed); }
    // Times the server changed its rate while the client ran, and whether the rate it runs at
    // now is one the synth cannot be converted to (then it plays silence).
    uint32_t RateChanges() const { return RateChanges_.load(std::memory_order_relaxed); }
    uint32_t Rate() const { return ServerRate_.load(std::memory_order_relaxed); }
    bool RateRefused() const { return RateRefused_.load(std::memory_order_acquire); }
    // The main thread, now and then: tells the server the converter's delay when it changed
    // with the rate and the server's library cannot be told from its latency callback.
    void ReportLatency();
    // The server shut the client down (it stopped or was killed): nothing will play again.
    bool ServerGone() const { return Gone_.load(std::memory_order_acquire); }
    // Becomes the JACK transport's timebase master (false when another master holds it):
    // bar, beat and tick from the synth's tempo, four beats to the bar.
    bool BecomeTimebaseMaster();
    // Gives the timebase up (when this client holds it).
    void ReleaseTimebase();

    // Recording: while on, the callback copies what it plays, from the first period in
    // which the synth plays, into a queue a disk thread empties (TakeRecorded).
    void SetRecording(bool on);
    // Up to `max` recorded samples into `out`; how many.
    size_t TakeRecorded(int16_t* out, size_t max);
    // Samples the queue had no room for (the disk fell behind).
    uint64_t RecordingLost() const { return Lost_.load(std::memory_order_relaxed); }

    // The share of the last period's time the callback took (0..1), for the DSP meter.
    float Load() const { return Load_.load(std::memory_order_relaxed); }

private:
    // Closing while the clock runs: a device that follows it hears Stop first.
    void SendClockStop();
    void UnregisterPorts();
    static int ProcessCallback(jack_nframes_t frames, void* self);
    static int XrunCallback(void* self);
    static void ShutdownCallback(void* self);
    static void TimebaseCallback(jack_transport_state_t state, jack_nframes_t frames,
                                 jack_position_t* pos, int newPos, void* self);
    int Process(jack_nframes_t frames);
    // The synth's stream as it renders, for the recording.
    static void RecordPiece(void* self, const int16_t* frames, uint32_t count);
    int EndPeriod(jack_nframes_t frames, jack_time_t begun);
    static void LatencyCallback(jack_latency_callback_mode_t mode, void* self);
    static int RateCallback(jack_nframes_t rate, void* self);

    // The synth's 44,100 Hz stream as the server's rate wants it: no stage at 44,100 Hz.
    struct Conversion {
        uint32_t Rate = 0;
        std::unique_ptr<RateStage> Stage;
    };
    static std::unique_ptr<Conversion> MakeConversion(uint32_t rate);
    // The callback's own conversion; another made for a new server rate waits in Pending, the
    // one it replaced in Retired until the notification thread frees it.
    void TakePendingConversion();

    LiveSynth& Synth_;
    jack_client_t* Client_ = nullptr;
    JackClientUser User_; // this output's hooks into the kept client's callbacks
    bool Timebase_ = false; // this output is the transport's timebase master
    jack_port_t* Out_ = nullptr;
    jack_port_t* MidiIn_ = nullptr;
    jack_port_t* MidiOut_ = nullptr;
    std::array<LiveMidi, 512> Midi_{};
    std::atomic<uint64_t> Xruns_{0};
    std::atomic<uint64_t> Periods_{0};
    std::atomic<float> Load_{0.0f};
    std::atomic<int32_t> Tempo_{140}; // the synth's tempo, for the timebase callback
    std::atomic<bool> Recording_{false};
    std::atomic<bool> Gone_{false};
    std::unique_ptr<Conversion> Conv_;
    RateStage* Stage_ = nullptr; // Conv_'s stage: null at 44,100 Hz
    std::atomic<Conversion*> Pending_{nullptr};
    std::atomic<Conversion*> Retired_{nullptr};
    std::atomic<uint32_t> ServerRate_{0};
    std::atomic<uint32_t> Latency_{0};
    bool ViaCallback_ = true; // the latency callback reports it (else ReportLatency)
    uint32_t Reported_ = UINT32_MAX; // main thread: the latency last reported
    std::atomic<uint32_t> RateChanges_{0};
    std::atomic<bool> RateRefused_{false};
    std::atomic<uint64_t> PlayedNanos_{0};
    std::atomic<uint32_t> MinPeriod_{0};
    std::atomic<uint32_t> MaxPeriod_{0};
    bool RecordStarted_ = false; // callback only: the synth has played since recording began
    std::atomic<uint64_t> Lost_{0};
    SpscRing<int16_t, (1u << 21)> Recorded_; // 47 s of sound
};

} // namespace zelvox
