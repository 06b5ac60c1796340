#include "midi/MessageWindow.h"

#include <algorithm>

namespace zelvox {

void PostQueue::Post(Fn fn, void* context) {
    {
        std::lock_guard<std::mutex> lock(Mutex_);
        Pending_.emplace_back(fn, context);
    }
    Posted_.notify_one();
}

void PostQueue::Cancel(void* context) {
    std::lock_guard<std::mutex> lock(Mutex_);
    std::erase_if(Pending_, [context](const auto& p) { return p.second == context; });
}

size_t PostQueue::RunPending() {
    size_t ran = 0;
    for (;;) {
        std::pair<Fn, void*> call;
        {
            std::lock_guard<std::mutex> lock(Mutex_);
            if (Pending_.empty()) return ran;
            call = Pending_.front();
            Pending_.erase(Pending_.begin());
        }
        call.first(call.second);
        ++ran;
    }
}

size_t PostQueue::WaitAndRun(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(Mutex_);
        Posted_.wait_for(lock, timeout, [this] { return !Pending_.empty(); });
    }
    return RunPending();
}

MessageWindow::MessageWindow(MainThreadPoster& poster, std::function<void()> onData,
                             std::function<void()> onOverflow)
    : Poster_(poster), OnData_(std::move(onData)), OnOverflow_(std::move(onOverflow)) {}

MessageWindow::~MessageWindow() { Poster_.Cancel(this); }

void MessageWindow::PostData() {
    DataPosted_.fetch_add(1, std::memory_order_seq_cst);
    Schedule();
}

void MessageWindow::PostOverflow() {
    OverflowPosted_.fetch_add(1, std::memory_order_seq_cst);
    Schedule();
}

void MessageWindow::Schedule() {
    // Only the poster of the false -> true change posts; Pump clears the flag before it
    // takes the counts, so a message counted after that posts again.
    if (!Scheduled_.exchange(true, std::memory_order_seq_cst)) Poster_.Post(&Deliver, this);
}

void MessageWindow::Deliver(void* self) { static_cast<MessageWindow*>(self)->Pump(); }

void MessageWindow::Pump() {
    Scheduled_.store(false, std::memory_order_seq_cst);
    uint32_t data = DataPosted_.exchange(0, std::memory_order_seq_cst);
    uint32_t overflow = OverflowPosted_.exchange(0, std::memory_order_seq_cst);
    for (; data > 0; --data)
        if (OnData_) OnData_();
    for (; overflow > 0; --overflow)
        if (OnOverflow_) OnOverflow_();
}

} // namespace zelvox
