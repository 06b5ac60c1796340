#include "midi/backends/ScriptedMidiIn.h"

#include <algorithm>
#include <cstring>

namespace zelvox {

class ScriptedMidiIn::Port : public MidiInPort {
public:
    Port(ScriptedMidiIn& owner, MidiInProc proc, void* instance)
        : Owner_(owner), Proc_(proc), Instance_(instance) {}
    ~Port() override {
        if (Owner_.Port_ == this) {
            Owner_.Port_ = nullptr;
            Owner_.OpenDevice_ = -1;
        }
    }

    MidiResult PrepareHeader(MidiHdr& hdr) override {
        if (auto r = Owner_.TakeFailure(Op::Prepare)) return r;
        if (hdr.lpData == nullptr) return kMidiErrInvalidParam;
        hdr.dwFlags |= kMhdrPrepared;
        return kMidiNoError;
    }
    MidiResult UnprepareHeader(MidiHdr& hdr) override {
        if (auto r = Owner_.TakeFailure(Op::Unprepare)) return r;
        if (hdr.dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
        hdr.dwFlags &= ~kMhdrPrepared;
        return kMidiNoError;
    }
    MidiResult AddBuffer(MidiHdr& hdr) override {
        if (auto r = Owner_.TakeFailure(Op::AddBuffer)) return r;
        if (!(hdr.dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
        hdr.dwFlags = (hdr.dwFlags & ~kMhdrDone) | kMhdrInQueue;
        hdr.dwBytesRecorded = 0;
        std::lock_guard<std::mutex> lock(Mutex_);
        Queue_.push_back(&hdr);
        return kMidiNoError;
    }
    MidiResult Start() override {
        if (auto r = Owner_.TakeFailure(Op::Start)) return r;
        Started_ = true;
        return kMidiNoError;
    }
    MidiResult Reset() override {
        if (auto r = Owner_.TakeFailure(Op::Reset)) return r;
        Started_ = false;
        std::deque<MidiHdr*> queued;
        {
            std::lock_guard<std::mutex> lock(Mutex_);
            queued.swap(Queue_);
        }
        for (MidiHdr* hdr : queued) {
            hdr->dwBytesRecorded = 0;
            hdr->dwFlags = (hdr->dwFlags & ~kMhdrInQueue) | kMhdrDone;
            Proc_(MidiInMsg::LongData, Instance_, reinterpret_cast<uintptr_t>(hdr), 0);
        }
        return kMidiNoError;
    }
    MidiResult Close() override {
        if (auto r = Owner_.TakeFailure(Op::Close)) return r;
        {
            std::lock_guard<std::mutex> lock(Mutex_);
            if (!Queue_.empty()) return kMidiErrStillPlaying;
        }
        Proc_(MidiInMsg::Close, Instance_, 0, 0);
        ++Owner_.Closes;
        Owner_.Port_ = nullptr;
        Owner_.OpenDevice_ = -1;
        return kMidiNoError;
    }

    void Gone() { Proc_(MidiInMsg::Gone, Instance_, 0, 0); }
    bool Short(uint32_t message, uint32_t timestamp) {
        if (!Started_) return false;
        Proc_(MidiInMsg::Data, Instance_, message, timestamp);
        return true;
    }
    bool Sysex(const std::vector<uint8_t>& bytes, uint32_t timestamp) {
        if (!Started_) return false;
        // A message longer than one buffer continues in the next, as drivers do.
        size_t done = 0;
        do {
            MidiHdr* hdr;
            {
                std::lock_guard<std::mutex> lock(Mutex_);
                if (Queue_.empty()) return false;
                hdr = Queue_.front();
                Queue_.pop_front();
            }
            const size_t n = std::min<size_t>(bytes.size() - done, hdr->dwBufferLength);
            if (n) std::memcpy(hdr->lpData, bytes.data() + done, n);
            done += n;
            hdr->dwBytesRecorded = static_cast<uint32_t>(n);
            hdr->dwFlags = (hdr->dwFlags & ~kMhdrInQueue) | kMhdrDone;
            Proc_(MidiInMsg::LongData, Instance_, reinterpret_cast<uintptr_t>(hdr), timestamp);
        } while (done < bytes.size());
        return true;
    }
    bool Started() const { return Started_; }
    size_t Queued() const {
        std::lock_guard<std::mutex> lock(Mutex_);
        return Queue_.size();
    }

private:
    ScriptedMidiIn& Owner_;
    MidiInProc Proc_;
    void* Instance_;
    bool Started_ = false;
    mutable std::mutex Mutex_;
    std::deque<MidiHdr*> Queue_;
};

ScriptedMidiIn::ScriptedMidiIn(std::vector<Device> devices) : Devices(std::move(devices)) {}

ScriptedMidiIn::~ScriptedMidiIn() = default;

MidiResult ScriptedMidiIn::TakeFailure(Op op) {
    MidiResult r = Fail_[static_cast<size_t>(op)];
    Fail_[static_cast<size_t>(op)] = kMidiNoError;
    return r;
}

uint16_t ScriptedMidiIn::GetNumDevs() { return static_cast<uint16_t>(Devices.size()); }

MidiResult ScriptedMidiIn::GetDevCaps(uint16_t deviceId, MidiInCaps& caps) {
    if (deviceId >= Devices.size()) return kMidiErrBadDeviceId;
    const Device& d = Devices[deviceId];
    if (d.CapsResult != kMidiNoError) return d.CapsResult;
    caps.ProductName = d.Name;
    caps.ManufacturerID = d.ManufacturerID;
    caps.ProductID = d.ProductID;
    caps.DriverVersion = d.DriverVersion;
    return kMidiNoError;
}

std::string ScriptedMidiIn::GetErrorText(MidiResult code) {
    if (code == kMidiErrNoDriver && !DriverText.empty()) return DriverText;
    return StandardMidiErrorText(code);
}

MidiResult ScriptedMidiIn::Open(uint16_t deviceId, MidiInProc proc, void* instance,
                                std::unique_ptr<MidiInPort>& port) {
    if (deviceId >= Devices.size()) return kMidiErrBadDeviceId;
    if (Devices[deviceId].OpenResult != kMidiNoError) return Devices[deviceId].OpenResult;
    if (Port_ != nullptr) return kMidiErrAllocated;
    auto p = std::make_unique<Port>(*this, proc, instance);
    Port_ = p.get();
    OpenDevice_ = deviceId;
    ++Opens;
    proc(MidiInMsg::Open, instance, 0, 0);
    port = std::move(p);
    return kMidiNoError;
}

bool ScriptedMidiIn::SendShort(uint32_t message, uint32_t timestamp) {
    return Port_ != nullptr && Port_->Short(message, timestamp);
}

bool ScriptedMidiIn::SendSysex(const std::vector<uint8_t>& bytes, uint32_t timestamp) {
    return Port_ != nullptr && Port_->Sysex(bytes, timestamp);
}

bool ScriptedMidiIn::SendGone() {
    if (Port_ == nullptr) return false;
    Port_->Gone();
    return true;
}

bool ScriptedMidiIn::IsStarted() const { return Port_ != nullptr && Port_->Started(); }

size_t ScriptedMidiIn::QueuedBuffers() const { return Port_ ? Port_->Queued() : 0; }

} // namespace zelvox
