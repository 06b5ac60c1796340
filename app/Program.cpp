#include "app/Program.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QProgressDialog>
#include <QTimer>

#include "app/ErrorDisplay.h"
#include "app/FileDialogs.h"
#include "devices/AudioBackend.h"
#include "program/PatternFileCommands.h"
#include "program/RecordToWav.h"
#include "program/AudioFileFormat.h"
#include "program/MidiFileExport.h"
#include "program/SynthRenderer.h"
#include "program/MidiKnobs.h"
#include "midi/backends/RtMidiInService.h"

namespace zelvox::app {

Program::Program(ProgramOptions options) {
    Settings_ = options.SettingsPath.empty() ? std::make_unique<TSettingsFile>()
                                             : std::make_unique<TSettingsFile>(options.SettingsPath);
    if (options.HoldSettings) Settings_->Hold();
    // Device threads post here; their messages are handled on this (the main) thread.
    SetDefaultMainThreadQueue(&Queue_);
    // Probing the sound system is the slow part of start-up (a JACK server takes tens of
    // milliseconds for each client): it is done once, and the result serves the whole run.
    AudioSystem_ = options.AudioSystem ? std::move(options.AudioSystem)
                                       : CreateWaveOutSystem(ReadAudioBackendChoice(*Settings_));
    MMUserInterface().SetBusyCursor = [](bool busy) {
        if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
        else QApplication::restoreOverrideCursor();
    };

    // Start-up order: the splash window, the main window, the audio setup dialog, the MIDI
    // setup dialog, the envelope dialog.
    Splash_ = options.Splash ? std::move(options.Splash) : std::make_unique<SplashWindow>();
    Rig_ = std::make_unique<AudioRig>(Form, AudioSystem_.get(), &Queue_, *Settings_);
    MidiService_ = options.MidiService ? std::move(options.MidiService) : std::make_unique<RtMidiInService>();
    StartUp([this] {
        Main_ = std::make_unique<MainWindow>(Form);
        Rig_->AudioSetup.FormCreate();
        AudioWindow_ = std::make_unique<AudioSetupWindow>(Rig_->AudioSetup);
        // The MIDI setup opens the input at once when the settings enable it; if it cannot
        // even be built, say why and run without MIDI.
        Guarded([this] { Midi_ = std::make_unique<TForm4>(*MidiService_, &Queue_, *Settings_, MidiKnobsOf(Form),
                                                         LearnTargetsOf(Form, Envelopes)); });
        if (Midi_) MidiWindow_ = std::make_unique<MidiSetupWindow>(*Midi_);
        // Notes from the MIDI setup's input transpose or choose patterns on the window.
        if (Midi_) Midi_->OnNote = [this](const NoteInAction& note) { PlayNoteOnForm(Form, note); };
        // The input going away while enabled (its server shut down) is said in a box.
        if (Midi_)
            Midi_->OnProblem = [this](const std::string& text) {
                const QString shown = QString::fromStdString(text);
                QTimer::singleShot(0, this, [shown] { ShowError(shown); });
            };
        // MIDI enabled but not working is said where the user looks, not only in the dialog.
        if (Midi_ && !Midi_->StartupProblem().empty())
            Main_->ShowStartupProblem(QString::fromStdString(Midi_->StartupProblem()));
    });
    Envelope_ = std::make_unique<EnvelopeWindow>(Envelopes);
    // Right click on a knob or spin edit: "Learn MIDI controller".
    if (Midi_) {
        Main_->SetMidiLearn(&Midi_->Learn);
        Envelope_->SetMidiLearn(&Midi_->Learn);
    }
    Help_ = std::make_unique<HelpViewer>();
    // The dialogs open centred on the main window.
    if (MidiWindow_) MidiWindow_->SetCentreOn(Main_.get());
    Envelope_->SetCentreOn(Main_.get());

    connect(Splash_.get(), &SplashWindow::okPressed, this, [this] {
        Main_->show();
        Main_->activateWindow();
    });
    connect(Splash_.get(), &SplashWindow::closed, this, &Program::finished);

    MainWindow& w = *Main_;
    // Swing lives in the settings, not in the fixed pattern file: the next start plays with
    // the swing last set (see docs/decisions.md).
    w.ShowSwing();
    w.Swing.SetValue(Settings_->ReadInteger("Sequencer", "Swing", 0));
    Form.Synth.Seq.SetSwing(w.Swing.Value());
    w.Swing.OnChange = [this, &w] {
        Form.Synth.Seq.SetSwing(w.Swing.Value());
        Guarded([this, &w] { Settings_->WriteInteger("Sequencer", "Swing", w.Swing.Value()); });
    };
    w.DspLoad = [this] { return Live_ ? Live_->Usage() : Rig_->Meter.Usage(); };
    // The low-latency output, when chosen: now, and whenever the audio setup chooses it.
    Rig_->AudioSetup.OnOutputChosen = [this](const AudioBackendChoice& c) { UseOutput(c); };
    Rig_->AudioSetup.OnSyncChosen = [this](const LiveSync& sync) {
        if (!Live_) return;
        try {
            Live_->SetSync(sync);
        } catch (const std::exception& e) {
            ShowError(QString::fromStdString(std::string("Timebase master: ") + e.what()));
        }
    };
    UseOutput(ReadAudioBackendChoice(*Settings_));
    auto* pump = new QTimer(this);
    connect(pump, &QTimer::timeout, this, [this] {
        if (Live_) Live_->Pump();
    });
    pump->start(5);
    w.OnLoadPattern = [this] { Loadpattern1Click(); };
    w.OnSavePattern = [this] { Savepattern1Click(); };
    w.OnOpenExample = [this](const std::string& path) { LoadPattern(path); };
    w.OnRecordToWav = [this] { Recordtowav1Click(); };
    w.OnExportMidi = [this] { ExportMidiClick(); };
    w.OnExportAudio = [this] { ExportAudioClick(); };
    w.OnAudioSetup = [this] {
        if (!AudioWindow_->isVisible()) {
            // The sound systems and devices present now.
            QApplication::setOverrideCursor(Qt::WaitCursor);
            try {
                Rig_->AudioSetup.FormShow();
            } catch (...) {
                QApplication::restoreOverrideCursor();
                throw;
            }
            QApplication::restoreOverrideCursor();
            CentreOn(*AudioWindow_, Main_.get());
        }
        AudioWindow_->show();
        AudioWindow_->raise();
        AudioWindow_->activateWindow();
    };
    w.OnMidiSetup = [this] {
        if (Midi_) Midi_->Show();
        else ShowError("MIDI is not available");
    };
    w.OnEnvelopeSetup = [this] { Envelopes.Show(); };
    w.OnAbout = [this] { Splash_->ShowAbout(); };
    w.OnHelp = [this] { Help2Click(); };
    // A recording that the disk (or a failed write) ended early: the music plays on and the
    // file keeps what was written; the user is told once the buffer in hand is done with.
    Rig_->Chain.MMWaveFile1.OnWriteProblem = [this](TObject*) {
        const QString text = QString::fromStdString("The recording stopped early: " +
                                                    Rig_->Chain.MMWaveFile1.WriteProblem());
        QTimer::singleShot(0, this, [text] { ShowError(text); });
    };
    w.OnClosed = [this] {
        // The splash window is the program's main window: closing it ends the program.
        Help_->close();
        AudioWindow_->hide();
        if (Midi_) Midi_->Form4.SetVisible(false);
        Envelopes.Form5.SetVisible(false);
        Splash_->close();
    };
}

Program::~Program() {
    Live_.reset(); // the JACK client closes before the models it plays go
    // Windows first (their views refer to the models), then the audio chain, which stops
    // and closes the device and so finalises a recording still open.
    Help_.reset();
    Envelope_.reset();
    MidiWindow_.reset();
    AudioWindow_.reset();
    Main_.reset();
    Splash_.reset();
    Midi_.reset();
    Rig_.reset();
    MMUserInterface().SetBusyCursor = nullptr;
    SetDefaultMainThreadQueue(nullptr);
}

void Program::Start() { Splash_->show(); }

void Program::ShowWindows(bool shown) {
    if (!shown) {
        Help_->close();
        AudioWindow_->hide();
        if (Midi_) Midi_->Form4.SetVisible(false);
        Envelopes.Form5.SetVisible(false);
        Splash_->hide();
        Main_->hide();
        return;
    }
    // From now on closing the window hides it, and the About box closing (a window manager's
    // close on the splash) no longer ends the program: the manager does that.
    disconnect(Splash_.get(), &SplashWindow::closed, this, &Program::finished);
    Main_->HideOnClose = [this] {
        ShowWindows(false);
        if (OnWindowsHidden) OnWindowsHidden();
    };
    Main_->show();
    Main_->raise();
    Main_->activateWindow();
}

bool Program::WindowsShown() const {
    return Main_->isVisible();
}

void Program::PlaceMainWindow(int x, int y) {
    Main_->move(x, y);
}

std::pair<int, int> Program::MainWindowPlace() const {
    return {Main_->x(), Main_->y()};
}

void Program::Loadpattern1Click() {
    const std::optional<QString> name = ChooseFile(Main_.get(), LoadPatternDialog());
    if (!name) return;
    LoadPattern(name->toStdString());
}

void Program::Savepattern1Click() {
    const PatternFileRecord record = PatternRecord();
    const std::optional<QString> name = ChooseFile(Main_.get(), SavePatternDialog());
    if (!name) return;
    SavePattern(record, name->toStdString());
}

void Program::UseOutput(const AudioBackendChoice& choice) {
    const bool live = choice.Api == "jack-live";
    if (live == (Live_ != nullptr)) return;
    Form.Button2Click(); // what plays stops, as when the device changes
    if (!live) {
        Live_.reset();
        Form.SetTransportDevice(Rig_.get());
        return;
    }
    try {
        Live_ = std::make_unique<LiveRig>(Form, *Settings_);
        Live_->OnLost = [this](const std::string& why) {
            QTimer::singleShot(0, this, [why] { ShowError(QString::fromStdString(why)); });
        };
        // Controllers at zelvox:midi_in follow the MIDI setup as it is now, and can be
        // learned there as at the MIDI setup's own input.
        if (Midi_) {
            Live_->MidiSetupNow = [this] {
                LiveRig::MidiSetupState m;
                m.Controllers = Midi_->CCTable;
                m.Channel = Midi_->SpinEdit971.Value();
                m.Learned = Midi_->Learn.Lookup();
                m.NotesIn = Midi_->NotesIn();
                return m;
            };
            Live_->OnController = [this](uint8_t status, uint8_t controller, uint8_t value) {
                if (Midi_->Learn.Pending()) Midi_->Learn.HandleMessage(status, controller, value);
            };
        }
    } catch (const std::exception& e) {
        Form.SetTransportDevice(Rig_.get());
        ShowError(QString::fromStdString(std::string("The low-latency JACK output could not start: ") +
                                         e.what()));
    }
}

void Program::Recordtowav1Click() {
    if (Live_) {
        // The low-latency output records through a disk thread of its own.
        const std::optional<QString> name = ChooseFile(Main_.get(), RecordWavDialog());
        if (!name) return;
        Form.RecordingArmed = true;
        Form.Button1.SetCaption("Record");
        Live_->ArmRecording(name->toStdString());
        return;
    }
    const std::optional<QString> name = ChooseFile(Main_.get(), RecordWavDialog());
    if (!name) return;
    RecordToWav(Form, Rig_->Recorder, name->toStdString());
}

// The song on the Arranger page (to its end, at most 10 minutes), else one pass of the pattern
// shown (its first step is a sample shorter than the rest, so a pass ends a sample before
// the next pass's first step); the notes on the Audio setup's channels and drum notes.
void Program::ExportMidiClick() {
    const std::optional<QString> name = ChooseFile(Main_.get(), ExportMidiDialog());
    if (!name) return;
    const LiveSync sync = ReadLiveSync(*Settings_);
    const NoteChannels channels{sync.NotesBassChannel, sync.NotesTwinTChannel, sync.NotesNoiseChannel,
                                sync.NotesTwinTNote, sync.NotesNoiseNote};
    const bool song = Form.SynthMode == kModeArranger;
    const uint64_t frames = song ? uint64_t(600) * 44100
                                 : uint64_t(std::clamp(Form.SpinEdit971.Value(), 1, 16)) *
                                       uint64_t(Form.Synth.Eng.S.StepLength + 1) -
                                   1;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        ExportMidiFile(Form.Synth, song, std::max(1, Form.PlayPattern), frames, channels, name->toStdString());
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
}

// The song on the Arranger page (to its end, at most 10 minutes), else one pass of the pattern
// shown, rendered as zelvox-render renders the same pattern file, into the chosen file in
// the format of its extension (FLAC, Ogg Vorbis or WAV, 16 bits), with a progress bar and
// Cancel. What plays stops first.
void Program::ExportAudioClick() {
    const std::optional<QString> name = ChooseFile(Main_.get(), ExportAudioDialog());
    if (!name) return;
    Form.Button2Click();
    const bool song = Form.SynthMode == kModeArranger;
    const PatternFileRecord record = PatternRecord();
    const int32_t pattern = std::max(1, Form.PlayPattern);
    const int32_t swing = Form.Synth.Seq.Swing();
    const uint64_t frames = song ? uint64_t(600) * 44100
                                 : uint64_t(std::clamp(Form.SpinEdit971.Value(), 1, 16)) *
                                           uint64_t(Form.Synth.Eng.S.StepLength + 1) -
                                       1;
    const auto buffers = int64_t((frames + 440) / 441);

    auto render = std::make_unique<SynthRenderer>();
    const std::vector<uint8_t> state = EncodePatternFile(record);
    render->Synth.LoadState(state.data(), state.size());
    render->Synth.Seq.SetSwing(swing);
    if (!song) render->ChoosePattern(pattern);

    QProgressDialog progress("Exporting audio...", "Cancel", 0, int(buffers), Main_.get());
    progress.setWindowTitle("Export audio");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    struct Cancelled {};
    const std::string path = name->toStdString();
    try {
        render->Render(SynthRenderer::Targets{path, {}, 44100, {AudioFileKindOf(path), 16}}, song, buffers,
                       [&](int64_t written) {
                           if (written % 50 != 0) return;
                           progress.setValue(int(written));
                           QCoreApplication::processEvents();
                           if (progress.wasCanceled()) throw Cancelled{};
                       });
    } catch (const Cancelled&) {
        return; // the render removed its unfinished file
    }
    progress.setValue(int(buffers));
}

void Program::Help2Click() {
    if (!Help_->isVisible()) CentreOn(*Help_, Main_.get());
    Help_->OpenContents(HelpFilePath());
}

} // namespace zelvox::app
