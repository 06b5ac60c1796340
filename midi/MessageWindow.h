#pragma once
// Getting from a driver thread to the main thread.
//
// MainThreadPoster is the posting service: the GUI runs posted calls from its event loop,
// a headless program from its own loop (PostQueue below). MessageWindow is the MIDI input
// component's hidden window: the driver callback posts "data" and "overflow" messages to it,
// and the main thread raises the component's events for them.
//
// A driver callback must stay cheap, so MessageWindow counts its messages in atomics and asks
// the poster for at most one outstanding delivery; the delivery then handles every message
// counted so far, one by one, in the order data before overflow.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace zelvox {

class MainThreadPoster {
public:
    using Fn = void (*)(void* context);
    virtual ~MainThreadPoster() = default;
    // Any thread: have fn(context) called on the main thread soon.
    virtual void Post(Fn fn, void* context) = 0;
    // Main thread: forget every pending call for context (its owner is going away).
    virtual void Cancel(void* context) = 0;
};

// Headless poster: a plain queue the owner's loop empties with RunPending.
class PostQueue : public MainThreadPoster {
public:
    void Post(Fn fn, void* context) override;
    void Cancel(void* context) override;
    // Runs every call posted so far (and those they post); returns how many ran.
    size_t RunPending();
    // Waits up to timeout for a post, then runs what is pending; returns how many ran.
    size_t WaitAndRun(std::chrono::milliseconds timeout);

private:
    std::mutex Mutex_;
    std::condition_variable Posted_;
    std::vector<std::pair<Fn, void*>> Pending_;
};

class MessageWindow {
public:
    MessageWindow(MainThreadPoster& poster, std::function<void()> onData,
                  std::function<void()> onOverflow);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Any thread, never blocks on the main thread.
    void PostData();
    void PostOverflow();

private:
    static void Deliver(void* self);
    void Pump();
    void Schedule();

    MainThreadPoster& Poster_;
    std::function<void()> OnData_, OnOverflow_;
    std::atomic<uint32_t> DataPosted_{0};
    std::atomic<uint32_t> OverflowPosted_{0};
    std::atomic<bool> Scheduled_{false};
};

} // namespace zelvox
