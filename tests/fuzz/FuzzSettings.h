#pragma once
// Fuzz body: the settings file "ZLVX3.INI". The input is the file's bytes. Every key the
// program reads is read by the code that reads it at start-up: the sound output's choice
// ("Audio": "API", "Device"), the audio setup dialog ("Audio": "Buffers") and the MIDI setup
// dialog ("MIDI": "0".."30", "ENABLED", "CHANNEL"). Then one key (picked by the input's
// length) is written and read back.
//
// What must hold: reading never fails; the dialogs show values inside their controls' ranges
// and take the file's values by its rules; a written value reads back as written; writing one
// key changes the value of no other key.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/AudioBackend.h"
#include "ui/AudioSetup.h"
#include "settings/Settings.h"
#include "devices/backends/ScriptedDevice.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"
#include "ui/MidiSetup.h"
#include "midi/backends/ScriptedMidiIn.h"

namespace zelvox::fuzz {

struct SettingsKey {
    const char* Section;
    std::string Key;
};

inline const std::vector<SettingsKey>& ProgramSettingsKeys() {
    static const std::vector<SettingsKey> keys = [] {
        std::vector<SettingsKey> k{{"Audio", "Buffers"}, {"Audio", "API"}, {"Audio", "Device"},
                                   {"MIDI", "ENABLED"},  {"MIDI", "CHANNEL"}};
        for (int n = 0; n <= 30; ++n) k.push_back({"MIDI", std::to_string(n)});
        return k;
    }();
    return keys;
}

// Every value as the program reads it, as text (integers in decimal).
inline std::vector<std::string> ReadProgramSettings(const TSettingsFile& file) {
    std::vector<std::string> out;
    const AudioBackendChoice choice = ReadAudioBackendChoice(file);
    out.push_back(std::to_string(file.ReadInteger("Audio", "Buffers", 40)));
    out.push_back(choice.Api);
    out.push_back(choice.Device);
    out.push_back(file.ReadBool("MIDI", "ENABLED", false) ? "1" : "0");
    out.push_back(std::to_string(file.ReadInteger("MIDI", "CHANNEL", 0)));
    for (int n = 0; n <= 30; ++n)
        out.push_back(std::to_string(file.ReadInteger("MIDI", std::to_string(n), 0)));
    return out;
}

// Start-up as the program runs it: the audio setup dialog and the MIDI setup dialog read
// the file, on scripted devices.
inline void StartDialogs(const TSettingsFile& file) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "settings", what); };
    ScriptedWaveOutSystem system;
    MainThreadQueue queue;
    TMMWaveOut out{&system, &queue};
    TAudioSetupForm audio(out, file);
    audio.FormCreate();
    int32_t buffers = file.ReadInteger("Audio", "Buffers", 40);
    buffers = std::clamp(buffers, 1, 120);
    check(audio.TrackBar1.Value() == buffers, "the buffer slider does not show the file's value");
    check(out.NumBuffers() == (buffers > 1 ? buffers : 10), "the device got another buffer count");

    ScriptedMidiIn::Device device;
    device.Name = "Fuzz keys";
    ScriptedMidiIn midi({device});
    MidiKnobTable none{};
    TForm4 form4(midi, &queue, file, none);
    for (int n = 0; n <= 30; ++n)
        check(form4.CCTable[size_t(n)] == file.ReadInteger("MIDI", std::to_string(n), 0) ||
                  (n == 0 || n == 10 || n == 20), // shown at start-up, so limited to 0..100
              "a CC slot differs from the file");
    check(form4.SpinEdit971.Value() >= 0 && form4.SpinEdit971.Value() <= 100,
          "the channel outside its control's range");
    check(form4.CheckBox1.Checked() == file.ReadBool("MIDI", "ENABLED", false),
          "Enable MIDI differs from the file");
    check(form4.DevicesOpen == form4.CheckBox1.Checked(), "MIDI enabled but not opened");
}

inline void SettingsOne(const uint8_t* data, size_t size) {
    const auto path = ScratchDir::Get() / "ZLVX3.INI";
    WriteBytes(path, data, size);
    const TSettingsFile file(path.string());
    StartDialogs(file);
    const std::vector<std::string> before = ReadProgramSettings(file);

    // One integer key written: which one and what value come from the input's size, so the
    // file's bytes stay the fuzzer's to choose.
    const auto& keys = ProgramSettingsKeys();
    const size_t which = size % keys.size();
    if (keys[which].Key == "API" || keys[which].Key == "Device") {
        AudioBackendChoice c = ReadAudioBackendChoice(file);
        c.Device = "dev " + std::to_string(size);
        try {
            WriteAudioBackendChoice(file, c);
        } catch (const ESettingsError&) {
            FuzzCheck(false, "settings", "writing a readable file failed");
        }
        FuzzCheck(ReadAudioBackendChoice(file).Device == c.Device, "settings",
                  "a written device name does not read back");
    } else {
        const int32_t value = static_cast<int32_t>(size * 2654435761u);
        try {
            file.WriteInteger(keys[which].Section, keys[which].Key, value);
        } catch (const ESettingsError&) {
            FuzzCheck(false, "settings", "writing a readable file failed");
        }
        FuzzCheck(file.ReadInteger(keys[which].Section, keys[which].Key, value ^ 1) == value,
                  "settings", "a written integer does not read back");
    }
    const std::vector<std::string> after = ReadProgramSettings(file);
    // The back-end choice is written as a pair (keys 1 and 2).
    const auto written = [&](size_t i) {
        return i == which || (which >= 1 && which <= 2 && i >= 1 && i <= 2);
    };
    for (size_t i = 0; i < keys.size(); ++i)
        if (!written(i))
            FuzzCheck(after[i] == before[i], "settings", "writing one key changed another");
}

} // namespace zelvox::fuzz
