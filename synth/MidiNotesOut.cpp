#include "synth/MidiNotesOut.h"

#include <algorithm>

#include "engine/Engine.h"
#include "engine/Round.h"

namespace zelvox {

namespace {
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;

uint8_t Velocity(int32_t volume) {
    return static_cast<uint8_t>(std::clamp(volume, 1, 127));
}

// Samples from the step's start to where the bass voice's gate closes, worked out as the
// engine's step loader does it (float32, the same operations).
int64_t Gate(int32_t length, int32_t stepLength) {
    const float step = static_cast<float>(stepLength < 1 ? 1 : stepLength);
    const float gateSteps = static_cast<float>(static_cast<int64_t>(length) + 1) / 127.0f;
    return RoundToInt32(gateSteps * step);
}
} // namespace

uint8_t MidiNotesOut::BassNote(int32_t note) {
    return static_cast<uint8_t>(std::clamp<int64_t>(int64_t{note} + kBassNoteOffset, 0, 127));
}

void MidiNotesOut::SetOn(bool on, uint32_t frame) {
    if (!on && On_) AllOff(frame);
    On_ = on;
    LastPattern_ = 0;
}

void MidiNotesOut::SetChannels(const NoteChannels& c) {
    Channels_.Bass = std::clamp(c.Bass, 1, 16);
    Channels_.Drum = std::clamp(c.Drum, 1, 16);
    Channels_.Noise = std::clamp(c.Noise, 1, 16);
    Channels_.TwinTNote = std::clamp(c.TwinTNote, 0, 127);
    Channels_.NoiseNote = std::clamp(c.NoiseNote, 0, 127);
}

uint64_t MidiNotesOut::At(uint32_t frame) {
    return std::max(Now_ + frame, Last_);
}

void MidiNotesOut::Emit(uint64_t frame, uint8_t status, uint8_t key, uint8_t velocity) {
    if (Count_ >= kMaxMessages) {
        ++Dropped_;
        return;
    }
    Last_ = std::max(Last_, frame);
    Messages_[Count_++] = {static_cast<uint32_t>(Last_ - Now_), 3, {status, key, velocity}};
}

void MidiNotesOut::End(Note& n, uint64_t frame) {
    if (!n.On) return;
    Emit(frame, static_cast<uint8_t>(kNoteOff | n.Channel), n.Key, 0);
    n.On = false;
}

void MidiNotesOut::Begin(Note& n, uint64_t frame, int32_t channel, uint8_t key, int32_t volume) {
    n.On = true;
    n.Channel = static_cast<uint8_t>(channel - 1);
    n.Key = key;
    n.Off = kHeld;
    n.Slide = false;
    Emit(frame, static_cast<uint8_t>(kNoteOn | n.Channel), key, Velocity(volume));
}

void MidiNotesOut::CloseGates(uint64_t before) {
    if (Bass_.On && Bass_.Off != kHeld && Bass_.Off < before) End(Bass_, std::max(Bass_.Off, Now_));
}

void MidiNotesOut::Step(uint32_t frame, const StepRecord& step, int32_t pattern, int32_t stepLength,
                        int32_t transpose) {
    if (!On_) return;
    const uint64_t at = At(frame);
    CloseGates(at + 1); // a gate that closes on this very frame goes before the new notes
    End(TwinT_, at);
    End(Noise_, at);

    const bool legato = Bass_.On && Bass_.Slide && pattern == LastPattern_;
    LastPattern_ = pattern;
    const int64_t gate = Gate(step.BassLength, stepLength);
    const bool plays = step.BassPlay != 0 && (step.BassSlide != 0 || gate > 0);
    // The note heard: moved as the engine moves it when a keyboard transposes the line.
    const uint8_t key = BassNote(transpose == 0 ? step.BassNote : TransposedNote(step.BassNote, transpose));
    const uint8_t channel = static_cast<uint8_t>(Channels_.Bass - 1);
    if (plays && legato && Bass_.Key == key && Bass_.Channel == channel) {
        // Slid into the same note: it is simply held on.
    } else if (plays && legato) {
        Note held = Bass_;
        Begin(Bass_, at, Channels_.Bass, key, step.BassVolume);
        End(held, at);
    } else {
        End(Bass_, at);
        if (plays) Begin(Bass_, at, Channels_.Bass, key, step.BassVolume);
    }
    if (Bass_.On) {
        Bass_.Slide = step.BassSlide != 0;
        Bass_.Off = Bass_.Slide ? kHeld : at + static_cast<uint64_t>(gate);
    }

    if (step.TwinTPlay != 0)
        Begin(TwinT_, at, Channels_.Drum, static_cast<uint8_t>(Channels_.TwinTNote), step.TwinTVolume);
    // The same note on the same channel as the Twin-T's: one hit is enough.
    if (step.NoisePlay != 0 &&
        !(TwinT_.On && Channels_.Noise == Channels_.Drum && Channels_.NoiseNote == Channels_.TwinTNote))
        Begin(Noise_, at, Channels_.Noise, static_cast<uint8_t>(Channels_.NoiseNote), step.NoiseVolume);
}

void MidiNotesOut::AllOff(uint32_t frame) {
    const uint64_t at = At(frame);
    CloseGates(at + 1);
    End(Bass_, at);
    End(TwinT_, at);
    End(Noise_, at);
    LastPattern_ = 0;
}

void MidiNotesOut::EndPeriod(uint32_t frames) {
    CloseGates(Now_ + frames);
    Now_ += frames;
    Last_ = std::max(Last_, Now_);
}

} // namespace zelvox
