#include "midi/MidiInService.h"

namespace zelvox {

std::string StandardMidiErrorText(MidiResult code) {
    switch (code) {
    case kMidiNoError: return "The command was carried out.";
    case kMidiErrUnspecified: return "An unspecified error occurred.";
    case kMidiErrBadDeviceId: return "The device identifier is out of range.";
    case kMidiErrNotEnabled: return "The driver failed to enable.";
    case kMidiErrAllocated: return "The device is already in use by another program.";
    case kMidiErrInvalidHandle: return "The device is not open.";
    case kMidiErrNoDriver: return "The MIDI service is not running.";
    case kMidiErrNoMem: return "Not enough memory for the MIDI input.";
    case kMidiErrInvalidParam: return "An invalid parameter was passed.";
    case kMidiErrUnprepared: return "The buffer was not prepared.";
    case kMidiErrStillPlaying: return "Buffers are still queued.";
    }
    return {};
}

} // namespace zelvox
