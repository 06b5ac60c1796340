#include "midi/MessageWindow.h"

namespace zelvox {

MessageWindow::MessageWindow(MainThreadQueue& queue, std::function<void()> onData,
                             std::function<void()> onOverflow, std::function<void()> onGone)
    : Queue_(queue), OnData_(std::move(onData)), OnOverflow_(std::move(onOverflow)),
      OnGone_(std::move(onGone)) {}

MessageWindow::~MessageWindow() { Queue_.RemoveAll(this); }

void MessageWindow::Count(std::atomic<uint32_t>& counter) {
    counter.fetch_add(1, std::memory_order_seq_cst);
    // Only the poster of the false -> true change posts; the delivery clears the flag before
    // it takes the counts, so a message counted after that posts again.
    if (!Scheduled_.exchange(true, std::memory_order_seq_cst)) Queue_.Post(this, kMimData, 0, 0);
}

void MessageWindow::HandleMessage(uint32_t msg, uintptr_t, uintptr_t) {
    if (msg == kMimGone && OnGone_) OnGone_();
    if (msg != kMimData) return;
    Scheduled_.store(false, std::memory_order_seq_cst);
    uint32_t data = DataPosted_.exchange(0, std::memory_order_seq_cst);
    uint32_t overflow = OverflowPosted_.exchange(0, std::memory_order_seq_cst);
    for (; data > 0; --data)
        if (OnData_) OnData_();
    for (; overflow > 0; --overflow)
        if (OnOverflow_) OnOverflow_();
}

} // namespace zelvox
