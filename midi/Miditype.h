#pragma once
// Records shared by the MIDI input component, its ring and the MIDI services: the result codes
// and callback kinds of a MIDI input service, the system-exclusive buffer header, the event
// handed to the main thread, and the component's exception class.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace zelvox {

// Result of a MIDI service call; 0 is success. The numbers follow the classic multimedia
// result codes so that a code read in a log means the same thing everywhere.
enum MidiResult : uint16_t {
    kMidiNoError = 0,
    kMidiErrUnspecified = 1,
    kMidiErrBadDeviceId = 2,
    kMidiErrNotEnabled = 3,
    kMidiErrAllocated = 4,     // the device is held by another client
    kMidiErrInvalidHandle = 5, // the device is not open
    kMidiErrNoDriver = 6,      // no MIDI service behind the device (server gone, ...)
    kMidiErrNoMem = 7,
    kMidiErrInvalidParam = 11,
    kMidiErrUnprepared = 64,   // a header handed over without being prepared
    kMidiErrStillPlaying = 65, // buffers still queued at close
};

// What the driver callback is told about.
enum class MidiInMsg : uint32_t {
    Open,
    Close,
    Data,      // param1: short message (status | data1 << 8 | data2 << 16), param2: time in ms
    LongData,  // param1: MidiHdr* of a returned system-exclusive buffer, param2: time in ms
    Error,     // an invalid short message (ignored by the component)
    LongError, // a system-exclusive buffer returned with an error; same params as LongData
    MoreData,
    Gone,      // the device went away for good (its server shut down); no params
};

// The driver callback: runs on the service's thread; must not block or allocate.
using MidiInProc = void (*)(MidiInMsg msg, void* instance, uintptr_t param1, uintptr_t param2);

constexpr uint32_t kMhdrDone = 0x1;     // the service has filled and returned the buffer
constexpr uint32_t kMhdrPrepared = 0x2; // prepared for use with the service
constexpr uint32_t kMhdrInQueue = 0x4;  // handed to the service, not yet returned

// Header of one system-exclusive input buffer.
struct MidiHdr {
    uint8_t* lpData = nullptr;     // the buffer's bytes
    uint32_t dwBufferLength = 0;   // bytes available at lpData
    uint32_t dwBytesRecorded = 0;  // bytes the service wrote, 0..dwBufferLength
    uintptr_t dwUser = 0;          // owner's value: the TMyMidiHdr holding this header
    uint32_t dwFlags = 0;          // kMhdr* bits
    MidiHdr* lpNext = nullptr;     // link used by the service while the buffer is queued
};

// One system-exclusive buffer: the header and the data block it points at.
class TMyMidiHdr {
public:
    explicit TMyMidiHdr(uint32_t bufferSize);
    TMyMidiHdr(const TMyMidiHdr&) = delete;
    TMyMidiHdr& operator=(const TMyMidiHdr&) = delete;

    MidiHdr Hdr;

private:
    std::unique_ptr<uint8_t[]> Data_;
};

// One received event, owned by whoever took it from the component.
struct TMyMidiEvent {
    uint8_t Status = 0;   // status byte; 0xF0 for a system-exclusive event
    uint8_t Param1 = 0;   // first data byte; 0 for system-exclusive
    uint8_t Param2 = 0;   // second data byte; 0 for system-exclusive
    uint32_t Timestamp = 0; // ms since the device was started
    uint16_t SysexCount = 0; // system-exclusive bytes in SysexBytes; 0 for short messages
    std::unique_ptr<uint8_t[]> SysexBytes;
};

class EMidiInputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zelvox
