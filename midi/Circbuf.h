#pragma once
// The MIDI event ring: fixed capacity, one producer (the driver callback) and one consumer
// (the main thread). The producer writes an entry completely before publishing it by raising
// Count; the consumer reads an entry before releasing it by lowering Count. Count is the only
// field both sides touch, and it changes atomically. Nothing here allocates after construction.

#include <atomic>
#include <cstdint>
#include <memory>

#include "midi/Miditype.h"

namespace zelvox {

struct MidiBufferItem {
    uint32_t Timestamp = 0;       // ms since the device was started
    uint32_t ShortMessage = 0;    // status | data1 << 8 | data2 << 16; 0 for system-exclusive
    MidiHdr* SysexHeader = nullptr; // a returned system-exclusive buffer, or none
};

class Circbuf {
public:
    explicit Circbuf(uint16_t capacity);
    Circbuf(const Circbuf&) = delete;
    Circbuf& operator=(const Circbuf&) = delete;

    uint16_t Capacity() const { return Capacity_; }
    uint16_t Count() const { return static_cast<uint16_t>(Count_.load(std::memory_order_acquire)); }

    // Producer side. False when the ring is full; the entry is then dropped.
    bool Put(const MidiBufferItem& item);

    // Consumer side: copy of the oldest entry (false when empty), then its removal.
    bool Peek(MidiBufferItem& item) const;
    void Remove();

private:
    std::unique_ptr<MidiBufferItem[]> Storage_;
    MidiBufferItem* First_;
    MidiBufferItem* End_;      // one past the last entry
    MidiBufferItem* WritePos_; // producer's
    MidiBufferItem* ReadPos_;  // consumer's
    uint16_t Capacity_;
    std::atomic<uint32_t> Count_{0};
};

} // namespace zelvox
