// The low-latency JACK output on the private server: the synth renders in the JACK process
// callback, follows the JACK transport on its sixteenth-note grid (also ten minutes in, and
// after a jump), and a MIDI controller acts in the period it arrives.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstdio>
#include <cmath>
#include <thread>
#include <vector>

#include "devices/AudioBackend.h"
#include "program/JackLiveOutput.h"
#include "support/PrivateJack.h"
#include "synth/LiveSynth.h"

using namespace zelvox;

namespace {

std::vector<LiveEvent> Collect(LiveSynth& live, int ms) {
    std::vector<LiveEvent> out;
    for (int t = 0; t < ms; t += 5) {
        LiveEvent e;
        while (live.Poll(e)) out.push_back(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return out;
}

// A client that writes one Control Change at a chosen frame of a period and notes the frame
// clock it was written for.
// Every test here judges MIDI and steps to the frame, so each runs on a server of its own
// that runs its clients in order: with JACK2's default pacing a client late in its cycle
// (a busy machine) is heard a period later.
struct InOrderServer : test::PrivateJack {
    InOrderServer() : PrivateJack(441, 44100, Pacing::InOrder) {}
};

struct CcSender {
    jack_client_t* Client = nullptr;
    jack_port_t* Port = nullptr;
    std::atomic<int> Armed{0};
    std::atomic<uint64_t> SentAt{0};
    std::atomic<uint8_t> Value{0};
    std::atomic<uint8_t> Status{0xB0}, Data1{7}; // Control Change 7 unless told otherwise

    CcSender() {
        Client = jack_client_open("zelvox-cc-sender", JackNoStartServer, nullptr);
        if (!Client) return;
        Port = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(Client, &CcSender::Process, this);
        jack_activate(Client);
    }
    ~CcSender() {
        if (Client) jack_client_close(Client);
    }
    static int Process(jack_nframes_t n, void* self) {
        auto* s = static_cast<CcSender*>(self);
        void* buf = jack_port_get_buffer(s->Port, n);
        jack_midi_clear_buffer(buf);
        if (s->Armed.exchange(0) == 1) {
            const jack_nframes_t at = n / 3;
            const uint8_t msg[3] = {s->Status.load(), s->Data1.load(), s->Value.load()};
            jack_midi_event_write(buf, at, msg, 3);
            s->SentAt = jack_last_frame_time(s->Client) + at;
        }
        return 0;
    }
};

// Records an audio port's samples with the frame clock of each period.
struct AudioListener {
    jack_client_t* Client = nullptr;
    jack_port_t* In = nullptr;
    std::atomic<uint64_t> FirstSound{0}; // frame clock of the first non-zero sample
    std::atomic<bool> Listening{false};

    AudioListener() {
        Client = jack_client_open("zelvox-audio-listener", JackNoStartServer, nullptr);
        if (!Client) return;
        In = jack_port_register(Client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(Client, &AudioListener::ListenToThePort, this);
        jack_activate(Client);
    }
    ~AudioListener() {
        if (Client) jack_client_close(Client);
    }
    static int ListenToThePort(jack_nframes_t n, void* self) {
        auto* l = static_cast<AudioListener*>(self);
        const auto* in = static_cast<const float*>(jack_port_get_buffer(l->In, n));
        if (!l->Listening || l->FirstSound != 0) return 0;
        for (jack_nframes_t i = 0; i < n; ++i)
            if (in[i] != 0.0f) {
                l->FirstSound = jack_last_frame_time(l->Client) + i;
                break;
            }
        return 0;
    }
};

} // namespace

namespace {

// A timebase master as most are: bar, beat and whole ticks (1,920 a beat, rounded down) at
// its tempo, from the transport's frame.
void WholeTicks(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void* arg) {
    const double bpm = *static_cast<const double*>(arg);
    const double beats = double(pos->frame) * bpm / 60.0 / 44100.0;
    const auto whole = static_cast<int64_t>(std::floor(beats));
    pos->valid = JackPositionBBT;
    pos->beats_per_bar = 4.0f;
    pos->beat_type = 4.0f;
    pos->ticks_per_beat = 1920.0;
    pos->beats_per_minute = bpm;
    pos->bar = int32_t(whole / 4 + 1);
    pos->beat = int32_t(whole % 4 + 1);
    pos->tick = int32_t(std::floor((beats - double(whole)) * 1920.0));
    pos->bar_start_tick = double(whole / 4) * 4.0 * 1920.0;
}

} // namespace

// With the synth's tempo alone (123 BPM), and with a timebase master giving whole ticks at
// 123.4 and at 126 BPM (a tick is up to 11 frames: the grid must not move with them).
TEST(JackLive, FollowsTheTransportOnItsGridTenMinutesInAndAfterAJump) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    for (double master : {0.0, 123.4, 126.0}) {
    SCOPED_TRACE(master > 0 ? "a timebase master at " + std::to_string(master) + " BPM" : "no timebase master");
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Tempo, 123); // 5,378.05 frames a step
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::FollowTransport, 1});
    JackLiveOutput out(live, "zelvox-live");
    jack_client_t* ctl = jack_client_open("zelvox-transport", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    if (master > 0) {
        ASSERT_EQ(jack_set_timebase_callback(ctl, 0, &WholeTicks, &master), 0);
        ASSERT_EQ(jack_activate(ctl), 0);
    }
    const double fps = 44100.0 * 60.0 / (master > 0 ? master : 123.0) / 4.0;
    auto check = [&](const std::vector<LiveEvent>& ev, int64_t from) {
        int seen = 0;
        for (const LiveEvent& e : ev) {
            if (e.What != LiveEvent::Kind::StepBegan || e.HostFrame < from) continue;
            const auto k = static_cast<int64_t>(std::floor(double(e.HostFrame) / fps));
            const double late = double(e.HostFrame) - double(k) * fps;
            EXPECT_TRUE(late >= 0.0 && late < 1.0) << "step at " << e.HostFrame << " is " << late << " after the grid";
            EXPECT_EQ(e.A, int32_t(k % 16) + 1) << "at " << e.HostFrame;
            ++seen;
        }
        return seen;
    };
    jack_transport_locate(ctl, 0);
    jack_transport_start(ctl);
    const std::vector<LiveEvent> first = Collect(live, 700);
    // Ten minutes of transport time on, 1,234 frames into a step.
    const jack_nframes_t tenMinutes = 26460000 + 1234;
    jack_transport_locate(ctl, tenMinutes);
    const std::vector<LiveEvent> later = Collect(live, 700);
    jack_transport_stop(ctl);
    jack_client_close(ctl);
    EXPECT_GE(check(first, 0), 3);
    EXPECT_GE(check(later, tenMinutes + 1), 3);
    // The jump itself lands on the step the transport is in, at once.
    bool landed = false;
    for (const LiveEvent& e : later)
        if (e.What == LiveEvent::Kind::StepBegan && e.HostFrame >= int64_t(tenMinutes) &&
            e.HostFrame < int64_t(tenMinutes) + int64_t(out.Period()) * 2) {
            const auto k = static_cast<int64_t>(std::floor(double(tenMinutes) / fps));
            EXPECT_EQ(e.A, int32_t(k % 16) + 1);
            landed = true;
            break;
        }
    EXPECT_TRUE(landed) << "no step began where the transport jumped to";
    }
}

// On a 441-frame period, and on a 64-frame one.
static void ControllerActsInItsPeriod() {
    LiveSynth live;
    CcTable t{};
    t.fill(-1);
    t[5] = 7; // bass Volume
    live.SetControllers(t);
    JackLiveOutput out(live, "zelvox-live");
    CcSender sender;
    SCOPED_TRACE("period " + std::to_string(out.Period()));
    ASSERT_NE(sender.Client, nullptr);
    ASSERT_EQ(jack_connect(sender.Client, jack_port_name(sender.Port), out.MidiInPort().c_str()), 0);
    // A connection is in JACK's graph a few periods after jack_connect returns; a message
    // sent before that is lost. Send a first value until it gets through.
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
        sender.Value = 1;
        sender.Armed = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        LiveEvent e;
        while (live.Poll(e)) connected |= e.What == LiveEvent::Kind::ControlTurned && e.B == 1;
    }
    ASSERT_TRUE(connected) << "the sender's messages never arrived";
    for (uint8_t v : {20, 90, 33}) {
        sender.Value = v;
        sender.Armed = 1;
        bool turned = false;
        for (int i = 0; i < 200 && !turned; ++i) {
            LiveEvent e;
            while (live.Poll(e))
                if (e.What == LiveEvent::Kind::ControlTurned && e.B == v) {
                    turned = true;
                    // Same period, same frame: well within one period and one frame.
                    EXPECT_LE(e.Time - sender.SentAt.load(), uint64_t(out.Period()) + 1);
                    EXPECT_EQ(e.Time, sender.SentAt.load());
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(turned) << "value " << int(v) << " never arrived";
    }
}

// A controller learned for the master volume (read on every sample): the sound comes on at
// the frame the controller arrives.
static void VolumeHeardAtItsFrame() {
    LiveSynth live;
    LearnLookup learned = NoLearned();
    learned.Control[0][7] = static_cast<int8_t>(ControlId::MasterVolume);
    live.SetLearned(learned);
    PatternSynth editor;
    for (int st = 1; st <= 16; ++st) {
        // A bass that never falls silent: every step slides on (no gate) at full volume.
        editor.Store.Step(1, st).BassPlay = 1;
        editor.Store.Step(1, st).BassSlide = 1;
        editor.Store.Step(1, st).BassVolume = 127;
    }
    editor.SetControl(ControlId::MasterVolume, 0);
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::Start, 0});
    JackLiveOutput out(live, "zelvox-live");
    CcSender sender;
    AudioListener listener;
    ASSERT_NE(listener.Client, nullptr);
    ASSERT_EQ(jack_connect(sender.Client, jack_port_name(sender.Port), out.MidiInPort().c_str()), 0);
    ASSERT_EQ(jack_connect(listener.Client, out.OutPort().c_str(), jack_port_name(listener.In)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    listener.Listening = true; // silent so far: the volume is 0
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(listener.FirstSound.load(), 0u) << "sound before the controller";
    sender.Value = 127;
    sender.Armed = 1;
    for (int i = 0; i < 200 && listener.FirstSound == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_NE(listener.FirstSound.load(), 0u) << "never heard";
    const uint64_t latency = listener.FirstSound - sender.SentAt;
    EXPECT_LE(latency, uint64_t(out.Period()) + 1);
    std::printf("period %u: controller to sound %llu frames\n", out.Period(),
                static_cast<unsigned long long>(latency));
}

TEST(JackLive, AControllerActsInThePeriodItArrives) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    ControllerActsInItsPeriod();
    VolumeHeardAtItsFrame();
    // In order: with JACK2's default pacing a sender late in its cycle is heard by the next
    // one, a period after it wrote (at 64 frames that happens on a busy machine).
    test::PrivateJack small(64, 44100, test::PrivateJack::Pacing::InOrder);
    ASSERT_TRUE(test::PrivateJack::Ready());
    ControllerActsInItsPeriod();
    VolumeHeardAtItsFrame();
}

// MIDI notes in: a note-on sent through a JACK MIDI port into zelvox:midi_in transposes the
// bass from the first step that begins after the note's frame; the steps before keep the
// transpose they had.
TEST(JackLive, ANoteTransposesFromTheNextStep) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    LiveSynth live;
    NotesInSetup setup;
    setup.Transpose = true; // channel 1, root 60
    live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(setup)});
    live.Post({LiveCommand::Kind::Start, 0});
    JackLiveOutput out(live, "zelvox-live");
    CcSender sender;
    ASSERT_NE(sender.Client, nullptr);
    ASSERT_EQ(jack_connect(sender.Client, jack_port_name(sender.Port), out.MidiInPort().c_str()), 0);
    sender.Status = 0x90;
    sender.Value = 100;
    std::vector<std::pair<uint64_t, int32_t>> steps; // frame, transpose
    // Sends note 60 + t until a step plays transposed by t (a message sent before the
    // connection is in the graph is lost).
    auto play = [&](int32_t t) {
        sender.Data1 = uint8_t(60 + t);
        for (int i = 0; i < 20; ++i) {
            sender.Armed = 1;
            for (int k = 0; k < 60; ++k) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                LiveEvent e;
                bool seen = false;
                while (live.Poll(e))
                    if (e.What == LiveEvent::Kind::StepBegan) {
                        steps.emplace_back(e.Time, e.Transpose);
                        seen |= e.Transpose == t;
                    }
                if (seen) return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(play(2)) << "the notes never arrived";
    const size_t before = steps.size();
    ASSERT_TRUE(play(7));
    const uint64_t sent = sender.SentAt.load();
    ASSERT_GT(steps.size(), before);
    // Every step that began before the note kept +2; the first after it plays +7.
    for (size_t i = before; i + 1 < steps.size(); ++i) {
        EXPECT_LE(steps[i].first, sent);
        EXPECT_EQ(steps[i].second, 2);
    }
    EXPECT_GE(steps.back().first, sent);
    EXPECT_EQ(steps.back().second, 7);
    EXPECT_LT(steps.back().first - sent, 4726u); // the next step, not a later one
}

namespace {

// A client that plays MIDI clock (24 pulses a quarter note at `Bpm`, Start with the pulse at
// a frame in the future, a beat of pulses before it as clock senders do) into the synth, and
// records the MIDI the synth sends.
struct ClockRig {
    jack_client_t* Client = nullptr;
    jack_port_t* Out = nullptr;
    jack_port_t* In = nullptr;
    std::atomic<double> Bpm{0.0};
    std::atomic<uint64_t> StartAt{0}; // 0: not sending
    static constexpr int64_t kBeforeStart = 24;
    int64_t NextPulse = -kBeforeStart;
    // Pulse times sent and messages received; the callback publishes how many are filled.
    std::vector<uint64_t> Sent;
    std::vector<std::pair<uint64_t, uint8_t>> Received;
    std::atomic<size_t> SentCount{0}, ReceivedCount{0};

    ClockRig() {
        static int made = 0;
        Client = jack_client_open(("zelvox-clock-rig-" + std::to_string(++made)).c_str(),
                                  JackNoStartServer, nullptr);
        if (!Client) return;
        Out = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        In = jack_port_register(Client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        // Touched now, not first in the callback: a page's first touch is slow enough (under
        // the race detector) to make that period late, and MIDI in a late period is lost.
        Sent.assign(100000, 0);
        Sent.clear();
        Received.assign(100000, {0, 0});
        Received.clear();
        jack_set_process_callback(Client, &ClockRig::Process, this);
        jack_activate(Client);
    }
    ~ClockRig() {
        if (Client) jack_client_close(Client);
    }
    static int Process(jack_nframes_t n, void* self) {
        auto* r = static_cast<ClockRig*>(self);
        const uint64_t t0 = jack_last_frame_time(r->Client);
        void* out = jack_port_get_buffer(r->Out, n);
        jack_midi_clear_buffer(out);
        const uint64_t start = r->StartAt.load();
        if (start != 0) {
            const double interval = 44100.0 * 60.0 / r->Bpm.load() / 24.0;
            for (;;) {
                const int64_t at = int64_t(start) + int64_t(std::ceil(double(r->NextPulse) * interval));
                if (at >= int64_t(t0 + n)) break;
                if (at >= int64_t(t0)) {
                    const uint8_t startByte = 0xFA, p = 0xF8;
                    if (r->NextPulse == 0) jack_midi_event_write(out, jack_nframes_t(at - int64_t(t0)), &startByte, 1);
                    jack_midi_event_write(out, jack_nframes_t(at - int64_t(t0)), &p, 1);
                    if (r->NextPulse >= 0 && r->Sent.size() < r->Sent.capacity()) {
                        r->Sent.push_back(uint64_t(at));
                        r->SentCount.store(r->Sent.size(), std::memory_order_release);
                    }
                }
                ++r->NextPulse;
            }
        }
        void* in = jack_port_get_buffer(r->In, n);
        for (uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t ev;
            if (jack_midi_event_get(&ev, in, i) == 0 && ev.size >= 1 &&
                r->Received.size() < r->Received.capacity()) {
                r->Received.emplace_back(t0 + ev.time, ev.buffer[0]);
                r->ReceivedCount.store(r->Received.size(), std::memory_order_release);
            }
        }
        return 0;
    }
};

} // namespace

// MIDI clock in: at 120 BPM each step begins on its sixth pulse, within 1 ms (here: on it).
// MIDI clock out: the pulses' spacing varies by under 0.2 ms and the first comes with Start.
TEST(JackLive, FollowsMidiClockAndSendsIt) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    LiveSynth live;
    live.Post({LiveCommand::Kind::FollowClock, 1});
    JackLiveOutput out(live, "zelvox-live");
    // One client sends clock in, another listens to what comes out (one client doing both
    // would close a loop in the graph, which JACK breaks with a period's delay).
    ClockRig rig, listener;
    ASSERT_NE(rig.Client, nullptr);
    ASSERT_NE(listener.Client, nullptr);
    ASSERT_EQ(jack_connect(rig.Client, jack_port_name(rig.Out), out.MidiInPort().c_str()), 0);
    ASSERT_EQ(jack_connect(listener.Client, out.MidiOutPort().c_str(), jack_port_name(listener.In)), 0);
    rig.Bpm = 120.0;
    // Start half a second on, after a beat of clock (the first MIDI through a connection can
    // meet a late period and be lost: see the race detector's suppressions).
    rig.StartAt = jack_frame_time(rig.Client) + 22050;
    const std::vector<LiveEvent> in = Collect(live, 2000);
    rig.StartAt = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<uint64_t> pulses(rig.Sent.begin(),
                                       rig.Sent.begin() + long(rig.SentCount.load(std::memory_order_acquire)));
    int steps = 0;
    int64_t worst = 0;
    for (const LiveEvent& e : in) {
        if (e.What != LiveEvent::Kind::StepBegan) continue;
        // Step n begins on pulse 6n (pulse 0 is the first after Start).
        const size_t n = size_t(e.A - 1);
        ASSERT_LT(6 * n, pulses.size());
        const int64_t off = int64_t(e.Time) - int64_t(pulses[6 * n]);
        EXPECT_LE(std::abs(off), 44) << "step " << e.A << " is " << off << " frames from its pulse";
        worst = std::max(worst, std::abs(off));
        ++steps;
    }
    EXPECT_GE(steps, 8);
    std::printf("clock in: %d steps, the farthest %lld frames from its pulse\n", steps,
                static_cast<long long>(worst));

    // Clock out, from the synth's own transport.
    const uint64_t xrunsBefore = out.Xruns();
    live.Post({LiveCommand::Kind::FollowClock, 0});
    live.Post({LiveCommand::Kind::SendClock, 1});
    live.Post({LiveCommand::Kind::Start, 0});
    const std::vector<LiveEvent> own = Collect(live, 1500);
    live.Post({LiveCommand::Kind::Stop, 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint64_t started = 0;
    std::vector<uint64_t> sent;
    const size_t received = listener.ReceivedCount.load(std::memory_order_acquire);
    for (size_t i = 0; i < received; ++i) {
        const auto [t, b] = listener.Received[i];
        if (b == 0xFA) started = t;
        if (b == 0xF8 && started != 0) sent.push_back(t);
    }
    ASSERT_NE(started, 0u) << "no Start was sent";
    ASSERT_GE(sent.size(), 24u);
    EXPECT_LE(sent[0] - started, 44u) << "the first pulse is more than 1 ms after Start";
    double lo = 1e9, hi = 0;
    for (size_t i = 1; i < sent.size(); ++i) {
        lo = std::min(lo, double(sent[i] - sent[i - 1]));
        hi = std::max(hi, double(sent[i] - sent[i - 1]));
    }
    // A period the server skipped (an xrun: the machine, not the clock) leaves a gap; the
    // spacing is judged when none came.
    if (out.Xruns() == xrunsBefore)
        EXPECT_LT((hi - lo) / 44.1, 0.2) << "pulse spacing from " << lo << " to " << hi << " frames";
    else
        std::printf("clock out: spacing not judged, %llu xruns meanwhile\n",
                    static_cast<unsigned long long>(out.Xruns() - xrunsBefore));
    std::printf("clock out: %zu pulses, spacing %.0f to %.0f frames, first pulse %llu frames after "
                "Start\n", sent.size(), lo, hi, static_cast<unsigned long long>(sent[0] - started));
    for (const LiveEvent& e : own)
        if (e.What == LiveEvent::Kind::StepBegan && e.A == 1) {
            EXPECT_LE(std::abs(int64_t(e.Time) - int64_t(started)), 44) << "step 1 and Start apart";
            break;
        }
}

namespace {

// Checks the transport's bar, beat and tick in every period it runs.
struct BbtWatcher {
    jack_client_t* Client = nullptr;
    std::atomic<int> Checked{0}, Bad{0}, Bpm{0};
    BbtWatcher() {
        Client = jack_client_open("zelvox-bbt-watcher", JackNoStartServer, nullptr);
        if (!Client) return;
        jack_set_process_callback(Client, &BbtWatcher::Process, this);
        jack_activate(Client);
    }
    ~BbtWatcher() {
        if (Client) jack_client_close(Client);
    }
    static int Process(jack_nframes_t, void* self) {
        auto* w = static_cast<BbtWatcher*>(self);
        jack_position_t pos;
        if (jack_transport_query(w->Client, &pos) != JackTransportRolling) return 0;
        ++w->Checked;
        const bool ok = (pos.valid & JackPositionBBT) && pos.bar >= 1 && pos.beat >= 1 &&
                        pos.beat <= int32_t(pos.beats_per_bar) && pos.tick >= 0 &&
                        pos.tick < int32_t(pos.ticks_per_beat);
        if (!ok) ++w->Bad;
        w->Bpm = int(pos.beats_per_minute);
        return 0;
    }
};

} // namespace

// As the transport's timebase master, every period has bar >= 1, 1 <= beat <= 4 and
// 0 <= tick < ticks per beat, at the synth's tempo, also after jumps.
TEST(JackLive, AsTimebaseMasterItReportsBarBeatAndTick) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Tempo, 133);
    live.Publish(editor, 0);
    JackLiveOutput out(live, "zelvox-live");
    ASSERT_TRUE(out.BecomeTimebaseMaster());
    BbtWatcher watcher;
    ASSERT_NE(watcher.Client, nullptr);
    jack_transport_locate(watcher.Client, 0);
    jack_transport_start(watcher.Client);
    for (jack_nframes_t at : {0u, 44099u, 1000000u, 26460000u, 123456789u}) {
        jack_transport_locate(watcher.Client, at);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    jack_transport_stop(watcher.Client);
    jack_release_timebase(watcher.Client);
    EXPECT_GT(watcher.Checked.load(), 30);
    EXPECT_EQ(watcher.Bad.load(), 0);
    EXPECT_EQ(watcher.Bpm.load(), 133);
}

namespace {

// Records every message on its MIDI input with where the JACK transport was at it (its
// frame when rolling, -1 when not).
struct TransportMidiListener {
    struct Message {
        int64_t TransportFrame = -1;
        uint8_t Bytes[3] = {0, 0, 0};
    };
    jack_client_t* Client = nullptr;
    jack_port_t* In = nullptr;
    std::vector<Message> Got;
    std::atomic<size_t> Count{0};

    TransportMidiListener() {
        Client = jack_client_open("zelvox-clock-listener", JackNoStartServer, nullptr);
        if (!Client) return;
        In = jack_port_register(Client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        Got.assign(100000, {});
        jack_set_process_callback(Client, &TransportMidiListener::Process, this);
        jack_activate(Client);
    }
    ~TransportMidiListener() {
        if (Client) jack_client_close(Client);
    }
    static int Process(jack_nframes_t n, void* self) {
        auto* l = static_cast<TransportMidiListener*>(self);
        jack_position_t pos{};
        const bool rolling = jack_transport_query(l->Client, &pos) == JackTransportRolling;
        void* in = jack_port_get_buffer(l->In, n);
        size_t count = l->Count.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < jack_midi_get_event_count(in) && count < l->Got.size(); ++i) {
            jack_midi_event_t ev;
            if (jack_midi_event_get(&ev, in, i) != 0 || ev.size < 1) continue;
            Message& m = l->Got[count++];
            m.TransportFrame = rolling ? int64_t(pos.frame) + ev.time : -1;
            for (size_t b = 0; b < std::min<size_t>(ev.size, 3); ++b) m.Bytes[b] = ev.buffer[b];
        }
        l->Count.store(count, std::memory_order_release);
        return 0;
    }
    std::vector<Message> Messages() const {
        return {Got.begin(), Got.begin() + ptrdiff_t(Count.load(std::memory_order_acquire))};
    }
};

} // namespace

// Sending clock on the JACK transport: a start at the beginning sends Start with the first
// pulse; a relocation while rolling sends Stop, the Song Position Pointer of the new place
// and Continue, the next pulse on the new grid; closing the output while it rolls sends Stop.
TEST(JackLive, ClockOutFollowsARelocationAndStopsWhenClosed) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    const InOrderServer server;
    ASSERT_TRUE(test::PrivateJack::Ready());
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Tempo, 140); // a sixteenth: 4,725 frames exactly
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::FollowTransport, 1});
    live.Post({LiveCommand::Kind::SendClock, 1});
    auto out = std::make_unique<JackLiveOutput>(live, "zelvox-live");
    TransportMidiListener listener;
    ASSERT_NE(listener.Client, nullptr);
    ASSERT_EQ(jack_connect(listener.Client, out->MidiOutPort().c_str(), jack_port_name(listener.In)), 0);
    jack_client_t* ctl = jack_client_open("zelvox-transport", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    jack_transport_locate(ctl, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the connection is in the graph
    jack_transport_start(ctl);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t beforeJump = listener.Count.load();
    const int64_t sixteenth = 4725, target = 37 * sixteenth + 1000; // inside sixteenth 37
    jack_transport_locate(ctl, jack_nframes_t(target));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    out.reset(); // closing while rolling
    jack_transport_stop(ctl);
    jack_client_close(ctl);
    const std::vector<TransportMidiListener::Message> got = listener.Messages();

    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[0].Bytes[0], 0xFA);
    EXPECT_EQ(got[1].Bytes[0], 0xF8);
    EXPECT_EQ(got[1].TransportFrame, 0) << "the first pulse is not at the song start";
    // After the relocation: Stop, the pointer to the next sixteenth (38) and Continue, then
    // pulses from that sixteenth's frame on, six to a sixteenth.
    size_t i = beforeJump;
    while (i < got.size() && got[i].Bytes[0] == 0xF8) ++i;
    ASSERT_LE(i + 4, got.size());
    EXPECT_EQ(got[i].Bytes[0], 0xFC);
    EXPECT_EQ(got[i + 1].Bytes[0], 0xF2);
    EXPECT_EQ(got[i + 1].Bytes[1] | got[i + 1].Bytes[2] << 7, 38);
    EXPECT_EQ(got[i + 2].Bytes[0], 0xFB);
    ASSERT_EQ(got[i + 3].Bytes[0], 0xF8);
    EXPECT_EQ(got[i + 3].TransportFrame, 38 * sixteenth) << "the next pulse is off the new grid";
    if (i + 9 < got.size() && got[i + 9].Bytes[0] == 0xF8) {
        EXPECT_EQ(got[i + 9].TransportFrame, 39 * sixteenth);
    }
    // Closing: Stop is the last word, and no pulse follows it.
    EXPECT_EQ(got.back().Bytes[0], 0xFC);
    EXPECT_GT(got.size(), i + 10);
}
