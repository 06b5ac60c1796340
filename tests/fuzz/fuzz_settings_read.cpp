// libFuzzer entry: the settings file's text, looked up as every read looks it up.
#include "fuzz/FuzzSettingsRead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelvox::fuzz::SettingsReadOne(data, size);
    return 0;
}
