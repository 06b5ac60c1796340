// libFuzzer entry: the settings file, read with every key the program reads, and one key written.
#include "fuzz/FuzzSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::SettingsOne(data, size);
    return 0;
}
