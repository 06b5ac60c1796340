#pragma once
// Fuzz body: MIDI bytes as drivers hand them over, split into messages and turned into knob
// moves, clock and transport by the low-latency synth's real-time handler, with no window,
// ring or dialog. FuzzMidiStream.h takes the window's way, much more slowly.
//
// A header sets the controller table (31 slots), up to seven learned controllers, the
// channel and how the synth keeps time; then a script of commands (first byte picks one):
//   0  a driver event: a length (0..15) and that many bytes, split as the ALSA/RtMidi input
//      splits them
//   1  a JACK event: a length (1..3) and that many bytes, taken whole as the JACK input does
//   2  a period: its length (1..64 frames: the sound is not this target's part), optionally
//      the host's transport position (raw doubles: NaN, infinities and all; any bar; a frame
//      from 0 to 2^53), the waiting messages at frames from the input
//   3  a command to the synth (start, stop, pattern, follow the clock ...) with its value;
//      of those that take the editor's state again, only the first in a script
//
// What must hold: each split message starts with a status byte, carries only data bytes and
// is no longer than its kind; no more messages than bytes; every control stays in its range
// and every control a controller turned reports a value in range.

#include <array>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "midi/MidiBytes.h"
#include "synth/ControlChange.h"
#include "synth/LiveSynth.h"

namespace zelvox::fuzz {

inline void MidiParseInto(LiveSynth& live, const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "MIDI parse", what); };
    FuzzInput in(data, size);
    CcTable table{};
    for (int32_t& cc : table) cc = in.Byte() % 130; // a few match no controller
    live.SetControllers(table);
    LearnLookup learned = NoLearned();
    for (int n = in.Byte() % 8; n > 0; --n) {
        const uint8_t channel = in.Byte() % 16, cc = in.Byte() % 128;
        // Not the contours: turning one rebuilds its curve table, the engine's work, which
        // would take most of the time (the window's MIDI target turns them).
        const ControlRow& row = kControls[in.Byte() % kControlCount];
        if (row.File < FileKnob::BassAttackContour || row.File > FileKnob::NoiseDecayContour)
            learned.Control[channel][cc] = int8_t(row.Id);
    }
    live.SetLearned(learned);
    const int32_t channel = int32_t(in.Byte() % 17) - 1;
    live.Post({LiveCommand::Kind::MidiChannel, channel});
    // Notes in on that channel (1 for every channel): notes transpose and choose patterns.
    NotesInSetup notes;
    notes.Transpose = notes.Patterns = true;
    notes.Channel = channel < 0 ? 0 : channel;
    live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(notes)});

    std::array<LiveMidi, 64> pending{};
    size_t count = 0;
    auto queue = [&](const uint8_t* bytes, size_t n) {
        if (count == pending.size() || n == 0 || n > 3) return;
        LiveMidi& m = pending[count++];
        m.Size = uint8_t(n);
        std::memcpy(m.Bytes.data(), bytes, n);
    };
    static int16_t out[128];
    auto period = [&](uint32_t frames, bool withHost) {
        HostPosition host;
        if (withHost) {
            auto number = [&] {
                const uint64_t bits = uint64_t(in.U32()) | uint64_t(in.U32()) << 32;
                double v;
                std::memcpy(&v, &bits, sizeof v);
                return v;
            };
            const uint8_t has = in.Byte();
            host.HasSpeed = has & 1;
            host.HasBeat = has & 2;
            host.HasTempo = has & 4;
            host.HasFrame = has & 8;
            host.Speed = number();
            host.Bar = int64_t(uint64_t(in.U32()) | uint64_t(in.U32()) << 32);
            host.BarBeat = number();
            host.BeatsPerBar = number();
            host.BeatUnit = number();
            host.Bpm = number();
            // Frames as the callers give them: counted from 0 (the plugin limits them to
            // 0..1e15, JACK's are 32-bit), up to 2^53.
            host.HostFrame = int64_t((uint64_t(in.U32()) | uint64_t(in.U32()) << 32) >> 11);
        }
        for (size_t i = 0; i < count; ++i) pending[i].Frame = in.Byte();
        // The JACK input hands them over in frame order.
        for (size_t i = 1; i < count; ++i)
            pending[i].Frame = std::max(pending[i].Frame, pending[i - 1].Frame);
        live.Process(out, frames, pending.data(), count, withHost ? &host : nullptr);
        count = 0;
        LiveEvent e;
        while (live.Poll(e))
            if (e.What == LiveEvent::Kind::ControlTurned) {
                check(e.A >= 0 && e.A < int32_t(kControlCount), "a turn of no control");
                const ControlRow& row = kControls[size_t(e.A)];
                check(e.B >= row.Min && e.B <= row.Max, "a turn outside the control's range");
            }
        for (const ControlRow& row : kControls) {
            const int32_t v = live.Synth().Control(row.Id);
            check(v >= row.Min && v <= row.Max, "a control outside its range");
        }
    };

    int statesTaken = 0;
    while (!in.Empty()) {
        switch (in.Byte() % 4) {
        case 0: {
            const std::vector<uint8_t> bytes = in.Bytes(in.Byte() % 16);
            size_t messages = 0;
            SplitShortMessages(bytes.data(), bytes.size(), [&](uint32_t packed) {
                ++messages;
                const uint8_t status = packed & 0xFF;
                const size_t length = ShortMessageLength(status);
                check((status & 0x80) && status != 0xF0 && status != 0xF7, "a message without a status");
                check((packed >> (8 * length)) == 0, "a message longer than its kind");
                uint8_t msg[3] = {status, uint8_t(packed >> 8), uint8_t(packed >> 16)};
                check(msg[1] < 0x80 && msg[2] < 0x80, "a status byte among the data bytes");
                queue(msg, length);
            });
            check(messages <= bytes.size(), "more messages than bytes");
            break;
        }
        case 1: {
            const std::vector<uint8_t> bytes = in.Bytes(1 + in.Byte() % 3);
            queue(bytes.data(), bytes.size());
            break;
        }
        case 2: {
            const uint8_t b = in.Byte();
            period(1 + (b & 0x3F), (b & 0x80) != 0);
            break;
        }
        case 3: {
            const auto kind = LiveCommand::Kind(in.Byte() % 9);
            const int32_t a = int8_t(in.Byte());
            // Leaving the host's transport or the MIDI clock takes the editor's whole state
            // again (a pattern file decoded): once a script, as a user changes that setting
            // now and then. Repeated, it took half the target's time.
            const bool takesState = a == 0 && (kind == LiveCommand::Kind::FollowTransport ||
                                               kind == LiveCommand::Kind::FollowClock);
            if (takesState && statesTaken++ > 0) break;
            live.Post({kind, a});
            break;
        }
        }
    }
    period(64, false);
}

inline void MidiParseOne(const uint8_t* data, size_t size) {
    LiveSynth live;
    MidiParseInto(live, data, size);
}

// The fuzzer's entry: one synth for every input, as one player runs for hours.
inline void MidiParseInSession(const uint8_t* data, size_t size) {
    static LiveSynth& live = *new LiveSynth; // lives to the end of the process
    MidiParseInto(live, data, size);
}

} // namespace zelvox::fuzz
