#include "program/MidiFileExport.h"

#include <algorithm>
#include <memory>

#include "files/PatternFileFormat.h"
#include "synth/LiveSynth.h"

namespace zelvox {

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kTicksPerQuarter = 960;
constexpr uint32_t kPeriod = 441; // frames a period: the program's buffer

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(uint8_t(v >> s));
}

void PutVarLen(std::vector<uint8_t>& b, uint64_t v) {
    uint8_t bytes[10];
    int n = 0;
    do {
        bytes[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v != 0 && n < 10);
    while (n > 1)
        b.push_back(uint8_t(bytes[--n] | 0x80));
    b.push_back(bytes[0]);
}

void PutMeta(std::vector<uint8_t>& b, uint8_t type, const std::string& text) {
    b.push_back(0xFF);
    b.push_back(type);
    PutVarLen(b, text.size());
    b.insert(b.end(), text.begin(), text.end());
}

void PutTrack(std::vector<uint8_t>& file, const std::vector<uint8_t>& events) {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    Put32(file, uint32_t(events.size()));
    file.insert(file.end(), events.begin(), events.end());
}

} // namespace

uint32_t MidiTempo(int32_t stepSamples) {
    // 4 sixteenths a quarter: 4 x stepSamples / 44,100 s, in microseconds, rounded.
    const uint64_t num = 4ull * uint64_t(std::max(stepSamples, 1)) * 1'000'000ull;
    return uint32_t(std::min<uint64_t>((num + kRate / 2) / kRate, 0xFFFFFF));
}

uint64_t MidiTick(uint64_t frame, uint32_t tempo) {
    // frame / 44,100 s at tempo / 960 microseconds a tick, a half rounded up. The product
    // fits 64 bits for any frame below 2^34 (over four days).
    const unsigned __int128 num = (unsigned __int128)frame * kTicksPerQuarter * 1'000'000u;
    const unsigned __int128 den = (unsigned __int128)kRate * std::max<uint32_t>(tempo, 1);
    return uint64_t((2 * num + den) / (2 * den));
}

MidiPlay PlayMidiNotes(const PatternSynth& synth, bool arranger, int32_t pattern,
                       uint64_t maxFrames, const NoteChannels& channels) {
    // The low-latency output's real-time synth, driven here period by period without a
    // device: its notes out are what JACK would be sent.
    auto live = std::make_unique<LiveSynth>();
    live->Publish(synth, 0);
    live->Post({LiveCommand::Kind::SongMode, arranger ? 1 : 0});
    live->Post({LiveCommand::Kind::ChoosePattern, std::clamp(pattern, 1, 16)});
    live->Post({LiveCommand::Kind::Swing, synth.Seq.Swing()});
    live->Post({LiveCommand::Kind::NoteChannels, PackNoteChannels(channels)});
    live->Post({LiveCommand::Kind::NotesOut, 1});
    live->Post({LiveCommand::Kind::Start, 0});

    const NoteChannels& c = UnpackNoteChannels(PackNoteChannels(channels));
    MidiPlay play;
    std::vector<int16_t> sound(kPeriod);
    auto take = [&](uint64_t base) {
        size_t n = 0;
        const ClockMessage* m = live->NotesOut(n);
        for (size_t i = 0; i < n; ++i) {
            MidiNoteMessage out;
            out.Frame = base + m[i].Frame;
            out.Status = m[i].Bytes[0];
            out.Key = m[i].Bytes[1];
            out.Velocity = m[i].Bytes[2];
            const int channel = (out.Status & 0x0F) + 1;
            // The drums by their channel and note; a bass note that met them would meet
            // them on a synth too.
            out.Voice = channel == c.Drum && out.Key == c.TwinTNote    ? 1
                        : channel == c.Noise && out.Key == c.NoiseNote ? 2
                                                                       : 0;
            play.Messages.push_back(out);
        }
    };
    uint64_t done = 0;
    while (done < maxFrames) {
        const auto frames = uint32_t(std::min<uint64_t>(kPeriod, maxFrames - done));
        live->Process(sound.data(), frames, nullptr, 0, nullptr, done);
        take(done);
        done += frames;
        if (!live->Synth().Playing()) break; // the song ended; its notes ended with it
    }
    // What still sounds ends where the play ends.
    live->Post({LiveCommand::Kind::Stop, 0});
    live->Process(sound.data(), 0, nullptr, 0, nullptr, done);
    take(done);
    play.Frames = done;
    play.StepSamples = live->Synth().Eng.S.StepLength + 1;
    return play;
}

std::vector<uint8_t> EncodeMidiFile(const MidiPlay& play) {
    const uint32_t tempo = MidiTempo(play.StepSamples);
    const uint64_t end = MidiTick(play.Frames, tempo);
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd'};
    Put32(file, 6);
    file.insert(file.end(),
                {0, 1, 0, 4, uint8_t(kTicksPerQuarter >> 8), uint8_t(kTicksPerQuarter & 0xFF)});

    std::vector<uint8_t> t;
    PutVarLen(t, 0);
    PutMeta(t, 0x03, "Zelvox");
    PutVarLen(t, 0);
    t.insert(t.end(),
             {0xFF, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)});
    PutVarLen(t, 0);
    t.insert(t.end(), {0xFF, 0x58, 0x04, 4, 2, 24, 8}); // 4/4, a click a quarter
    PutVarLen(t, end);
    t.insert(t.end(), {0xFF, 0x2F, 0x00});
    PutTrack(file, t);

    static const char* const kNames[3] = {"Bass", "Twin-T", "Noise"};
    for (uint8_t voice = 0; voice < 3; ++voice) {
        t.clear();
        PutVarLen(t, 0);
        PutMeta(t, 0x03, kNames[voice]);
        uint64_t at = 0;
        for (const MidiNoteMessage& m : play.Messages) {
            if (m.Voice != voice) continue;
            const uint64_t tick = MidiTick(m.Frame, tempo);
            PutVarLen(t, tick - std::min(tick, at));
            at = std::max(at, tick);
            t.insert(t.end(), {m.Status, m.Key, m.Velocity});
        }
        PutVarLen(t, end - std::min(end, at));
        t.insert(t.end(), {0xFF, 0x2F, 0x00});
        PutTrack(file, t);
    }
    return file;
}

void ExportMidiFile(const PatternSynth& synth, bool arranger, int32_t pattern, uint64_t maxFrames,
                    const NoteChannels& channels, const std::string& path) {
    WriteFileReplacing(
        path, EncodeMidiFile(PlayMidiNotes(synth, arranger, pattern, maxFrames, channels)));
}

} // namespace zelvox
