#pragma once
// The text a control's value reads as while it is turned, in the control's units.

#include <cstdint>
#include <string>

#include "sequencer/ControlTable.h"

namespace zelvox {

// "429 ms" for Delay 4 at tempo 140 (what the echo will be set to, at most kEchoMaxDelayMs),
// "60 %" for Depth 60, "140 BPM" for Tempo 140, the plain number for controls without units.
std::string ControlValueText(ControlId id, int32_t value, int32_t tempo);

} // namespace zelvox
