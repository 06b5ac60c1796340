#pragma once
// The messages between the plugin's window (a process of its own) and the small UI library
// the host loads. One message per datagram of a SOCK_SEQPACKET socket pair: a kind byte, then
// the fields little-endian. Each side treats what arrives as untrusted bytes: Decode refuses
// a message whose size does not match its kind.

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/PatternFileFormat.h"
#include "synth/SynthEdit.h"

namespace zelvox::wire {

enum class Kind : uint8_t {
    // Window -> host
    Hello = 1,     // the window is up (A: the protocol's version)
    PortWrite = 2, // a control port turned in the window (A: port index, Value)
    State = 3,     // the window's patterns, song and knobs: kPatternFileSize bytes
    Size = 4,      // the window's size in pixels (A: width, B: height)
    Closed = 5,    // the user closed the window
    Touch = 6,     // a gesture on control port A begins (B 1) or ends (B 0)
    Controllers = 7, // the MIDI controller table to use: kCCSlots int32, little-endian
    Edit = 8,      // one edit of the window's (synth/SynthEdit.h's wire bytes)
    // Host -> window
    Port = 16,     // a control port's value (A: port index, Value)
    PluginState = 17, // the plugin's state bytes
    Step = 18,     // the plugin began step A of pattern B
    Show = 19,     // raise the window
    Hide = 20,     // hide it (the host keeps the process for the next show)
    Knob = 21,     // MIDI turned control A (a ControlId's number) to B in the plugin
    Stopped = 22,  // the plugin's play stopped
};

constexpr uint32_t kVersion = 1;
// The largest message: the kind byte and the state.
constexpr size_t kMaxMessage = 1 + kPatternFileSize;

struct Message {
    Kind What = Kind::Hello;
    uint32_t A = 0;
    int32_t B = 0;
    float Value = 0.0f;
    std::vector<uint8_t> Bytes; // State, PluginState, Controllers, Edit
};

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A message with no fields but its kind (and A).
inline Message Simple(Kind k, uint32_t a = 0) {
    Message m;
    m.What = k;
    m.A = a;
    return m;
}

// The controller table (a controller number per slot) as a Controllers message, and back.
inline Message ControllersMessage(const std::array<int32_t, kCCSlots>& table) {
    Message m;
    m.What = Kind::Controllers;
    for (int32_t v : table) Put32(m.Bytes, static_cast<uint32_t>(v));
    return m;
}
inline std::array<int32_t, kCCSlots> ControllersIn(const Message& m) {
    std::array<int32_t, kCCSlots> table{};
    for (size_t i = 0; i < table.size() && 4 * i + 4 <= m.Bytes.size(); ++i)
        table[i] = static_cast<int32_t>(Get32(m.Bytes.data() + 4 * i));
    return table;
}

inline std::vector<uint8_t> Encode(const Message& m) {
    std::vector<uint8_t> out;
    out.reserve(1 + 8 + m.Bytes.size());
    out.push_back(static_cast<uint8_t>(m.What));
    switch (m.What) {
    case Kind::Hello:
        Put32(out, m.A);
        break;
    case Kind::PortWrite:
    case Kind::Port: {
        uint32_t bits = 0;
        std::memcpy(&bits, &m.Value, 4);
        Put32(out, m.A);
        Put32(out, bits);
        break;
    }
    case Kind::Size:
    case Kind::Touch:
    case Kind::Step:
    case Kind::Knob:
        Put32(out, m.A);
        Put32(out, static_cast<uint32_t>(m.B));
        break;
    case Kind::State:
    case Kind::PluginState:
    case Kind::Controllers:
    case Kind::Edit:
        out.resize(1 + m.Bytes.size());
        if (!m.Bytes.empty()) std::memcpy(out.data() + 1, m.Bytes.data(), m.Bytes.size());
        break;
    case Kind::Closed:
    case Kind::Show:
    case Kind::Hide:
    case Kind::Stopped:
        break;
    }
    return out;
}

// False for anything but a well-formed message of a known kind.
inline bool Decode(const uint8_t* data, size_t size, Message& m) {
    if (size < 1) return false;
    m = Message{};
    m.What = static_cast<Kind>(data[0]);
    const uint8_t* body = data + 1;
    const size_t n = size - 1;
    switch (m.What) {
    case Kind::Hello:
        if (n != 4) return false;
        m.A = Get32(body);
        return true;
    case Kind::PortWrite:
    case Kind::Port: {
        if (n != 8) return false;
        m.A = Get32(body);
        const uint32_t bits = Get32(body + 4);
        std::memcpy(&m.Value, &bits, 4);
        return m.Value == m.Value; // not a NaN
    }
    case Kind::Size:
    case Kind::Touch:
    case Kind::Step:
    case Kind::Knob:
        if (n != 8) return false;
        m.A = Get32(body);
        m.B = static_cast<int32_t>(Get32(body + 4));
        return true;
    case Kind::State:
    case Kind::PluginState:
        if (n != kPatternFileSize) return false;
        m.Bytes.assign(body, body + n);
        return true;
    case Kind::Controllers:
        if (n != size_t(kCCSlots) * 4) return false;
        m.Bytes.assign(body, body + n);
        return true;
    case Kind::Edit:
        // A head, and none, one or 16 step records: the plugin reads the rest.
        if (!IsEditSize(n)) return false;
        m.Bytes.assign(body, body + n);
        return true;
    case Kind::Closed:
    case Kind::Show:
    case Kind::Hide:
    case Kind::Stopped:
        return n == 0;
    }
    return false;
}

} // namespace zelvox::wire
