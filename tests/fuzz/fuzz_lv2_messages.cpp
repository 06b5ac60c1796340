// libFuzzer entry: the LV2 plugin's atoms, ports, blocks and state, through its descriptor.
// The plugin's source is compiled into this program (see CMakeLists.txt).
#include <cstdlib>

#include "fuzz/FuzzLv2Messages.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The plugin reads the controller table from the user's settings: not this user's.
    static const bool once = [] {
        return ::setenv("XDG_CONFIG_HOME", zelvox::fuzz::ScratchDir::Get().c_str(), 1) == 0;
    }();
    (void)once;
    zelvox::fuzz::Lv2MessagesInSession(lv2_descriptor, data, size);
    return 0;
}
