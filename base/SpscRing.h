#pragma once
// A fixed-size queue from one thread to one other: Push on the producer's thread, Pop on the
// consumer's. No lock, no allocation after construction; a full queue refuses the item.

#include <array>
#include <atomic>
#include <cstddef>

namespace zelvox {

template <class T, size_t N> class SpscRing {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "N must be a power of two");

public:
    bool Push(const T& item) {
        const size_t head = Head_.load(std::memory_order_relaxed);
        if (head - Tail_.load(std::memory_order_acquire) >= N) return false;
        Items_[head & (N - 1)] = item;
        Head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool Pop(T& item) {
        const size_t tail = Tail_.load(std::memory_order_relaxed);
        if (tail == Head_.load(std::memory_order_acquire)) return false;
        item = Items_[tail & (N - 1)];
        Tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, N> Items_{};
    alignas(64) std::atomic<size_t> Head_{0};
    alignas(64) std::atomic<size_t> Tail_{0};
};

} // namespace zelvox
