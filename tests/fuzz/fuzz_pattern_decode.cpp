// libFuzzer entry: the pattern file's bytes into a synth's store and globals, no sound.
#include "fuzz/FuzzPatternDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::PatternDecodeInSession(data, size);
    return 0;
}
