#include "ui/ControlText.h"

#include <algorithm>

#include "audio/DelayDepth.h"

namespace zelvox {

std::string ControlValueText(ControlId id, int32_t value, int32_t tempo) {
    const ControlUnit unit = UnitOf(id);
    int32_t shown = value;
    if (unit == ControlUnit::Milliseconds)
        shown = std::min(DelayMilliseconds(ClampToControl(ControlId::Tempo, tempo), value),
                         kEchoMaxDelayMs);
    std::string text = std::to_string(shown);
    if (unit != ControlUnit::None) text += std::string(" ") + UnitSymbol(unit);
    return text;
}

} // namespace zelvox
