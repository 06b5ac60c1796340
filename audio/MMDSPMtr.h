#pragma once
// The DSP load meter and the shared periodic timer service it runs on.
//
// The output engine brackets every buffer load and every played-buffer pass with
// EnterDSP/LeaveDSP; a timer client adds up the milliseconds spent inside those sections
// every 100 ms and keeps a smoothed percentage of the period. EnterDSP/LeaveDSP run on the
// main thread, Update on the timer thread: the three shared fields are atomics and the
// meter takes no lock.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvox {

// A monotonic millisecond clock (wraps after 49.7 days; differences stay right).
class MillisecondClock {
public:
    virtual ~MillisecondClock() = default;
    virtual uint32_t Now() = 0;
};

// The process's steady clock in milliseconds.
MillisecondClock& SteadyMillisecondClock();

// One periodic 25 ms tick on its own thread, shared by every client. A client asks for an
// interval (at least 25 ms) and is called on the timer thread whenever that much time has
// elapsed. The thread exists while there are clients.
class TMMTimerService {
public:
    static constexpr int kPeriodMs = 25;
    using Callback = void (*)(void* client, void* owner);

    static TMMTimerService& Instance();

    // Returns a client handle, or nullptr when the timer thread could not be started.
    void* AddClient(int intervalMs, void* owner, Callback callback);
    // After this returns the client's callback is not running and will not run again.
    // Callbacks run under the service's lock: never call back into the service from one.
    void RemoveClient(void* client);
    void SuspendClient(void* client, bool suspended);
    size_t ClientCount();

    ~TMMTimerService();

private:
    struct Client {
        int IntervalMs;
        void* Owner;
        Callback Fn;
        bool Suspended = false;
        int ElapsedMs = 0;
    };
    void Run();
    void StopThread(std::unique_lock<std::mutex>& lock);

    std::mutex Lock_; // guards the client list and the thread's life
    std::condition_variable Wake_;
    std::vector<Client*> Clients_;
    std::thread Thread_;
    bool Quit_ = false;
};

class TMMDSPMeter {
public:
    // Clock: where the milliseconds come from (the steady clock unless a test gives one).
    explicit TMMDSPMeter(MillisecondClock* clock = nullptr);
    ~TMMDSPMeter();
    TMMDSPMeter(const TMMDSPMeter&) = delete;
    TMMDSPMeter& operator=(const TMMDSPMeter&) = delete;

    // The first meter created; the output engine's hooks report to it. Null when none.
    static TMMDSPMeter* Current();

    void BeginMeter();
    void EndMeter();
    void EnterDSP();
    void LeaveDSP();
    // The 100 ms period's bookkeeping (the timer client's callback; public for tests).
    void Update();

    // Percent of wall-clock time spent computing audio, 0..100; 0 while not running.
    int32_t Usage() const;
    bool Running() const { return RunCount_.load() > 0; }

private:
    static void TimerProc(void* client, void* owner);
    // Adds the time since EntryTime to Busy and moves EntryTime to now.
    void AccountOpenSection(uint32_t now);

    MillisecondClock* Clock_;
    void* TimerClient_ = nullptr;
    std::atomic<int32_t> RunCount_{0};
    std::atomic<int32_t> Busy_{0};        // ms inside measured sections this period
    std::atomic<uint32_t> EntryTime_{0};  // clock reading when the open section began
    std::atomic<int32_t> Depth_{0};       // nesting of measured sections
    std::atomic<float> Smoothed_{0.0f};   // smoothed load, percent
    std::atomic<int32_t> UsageValue_{0};  // last computed load, percent
};

// "DSP Usage : 12%"
std::string DSPUsageText(int32_t usage);

// Hooks of the output engine: act on the current meter, nothing when there is none.
void DSPMeterBegin();
void DSPMeterEnd();
void DSPMeterEnter();
void DSPMeterLeave();

// Measures one section; also ends it when the section throws.
class DSPSection {
public:
    DSPSection() { DSPMeterEnter(); }
    ~DSPSection() { DSPMeterLeave(); }
    DSPSection(const DSPSection&) = delete;
    DSPSection& operator=(const DSPSection&) = delete;
};

} // namespace zelvox
