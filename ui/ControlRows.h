#pragma once
// Control models made from rows of the control table: name, range, start value, caption.

#include "sequencer/ControlTable.h"
#include "ui/Controls.h"

namespace zelvox {

inline ValueControl ValueControlFor(ControlId id) {
    const ControlRow& row = ControlRowOf(id);
    return ValueControl(row.DesignName, row.Min, row.Max, row.Start, row.Caption);
}

inline Switch SwitchFor(ControlId id) {
    const ControlRow& row = ControlRowOf(id);
    return Switch(row.DesignName, row.Caption, row.BottomCaption, row.Start);
}

} // namespace zelvox
