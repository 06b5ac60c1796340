#include "devices/backends/ScriptedDevice.h"

namespace zelvox {

int32_t ScriptedWaveOutDevice::GetCaps(WaveOutCaps& caps) {
    caps = Caps;
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::QueryFormat(const WaveOutFormat&) { return QueryResult; }

int32_t ScriptedWaveOutDevice::Open(const WaveOutFormat& format, WaveOutProc proc,
                                    void* instance) {
    Calls.push_back("Open");
    if (IsOpen) return kMmsyserrAllocated;
    if (OpenResult != kMmsyserrNoError) return OpenResult;
    IsOpen = true;
    Format = format;
    Proc_ = proc;
    Instance_ = instance;
    Paused = false;
    Failed_ = false;
    PositionBytes_ = 0;
    if (SendOpenNotification) Proc_(Instance_, kWomOpen, nullptr);
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::Write(void* token, const uint8_t* data, uint32_t bytes) {
    Calls.push_back("Write");
    if (!IsOpen) return kMmsyserrInvalHandle;
    if (Failed_) return kMmsyserrNoDriver;
    if (WriteResult != kMmsyserrNoError) return WriteResult;
    Queue_.push_back(Pending{token, data, bytes});
    ++Writes;
    return kMmsyserrNoError;
}

size_t ScriptedWaveOutDevice::Complete(size_t n) {
    size_t done = 0;
    while (done < n && !Queue_.empty()) {
        Pending p = Queue_.front();
        Queue_.pop_front();
        Played.insert(Played.end(), p.Data, p.Data + p.Bytes);
        PositionBytes_ += p.Bytes;
        ++done;
        Proc_(Instance_, kWomDone, p.Token);
    }
    return done;
}

void ScriptedWaveOutDevice::Fail() {
    Failed_ = true;
    if (IsOpen) Proc_(Instance_, kWomFailed, nullptr);
}

int32_t ScriptedWaveOutDevice::Pause() {
    Calls.push_back("Pause");
    if (!IsOpen) return kMmsyserrInvalHandle;
    Paused = true;
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::Restart() {
    Calls.push_back("Restart");
    if (!IsOpen) return kMmsyserrInvalHandle;
    Paused = false;
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::Reset() {
    Calls.push_back("Reset");
    if (!IsOpen) return kMmsyserrInvalHandle;
    PositionBytes_ = 0;
    while (!Queue_.empty()) {
        Pending p = Queue_.front();
        Queue_.pop_front();
        Proc_(Instance_, kWomDone, p.Token);
    }
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::Close() {
    Calls.push_back("Close");
    if (!IsOpen) return kMmsyserrInvalHandle;
    if (!Queue_.empty()) return kWaverrStillPlaying;
    IsOpen = false;
    if (SendCloseNotification) Proc_(Instance_, kWomClose, nullptr);
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutDevice::GetPosition(uint64_t& samples) {
    if (!IsOpen) return kMmsyserrInvalHandle;
    uint16_t align = Format.BlockAlign();
    samples = align ? PositionBytes_ / align : 0;
    return kMmsyserrNoError;
}

int32_t ScriptedWaveOutSystem::GetDevCaps(int32_t id, WaveOutCaps& caps) {
    if (id < -1 || id >= NumDevs) return kMmsyserrBadDeviceId;
    ScriptedWaveOutDevice d;
    if (Setup) Setup(d);
    caps = d.Caps;
    return kMmsyserrNoError;
}

std::unique_ptr<WaveOutDevice> ScriptedWaveOutSystem::CreateDevice(int32_t id) {
    if (id < -1 || id >= NumDevs) return nullptr;
    auto d = std::make_unique<ScriptedWaveOutDevice>();
    if (Setup) Setup(*d);
    Last = d.get();
    return d;
}

} // namespace zelvox
