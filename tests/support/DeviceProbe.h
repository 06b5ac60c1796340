#pragma once
// Collects a device's notifications (from whatever thread sends them) for tests.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/WaveOutDevice.h"

namespace zelvox::test {

struct DeviceProbe {
    struct Note {
        uint32_t Msg;
        void* Token;
        std::thread::id Thread;
    };
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<Note> Notes;

    static void Proc(void* instance, uint32_t msg, void* token) {
        auto* p = static_cast<DeviceProbe*>(instance);
        {
            std::lock_guard g(p->Lock);
            p->Notes.push_back({msg, token, std::this_thread::get_id()});
        }
        p->Changed.notify_all();
    }
    size_t Count(uint32_t msg) {
        std::lock_guard g(Lock);
        size_t n = 0;
        for (auto& x : Notes) n += x.Msg == msg;
        return n;
    }
    std::vector<void*> DoneTokens() {
        std::lock_guard g(Lock);
        std::vector<void*> t;
        for (auto& x : Notes)
            if (x.Msg == kWomDone) t.push_back(x.Token);
        return t;
    }
    // Waits until at least N notifications Msg arrived; false on timeout.
    bool WaitFor(uint32_t msg, size_t n, int timeoutMs) {
        std::unique_lock g(Lock);
        return Changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
            size_t k = 0;
            for (auto& x : Notes) k += x.Msg == msg;
            return k >= n;
        });
    }
};

} // namespace zelvox::test
