#pragma once
// Atoms from a host are trusted only as far as their own sizes reach. Before LV2's iterators
// walk a sequence or an object, each event must lie inside its sequence and each property
// inside its object: a property claiming nearly 4 GiB makes lv2_atom_object_next wrap round
// to the property it stands on, so a walk over it never ends, and an event claiming more
// than its sequence holds would be read past the host's buffer.

#include <cstddef>
#include <cstdint>

#include <lv2/atom/atom.h>

namespace zelvox::lv2 {

// Every property of the object lies inside it (the last one's padding may run past its end,
// as LV2 allows).
inline bool PropertiesFit(const LV2_Atom_Object* obj) {
    if (obj->atom.size < sizeof(LV2_Atom_Object_Body)) return false;
    const auto* body = reinterpret_cast<const uint8_t*>(&obj->body);
    const size_t end = obj->atom.size;
    size_t at = sizeof(LV2_Atom_Object_Body);
    while (at < end) {
        if (end - at < sizeof(LV2_Atom_Property_Body)) return false;
        const auto* property = reinterpret_cast<const LV2_Atom_Property_Body*>(body + at);
        const size_t whole = sizeof(LV2_Atom_Property_Body) + size_t(property->value.size);
        if (whole > end - at) return false;
        at += (whole + 7) & ~size_t{7};
    }
    return true;
}

// The event, header and body, lies inside the sequence `seq` it was found in.
inline bool EventFits(const LV2_Atom_Sequence* seq, const LV2_Atom_Event* ev) {
    const auto* end = reinterpret_cast<const uint8_t*>(&seq->body) + seq->atom.size;
    const auto* at = reinterpret_cast<const uint8_t*>(ev);
    if (at > end || size_t(end - at) < sizeof(LV2_Atom_Event)) return false;
    return ev->body.size <= size_t(end - at) - sizeof(LV2_Atom_Event);
}

// The atom holds at least `bytes` of body (a number's atom its number).
inline bool Holds(const LV2_Atom* a, size_t bytes) {
    return a && a->size >= bytes;
}

} // namespace zelvox::lv2
