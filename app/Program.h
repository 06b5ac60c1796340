#pragma once
// The desktop program put together: the models (main window logic, envelope dialog, audio
// chain with its setup dialog, later the MIDI setup) and the windows that show them, created
// in start-up order. Models are created before the windows and destroyed after them, so no
// view outlives its model.

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/AudioSetupWindow.h"
#include "app/EnvelopeWindow.h"
#include "app/HelpViewer.h"
#include "app/MainWindow.h"
#include "app/MidiSetupWindow.h"
#include "app/QtMainThreadQueue.h"
#include "app/SplashWindow.h"
#include "settings/Settings.h"
#include "devices/WaveOutDevice.h"
#include "midi/MidiInService.h"
#include "ui/MidiSetup.h"
#include "program/AudioRig.h"
#include "program/LiveRig.h"
#include "program/ProgramCore.h"

namespace zelvox::app {

struct ProgramOptions {
    // The sound output; null: the one the settings file chooses (JACK, PulseAudio, ALSA...).
    std::unique_ptr<WaveOutSystem> AudioSystem;
    // The MIDI input; null: RtMidi (JACK, then the ALSA sequencer).
    std::unique_ptr<MidiInService> MidiService;
    // The settings file; empty: ZLVX3.INI in the user's configuration folder.
    std::string SettingsPath;
    // A splash window already on screen, shown before the slow part of start-up (probing
    // the sound and MIDI services); null: the program makes its own, shown by Start.
    std::unique_ptr<SplashWindow> Splash;
    // Under a session manager: the settings file is read once and kept in memory until the
    // manager saves (TSettingsFile::Hold).
    bool HoldSettings = false;
};

class Program : public QObject, public ProgramCore {
    Q_OBJECT
public:
    explicit Program(ProgramOptions options = {});
    ~Program() override;

    // Shows the splash window; the main window follows its "OK".
    void Start();

    // Under a session manager the windows are the manager's to show and hide: no splash and
    // no click; closing the main window (or File, Exit) hides every window instead of ending
    // the program, and OnWindowsHidden is told. Sound and MIDI go on while hidden.
    void ShowWindows(bool shown);
    bool WindowsShown() const;
    std::function<void()> OnWindowsHidden;
    // The main window's place on the screen (its frame's top left corner, pixels).
    void PlaceMainWindow(int x, int y);
    std::pair<int, int> MainWindowPlace() const;

    // Menu commands. File choosers go through ChooseFile, which tests can answer.
    void Loadpattern1Click();
    void Savepattern1Click();
    void Recordtowav1Click();
    void ExportMidiClick();
    void ExportAudioClick();
    void Help2Click();

    TSettingsFile& Settings() { return *Settings_; }
    AudioRig& Audio() const { return *Rig_; }
    // The low-latency JACK output when it is the one playing; null otherwise.
    LiveRig* LowLatency() const { return Live_.get(); }
    // The MIDI setup; null when it could not be built (the program then runs without MIDI).
    TForm4* Midi() const { return Midi_.get(); }

    SplashWindow& Splash() const { return *Splash_; }
    MainWindow& Main() const { return *Main_; }
    EnvelopeWindow& EnvelopeDialog() const { return *Envelope_; }
    AudioSetupWindow& AudioDialog() const { return *AudioWindow_; }
    MidiSetupWindow* MidiDialog() const { return MidiWindow_.get(); }
    HelpViewer& Help() const { return *Help_; }

signals:
    void finished(); // the splash window was closed: the program ends

private:
    std::unique_ptr<TSettingsFile> Settings_;
    QtMainThreadQueue Queue_;
    std::unique_ptr<WaveOutSystem> AudioSystem_;
    std::unique_ptr<AudioRig> Rig_;
    // The low-latency JACK output, when the settings choose it ("JACK (low latency)").
    std::unique_ptr<LiveRig> Live_;
    void UseOutput(const AudioBackendChoice& choice);
    std::unique_ptr<MidiInService> MidiService_;
    std::unique_ptr<TForm4> Midi_;

    std::unique_ptr<SplashWindow> Splash_;
    std::unique_ptr<MainWindow> Main_;
    std::unique_ptr<AudioSetupWindow> AudioWindow_;
    std::unique_ptr<MidiSetupWindow> MidiWindow_;
    std::unique_ptr<EnvelopeWindow> Envelope_;
    std::unique_ptr<HelpViewer> Help_;
};

} // namespace zelvox::app
