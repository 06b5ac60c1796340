// The low-latency JACK output on the private server: the synth renders in the JACK process
// callback, follows the JACK transport on its sixteenth-note grid (also ten minutes in, and
// after a jump), and a MIDI controller acts in the period it arrives.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "audio/AudioBackend.h"
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
struct CcSender {
    jack_client_t* Client = nullptr;
    jack_port_t* Port = nullptr;
    std::atomic<int> Armed{0};
    std::atomic<uint64_t> SentAt{0};
    uint8_t Value = 0;

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
            const uint8_t msg[3] = {0xB0, 7, s->Value};
            jack_midi_event_write(buf, at, msg, 3);
            s->SentAt = jack_last_frame_time(s->Client) + at;
        }
        return 0;
    }
};

} // namespace

TEST(JackLive, FollowsTheTransportOnItsGridTenMinutesInAndAfterAJump) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Tempo, 123); // 5,378.05 frames a step
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::FollowTransport, 1});
    JackLiveOutput out(live, "zelvox-live");
    jack_client_t* ctl = jack_client_open("zelvox-transport", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    const double fps = 44100.0 * 60.0 / 123.0 / 4.0;
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
    EXPECT_EQ(out.Xruns(), 0u);
}

// On the test server's 441-frame period, and on a private server with a 64-frame period.
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

TEST(JackLive, AControllerActsInThePeriodItArrives) {
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    ControllerActsInItsPeriod();
    test::PrivateJack small(64);
    ASSERT_TRUE(test::PrivateJack::Ready());
    ControllerActsInItsPeriod();
}
