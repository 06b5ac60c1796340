#pragma once
// The MIDI input component's hidden window: the driver callback posts "data" and "overflow"
// messages to it, and on the main thread it raises the component's events for them. Posting
// goes through the program's main-thread queue (devices/MessageQueue.h).
//
// A driver callback must stay cheap, so the window counts its messages in atomics and keeps
// at most one delivery outstanding in the queue; that delivery then handles every message
// counted so far, one by one, data before overflow. To the component this is the same as one
// posted message per event; to the queue a flood of MIDI is one entry at a time.

#include <atomic>
#include <cstdint>
#include <functional>

#include "devices/MessageQueue.h"

namespace zelvox {

class MessageWindow : public MessageTarget {
public:
    static constexpr uint32_t kMimData = 0x3C3;     // input data waiting
    static constexpr uint32_t kMimOverflow = 0x400; // an event was dropped: the ring was full
    static constexpr uint32_t kMimGone = 0x401;     // the device went away (its server quit)

    MessageWindow(MainThreadQueue& queue, std::function<void()> onData,
                  std::function<void()> onOverflow, std::function<void()> onGone = {});
    ~MessageWindow() override;
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Any thread; never waits for the main thread.
    void PostData() { Count(DataPosted_); }
    void PostOverflow() { Count(OverflowPosted_); }
    // Rare (once a device's life) and from a service's own thread, never a real-time one.
    void PostGone() { Queue_.Post(this, kMimGone, 0, 0); }

    void HandleMessage(uint32_t msg, uintptr_t wParam, uintptr_t lParam) override;

private:
    void Count(std::atomic<uint32_t>& counter);

    MainThreadQueue& Queue_;
    std::function<void()> OnData_, OnOverflow_, OnGone_;
    std::atomic<uint32_t> DataPosted_{0};
    std::atomic<uint32_t> OverflowPosted_{0};
    std::atomic<bool> Scheduled_{false}; // a delivery is in the queue
};

} // namespace zelvox
