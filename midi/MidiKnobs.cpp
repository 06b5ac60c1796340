#include "midi/MidiKnobs.h"

#include "ui/MainForm.h"

namespace zelvox {

MidiKnobTable MidiKnobsOf(MainForm& form) {
    MidiKnobTable t{};
    t[0] = &form.MMWheel1;
    t[1] = &form.MMWheel2;
    t[2] = &form.MMWheel3;
    t[3] = &form.MMWheel4;
    t[4] = &form.MMWheel5;
    t[5] = &form.MMWheel7;
    t[6] = &form.MMWheel9;
    t[10] = &form.MMWheel8;
    t[11] = &form.MMWheel10;
    t[12] = &form.MMWheel11;
    t[20] = &form.MMWheel12;
    t[21] = &form.MMWheel13;
    t[22] = &form.MMWheel14;
    t[23] = &form.MMWheel15;
    return t;
}

} // namespace zelvox
