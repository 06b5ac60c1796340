#include "audio/MMDSPMtr.h"

#include <chrono>

namespace zelvox {

namespace {

class SteadyClock final : public MillisecondClock {
public:
    uint32_t Now() override {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<uint32_t>(static_cast<uint64_t>(ms));
    }
};

TMMDSPMeter* CurrentMeter = nullptr; // main thread only

} // namespace

MillisecondClock& SteadyMillisecondClock() {
    static SteadyClock clock;
    return clock;
}

// ---------------------------------------------------------------------------------------
// Timer service

TMMTimerService& TMMTimerService::Instance() {
    static TMMTimerService service;
    return service;
}

TMMTimerService::~TMMTimerService() {
    std::unique_lock lock(Lock_);
    for (Client* c : Clients_) delete c;
    Clients_.clear();
    StopThread(lock);
}

void* TMMTimerService::AddClient(int intervalMs, void* owner, Callback callback) {
    std::unique_lock lock(Lock_);
    if (!Thread_.joinable()) {
        try {
            Quit_ = false;
            Thread_ = std::thread([this] { Run(); });
        } catch (...) {
            return nullptr; // no timer: the client is not added
        }
    }
    auto* c = new Client{intervalMs < kPeriodMs ? kPeriodMs : intervalMs, owner, callback};
    Clients_.push_back(c);
    return c;
}

void TMMTimerService::RemoveClient(void* client) {
    std::unique_lock lock(Lock_);
    for (auto it = Clients_.begin(); it != Clients_.end(); ++it) {
        if (*it == client) {
            delete *it;
            Clients_.erase(it);
            break;
        }
    }
    if (Clients_.empty()) StopThread(lock);
}

void TMMTimerService::SuspendClient(void* client, bool suspended) {
    std::unique_lock lock(Lock_);
    for (Client* c : Clients_)
        if (c == client) c->Suspended = suspended;
}

size_t TMMTimerService::ClientCount() {
    std::unique_lock lock(Lock_);
    return Clients_.size();
}

void TMMTimerService::StopThread(std::unique_lock<std::mutex>& lock) {
    if (!Thread_.joinable()) return;
    Quit_ = true;
    std::thread t = std::move(Thread_);
    lock.unlock();
    Wake_.notify_all();
    t.join();
    lock.lock();
}

void TMMTimerService::Run() {
    using namespace std::chrono;
    const auto period = milliseconds(kPeriodMs);
    std::unique_lock lock(Lock_);
    auto next = steady_clock::now() + period;
    while (!Quit_) {
        if (Wake_.wait_until(lock, next, [this] { return Quit_; })) break;
        auto now = steady_clock::now();
        next += period;
        // A tick that ran late does not make up for the missed ones.
        if (now > next) next = now + period;
        for (size_t i = 0; i < Clients_.size(); ++i) {
            Client* c = Clients_[i];
            if (c->Suspended) continue;
            c->ElapsedMs += kPeriodMs;
            if (c->ElapsedMs >= c->IntervalMs) {
                c->Fn(c, c->Owner);
                c->ElapsedMs = 0;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Meter

TMMDSPMeter::TMMDSPMeter(MillisecondClock* clock)
    : Clock_(clock ? clock : &SteadyMillisecondClock()) {
    if (!CurrentMeter) CurrentMeter = this;
}

TMMDSPMeter::~TMMDSPMeter() {
    if (TimerClient_) TMMTimerService::Instance().RemoveClient(TimerClient_);
    if (CurrentMeter == this) CurrentMeter = nullptr;
}

TMMDSPMeter* TMMDSPMeter::Current() { return CurrentMeter; }

void TMMDSPMeter::BeginMeter() {
    if (this != CurrentMeter) return;
    if (RunCount_.fetch_add(1) == 0) {
        Depth_ = 0;
        Busy_ = 0;
        Smoothed_ = 0.0f;
        UsageValue_ = 0;
        TimerClient_ = TMMTimerService::Instance().AddClient(100, this, &TMMDSPMeter::TimerProc);
    }
}

void TMMDSPMeter::EndMeter() {
    if (RunCount_.load() <= 0) return;
    if (RunCount_.fetch_sub(1) == 1) {
        if (TimerClient_) TMMTimerService::Instance().RemoveClient(TimerClient_);
        TimerClient_ = nullptr;
    }
}

void TMMDSPMeter::EnterDSP() {
    if (RunCount_.load() <= 0) return;
    if (Depth_.fetch_add(1) == 0) EntryTime_ = Clock_->Now();
}

void TMMDSPMeter::LeaveDSP() {
    if (RunCount_.load() <= 0) return;
    if (Depth_.load() <= 0) return; // entered before the meter started
    if (Depth_.fetch_sub(1) == 1) AccountOpenSection(Clock_->Now());
}

void TMMDSPMeter::AccountOpenSection(uint32_t now) {
    // Both threads move EntryTime with an exchange, so every millisecond of a section is
    // counted once, in the period in which it ran.
    uint32_t entry = EntryTime_.exchange(now);
    Busy_.fetch_add(static_cast<int32_t>(now - entry));
}

void TMMDSPMeter::Update() {
    if (RunCount_.load() <= 0) return;
    if (Depth_.load() > 0) AccountOpenSection(Clock_->Now());
    int32_t busy = Busy_.exchange(0);
    float smoothed = static_cast<float>(busy) * 0.1f;
    smoothed = smoothed + Smoothed_.load() * 0.9f;
    smoothed = smoothed + 0.05f;
    Smoothed_ = smoothed;
    // Truncation toward zero; the load is never negative or beyond int range in practice,
    // but a clock that jumps must not make the conversion undefined.
    int32_t usage = 0;
    if (smoothed >= 2147483520.0f) usage = 2147483520;
    else if (smoothed > 0.0f) usage = static_cast<int32_t>(smoothed);
    UsageValue_ = usage;
}

int32_t TMMDSPMeter::Usage() const {
    if (RunCount_.load() <= 0) return 0;
    int64_t u = int64_t{UsageValue_.load()} * 100 / 100;
    return static_cast<int32_t>(u < 100 ? u : 100);
}

void TMMDSPMeter::TimerProc(void*, void* owner) { static_cast<TMMDSPMeter*>(owner)->Update(); }

std::string DSPUsageText(int32_t usage) { return "DSP Usage : " + std::to_string(usage) + "%"; }

void DSPMeterBegin() {
    if (CurrentMeter) CurrentMeter->BeginMeter();
}
void DSPMeterEnd() {
    if (CurrentMeter) CurrentMeter->EndMeter();
}
void DSPMeterEnter() {
    if (CurrentMeter) CurrentMeter->EnterDSP();
}
void DSPMeterLeave() {
    if (CurrentMeter) CurrentMeter->LeaveDSP();
}

} // namespace zelvox
