#pragma once
// Posting to the main thread. Device threads post small messages (a target, a message
// number, two words) here; the main thread handles them in order. Headless programs and
// tests pump the queue themselves (ProcessPending, WaitAndProcess); the desktop program
// derives a queue whose Wake schedules ProcessPending on its event loop.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace zelvox {

// Receives posted messages on the main thread (the role of a hidden message window).
class MessageTarget {
public:
    virtual ~MessageTarget();
    virtual void HandleMessage(uint32_t msg, uintptr_t wParam, uintptr_t lParam) = 0;
};

class MainThreadQueue {
public:
    virtual ~MainThreadQueue() = default;

    // Any thread.
    void Post(MessageTarget* target, uint32_t msg, uintptr_t wParam, uintptr_t lParam);
    // Main thread: drops pending messages of Target with number Msg; returns how many.
    size_t RemovePending(MessageTarget* target, uint32_t msg);
    // Main thread: drops every pending message of Target (it is going away).
    void RemoveAll(MessageTarget* target);
    size_t PendingCount();

    // Main thread: handles the messages pending now, oldest first. A handler that throws
    // stops the pass; the exception reaches the caller and later messages stay queued.
    size_t ProcessPending();
    // Main thread: waits up to TimeoutMs for a message, then handles what is pending.
    size_t WaitAndProcess(int timeoutMs);

protected:
    // Called after every Post, on the posting thread.
    virtual void Wake() {}

private:
    struct Item {
        MessageTarget* Target;
        uint32_t Msg;
        uintptr_t WParam;
        uintptr_t LParam;
    };
    std::mutex Lock_;
    std::condition_variable Posted_;
    std::deque<Item> Items_;
};

// The queue the audio components post to unless given another.
MainThreadQueue& DefaultMainThreadQueue();
// Not owned; null returns to the built-in plain queue.
void SetDefaultMainThreadQueue(MainThreadQueue* queue);

} // namespace zelvox
