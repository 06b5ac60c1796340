// libFuzzer entry: MIDI bytes split into messages and taken by the low-latency synth.
#include "fuzz/FuzzMidiParse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::MidiParseInSession(data, size);
    return 0;
}
