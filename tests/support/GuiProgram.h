#pragma once
// The whole desktop program for a GUI test: the virtual sound device (plays in real time into
// nothing) and a settings file of its own in a fresh temporary folder.

#include <QTemporaryDir>

#include <memory>

#include "app/Program.h"
#include "audio/AudioBackend.h"
#include "midi/backends/ScriptedMidiIn.h"
#include "support/GuiTest.h"

namespace zelvox::testing {

struct GuiProgram {
    QTemporaryDir Dir;
    std::unique_ptr<app::Program> P;

    ScriptedMidiIn* Midi = nullptr; // the scripted MIDI input the program listens to

    GuiProgram() {
        GuiApp();
        app::ProgramOptions o;
        o.AudioSystem = CreateVirtualWaveOutSystem();
        auto midi = std::make_unique<ScriptedMidiIn>(std::vector<ScriptedMidiIn::Device>{{"Scripted keyboard"}});
        Midi = midi.get();
        o.MidiService = std::move(midi);
        o.SettingsPath = (Dir.path() + "/ZLVX3.INI").toStdString();
        P = std::make_unique<app::Program>(std::move(o));
    }
    app::Program* operator->() { return P.get(); }
    app::Program& operator*() { return *P; }
    QString Path(const char* name) const { return Dir.path() + "/" + name; }
};

} // namespace zelvox::testing
