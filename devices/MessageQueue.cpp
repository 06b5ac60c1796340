#include "devices/MessageQueue.h"

#include <chrono>

namespace zelvox {

MessageTarget::~MessageTarget() = default;

void MainThreadQueue::Post(MessageTarget* target, uint32_t msg, uintptr_t wParam,
                           uintptr_t lParam) {
    {
        std::lock_guard guard(Lock_);
        Items_.push_back(Item{target, msg, wParam, lParam});
    }
    Posted_.notify_all();
    Wake();
}

size_t MainThreadQueue::RemovePending(MessageTarget* target, uint32_t msg) {
    std::lock_guard guard(Lock_);
    size_t before = Items_.size();
    std::erase_if(Items_, [&](const Item& i) { return i.Target == target && i.Msg == msg; });
    return before - Items_.size();
}

void MainThreadQueue::RemoveAll(MessageTarget* target) {
    std::lock_guard guard(Lock_);
    std::erase_if(Items_, [&](const Item& i) { return i.Target == target; });
}

size_t MainThreadQueue::PendingCount() {
    std::lock_guard guard(Lock_);
    return Items_.size();
}

size_t MainThreadQueue::ProcessPending() {
    size_t n;
    {
        std::lock_guard guard(Lock_);
        n = Items_.size();
    }
    size_t handled = 0;
    for (; handled < n; ++handled) {
        Item item;
        {
            std::lock_guard guard(Lock_);
            if (Items_.empty()) break; // a handler removed messages
            item = Items_.front();
            Items_.pop_front();
        }
        item.Target->HandleMessage(item.Msg, item.WParam, item.LParam);
    }
    return handled;
}

size_t MainThreadQueue::WaitAndProcess(int timeoutMs) {
    {
        std::unique_lock lock(Lock_);
        Posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !Items_.empty(); });
    }
    return ProcessPending();
}

namespace {
MainThreadQueue* ChosenQueue = nullptr;
}

MainThreadQueue& DefaultMainThreadQueue() {
    if (ChosenQueue) return *ChosenQueue;
    static MainThreadQueue plain;
    return plain;
}

void SetDefaultMainThreadQueue(MainThreadQueue* queue) { ChosenQueue = queue; }

} // namespace zelvox
