#pragma once
// The platform's MIDI input service, as the MIDI input component uses it. Implementations:
// backends/RtMidiInService (JACK and the ALSA sequencer) and backends/ScriptedMidiIn (tests).
//
// Devices are numbered 0 .. GetNumDevs() - 1; GetNumDevs takes a snapshot of the devices that
// the other calls refer to until it is called again.

#include <cstdint>
#include <memory>
#include <string>

#include "midi/Miditype.h"

namespace zelvox {

struct MidiInCaps {
    uint16_t ManufacturerID = 0;
    uint16_t ProductID = 0;
    uint32_t DriverVersion = 0;
    std::string ProductName;
};

// One open input device. Destroying it without Close releases it as well as it can.
class MidiInPort {
public:
    virtual ~MidiInPort() = default;
    virtual MidiResult PrepareHeader(MidiHdr& hdr) = 0;
    virtual MidiResult UnprepareHeader(MidiHdr& hdr) = 0;
    // Queues a prepared system-exclusive buffer; the service hands it back through the
    // callback (LongData) when filled or when the input is reset.
    virtual MidiResult AddBuffer(MidiHdr& hdr) = 0;
    // Begins delivering input to the callback; the timestamps count from here.
    virtual MidiResult Start() = 0;
    // Stops input and hands every queued buffer back through the callback, empty. When it
    // returns, the callback is not running and will not run again until Start.
    virtual MidiResult Reset() = 0;
    virtual MidiResult Close() = 0;
    // After the service sent Gone: why, in the service's words.
    virtual std::string GoneReason() const { return "the device went away"; }
};

class MidiInService {
public:
    virtual ~MidiInService() = default;
    virtual uint16_t GetNumDevs() = 0;
    virtual MidiResult GetDevCaps(uint16_t deviceId, MidiInCaps& caps) = 0;
    // The service's own text for a result code; empty when it has none.
    virtual std::string GetErrorText(MidiResult code) = 0;
    virtual MidiResult Open(uint16_t deviceId, MidiInProc proc, void* instance,
                            std::unique_ptr<MidiInPort>& port) = 0;
    // Why the last GetNumDevs found no devices, in the service's words; empty if it cannot say.
    virtual std::string NoDeviceReason() const { return {}; }
};

// Standard wording of the result codes, shared by the services.
std::string StandardMidiErrorText(MidiResult code);

} // namespace zelvox
