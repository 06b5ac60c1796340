#pragma once
// A MIDI input service driven by a script instead of hardware, for tests: a list of devices,
// injectable failures, and Send* calls that run the driver callback on the calling thread the
// way a driver would (only while a device is open and started).

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiInService.h"

namespace zelvox {

class ScriptedMidiIn : public MidiInService {
public:
    struct Device {
        std::string Name;
        uint16_t ManufacturerID = 1;
        uint16_t ProductID = 1;
        uint32_t DriverVersion = 0x0100;
        MidiResult CapsResult = kMidiNoError; // what reading its capabilities returns
        MidiResult OpenResult = kMidiNoError; // e.g. kMidiErrAllocated: held by someone else
    };
    // Calls of an open port that can be made to fail once.
    enum class Op { Prepare, Unprepare, AddBuffer, Start, Reset, Close, Count };

    explicit ScriptedMidiIn(std::vector<Device> devices = {});
    ~ScriptedMidiIn() override;

    std::vector<Device> Devices;
    std::string DriverText; // the service's text for kMidiErrNoDriver when set

    uint16_t GetNumDevs() override;
    MidiResult GetDevCaps(uint16_t deviceId, MidiInCaps& caps) override;
    std::string GetErrorText(MidiResult code) override;
    MidiResult Open(uint16_t deviceId, MidiInProc proc, void* instance,
                    std::unique_ptr<MidiInPort>& port) override;

    // Makes the next call of op on an open port return code.
    void FailNext(Op op, MidiResult code) { Fail_[static_cast<size_t>(op)] = code; }

    // Driver side. Each returns false when nothing was delivered (not open or not started;
    // for system-exclusive data also when no buffer is queued).
    bool SendShort(uint32_t message, uint32_t timestamp = 0);
    bool SendShort(uint8_t status, uint8_t data1, uint8_t data2, uint32_t timestamp = 0) {
        return SendShort(status | (uint32_t(data1) << 8) | (uint32_t(data2) << 16), timestamp);
    }
    bool SendSysex(const std::vector<uint8_t>& bytes, uint32_t timestamp = 0);
    // The open device goes away for good, as when its server shuts down.
    bool SendGone();

    bool IsOpen() const { return Port_ != nullptr; }
    bool IsStarted() const;
    int OpenDevice() const { return OpenDevice_; } // -1 when none
    size_t QueuedBuffers() const;
    int Opens = 0;  // successful opens so far
    int Closes = 0; // successful closes so far

private:
    class Port;
    friend class Port;
    MidiResult TakeFailure(Op op);

    std::array<MidiResult, static_cast<size_t>(Op::Count)> Fail_{};
    Port* Port_ = nullptr;
    int OpenDevice_ = -1;
};

} // namespace zelvox
