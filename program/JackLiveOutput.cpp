#include "program/JackLiveOutput.h"

#include <jack/midiport.h>

#include "dsp/FloatSamples.h"
#include "devices/JackClient.h"
#include "devices/backends/JackDevice.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace zelvox {

std::unique_ptr<JackLiveOutput::Conversion> JackLiveOutput::MakeConversion(uint32_t rate) {
    auto conv = std::make_unique<Conversion>();
    conv->Rate = rate;
    if (IsNativeRate(rate)) return conv;
    if (const std::string why = CheckHostRate(rate); !why.empty())
        throw std::runtime_error("The JACK server runs at " + std::to_string(rate) + " Hz. " + why);
    conv->Stage = std::make_unique<RateStage>(rate);
    return conv;
}

JackLiveOutput::JackLiveOutput(LiveSynth& synth, const std::string& clientName, bool connect)
    : Synth_(synth) {
    // The program's kept client, the one that answered its questions: the ports are its
    // while this output lives.
    if (const JackAttach a = AttachJackClient(clientName, Client_); a != JackAttach::Ok) {
        Client_ = nullptr;
        if (a == JackAttach::NoServer)
            throw std::runtime_error("No JACK server is running (the low-latency output needs one)");
        throw std::runtime_error(JackAttachProblem(a));
    }
    const uint32_t rate = jack_get_sample_rate(Client_);
    try {
        // The synth renders its own 44,100 Hz stream; a stage converts it to the server's.
        Conv_ = MakeConversion(rate);
    } catch (const std::exception&) {
        DetachJackClient(Client_);
        Client_ = nullptr;
        throw;
    }
    Stage_ = Conv_->Stage.get();
    ServerRate_.store(rate);
    Latency_.store(Stage_ ? Stage_->Latency() : 0);
    // The server takes no latency into account on MIDI: the clock and notes are sent as late
    // as the stage makes the sound.
    Synth_.SetRate(Stage_, Stage_ ? Stage_->Latency() : 0);
    Synth_.SetTap(&RecordPiece, this);
    // PipeWire's libjack gets no latency callback (see JackIsPipeWire's use): there the main
    // thread reports the delay (ReportLatency).
    ViaCallback_ = !JackIsPipeWire();
    User_.Process = &ProcessCallback;
    User_.Xrun = &XrunCallback;
    User_.Shutdown = &ShutdownCallback;
    User_.Latency = &LatencyCallback;
    User_.SampleRate = &RateCallback;
    User_.Arg = this;
    Out_ = jack_port_register(Client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    MidiIn_ = jack_port_register(Client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    MidiOut_ = jack_port_register(Client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!Out_ || !MidiIn_ || !MidiOut_ || !AddJackUser(Client_, &User_)) {
        UnregisterPorts();
        DetachJackClient(Client_);
        Client_ = nullptr;
        throw std::runtime_error("The JACK client " + clientName + " could not be set up");
    }
    if (connect) ConnectOutputs(Client_, &Out_, 1, PhysicalPlaybackPorts(Client_));
    if (ViaCallback_) {
        if (Stage_) jack_recompute_total_latencies(Client_);
    } else {
        ReportLatency();
    }
}

void JackLiveOutput::ReportLatency() {
    if (ViaCallback_ || !Client_) return;
    const uint32_t latency = Latency_.load(std::memory_order_acquire);
    if (latency == Reported_) return;
    Reported_ = latency;
    jack_latency_range_t range{latency, latency};
    jack_port_set_latency_range(Out_, JackCaptureLatency, &range);
    jack_port_set_latency_range(MidiOut_, JackCaptureLatency, &range);
    jack_recompute_total_latencies(Client_);
}

// JACK's notification thread: the server changed its rate while the client runs (PipeWire does
// when another program asks for another rate). The new conversion is made here, where memory
// may be had; the callback plays silence until it takes it, never the old rate's wrong pitch.
int JackLiveOutput::RateCallback(jack_nframes_t rate, void* self) {
    auto* me = static_cast<JackLiveOutput*>(self);
    const uint32_t before = me->ServerRate_.exchange(rate, std::memory_order_acq_rel);
    delete me->Retired_.exchange(nullptr, std::memory_order_acq_rel);
    if (before == rate) return 0;
    me->RateChanges_.fetch_add(1, std::memory_order_relaxed);
    try {
        std::unique_ptr<Conversion> conv = MakeConversion(rate);
        me->RateRefused_.store(false, std::memory_order_release);
        delete me->Pending_.exchange(conv.release(), std::memory_order_acq_rel);
    } catch (const std::exception&) {
        me->RateRefused_.store(true, std::memory_order_release);
    }
    return 0;
}

void JackLiveOutput::TakePendingConversion() {
    if (!Pending_.load(std::memory_order_acquire) || Retired_.load(std::memory_order_acquire)) return;
    Retired_.store(Conv_.release(), std::memory_order_release);
    Conv_.reset(Pending_.exchange(nullptr, std::memory_order_acq_rel));
    Stage_ = Conv_->Stage.get();
    Latency_.store(Stage_ ? Stage_->Latency() : 0, std::memory_order_release);
    Synth_.SetRate(Stage_, Stage_ ? Stage_->Latency() : 0);
}

JackLiveOutput::~JackLiveOutput() {
    if (!Client_) return;
    SendClockStop();
    if (Timebase_) ReleaseTimebase();
    // The client stays for the next output; its ports go. One whose server has gone is
    // closed as it is detached.
    const bool unhooked = RemoveJackUser(Client_, &User_);
    if (unhooked && !ServerGone() && !JackClientGone(Client_)) UnregisterPorts();
    DetachJackClient(Client_, !unhooked);
    if (unhooked) {
        Synth_.SetRate(nullptr, 0);
        Synth_.SetTap(nullptr, nullptr);
        delete Pending_.exchange(nullptr);
        delete Retired_.exchange(nullptr);
    } else {
        (void)Conv_.release(); // a callback may still be on it
    }
}

void JackLiveOutput::UnregisterPorts() {
    for (jack_port_t* p : {Out_, MidiIn_, MidiOut_})
        if (p) jack_port_unregister(Client_, p);
    Out_ = MidiIn_ = MidiOut_ = nullptr;
}

void JackLiveOutput::SendClockStop() {
    // Only the callback writes to the port: it sends Stop (when the clock runs) and ends the
    // notes sounding in its next period. A few periods are waited for, at most 0.5 s, and
    // not when the server is gone.
    Synth_.Post({LiveCommand::Kind::SendClock, 0});
    Synth_.Post({LiveCommand::Kind::NotesOut, 0});
    const uint64_t from = Periods();
    for (int i = 0; i < 100 && Periods() < from + 2 && !ServerGone(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void JackLiveOutput::LatencyCallback(jack_latency_callback_mode_t mode, void* self) {
    auto* me = static_cast<JackLiveOutput*>(self);
    if (mode != JackCaptureLatency) return;
    // The converter's delay is this client's own, on the sound and on the clock alike.
    const uint32_t latency = me->Latency_.load(std::memory_order_acquire);
    jack_latency_range_t range{latency, latency};
    jack_port_set_latency_range(me->Out_, JackCaptureLatency, &range);
    jack_port_set_latency_range(me->MidiOut_, JackCaptureLatency, &range);
}

void JackLiveOutput::ShutdownCallback(void* self) {
    static_cast<JackLiveOutput*>(self)->Gone_.store(true, std::memory_order_release);
}

std::string JackLiveOutput::ClientName() const {
    return jack_get_client_name(Client_);
}
std::string JackLiveOutput::OutPort() const {
    return jack_port_name(Out_);
}
std::string JackLiveOutput::MidiInPort() const {
    return jack_port_name(MidiIn_);
}
std::string JackLiveOutput::MidiOutPort() const {
    return jack_port_name(MidiOut_);
}
uint32_t JackLiveOutput::Period() const {
    return jack_get_buffer_size(Client_);
}

void JackLiveOutput::SetRecording(bool on) {
    Recording_.store(on, std::memory_order_release);
}

size_t JackLiveOutput::TakeRecorded(int16_t* out, size_t max) {
    size_t n = 0;
    while (n < max && Recorded_.Pop(out[n])) ++n;
    return n;
}

bool JackLiveOutput::BecomeTimebaseMaster() {
    Timebase_ = jack_set_timebase_callback(Client_, 1, &TimebaseCallback, this) == 0;
    return Timebase_;
}

void JackLiveOutput::ReleaseTimebase() {
    // The client outlives this output: its timebase callback must not.
    jack_release_timebase(Client_);
    Timebase_ = false;
}

// Runs in the process thread after the clients' process callbacks, for the next period.
void JackLiveOutput::TimebaseCallback(jack_transport_state_t, jack_nframes_t, jack_position_t* pos,
                                      int, void* self) {
    auto* me = static_cast<JackLiveOutput*>(self);
    const double bpm = static_cast<double>(me->Tempo_.load(std::memory_order_relaxed));
    constexpr double kTicks = 1920.0;
    const double rate = pos->frame_rate > 0 ? static_cast<double>(pos->frame_rate) : 44100.0;
    const double beats = static_cast<double>(pos->frame) * bpm / 60.0 / rate;
    const double whole = std::floor(beats);
    const auto beatIndex = static_cast<int64_t>(whole);
    pos->valid = JackPositionBBT;
    pos->beats_per_bar = 4.0f;
    pos->beat_type = 4.0f;
    pos->ticks_per_beat = kTicks;
    pos->beats_per_minute = bpm;
    pos->bar = static_cast<int32_t>(beatIndex / 4 + 1);
    pos->beat = static_cast<int32_t>(beatIndex % 4 + 1);
    // A tick is never the whole beat, whatever the rounding.
    pos->tick = static_cast<int32_t>(std::min(kTicks - 1.0, std::floor((beats - whole) * kTicks)));
    pos->bar_start_tick = static_cast<double>(beatIndex / 4) * 4.0 * kTicks;
}

int JackLiveOutput::ProcessCallback(jack_nframes_t frames, void* self) {
    return static_cast<JackLiveOutput*>(self)->Process(frames);
}

int JackLiveOutput::XrunCallback(void* self) {
    static_cast<JackLiveOutput*>(self)->Xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int JackLiveOutput::Process(jack_nframes_t frames) {
    const jack_time_t begun = jack_get_time();
    auto* out = static_cast<float*>(jack_port_get_buffer(Out_, frames));
    void* midi = jack_port_get_buffer(MidiIn_, frames);
    void* midiOut = jack_port_get_buffer(MidiOut_, frames);
    jack_midi_clear_buffer(midiOut);
    size_t count = 0;
    const uint32_t events = jack_midi_get_event_count(midi);
    for (uint32_t i = 0; i < events && count < Midi_.size(); ++i) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, midi, i) != 0 || ev.size == 0 || ev.size > 3) continue;
        LiveMidi& m = Midi_[count++];
        m.Frame = ev.time;
        m.Size = static_cast<uint8_t>(ev.size);
        std::copy(ev.buffer, ev.buffer + ev.size, m.Bytes.begin());
    }

    jack_position_t pos{};
    const jack_transport_state_t state = jack_transport_query(Client_, &pos);
    HostPosition host;
    host.HasSpeed = true;
    host.Speed = state == JackTransportRolling ? 1.0 : 0.0;
    if (pos.valid & JackPositionBBT) {
        host.HasBeat = true;
        host.Bar = static_cast<int64_t>(pos.bar) - 1; // JACK counts bars and beats from 1
        host.BarBeat = static_cast<double>(pos.beat - 1) +
                       (pos.ticks_per_beat > 0 ? pos.tick / pos.ticks_per_beat : 0.0);
        host.BeatsPerBar = pos.beats_per_bar;
        host.BeatUnit = pos.beat_type;
        host.HasTempo = true;
        host.Bpm = pos.beats_per_minute;
    }
    host.HasFrame = true; // used for the position only when no bar and beat came
    host.HostFrame = pos.frame;
    const uint64_t periodTime = jack_last_frame_time(Client_);
    TakePendingConversion();
    if (Conv_->Rate != ServerRate_.load(std::memory_order_acquire)) {
        // The server's rate changed and its conversion is not here yet: silence.
        std::fill(out, out + frames, 0.0f);
        return EndPeriod(frames, begun);
    }
    Synth_.ProcessHost(out, frames, Midi_.data(), count, &host, periodTime);
    Synth_.SendOut([midiOut](const ClockMessage& m, uint32_t frame) {
        jack_midi_event_write(midiOut, frame, m.Bytes.data(), m.Size);
    });
    return EndPeriod(frames, begun);
}

// The synth's frames of one piece into the recording queue, from the first period in which
// it plays.
void JackLiveOutput::RecordPiece(void* self, const int16_t* frames, uint32_t count) {
    auto& me = *static_cast<JackLiveOutput*>(self);
    if (!me.Recording_.load(std::memory_order_acquire)) {
        me.RecordStarted_ = false;
        return;
    }
    me.RecordStarted_ = me.RecordStarted_ || me.Synth_.Synth().Playing();
    if (!me.RecordStarted_) return;
    for (uint32_t i = 0; i < count; ++i)
        if (!me.Recorded_.Push(frames[i])) me.Lost_.fetch_add(1, std::memory_order_relaxed);
}

// What every period ends with: the tempo for the timebase, the count, the load.
int JackLiveOutput::EndPeriod(jack_nframes_t frames, jack_time_t begun) {
    Tempo_.store(Synth_.Synth().Control(ControlId::Tempo), std::memory_order_relaxed);
    Periods_.fetch_add(1, std::memory_order_relaxed);
    const uint32_t shortest = MinPeriod_.load(std::memory_order_relaxed);
    if (shortest == 0 || frames < shortest) MinPeriod_.store(frames, std::memory_order_relaxed);
    if (frames > MaxPeriod_.load(std::memory_order_relaxed)) MaxPeriod_.store(frames, std::memory_order_relaxed);
    const uint32_t serverRate = ServerRate_.load(std::memory_order_relaxed);
    if (serverRate > 0)
        PlayedNanos_.store(PlayedNanos_.load(std::memory_order_relaxed) +
                               uint64_t{frames} * 1'000'000'000u / serverRate,
                           std::memory_order_relaxed);
    const float rate = static_cast<float>(serverRate);
    const float budget = 1e6f * static_cast<float>(frames) / (rate > 0 ? rate : 44100.0f);
    Load_.store(static_cast<float>(jack_get_time() - begun) / budget, std::memory_order_relaxed);
    return 0;
}

} // namespace zelvox
