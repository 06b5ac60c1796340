#include "sequencer/NotesIn.h"

#include <algorithm>

namespace zelvox {

NoteInAction ReadNoteIn(const NotesInSetup& setup, const uint8_t* msg, size_t size) {
    if (!setup.On() || size < 3 || (msg[0] & 0xF0) != 0x90 || msg[2] == 0) return {};
    if ((msg[0] & 0x0F) != setup.Channel) return {};
    const int32_t note = msg[1] & 0x7F;
    if (setup.Patterns && note >= setup.FirstPattern && note < setup.FirstPattern + 16)
        return {NoteInAction::Kind::Pattern, note - setup.FirstPattern + 1};
    if (setup.Transpose) return {NoteInAction::Kind::Transpose, note - setup.Root};
    return {};
}

NotesInSetup Limited(const NotesInSetup& setup) {
    NotesInSetup s = setup;
    s.Channel = std::clamp(s.Channel, 0, 15);
    s.Root = std::clamp(s.Root, 0, 127);
    s.FirstPattern = std::clamp(s.FirstPattern, 0, 112);
    return s;
}

int32_t PackNotesIn(const NotesInSetup& setup) {
    const NotesInSetup s = Limited(setup);
    return (s.Transpose ? 1 : 0) | (s.Patterns ? 2 : 0) | s.Channel << 4 | s.Root << 8 |
           s.FirstPattern << 16;
}

NotesInSetup UnpackNotesIn(int32_t packed) {
    NotesInSetup s;
    s.Transpose = (packed & 1) != 0;
    s.Patterns = (packed & 2) != 0;
    s.Channel = (packed >> 4) & 0x0F;
    s.Root = (packed >> 8) & 0x7F;
    s.FirstPattern = (packed >> 16) & 0x7F;
    return Limited(s);
}

} // namespace zelvox
