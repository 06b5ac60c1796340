#include "midi/Circbuf.h"

namespace zelvox {

Circbuf::Circbuf(uint16_t capacity)
    : Storage_(std::make_unique<MidiBufferItem[]>(capacity)), First_(Storage_.get()),
      End_(First_ + capacity), WritePos_(First_), ReadPos_(First_), Capacity_(capacity) {}

bool Circbuf::Put(const MidiBufferItem& item) {
    if (Count_.load(std::memory_order_acquire) >= Capacity_) return false;
    *WritePos_ = item;
    if (++WritePos_ == End_) WritePos_ = First_;
    Count_.fetch_add(1, std::memory_order_release);
    return true;
}

bool Circbuf::Peek(MidiBufferItem& item) const {
    if (Count_.load(std::memory_order_acquire) == 0) return false;
    item = *ReadPos_;
    return true;
}

void Circbuf::Remove() {
    if (Count_.load(std::memory_order_acquire) == 0) return;
    if (++ReadPos_ == End_) ReadPos_ = First_;
    Count_.fetch_sub(1, std::memory_order_release);
}

} // namespace zelvox
