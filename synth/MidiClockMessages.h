#pragma once
// The MIDI system real-time and common messages of clock sync.

#include <cstdint>

namespace zelvox::midiclock {

constexpr uint8_t kClock = 0xF8;        // 24 to the quarter note
constexpr uint8_t kStart = 0xFA;        // from the beginning
constexpr uint8_t kContinue = 0xFB;     // from where it stopped
constexpr uint8_t kStop = 0xFC;
constexpr uint8_t kSongPosition = 0xF2; // + 14 bits: sixteenth notes from the beginning
constexpr int kPulsesPerBeat = 24;

} // namespace zelvox::midiclock
