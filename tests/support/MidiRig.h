#pragma once
// Test rig for the MIDI setup: the fourteen knobs MIDI can turn, with the main window's
// names and ranges, each counting its change events; a settings file of the test's own.

#include <map>
#include <string>

#include "settings/Settings.h"
#include "ui/MidiSetup.h"

namespace zelvox::test {

// A settings file in a fresh temporary folder, removed afterwards.
class TempSettings {
public:
    TempSettings();
    ~TempSettings();
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    void Set(const std::string& key, const std::string& value) { File.WriteString("MIDI", key, value); }
    std::string Get(const std::string& key) const { return File.ReadString("MIDI", key, "<missing>"); }
    bool Exists() const;
    std::string Text() const; // the whole file, "" when missing

    std::string Dir;
    TSettingsFile File;
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
