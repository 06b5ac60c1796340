#pragma once
// The whole desktop program for a GUI test: the virtual sound device (plays in real time into
// nothing) and a settings file of its own in a fresh temporary folder.

#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "app/Program.h"
#include "devices/AudioBackend.h"
#include "midi/backends/ScriptedMidiIn.h"
#include "support/GuiTest.h"

namespace zelvox::testing {

struct GuiProgram {
    QTemporaryDir Dir;
    std::unique_ptr<app::Program> P;

    ScriptedMidiIn* Midi = nullptr; // the scripted MIDI input the program listens to

    // midiDevices: what the scripted MIDI input offers. settingsText: the settings file's
    // content at start-up (none when empty).
    explicit GuiProgram(std::vector<ScriptedMidiIn::Device> midiDevices = {{"Scripted keyboard"}},
                        const QByteArray& settingsText = {}) {
        GuiApp();
        app::ProgramOptions o;
        o.AudioSystem = CreateVirtualWaveOutSystem();
        auto midi = std::make_unique<ScriptedMidiIn>(std::move(midiDevices));
        Midi = midi.get();
        o.MidiService = std::move(midi);
        o.SettingsPath = (Dir.path() + "/ZLVX3.INI").toStdString();
        QByteArray text = settingsText;
        // The window's tests run a second time on the low-latency JACK output (ctest's
        // "live." tests): the settings choose it unless a test chooses its own output.
        if (LowLatencyRun() && !text.contains("API="))
            text = text.contains("[Audio]") ? text.replace("[Audio]\n", "[Audio]\nAPI=jack-live\n")
                                            : text + "\n[Audio]\nAPI=jack-live\n";
        if (!text.isEmpty()) {
            QFile f(Dir.path() + "/ZLVX3.INI");
            if (f.open(QIODevice::WriteOnly)) f.write(text);
        }
        P = std::make_unique<app::Program>(std::move(o));
    }
    // This run plays on the low-latency JACK output.
    static bool LowLatencyRun() { return qgetenv("ZELVOX_TEST_OUTPUT") == "jack-live"; }
    app::Program* operator->() { return P.get(); }
    app::Program& operator*() { return *P; }
    QString Path(const char* name) const { return Dir.path() + "/" + name; }
};

} // namespace zelvox::testing
