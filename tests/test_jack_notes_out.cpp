// The sequence as MIDI notes on the low-latency output's midi_out, received by another JACK
// client: each note on at the frame its step begins, a slide as the next note on before
// the held one's off, the drum hits on their own channel and notes, nothing left on at stop;
// on a server at 48 kHz each note with its step's clock pulse.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "devices/AudioBackend.h"
#include "program/JackLiveOutput.h"
#include "support/PrivateJack.h"
#include "synth/LiveSynth.h"

using namespace zelvox;

namespace {

// Records every message on its MIDI input with the frame clock it arrived at.
struct NoteListener {
    struct Message {
        uint64_t Time = 0;
        uint8_t Bytes[3] = {0, 0, 0};
    };
    jack_client_t* Client = nullptr;
    jack_port_t* In = nullptr;
    std::vector<Message> Got;
    std::atomic<size_t> Count{0};

    NoteListener() {
        Client = jack_client_open("zelvox-note-listener", JackNoStartServer, nullptr);
        if (!Client) return;
        In = jack_port_register(Client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        Got.assign(10000, {}); // touched now, not in the callback
        jack_set_process_callback(Client, &NoteListener::Process, this);
        jack_activate(Client);
    }
    ~NoteListener() {
        if (Client) jack_client_close(Client);
    }
    static int Process(jack_nframes_t n, void* self) {
        auto* l = static_cast<NoteListener*>(self);
        const uint64_t t0 = jack_last_frame_time(l->Client);
        void* in = jack_port_get_buffer(l->In, n);
        size_t count = l->Count.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < jack_midi_get_event_count(in) && count < l->Got.size(); ++i) {
            jack_midi_event_t ev;
            if (jack_midi_event_get(&ev, in, i) != 0 || ev.size < 1) continue;
            Message& m = l->Got[count++];
            m.Time = t0 + ev.time;
            std::copy(ev.buffer, ev.buffer + std::min<size_t>(ev.size, 3), m.Bytes);
        }
        l->Count.store(count, std::memory_order_release);
        return 0;
    }
};

} // namespace

TEST(JackNotesOut, NotesAtTheStepsFramesWithSlideAsOverlap) {
    test::PrivateJack jack(441, 44100, test::PrivateJack::Pacing::InOrder); // see below
    LiveSynth live;
    PatternSynth editor;
    editor.SetControl(ControlId::Steps, 4);
    editor.SetControl(ControlId::Tempo, 160);
    const int notes[4] = {13, 15, 17, 17};
    for (int s = 1; s <= 4; ++s) {
        StepRecord& r = editor.Store.Step(1, s);
        r.BassNote = notes[s - 1];
        r.BassPlay = s != 4;
        r.BassSlide = s == 2; // step 2 slides into step 3
        r.BassLength = 63; // about half a step
        r.TwinTPlay = s == 1;
        r.NoisePlay = s == 4;
    }
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::NotesOut, 1}); // the default channels: 1, 10, 10
    auto out = std::make_unique<JackLiveOutput>(live, "zelvox-live");
    NoteListener listener;
    ASSERT_NE(listener.Client, nullptr);
    ASSERT_EQ(jack_connect(listener.Client, out->MidiOutPort().c_str(), jack_port_name(listener.In)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the connection is in the graph
    live.Post({LiveCommand::Kind::Start, 0});
    std::vector<LiveEvent> steps;
    for (int t = 0; t < 1500; t += 5) {
        LiveEvent e;
        while (live.Poll(e))
            if (e.What == LiveEvent::Kind::StepBegan) steps.push_back(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    out.reset(); // closing while playing ends the notes
    const std::vector<NoteListener::Message> got(listener.Got.begin(),
                                                 listener.Got.begin() + ptrdiff_t(listener.Count.load()));

    ASSERT_GE(steps.size(), 8u);
    // What each step's frame holds, in the order it came.
    auto at = [&](uint64_t time) {
        std::vector<std::array<int, 3>> r;
        for (const auto& m : got)
            if (m.Time + 1 >= time && m.Time <= time + 1) r.push_back({m.Bytes[0], m.Bytes[1], m.Bytes[2] > 0});
        return r;
    };
    using V = std::vector<std::array<int, 3>>;
    int checked = 0;
    for (size_t i = 1; i + 1 < steps.size(); ++i) { // each step with the one before it
        const LiveEvent& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(s.A) + " at " + std::to_string(s.Time));
        switch (s.A) {
        case 1: // step 4 was a rest with a noise hit
            EXPECT_EQ(at(s.Time), (V{{0x89, 42, 0}, {0x90, 13 + 24, 1}, {0x99, 36, 1}}));
            break;
        case 2:
            EXPECT_EQ(at(s.Time), (V{{0x89, 36, 0}, {0x90, 15 + 24, 1}}));
            break;
        case 3: // the slide: step 3's note begins before step 2's ends
            EXPECT_EQ(at(s.Time), (V{{0x90, 17 + 24, 1}, {0x80, 15 + 24, 0}}));
            break;
        case 4: // step 3's gate ended inside it
            EXPECT_EQ(at(s.Time), (V{{0x99, 42, 1}}));
            break;
        }
        ++checked;
    }
    EXPECT_GE(checked, 6);
    // Nothing between the steps but the gates' ends, and nothing left on.
    int on = 0;
    for (const auto& m : got) on += (m.Bytes[0] & 0xF0) == 0x90 ? 1 : -1;
    EXPECT_EQ(on, 0);
}

// At 48 kHz the synth's frames are converted and its MIDI delayed as its sound is: the
// notes and the clock leave in one ordered stream (JACK refuses an event earlier than the
// last), each step's note with its step's sixth pulse, a step's 4,726 synth frames apart.
// The server runs its periods in order: by default a listener late by two periods reads the
// next period's MIDI twice and loses its own (seen on a busy machine as a note and a pulse
// twice at one frame).
TEST(JackNotesOut, AtAnotherRateTheNotesKeepWithTheClock) {
    test::PrivateJack jack(480, 48000, test::PrivateJack::Pacing::InOrder);
    LiveSynth live;
    PatternSynth editor; // the start-up pattern: the bass on every step, 140 BPM
    live.Publish(editor, 0);
    live.Post({LiveCommand::Kind::NotesOut, 1});
    live.Post({LiveCommand::Kind::SendClock, 1});
    auto out = std::make_unique<JackLiveOutput>(live, "zelvox-live");
    NoteListener listener;
    ASSERT_NE(listener.Client, nullptr);
    ASSERT_EQ(jack_connect(listener.Client, out->MidiOutPort().c_str(), jack_port_name(listener.In)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    live.Post({LiveCommand::Kind::Start, 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    out.reset();
    const std::vector<NoteListener::Message> got(listener.Got.begin(),
                                                 listener.Got.begin() + ptrdiff_t(listener.Count.load()));

    std::vector<uint64_t> ons, pulses;
    for (const auto& m : got) {
        if ((m.Bytes[0] & 0xF0) == 0x90) ons.push_back(m.Time);
        if (m.Bytes[0] == 0xF8) pulses.push_back(m.Time);
    }
    ASSERT_GE(ons.size(), 10u);
    const double step = 4726.0 * 48000.0 / 44100.0;
    for (size_t i = 1; i < ons.size(); ++i)
        EXPECT_NEAR(double(ons[i] - ons[i - 1]), step, 1.0) << "note " << i;
    for (size_t i = 0; i < ons.size() && 6 * i < pulses.size(); ++i)
        EXPECT_LE(std::max(ons[i], pulses[6 * i]) - std::min(ons[i], pulses[6 * i]), 1u) << "step " << i;
    int on = 0;
    for (const auto& m : got)
        if ((m.Bytes[0] & 0xE0) == 0x80) on += (m.Bytes[0] & 0xF0) == 0x90 ? 1 : -1;
    EXPECT_EQ(on, 0);
}
