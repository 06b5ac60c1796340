#include "support/MidiRig.h"

namespace zelvox::test {

int32_t MemorySettings::ReadInteger(const std::string& section, const std::string& key,
                                    int32_t def) const {
    auto it = Values.find({section, key});
    if (it == Values.end()) return def;
    try {
        size_t used = 0;
        const long long v = std::stoll(it->second, &used, 10);
        if (used != it->second.size() || v < INT32_MIN || v > INT32_MAX) return def;
        return static_cast<int32_t>(v);
    } catch (const std::exception&) {
        return def;
    }
}

void MemorySettings::WriteInteger(const std::string& section, const std::string& key,
                                  int32_t value) const {
    ++Writes;
    const_cast<MemorySettings*>(this)->Values[{section, key}] = std::to_string(value);
}

std::string MemorySettings::Get(const std::string& key) const {
    auto it = Values.find({"MIDI", key});
    return it == Values.end() ? "<missing>" : it->second;
}

TestKnobs::TestKnobs() {
    Table[0] = &MMWheel1;
    Table[1] = &MMWheel2;
    Table[2] = &MMWheel3;
    Table[3] = &MMWheel4;
    Table[4] = &MMWheel5;
    Table[5] = &MMWheel7;
    Table[6] = &MMWheel9;
    Table[10] = &MMWheel8;
    Table[11] = &MMWheel10;
    Table[12] = &MMWheel11;
    Table[20] = &MMWheel12;
    Table[21] = &MMWheel13;
    Table[22] = &MMWheel14;
    Table[23] = &MMWheel15;
    for (Knob* k : Table)
        if (k) k->OnChange = [this, k] { ++Fired[k->Name]; };
}

int TestKnobs::TotalFired() const {
    int n = 0;
    for (const auto& [name, count] : Fired) n += count;
    return n;
}

} // namespace zelvox::test
