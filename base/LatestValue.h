#pragma once
// Hands the newest value of something from one thread to another without either waiting:
// the writer fills its own slot and swaps it with the middle one; the reader swaps the middle
// one into its own slot when it is newer. Three slots, no lock, no allocation after
// construction. One writer thread and one reader thread.

#include <array>
#include <atomic>

namespace zelvox {

template <class T> class LatestValue {
public:
    // The writer's slot: fill it, then Publish.
    T& WriteSlot() { return Slots_[Write_]; }
    void Publish() {
        const int old = Middle_.exchange(Write_ | kFresh, std::memory_order_acq_rel);
        Write_ = old & kIndex;
    }
    // The writer: true once the reader has taken the value last published.
    bool Taken() const { return !(Middle_.load(std::memory_order_acquire) & kFresh); }
    // The reader: true when a value newer than the last one taken is there; then Read() is it.
    bool TakeNewest() {
        if (!(Middle_.load(std::memory_order_acquire) & kFresh)) return false;
        Read_ = Middle_.exchange(Read_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    // The newest value the reader has taken (or the start value).
    const T& Read() const { return Slots_[Read_]; }
    // Takes the newest value if there is one, and returns what the reader holds.
    const T& Newest() {
        TakeNewest();
        return Read();
    }

private:
    static constexpr int kFresh = 4;
    static constexpr int kIndex = 3;
    std::array<T, 3> Slots_{};
    int Write_ = 0;
    std::atomic<int> Middle_{1};
    int Read_ = 2;
};

} // namespace zelvox
