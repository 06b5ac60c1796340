// libFuzzer entry: a WAV file's layout read, attached as a source.
#include "fuzz/FuzzWaveRead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::WaveReadOne(data, size);
    return 0;
}
