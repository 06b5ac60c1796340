// libFuzzer entry: an existing file chosen as the recording's WAV file.
#include "fuzz/FuzzWaveLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::WaveLayoutOne(data, size);
    return 0;
}
