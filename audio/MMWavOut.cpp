#include "audio/MMWavOut.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <new>
#include <thread>

#include "audio/MMDSPMtr.h"

namespace zelvox {

namespace {

const char* const kPropertyWhileOpen = "Change to property while device was open";
const char* const kPrefixOpen = "WaveOutOpen:\n\r";
const char* const kPrefixClose = "WaveOutClose:\n\r";
const char* const kPrefixPause = "WaveOutPause:\n\r";
const char* const kPrefixReset = "WaveOutReset:\n\r";
const char* const kPrefixRestart = "WaveOutRestart:\n\r";
const char* const kPrefixWrite = "WaveOutWrite:\n\r";
const char* const kPrefixStart = "WaveOutStart:\n\r";
const char* const kPrefixPosition = "WaveOutGetPosition:\n\r";
const char* const kPrefixWaveOut = "WaveOut:\n\r";

// dwFlags is written by the device's thread (WHDR_DONE) and polled by Stop.
void SetFlags(PWaveHdr h, uint32_t set, uint32_t clear) {
    std::atomic_ref<uint32_t> flags(h->dwFlags);
    uint32_t v = flags.load();
    while (!flags.compare_exchange_weak(v, (v & ~clear) | set)) {
    }
}
uint32_t Flags(PWaveHdr h) { return std::atomic_ref<uint32_t>(h->dwFlags).load(); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Clears the flag when the scope ends, however it ends.
struct FlagGuard {
    bool& Flag;
    ~FlagGuard() { Flag = false; }
};

} // namespace

TMMUserInterface& MMUserInterface() {
    static TMMUserInterface ui{
        nullptr, [](const std::string& title, const std::string& text) {
            std::cerr << title << ": " << text << "\n";
        }};
    return ui;
}

// --------------------------------------------------------------------------- construction

TMMWaveOut::TMMWaveOut(WaveOutSystem* system, MainThreadQueue* queue)
    : System_(system ? system : &DefaultWaveOutSystem()),
      Queue_(queue ? queue : &DefaultMainThreadQueue()) {
    NumDevs_ = System_->GetNumDevs();
    SetBufferSize(2048);
    SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
    Destroying_ = true;
    Close();
    Queue_->RemoveAll(this);
    LeaveChain();
}

// --------------------------------------------------------------------------- properties

void TMMWaveOut::CheckClosed() {
    if (State_.load() & wosOpened) Error(kPropertyWhileOpen);
}

void TMMWaveOut::SetNumBuffers(int32_t value) {
    CheckClosed();
    if (value <= 1) return;
    NumBuffers_ = std::min(value, kMaxBuffers);
}

int32_t TMMWaveOut::GetBufferSize() const { return TMMDSPComponent::GetBufferSize(); }

void TMMWaveOut::SetBufferSize(int32_t Value) {
    CheckClosed();
    TMMDSPComponent::SetBufferSize(std::max(Value, 32));
}

void TMMWaveOut::SetDeviceID(int32_t id) {
    CheckClosed();
    ProductName_ = kNoDevice;
    DriverVersion_ = 0;
    if (NumDevs_ > 0 && id >= -1 && id < NumDevs_) {
        WaveOutCaps caps;
        if (System_->GetDevCaps(id, caps) == kMmsyserrNoError) {
            ProductName_ = caps.Name;
            DriverVersion_ = caps.DriverVersion;
        }
    }
    DeviceID_ = (id < -1 || id >= NumDevs_) ? kInvalidDeviceId : id;
}

void TMMWaveOut::SetSystem(std::unique_ptr<WaveOutSystem> system) {
    CheckClosed();
    if (!system) return;
    OwnedSystem_ = std::move(system);
    System_ = OwnedSystem_.get();
    NumDevs_ = System_->GetNumDevs();
    SetDeviceID(0);
}

void TMMWaveOut::SetCallBackMode(TMMCBMode mode) {
    CheckClosed();
    if (mode == CallBackMode_) return;
    if (mode == TMMCBMode::cmCallback) {
        // Running the chain on the driver's thread is never allowed here.
        if (MMUserInterface().MessageBox)
            MMUserInterface().MessageBox(
                "TMMWaveOut", "\"CallBacks\" are called at interrupt time !\n\r"
                              "This is currently only supported under Windows 95");
        return;
    }
    CallBackMode_ = mode;
}

uint64_t TMMWaveOut::Underruns() const { return Device_ ? Device_->Underruns() : LastUnderruns_; }
uint64_t TMMWaveOut::ServerXruns() const { return Device_ ? Device_->ServerXruns() : LastXruns_; }

// --------------------------------------------------------------------------- errors

void TMMWaveOut::Error(const std::string& msg) {
    if (OnError) OnError(this);
    throw EMMWaveOutError(msg);
}

void TMMWaveOut::DeviceError(const std::string& prefix, int32_t result) {
    std::string text = Device_ ? Device_->ErrorText(result) : WaveOutResultText(result);
    if (text.size() > 255) text.resize(255);
    Error(prefix + text);
    throw EMMWaveOutError(prefix + text); // not reached: Error throws
}

// After a failed operation: close the device. OnError has been raised by Error already
// unless the failure came from elsewhere (a handler in the chain, memory).
void TMMWaveOut::ErrorCleanup(bool raiseOnError) {
    if (raiseOnError && OnError) {
        try {
            OnError(this);
        } catch (...) {
        }
    }
    Close();
}

bool TMMWaveOut::WaitFor(const std::function<bool()>& done, int tries) {
    for (int i = 0; i < tries; ++i) {
        if (done()) return true;
        SleepMs(10);
    }
    return done();
}

// --------------------------------------------------------------------------- device side

void TMMWaveOut::DeviceProc(void* instance, uint32_t msg, void* token) {
    // The device's own thread: count and post, nothing else.
    auto* self = static_cast<TMMWaveOut*>(instance);
    switch (msg) {
    case kWomOpen: self->State_ = wosOpened; break;
    case kWomClose: self->State_ = wosClosed; break;
    case kWomDone: {
        auto* h = static_cast<PWaveHdr>(token);
        SetFlags(h, WHDR_DONE, 0);
        int32_t left = self->QueuedCount_.fetch_sub(1) - 1;
        if (self->Resetting_.load()) {
            if (left <= 0) self->Resetting_ = false;
            break;
        }
        if (!self->Stopping_.load())
            self->Queue_->Post(self, MM_WOM_DONE, self->Handle_.load(),
                               reinterpret_cast<uintptr_t>(h));
        break;
    }
    case kWomFailed:
        self->Queue_->Post(self, WM_DEVICEFAILED, self->Handle_.load(), 0);
        break;
    default: break;
    }
}

void TMMWaveOut::HandleMessage(uint32_t msg, uintptr_t wParam, uintptr_t lParam) {
    // Messages of an earlier opening of the device are stale.
    if (wParam == 0 || wParam != Handle_.load()) return;
    try {
        switch (msg) {
        case MM_WOM_DONE:
            if (!Stopping_.load()) BufferDone(reinterpret_cast<PWaveHdr>(lParam));
            break;
        case WM_STOPDEVICE: Stop(); break;
        case WM_DEVICEFAILED: {
            std::string why = Device_ ? Device_->FailureText() : std::string("no device");
            Error(kPrefixWaveOut + why);
            break;
        }
        default: break;
        }
    } catch (const EMMWaveOutError&) {
        Close();
        throw; // to the application's error display (whoever pumps the queue)
    } catch (...) {
        ErrorCleanup(true);
        throw;
    }
}

uint64_t TMMWaveOut::DeviceSamples() {
    if (!Device_) return 0;
    uint64_t samples = 0;
    int32_t r = Device_->GetPosition(samples);
    if (r != kMmsyserrNoError) DeviceError(kPrefixPosition, r);
    return samples;
}

int32_t TMMWaveOut::FormatCheck(WaveOutDevice& dev, const WAVEFORMATEX& f) {
    WaveOutFormat wf{f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.wBitsPerSample};
    if (const int32_t r = dev.QueryFormat(wf); r != kMmsyserrNoError) return r;
    WaveOutCaps caps;
    if (const int32_t r = dev.GetCaps(caps); r != kMmsyserrNoError) return r;
    if (f.wFormatTag != WAVE_FORMAT_PCM) return kMmsyserrNoError;
    int group;
    if (f.nSamplesPerSec >= 8000 && f.nSamplesPerSec <= 11025) group = 0;
    else if (f.nSamplesPerSec >= 11026 && f.nSamplesPerSec <= 22050) group = 1;
    else if (f.nSamplesPerSec >= 22051 && f.nSamplesPerSec <= 48000) group = 2;
    else return kMmsyserrNoError;
    if ((f.nChannels != 1 && f.nChannels != 2) ||
        (f.wBitsPerSample != 8 && f.wBitsPerSample != 16))
        return kMmsyserrNoError;
    int bit = group * 4 + (f.nChannels == 2 ? 1 : 0) + (f.wBitsPerSample == 16 ? 2 : 0);
    return (caps.Formats & (1u << bit)) != 0 ? kMmsyserrNoError : kWaverrBadFormat;
}

// --------------------------------------------------------------------------- Open / Close

void TMMWaveOut::Open() {
    if (NumDevs_ == 0) Error(kNoDevice);
    if (DeviceID_ == kInvalidDeviceId) Error("Invalid DeviceID");
    PWaveFormatEx fmt = GetWaveFormat();
    if (!fmt) Error(std::string(kPrefixOpen) + "Invalid wave format");
    if (State_.load() & wosOpened) Close();
    if (!(State_.load() & wosClosed) || Closing_) return;
    Closing_ = false;
    Resetting_ = false;
    Stopping_ = false;
    try {
        std::unique_ptr<WaveOutDevice> dev = System_->CreateDevice(DeviceID_);
        const int32_t check = dev ? FormatCheck(*dev, *fmt) : kWaverrBadFormat;
        if (check != kMmsyserrNoError) {
            // The format check is where a device that is not there (a misspelt name in the
            // settings, a server that went away) shows first: say so after the check's text.
            std::string text = std::string(kPrefixOpen) + "The actual device can''t play this format";
            if (check != kWaverrBadFormat) text += " (" + dev->ErrorText(check) + ")";
            else if (dev && !dev->FormatProblem().empty()) text += " (" + dev->FormatProblem() + ")";
            Error(text);
        }
        Handle_ = 0;
        ClosePending_ = false;
        TMMCustomSoundComponent::Opened();
        Device_ = std::move(dev);
        Handle_ = ++HandleCounter_;
        LastUnderruns_ = LastXruns_ = 0;
        WaveOutFormat wf{fmt->wFormatTag, fmt->nChannels, fmt->nSamplesPerSec,
                         fmt->wBitsPerSample};
        int32_t r = Device_->Open(wf, &TMMWaveOut::DeviceProc, this);
        if (r != kMmsyserrNoError) {
            // The device never opened: Close must not try to close it.
            std::string text = Device_->ErrorText(r);
            Device_.reset();
            Error(kPrefixOpen + text);
        }
        if (!WaitFor([this] { return State_.load() == wosOpened; }, 500))
            Error(std::string(kPrefixOpen) + "Unable to open device");
        if (OnOpen) OnOpen(this);
    } catch (const EMMWaveOutError&) {
        State_ = wosOpened;
        Close();
        State_ = wosClosed;
        throw;
    } catch (...) {
        if (OnError) OnError(this);
        State_ = wosOpened;
        Close();
        State_ = wosClosed;
        throw;
    }
}

void TMMWaveOut::Close() {
    if (!(State_.load() & wosOpened)) return;
    if (Closing_ && !ClosePending_) return;
    try {
        Closing_ = true;
        if (State_.load() & (wosPlaying | wosPaused)) Stop();
        if (StopDeferred_) {
            ClosePending_ = true; // the deferred stop closes when it completes
            return;
        }
        ClosePending_ = false;
        bool expired = false;
        std::string failure;
        if (Device_) {
            LastUnderruns_ = Device_->Underruns();
            LastXruns_ = Device_->ServerXruns();
            int32_t r = Device_->Close();
            if (r != kMmsyserrNoError) {
                failure = kPrefixClose + Device_->ErrorText(r);
                // The device object goes away regardless: its destructor releases the stream,
                // so a failed close never leaves the component stuck half open.
                Device_.reset();
                State_ = wosClosed;
            } else {
                expired = !WaitFor([this] { return State_.load() == wosClosed; }, 500);
            }
            StopPosition_ = 0;
        } else {
            State_ = wosClosed;
        }
        State_ = wosClosed;
        TMMCustomSoundComponent::Closed();
        Device_.reset();
        Handle_ = 0;
        Queue_->RemoveAll(this);
        Closing_ = false;
        if (!Destroying_ && OnClose) OnClose(this);
        if (!failure.empty()) Error(failure);
        if (expired) Error(std::string(kPrefixClose) + "Unable to close device");
    } catch (...) {
        Closing_ = false; // swallowed: OnError has been raised by Error
    }
}

// --------------------------------------------------------------------------- buffers

void TMMWaveOut::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
    DSPSection section;
    const uint32_t capacity = static_cast<uint32_t>(RealBufferSize());
    h->dwBufferLength = capacity;
    h->dwBytesRecorded = 0;
    h->LoopEnabled = Looping_ ? -1 : 0;
    if (Looping_) {
        h->LoopTotal = LoopCount_;
        h->LoopsLeft = LoopsLeft_;
        h->LoopDone = 0;
    }
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    // Never play beyond the buffer, whatever a handler claims to have written.
    if (h->dwBytesRecorded > capacity) h->dwBytesRecorded = capacity;
    h->dwBufferLength = h->dwBytesRecorded;
    if (Looping_) LoopsLeft_ = h->LoopsLeft;
}

// Fills and queues the ring's buffers from the source until it runs dry or all are queued;
// returns how many were queued.
int32_t TMMWaveOut::PrimeBuffers() {
    MoreBuffers_ = true;
    int32_t written = 0;
    for (int32_t i = 0; i < NumBuffers_ && MoreBuffers_; ++i) {
        if (!Slots_[i]) {
            try {
                Slots_[i] = AllocWaveHdr(static_cast<uint32_t>(RealBufferSize()));
            } catch (const std::bad_alloc&) {
                Error("Unable to allocate memory for wave header");
            }
        }
        PWaveHdr h = Slots_[i].get();
        SetFlags(h, WHDR_PREPARED, 0);
        if (LoadBuffer(h) < 1) break;
        WriteBuffer(h);
        ++written;
    }
    UsedBuffers_ = written;
    return written;
}

int32_t TMMWaveOut::LoadBuffer(PWaveHdr h) {
    MoreBuffers_ = false;
    BufferLoad(h, MoreBuffers_);
    int32_t got = static_cast<int32_t>(h->dwBytesRecorded);
    if (got <= 0) MoreBuffers_ = false;
    return got;
}

void TMMWaveOut::WriteBuffer(PWaveHdr h) {
    // OnBufferFilled has been raised by the load (the base BufferLoad) already.
    if (Stopping_.load()) return;
    SetFlags(h, WHDR_PREPARED, WHDR_DONE);
    {
        std::lock_guard guard(Lock_);
        QueuedCount_.fetch_add(1); // before the write: its return may come at once
    }
    int32_t r = Device_ ? Device_->Write(h, h->lpData, h->dwBufferLength) : kMmsyserrInvalHandle;
    if (r != kMmsyserrNoError) {
        QueuedCount_.fetch_sub(1);
        DeviceError(kPrefixWrite, r);
    }
    h->dwBytesRecorded = h->dwBufferLength;
}

void TMMWaveOut::FreeBuffers() {
    for (auto& slot : Slots_) slot.reset();
    UsedBuffers_ = 0;
    QueuedCount_ = 0;
    RingIndex_ = 0;
}

// --------------------------------------------------------------------------- Start

void TMMWaveOut::Start() {
    bool cursor = false;
    try {
        if (!(State_.load() & wosOpened)) Open();
        if ((State_.load() & wosOpened) && !(State_.load() & wosPlaying)) {
            AccumulatedPos_ = LoopStartPos_ = StopPosition_ = 0;
            BytesPlayed_ = 0;
            InBufferDone_ = 0;
            Stopping_ = false;
            Resetting_ = false;
            StopDeferred_ = false;
            RingIndex_ = 0;
            LoopsLeft_ = LoopCount_;
            QueuedCount_ = 0;
            if (ShowHourGlass_ && int64_t{GetBufferSize()} * NumBuffers_ > 100000 &&
                MMUserInterface().SetBusyCursor) {
                MMUserInterface().SetBusyCursor(true);
                cursor = true;
            }
            int32_t r = Device_->Pause();
            if (r != kMmsyserrNoError) DeviceError(kPrefixPause, r);
            TMMCustomSoundComponent::Started();
            const int32_t written = PrimeBuffers();
            State_.fetch_or(wosPlaying);
            if (cursor) {
                MMUserInterface().SetBusyCursor(false);
                cursor = false;
            }
            if (written == 0) {
                TMMCustomSoundComponent::Stopped();
                Error(std::string(kPrefixStart) + "Unable to start device");
            }
            if (!(State_.load() & wosPaused)) {
                r = Device_->Restart();
                if (r != kMmsyserrNoError) DeviceError(kPrefixRestart, r);
            }
            DSPMeterBegin();
            if (OnStart) OnStart(this);
        }
    } catch (const EMMWaveOutError&) {
        if (cursor) MMUserInterface().SetBusyCursor(false);
        Close();
        State_ = wosClosed;
        throw;
    } catch (...) {
        if (cursor) MMUserInterface().SetBusyCursor(false);
        ErrorCleanup(true);
        State_ = wosClosed;
        throw;
    }
}

// --------------------------------------------------------------------------- BufferDone

void TMMWaveOut::BufferDone(PWaveHdr) {
    if (!(State_.load() & wosPlaying) || Resetting_.load() || Stopping_.load()) return;
    if (UsedBuffers_ <= 0) return;
    ++InBufferDone_;
    try {
        // The device returns buffers in the order they were written.
        PWaveHdr h = Slots_[RingIndex_].get();
        {
            std::lock_guard guard(Lock_);
            BytesPlayed_ += h->dwBufferLength;
        }
        {
            DSPSection section;
            if (++RingIndex_ >= UsedBuffers_) RingIndex_ = 0;
            h->NextHdr = Slots_[RingIndex_].get();
            DeliverBufferReady(h);
        }
        if (MoreBuffers_ && !StopDeferred_) {
            if (Looping_ && h->LoopDone) {
                {
                    std::lock_guard guard(Lock_);
                    LoopStartPos_ = static_cast<int64_t>(DeviceSamples()) + AccumulatedPos_;
                    h->LoopDone = 0;
                }
                if (OnLooping) OnLooping(this);
            }
            if (LoadBuffer(h) <= 0 && !StopDeferred_) Error("Error filling wave buffer");
            if (!StopDeferred_) WriteBuffer(h);
        }
    } catch (const EMMWaveOutError&) {
        try {
            EndBufferDone();
        } catch (...) {
        }
        throw;
    } catch (...) {
        if (OnError) OnError(this);
        try {
            EndBufferDone();
        } catch (...) {
        }
        throw;
    }
    EndBufferDone();
}

void TMMWaveOut::EndBufferDone() {
    --InBufferDone_;
    if (InBufferDone_ == 0 && (StopDeferred_ || QueuedCount_.load() <= 0)) {
        // The end of the stream (or a stop that waited for this pass): stop through the
        // message target, outside any handler.
        Stopping_ = true;
        if (Device_) {
            int32_t r = Device_->Pause();
            if (r != kMmsyserrNoError) DeviceError(kPrefixPause, r);
        }
        Queue_->Post(this, WM_STOPDEVICE, Handle_.load(), 0);
    }
}

// --------------------------------------------------------------------------- Stop

void TMMWaveOut::Stop() {
    if (!(State_.load() & (wosPlaying | wosPaused))) return;
    try {
        {
            std::lock_guard guard(Lock_);
            Stopping_ = true;
            Resetting_ = true;
        }
        StopPosition_ = Position();
        if (Device_) {
            int32_t r = Device_->Reset();
            if (r > 0) DeviceError(kPrefixReset, r);
        }
        if (QueuedCount_.load() <= 0) Resetting_ = false;
        if (InBufferDone_ > 0) {
            StopDeferred_ = true; // the outermost BufferDone finishes the stop
            return;
        }
        State_.fetch_and(~uint32_t(wosPlaying | wosPaused));
        DSPMeterEnd();
        WaitFor([this] { return QueuedCount_.load() <= 0; }, 500);
        TMMCustomSoundComponent::Stopped();
        for (int32_t i = 0; i < UsedBuffers_; ++i) {
            PWaveHdr h = Slots_[i].get();
            if (!h) continue;
            int polls = 0;
            while (!(Flags(h) & WHDR_DONE) && polls < 65000) ++polls;
            SetFlags(h, WHDR_DONE, WHDR_PREPARED);
        }
        FreeBuffers();
        StopDeferred_ = false;
        Queue_->RemovePending(this, MM_WOM_DONE);
        if (!Destroying_ && OnStop) OnStop(this);
        if (ClosePending_) Close();
    } catch (const EMMWaveOutError&) {
        Close();
        throw;
    } catch (...) {
        ErrorCleanup(true);
        throw;
    }
}

// --------------------------------------------------------------------------- Pause etc.

void TMMWaveOut::Pause() {
    try {
        if (!(State_.load() & wosOpened)) Open();
        if ((State_.load() & wosOpened) && !(State_.load() & wosPaused)) {
            if (State_.load() & wosPlaying) {
                std::lock_guard guard(Lock_);
                int32_t r = Device_->Pause();
                if (r != kMmsyserrNoError) DeviceError(kPrefixPause, r);
                State_.fetch_or(wosPaused);
                if (FedBySound()) {
                    AccumulatedPos_ += static_cast<int64_t>(DeviceSamples());
                    Resetting_ = true;
                    r = Device_->Reset();
                    if (r != kMmsyserrNoError) DeviceError(kPrefixReset, r);
                    RingIndex_ = 0;
                    QueuedCount_ = 0;
                }
            }
            State_.fetch_or(wosPaused);
            TMMCustomSoundComponent::Paused();
            if (OnPause) OnPause(this);
        }
    } catch (const EMMWaveOutError&) {
        Close();
        throw;
    } catch (...) {
        ErrorCleanup(true);
        throw;
    }
}

void TMMWaveOut::Restart() {
    uint32_t s = State_.load();
    if (!(s & wosPlaying) || !(s & wosPaused)) return;
    try {
        Resetting_ = false;
        int32_t r = Device_->Restart();
        if (r != kMmsyserrNoError) DeviceError(kPrefixRestart, r);
        State_.fetch_and(~uint32_t(wosPaused));
        TMMCustomSoundComponent::Restarted();
        if (OnRestart) OnRestart(this);
    } catch (const EMMWaveOutError&) {
        Close();
        throw;
    } catch (...) {
        ErrorCleanup(true);
        throw;
    }
}

void TMMWaveOut::Reset() {
    if (!(State_.load() & (wosPlaying | wosPaused)) || Resetting_.load()) return;
    try {
        Resetting_ = true;
        int32_t r = Device_->Pause();
        if (r != kMmsyserrNoError) DeviceError(kPrefixPause, r);
        Queue_->RemovePending(this, MM_WOM_DONE);
        r = Device_->Reset();
        if (r != kMmsyserrNoError) DeviceError(kPrefixReset, r);
        if (QueuedCount_.load() <= 0) Resetting_ = false;
        WaitFor([this] { return !Resetting_.load(); }, 100);
        Resetting_ = false;
        Device_->Restart();
        Device_->Pause();
        RingIndex_ = 0;
        QueuedCount_ = 0;
        AccumulatedPos_ = LoopStartPos_ = 0;
        BytesPlayed_ = 0;
        TMMCustomSoundComponent::Flushed();
        const int32_t written = PrimeBuffers();
        if (!(State_.load() & wosPaused)) {
            r = Device_->Restart();
            if (r != kMmsyserrNoError) DeviceError(kPrefixRestart, r);
        }
        if (written == 0) Stop();
    } catch (const EMMWaveOutError&) {
        Close();
        throw;
    } catch (...) {
        ErrorCleanup(true);
        throw;
    }
}

// --------------------------------------------------------------------------- format, position

void TMMWaveOut::SetWaveFormat(PWaveFormatEx Format) {
    if (Format != GetWaveFormat()) Close();
    TMMDSPComponent::SetWaveFormat(Format);
}

int64_t TMMWaveOut::Position() {
    PWaveFormatEx f = GetWaveFormat();
    if (!(State_.load() & wosOpened) || Closing_ || !f || !Device_) return 0;
    int64_t samples = static_cast<int64_t>(DeviceSamples()) + AccumulatedPos_ - LoopStartPos_;
    if (samples < 0) samples = 0;
    switch (TimeFormat_) {
    case TMMTimeFormats::tfMillisecond:
        return f->nSamplesPerSec ? (samples * 1000 + f->nSamplesPerSec / 2) / f->nSamplesPerSec
                                 : 0;
    case TMMTimeFormats::tfSample: return samples;
    case TMMTimeFormats::tfByte:
    default: return samples * f->nBlockAlign;
    }
}

} // namespace zelvox
