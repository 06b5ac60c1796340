// libFuzzer entry: MIDI bytes through the driver callback, the ring and the MIDI handler.
#include "fuzz/FuzzMidiStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::MidiStreamOne(data, size);
    return 0;
}
