#pragma once
// Test rig for the MIDI setup: the fourteen knobs MIDI can turn, with the main window's
// names and ranges, each counting its change events; settings kept in memory.

#include <map>
#include <string>

#include "midi/MidiSetup.h"

namespace zelvox::test {

class MemorySettings : public MidiSettings {
public:
    std::map<std::pair<std::string, std::string>, std::string> Values; // (section, key) -> text
    mutable int Writes = 0;

    int32_t ReadInteger(const std::string& section, const std::string& key,
                        int32_t def) const override;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const override {
        return ReadInteger(section, key, def ? 1 : 0) != 0;
    }
    void WriteInteger(const std::string& section, const std::string& key,
                      int32_t value) const override;
    void WriteBool(const std::string& section, const std::string& key, bool value) const override {
        WriteInteger(section, key, value ? 1 : 0);
    }
    void Set(const std::string& key, const std::string& value) { Values[{"MIDI", key}] = value; }
    std::string Get(const std::string& key) const;
};

struct TestKnobs {
    TestKnobs();
    Knob MMWheel1{"MMWheel1", 1, 127, 3};
    Knob MMWheel2{"MMWheel2", 1, 127, 35};
    Knob MMWheel3{"MMWheel3", 0, 126, 0};
    Knob MMWheel4{"MMWheel4", 0, 105, 0};
    Knob MMWheel5{"MMWheel5", 0, 127, 7};
    Knob MMWheel7{"MMWheel7", 0, 127, 0};
    Knob MMWheel9{"MMWheel9", 32, 127, 80};
    Knob MMWheel8{"MMWheel8", 1, 127, 64};
    Knob MMWheel10{"MMWheel10", 0, 127, 10};
    Knob MMWheel11{"MMWheel11", 0, 127, 127};
    Knob MMWheel12{"MMWheel12", 1, 127, 64};
    Knob MMWheel13{"MMWheel13", 0, 127, 10};
    Knob MMWheel14{"MMWheel14", 0, 120, 120};
    Knob MMWheel15{"MMWheel15", 0, 127, 127};

    MidiKnobTable Table{};
    std::map<std::string, int> Fired; // change events per knob name
    int TotalFired() const;
};

} // namespace zelvox::test
