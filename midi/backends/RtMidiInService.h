#pragma once
// MIDI input on JACK and the ALSA sequencer, whichever answer: the ALSA sequencer through
// RtMidi, JACK through its own client (one client lists the sources; the open port's client
// learns when the server shuts down, and the input then reports the device gone).
//
// The device list, per API that works on this machine: first the program's own input port
// (a virtual port that any source can be connected to, e.g. "Zelvox MIDI input (JACK)"), then
// every MIDI source the API lists, by its port name. An API whose server is not running, or
// which cannot be created at all (no /dev/snd/seq), contributes no devices; with neither API
// the list is empty.

#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiInService.h"

namespace zelvox {

class RtMidiInService : public MidiInService {
public:
    enum class Api { Jack, AlsaSequencer };

    // clientName: the name the program's client carries in JACK or the ALSA sequencer.
    // portName: the name of its input port.
    explicit RtMidiInService(std::string clientName = "Zelvox", std::string portName = "midi_in",
                             std::vector<Api> apis = {Api::Jack, Api::AlsaSequencer});

    uint16_t GetNumDevs() override;
    MidiResult GetDevCaps(uint16_t deviceId, MidiInCaps& caps) override;
    std::string GetErrorText(MidiResult code) override;
    MidiResult Open(uint16_t deviceId, MidiInProc proc, void* instance,
                    std::unique_ptr<MidiInPort>& port) override;

    std::string NoDeviceReason() const override;

    // Why each API that gave no devices did so (for the setup's message), one line each.
    const std::vector<std::string>& Unavailable() const { return Unavailable_; }

    const std::string& ClientName() const { return ClientName_; }
    const std::string& PortName() const { return PortName_; }

    struct Entry {
        Api Which;
        bool Virtual;       // the program's own input port
        std::string Source; // the source's port name (not for the virtual port)
        std::string Name;   // what the device list shows
    };

private:
    void Enumerate(Api api);
    void Fail(MidiResult code, const std::string& text);

    std::string ClientName_, PortName_;
    std::vector<Api> Apis_;
    std::vector<Entry> Devices_;
    std::vector<std::string> Unavailable_;
    MidiResult LastCode_ = kMidiNoError;
    std::string LastText_; // the service's message for LastCode_
};

} // namespace zelvox
