#pragma once
// TMidiInput: one MIDI input device. The service's driver callback queues short messages and
// returned system-exclusive buffers in a fixed ring; the component's hidden window raises
// OnMidiInput on the main thread, whose handler takes the events with NextEvent.
//
// Calling order: set ProductName (or DeviceID), Open, Start; on OnMidiInput call NextEvent
// while PendingCount > 0; Close before choosing another device or to stop input.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/Circbuf.h"
#include "midi/MessageWindow.h"
#include "midi/MidiInService.h"
#include "midi/Miditype.h"

namespace zelvox {

class TMidiInput {
public:
    enum class MidiInputState { Open = 0, Closed = 1, Creating = 2 };
    using NotifyEvent = std::function<void(TMidiInput& sender)>;

    // Counts the devices once and selects device 0: with no device at all this throws
    // EMidiInputError("Invalid device ID"). Events are posted to queue (null: the program's
    // default main-thread queue).
    explicit TMidiInput(MidiInService& service, MainThreadQueue* queue = nullptr);
    ~TMidiInput();
    TMidiInput(const TMidiInput&) = delete;
    TMidiInput& operator=(const TMidiInput&) = delete;

    const std::string& ProductName() const { return ProductName_; }
    void SetProductName(const std::string& name);
    uint16_t DeviceID() const { return DeviceID_; }
    void SetDeviceID(uint16_t id);
    uint16_t Capacity() const { return Capacity_; }
    void SetCapacity(uint16_t c) { Capacity_ = c; } // takes effect at the next Open
    uint16_t Error() const { return Error_; }       // result of the last service call
    uint16_t SysexBufferSize() const { return SysexBufferSize_; }
    void SetSysexBufferSize(uint16_t size);
    uint16_t SysexBufferCount() const { return SysexBufferCount_; }
    void SetSysexBufferCount(uint16_t count);
    bool SysexOnly() const { return SysexOnly_; }
    void SetSysexOnly(bool only); // allowed while open; the callback sees it at once

    NotifyEvent OnMidiInput; // events are waiting
    NotifyEvent OnOverflow;  // the ring was full and an event was dropped
    // The open device went away (its server shut down): the component has closed it, and
    // GoneReason says why. Opening again is the way back.
    NotifyEvent OnDeviceGone;
    const std::string& GoneReason() const { return GoneReason_; }

    // While the owner is being built from a stored layout a stored ProductName is ignored.
    void SetLoading(bool loading) { Loading_ = loading; }

    uint16_t NumDevices() const { return NumDevices_; }
    uint32_t DriverVersion() const { return DriverVersion_; }
    uint16_t ManufacturerID() const { return ManufacturerID_; }
    uint16_t ProductID() const { return ProductID_; }
    MidiInputState State() const { return State_; }
    bool IsOpen() const { return State_ == MidiInputState::Open; }

    // Opens device DeviceID. A failure raises nothing: the component stays closed and Error
    // holds the failing call's result. It also returns false and leaves the service's text for
    // the failure in OpenFailureText, so that the user can be told (empty after a success).
    bool Open();
    const std::string& OpenFailureText() const { return OpenFailureText_; }
    void Start();
    void Close();

    uint16_t PendingCount() const;
    // The oldest queued event, or none when not open or nothing is queued.
    std::unique_ptr<TMyMidiEvent> NextEvent();

    // The text for a service result code, as raised in EMidiInputError.
    std::string ErrorText(uint16_t code) const;

private:
    // What the driver callback gets as its instance value; lives from the first Open to the
    // component's end, so a late callback never meets freed memory.
    struct CallbackInstance {
        std::atomic<Circbuf*> Ring{nullptr};
        MessageWindow* Window = nullptr;
        std::atomic<bool> SysexOnly{false};
    };

    static void DriverCallback(MidiInMsg msg, void* instance, uintptr_t param1, uintptr_t param2);
    [[noreturn]] void Raise(uint16_t code) const;
    void Check(MidiResult r); // Error := r; raises the service's text on failure
    void ReleaseAfterFailedOpen();
    void WindowData();
    void WindowOverflow();
    void WindowGone();

    MidiInService& Service_;
    std::string ProductName_;
    uint16_t DeviceID_ = 0;
    uint16_t Capacity_ = 1024;
    uint16_t Error_ = 0;
    uint16_t SysexBufferSize_ = 4096;
    uint16_t SysexBufferCount_ = 16;
    bool SysexOnly_ = false;
    bool Loading_ = false;

    std::unique_ptr<MessageWindow> Window_;
    std::unique_ptr<MidiInPort> Handle_;
    MidiInputState State_ = MidiInputState::Creating;
    uint32_t DriverVersion_ = 0;
    uint16_t ManufacturerID_ = 0;
    uint16_t ProductID_ = 0;
    uint16_t NumDevices_ = 0;
    std::unique_ptr<Circbuf> EventRing_;
    std::unique_ptr<std::vector<std::unique_ptr<TMyMidiHdr>>> SysexHeaders_;
    std::unique_ptr<CallbackInstance> Instance_;
    std::string OpenFailureText_;
    std::string GoneReason_;
};

} // namespace zelvox
