#pragma once
// TMMWaveOut: the sound component that drives the audio chain. It opens an output device
// with the chain's format, keeps a ring of buffers queued at the device, refills every
// buffer the device returns by pulling a new one through the chain, hands every played
// buffer on downstream (to the WAV sink) and stops by itself when the source runs dry.
//
// Threads: the device notifies on its own thread, where this component only counts
// (QueuedCount, Resetting) and posts to its message target on the main thread. Everything
// else, BufferDone and with it every load through the chain, runs on the main thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "audio/MMDSPObj.h"
#include "files/MMWave.h" // TMMTimeFormats
#include "devices/MessageQueue.h"
#include "devices/WaveOutDevice.h"

namespace zelvox {

class EMMWaveOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// State flags (a set).
enum TMMWaveOutState : uint32_t {
    wosClosed = 1,
    wosOpened = 2,
    wosPlaying = 4,
    wosPaused = 8,
};

enum class TMMCBMode { cmWindow, cmCallback, cmThread };

// How the audio components reach the user: a busy cursor during a long initial fill and a
// message box. The desktop program installs its own; by default message boxes go to stderr.
struct TMMUserInterface {
    std::function<void(bool busy)> SetBusyCursor;
    std::function<void(const std::string& title, const std::string& text)> MessageBox;
};
TMMUserInterface& MMUserInterface();

// Device id of the platform's wave mapper, and the mark of an invalid id.
constexpr int32_t kWaveMapper = -1;
constexpr int32_t kInvalidDeviceId = -2;

// Messages of the component's message target.
constexpr uint32_t MM_WOM_OPEN = kWomOpen;
constexpr uint32_t MM_WOM_CLOSE = kWomClose;
constexpr uint32_t MM_WOM_DONE = kWomDone;
constexpr uint32_t WM_STOPDEVICE = 0x8001;
constexpr uint32_t WM_DEVICEFAILED = 0x8002; // the device stopped working

class TMMWaveOut : public TMMCustomSoundComponent, private MessageTarget {
public:
    static constexpr int32_t kMaxBuffers = 500;
    static constexpr const char* kNoDevice = "No wave audio playing device found";

    // System: the device list (the settings file's choice unless given); Queue: where device
    // notifications are posted (the default main-thread queue unless given). Neither owned.
    explicit TMMWaveOut(WaveOutSystem* system = nullptr, MainThreadQueue* queue = nullptr);
    ~TMMWaveOut() override;

    // Operations (the component's own virtual operations, in their order).
    virtual void Error(const std::string& msg); // OnError, then throws EMMWaveOutError
    virtual void Open();
    virtual void Close();
    virtual void Reset();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();

    // Chain overrides: a neighbour's notification drives this device.
    void SetWaveFormat(PWaveFormatEx Format) override;
    int32_t GetBufferSize() const override;
    void SetBufferSize(int32_t Value) override; // Max(Value, 32); refused while open
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    void BufferReady(PWaveHdr) override {}
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // Properties
    int32_t NumBuffers() const { return NumBuffers_; }
    void SetNumBuffers(int32_t value); // ignores values <= 1, caps at 500; refused while open
    int32_t DeviceID() const { return DeviceID_; }
    void SetDeviceID(int32_t id); // refused while open
    // Plays from now on through another device list (the audio setup's choice of sound
    // system), which the component keeps; device 0 of it is chosen. Refused while open.
    void SetSystem(std::unique_ptr<WaveOutSystem> system);
    const std::string& ProductName() const { return ProductName_; }
    uint32_t DriverVersion() const { return DriverVersion_; }
    TMMTimeFormats TimeFormat() const { return TimeFormat_; }
    void SetTimeFormat(TMMTimeFormats f) { TimeFormat_ = f; }
    TMMCBMode CallBackMode() const { return CallBackMode_; }
    void SetCallBackMode(TMMCBMode mode); // refused while open
    bool Looping() const { return Looping_; }
    void SetLooping(bool on) { Looping_ = on; }
    uint16_t LoopCount() const { return LoopCount_; }
    void SetLoopCount(uint16_t n) { LoopCount_ = n; }
    bool ShowHourGlass() const { return ShowHourGlass_; }
    void SetShowHourGlass(bool on) { ShowHourGlass_ = on; }

    uint32_t State() const { return State_.load(); }
    // Played position in TimeFormat units; 0 while not open, while closing or without format.
    int64_t Position();
    // Buffers handed to the chain at Start (at most NumBuffers) and still queued.
    int32_t UsedBuffers() const { return UsedBuffers_; }
    int32_t QueuedCount() const { return QueuedCount_.load(); }
    // Times the device ran dry mid-stream during the current or last run (kept after Close).
    uint64_t Underruns() const;
    uint64_t ServerXruns() const;
    // Number of output devices, read at construction.
    int32_t NumDevs() const { return NumDevs_; }

    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;
    TNotifyEvent OnLooping;

protected:
    // The refill of one returned buffer (main thread).
    void BufferDone(PWaveHdr lpWaveHdr);

private:
    void HandleMessage(uint32_t msg, uintptr_t wParam, uintptr_t lParam) override;
    static void DeviceProc(void* instance, uint32_t msg, void* token);
    void CheckClosed();   // "Change to property while device was open"
    [[noreturn]] void DeviceError(const std::string& prefix, int32_t result);
    int32_t PrimeBuffers();
    int32_t LoadBuffer(PWaveHdr h);
    void WriteBuffer(PWaveHdr h);
    void EndBufferDone();
    // kMmsyserrNoError when the device plays the format; otherwise the failing query's result
    // (kWaverrBadFormat when the device lacks the format).
    int32_t FormatCheck(WaveOutDevice& dev, const WAVEFORMATEX& f);
    void FreeBuffers();
    void ErrorCleanup(bool raiseOnError);
    bool WaitFor(const std::function<bool()>& done, int tries);
    uint64_t DeviceSamples();

    WaveOutSystem* System_;
    std::unique_ptr<WaveOutSystem> OwnedSystem_; // a system given with SetSystem
    MainThreadQueue* Queue_;
    int32_t DeviceID_ = 0;
    std::unique_ptr<WaveOutDevice> Device_; // null while closed
    std::atomic<uintptr_t> Handle_{0};      // this open's number; 0 while closed
    uintptr_t HandleCounter_ = 0;
    std::atomic<uint32_t> State_{wosClosed};
    WaveHdrPtr Slots_[kMaxBuffers];
    int32_t RingIndex_ = 0; // slot of the buffer the device returns next
    TMMCBMode CallBackMode_ = TMMCBMode::cmWindow;
    int32_t NumDevs_ = 0;
    std::string ProductName_;
    uint32_t DriverVersion_ = 0;
    int32_t InBufferDone_ = 0;
    bool StopDeferred_ = false;
    bool ClosePending_ = false;
    std::atomic<bool> Stopping_{false};
    bool Closing_ = false;
    std::atomic<bool> Resetting_{false};
    bool Looping_ = false;
    uint16_t LoopCount_ = 0;
    int32_t LoopsLeft_ = 0;
    int64_t LoopStartPos_ = 0;    // samples
    int64_t AccumulatedPos_ = 0;  // samples played before a reset of the device position
    uint64_t BytesPlayed_ = 0;    // sum of dwBufferLength of returned buffers
    bool MoreBuffers_ = false;
    int32_t NumBuffers_ = 10;
    int32_t UsedBuffers_ = 0;
    std::atomic<int32_t> QueuedCount_{0};
    TMMTimeFormats TimeFormat_ = TMMTimeFormats::tfByte;
    bool ShowHourGlass_ = true;
    int64_t StopPosition_ = 0;
    uint64_t LastUnderruns_ = 0, LastXruns_ = 0;
    std::mutex Lock_; // bytes played, queue count increments, loop bookkeeping, Pause, Stop
    bool Destroying_ = false;
};

} // namespace zelvox
