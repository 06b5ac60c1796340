// libFuzzer entry: a pattern file loaded as File -> Load pattern does, then played.
#include "fuzz/FuzzPatternFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::PatternFileInSession(data, size);
    return 0;
}
