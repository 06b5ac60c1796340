#include "midi/MidiIn.h"

#include <cstring>
#include <new>

namespace zelvox {

TMidiInput::TMidiInput(MidiInService& service, MainThreadQueue* queue) : Service_(service) {
    State_ = MidiInputState::Creating;
    SysexOnly_ = false;
    NumDevices_ = Service_.GetNumDevs();
    SetDeviceID(0);
    Capacity_ = 1024;
    SysexBufferSize_ = 4096;
    SysexBufferCount_ = 16;
    Window_ = std::make_unique<MessageWindow>(
        queue ? *queue : DefaultMainThreadQueue(), [this] { WindowData(); },
        [this] { WindowOverflow(); }, [this] { WindowGone(); });
    State_ = MidiInputState::Closed;
}

TMidiInput::~TMidiInput() {
    if (Handle_) {
        try {
            if (IsOpen()) Close();
        } catch (const EMidiInputError&) {
            // Nothing to tell anyone any more; the port below is released regardless.
        }
        Handle_.reset();
    }
    Instance_.reset();
    Window_.reset();
}

std::string TMidiInput::ErrorText(uint16_t code) const {
    std::string text = Service_.GetErrorText(static_cast<MidiResult>(code));
    if (text.empty()) return "Specified error number is out of range";
    if (text.size() > 127) text.resize(127); // the platform's text buffer holds 128 characters
    return text;
}

void TMidiInput::Raise(uint16_t code) const { throw EMidiInputError(ErrorText(code)); }

void TMidiInput::Check(MidiResult r) {
    Error_ = r;
    if (r != kMidiNoError) Raise(r);
}

void TMidiInput::SetDeviceID(uint16_t id) {
    if (State_ == MidiInputState::Open)
        throw EMidiInputError("Change to DeviceID while device was open");
    if (id >= NumDevices_) throw EMidiInputError("Invalid device ID");
    DeviceID_ = id;
    MidiInCaps caps;
    Check(Service_.GetDevCaps(id, caps));
    ProductName_ = caps.ProductName;
    DriverVersion_ = caps.DriverVersion;
    ManufacturerID_ = caps.ManufacturerID;
    ProductID_ = caps.ProductID;
}

void TMidiInput::SetProductName(const std::string& name) {
    if (State_ == MidiInputState::Open)
        throw EMidiInputError("Change to ProductName while device was open");
    if (Loading_) return;
    for (uint16_t i = 0; i < NumDevices_; ++i) {
        MidiInCaps caps;
        Check(Service_.GetDevCaps(i, caps));
        if (caps.ProductName == name) {
            ProductName_ = name;
            SetDeviceID(i);
            return;
        }
    }
    throw EMidiInputError("MIDI Input Device " + name + " not installed ");
}

void TMidiInput::SetSysexBufferSize(uint16_t size) {
    if (State_ == MidiInputState::Open)
        throw EMidiInputError("Change to SysexBufferSize while device was open");
    SysexBufferSize_ = size;
}

void TMidiInput::SetSysexBufferCount(uint16_t count) {
    if (State_ == MidiInputState::Open)
        throw EMidiInputError("Change to SysexBuffercount while device was open");
    SysexBufferCount_ = count;
}

void TMidiInput::SetSysexOnly(bool only) {
    SysexOnly_ = only;
    if (Instance_) Instance_->SysexOnly.store(only, std::memory_order_relaxed);
}

namespace {
// Open's own failure path: the result code is already in Error.
struct OpenFailed {};
} // namespace

bool TMidiInput::Open() {
    if (State_ == MidiInputState::Open) return true;
    OpenFailureText_.clear();
    GoneReason_.clear();
    try {
        if (!EventRing_) EventRing_ = std::make_unique<Circbuf>(Capacity_);
        if (!Instance_) Instance_ = std::make_unique<CallbackInstance>();
        Instance_->Ring.store(EventRing_.get(), std::memory_order_release);
        Instance_->Window = Window_.get();
        Instance_->SysexOnly.store(SysexOnly_, std::memory_order_relaxed);

        Error_ = Service_.Open(DeviceID_, &DriverCallback, Instance_.get(), Handle_);
        if (Error_ != kMidiNoError) throw OpenFailed{};

        if (SysexBufferCount_ != 0 && SysexBufferSize_ != 0) {
            SysexHeaders_ = std::make_unique<std::vector<std::unique_ptr<TMyMidiHdr>>>();
            SysexHeaders_->reserve(SysexBufferCount_);
            for (uint16_t i = 0; i < SysexBufferCount_; ++i) {
                auto hdr = std::make_unique<TMyMidiHdr>(SysexBufferSize_);
                Error_ = Handle_->PrepareHeader(hdr->Hdr);
                if (Error_ != kMidiNoError) throw OpenFailed{};
                SysexHeaders_->push_back(std::move(hdr));
            }
            for (auto& hdr : *SysexHeaders_) {
                Error_ = Handle_->AddBuffer(hdr->Hdr);
                if (Error_ != kMidiNoError) throw OpenFailed{};
            }
        }
        State_ = MidiInputState::Open;
        return true;
    } catch (const OpenFailed&) {
        OpenFailureText_ = ErrorText(Error_);
    } catch (const std::bad_alloc&) {
        Error_ = kMidiErrNoMem;
        OpenFailureText_ = ErrorText(Error_);
    }
    ReleaseAfterFailedOpen();
    return false;
}

void TMidiInput::ReleaseAfterFailedOpen() {
    // A device that did open is reset and closed again, so that it is not left held by a
    // component that believes it is closed. The codes of this clean-up are not kept: Error
    // keeps the result of the call that failed.
    if (Handle_) {
        Handle_->Reset();
        if (SysexHeaders_)
            for (auto& hdr : *SysexHeaders_) Handle_->UnprepareHeader(hdr->Hdr);
        Handle_->Close();
        Handle_.reset();
    }
    SysexHeaders_.reset();
    if (Instance_) Instance_->Ring.store(nullptr, std::memory_order_release);
    EventRing_.reset();
    Instance_.reset();
}

void TMidiInput::Start() {
    if (State_ != MidiInputState::Open) return;
    Check(Handle_->Start());
}

void TMidiInput::Close() {
    if (State_ != MidiInputState::Open) return;
    State_ = MidiInputState::Closed;
    Check(Handle_->Reset());
    if (SysexHeaders_) {
        for (auto& hdr : *SysexHeaders_) Check(Handle_->UnprepareHeader(hdr->Hdr));
        SysexHeaders_.reset();
    }
    Check(Handle_->Close());
    Handle_.reset();
    // The service has stopped calling back: the ring can go.
    Instance_->Ring.store(nullptr, std::memory_order_release);
    EventRing_.reset();
}

uint16_t TMidiInput::PendingCount() const {
    if (State_ != MidiInputState::Open || !EventRing_) return 0;
    return EventRing_->Count();
}

std::unique_ptr<TMyMidiEvent> TMidiInput::NextEvent() {
    MidiBufferItem item;
    if (State_ != MidiInputState::Open || !EventRing_ || !EventRing_->Peek(item)) return nullptr;
    auto event = std::make_unique<TMyMidiEvent>();
    event->Timestamp = item.Timestamp;
    if (item.SysexHeader == nullptr) {
        event->Status = static_cast<uint8_t>(item.ShortMessage & 0xFF);
        event->Param1 = static_cast<uint8_t>((item.ShortMessage >> 8) & 0xFF);
        event->Param2 = static_cast<uint8_t>((item.ShortMessage >> 16) & 0xFF);
    } else {
        MidiHdr& hdr = *item.SysexHeader;
        event->Status = 0xF0;
        // A service never records more than the buffer holds; trust neither side blindly.
        uint32_t count = hdr.dwBytesRecorded;
        if (count > hdr.dwBufferLength) count = hdr.dwBufferLength;
        if (count > 0xFFFF) count = 0xFFFF;
        event->SysexCount = static_cast<uint16_t>(count);
        if (count != 0) {
            event->SysexBytes = std::make_unique<uint8_t[]>(count);
            std::memcpy(event->SysexBytes.get(), hdr.lpData, count);
        }
        Check(Handle_->PrepareHeader(hdr));
        Check(Handle_->AddBuffer(hdr));
    }
    EventRing_->Remove();
    return event;
}

void TMidiInput::DriverCallback(MidiInMsg msg, void* instance, uintptr_t param1,
                                uintptr_t param2) {
    auto* ci = static_cast<CallbackInstance*>(instance);
    if (ci == nullptr) return;
    Circbuf* ring = ci->Ring.load(std::memory_order_acquire);
    if (ring == nullptr) return;
    MidiBufferItem item;
    item.Timestamp = static_cast<uint32_t>(param2);
    switch (msg) {
    case MidiInMsg::Data:
        // Active sensing and timing clock arrive continuously from many devices.
        if (param1 == 0xFE || param1 == 0xF8) return;
        if (ci->SysexOnly.load(std::memory_order_relaxed)) return;
        item.ShortMessage = static_cast<uint32_t>(param1);
        break;
    case MidiInMsg::LongData:
    case MidiInMsg::LongError:
        item.SysexHeader = reinterpret_cast<MidiHdr*>(param1);
        break;
    case MidiInMsg::Gone:
        ci->Window->PostGone();
        return;
    default:
        return;
    }
    if (ring->Put(item))
        ci->Window->PostData();
    else
        ci->Window->PostOverflow();
}

void TMidiInput::WindowData() {
    if (OnMidiInput && State_ == MidiInputState::Open && PendingCount() > 0) OnMidiInput(*this);
}

void TMidiInput::WindowGone() {
    if (State_ != MidiInputState::Open) return;
    // Release the dead connection at once: a client of a server that has gone must be let go
    // before a new server comes up under the same name.
    GoneReason_ = Handle_ ? Handle_->GoneReason() : std::string();
    try {
        Close();
    } catch (const EMidiInputError&) {
        Handle_.reset(); // what is left goes regardless
        SysexHeaders_.reset();
        if (Instance_) Instance_->Ring.store(nullptr, std::memory_order_release);
        EventRing_.reset();
        State_ = MidiInputState::Closed;
    }
    if (OnDeviceGone) OnDeviceGone(*this);
}

void TMidiInput::WindowOverflow() {
    if (OnOverflow && State_ == MidiInputState::Open) OnOverflow(*this);
}

} // namespace zelvox
