#pragma once
// A small JACK client for tests: one MIDI output port that writes queued messages into the
// JACK graph from its process callback, as many per period as the port buffer takes.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <jack/jack.h>

namespace zelvox::test {

class JackMidiSender {
public:
    // Opens the client on the running server (never starts one); throws std::runtime_error.
    explicit JackMidiSender(const std::string& clientName);
    ~JackMidiSender();
    JackMidiSender(const JackMidiSender&) = delete;
    JackMidiSender& operator=(const JackMidiSender&) = delete;

    std::string PortName() const; // full name of the output port
    bool Connect(const std::string& destination);

    // Hands a batch to the process callback; the previous batch must be done. Messages are
    // raw MIDI events (a short message, or a whole system-exclusive message).
    void Send(const std::vector<std::vector<uint8_t>>& messages);
    bool WaitSent(std::chrono::milliseconds timeout) const;
    // Sends `message` again until `arrived()` (which runs the receiver for a while) says it
    // came through. The first messages through a new connection can meet a period the
    // receiver misses (its thread's first hand-over is slow under the race detector), and
    // JACK loses MIDI in such a period.
    template <class Arrived> bool SendUntilArrived(const std::vector<uint8_t>& message, Arrived arrived) {
        for (int i = 0; i < 20; ++i) {
            Send({message});
            if (arrived()) return true;
        }
        return false;
    }
    size_t Written() const { return Next_.load(std::memory_order_acquire); }
    size_t Periods() const { return Periods_.load(std::memory_order_relaxed); }
    // Breaks the server reported since this client started (a client, maybe this one or the
    // receiver, missed its period). Only in such a period may JACK lose MIDI on its way.
    size_t Xruns() const { return Xruns_.load(std::memory_order_acquire); }

private:
    static int Process(jack_nframes_t nframes, void* self);
    static int Xrun(void* self);

    jack_client_t* Client_ = nullptr;
    jack_port_t* Port_ = nullptr;
    // The batch: bytes of all messages back to back, and where each ends. Written by Send
    // while the callback has nothing left to do, published through Total_.
    std::vector<uint8_t> Bytes_;
    std::vector<size_t> Ends_;
    std::atomic<size_t> Total_{0};
    std::atomic<size_t> Next_{0};
    std::atomic<size_t> Periods_{0};
    std::atomic<size_t> Xruns_{0};
};

// Control Change on a channel (0..15).
inline std::vector<uint8_t> CC(uint8_t channel, uint8_t controller, uint8_t value) {
    return {static_cast<uint8_t>(0xB0 | channel), controller, value};
}

} // namespace zelvox::test
