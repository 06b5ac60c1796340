#pragma once
// The synthesizer's main window, a view on MainForm: fixed size, client area 397 x 382 on
// grey; the knob strip with the three voice panels; the pattern editor or the phrase table;
// the step LEDs; the lower panel; the menus and a one-text status bar. Every control is a
// view attached to its model in MainForm; the window holds no program state.

#include <QMainWindow>
#include <QMenu>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "sequencer/PatternDice.h"
#include "ui/MainForm.h"
#include "ui/MidiLearn.h"

class QLabel;

namespace zelvox::qt {
class ModelLink;
}

namespace zelvox::app {

class LearnMenu;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 397;
    static constexpr int kClientHeight = 382;
    static constexpr int kStatusHeight = 20;

    explicit MainWindow(MainForm& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Keys of the whole window (besides each control's own): Space starts and stops, Page
    // Up/Down choose the previous/next pattern, P and S toggle Play and Slide of the edit step.
    // MainForm's Button1/Button2 and pattern buttons do the work, as the mouse's clicks do.
    void KeySpace();
    void KeyPattern(int direction); // -1 previous, +1 next

    MainForm& Form() const { return Form_; }
    QWidget* Panel() const { return Panel_; }
    QLabel* StatusText() const { return Status_; }
    QMenu* StepMenu() const { return StepMenu_; }
    QMenu* PatternMenu() const { return PatternMenu_; }
    // The menu-bar action with this caption (accelerator marks included), or null.
    QAction* FindAction(const QString& caption) const;
    // The view of the control with this model name, or null.
    template <class View = QWidget> View* ViewOf(const std::string& name) const {
        return Panel_->findChild<View*>(QString::fromStdString(name));
    }

    // The DSP load in percent, read once a second for the status bar (0 when not set).
    std::function<int()> DspLoad;
    // Writes the status bar now (the one-second timer does it from start-up on).
    void Timer2Timer();
    // A problem found at start-up that the user must hear of (the MIDI input enabled in the
    // settings did not open). The status bar shows it instead of the DSP usage until the
    // window has been on screen for kProblemTicks timer ticks; its tooltip keeps it.
    void ShowStartupProblem(const QString& text);
    static constexpr int kProblemTicks = 10; // seconds on screen

    // MIDI learn (null: no MIDI): the knobs' and spin edits' context menu, Escape, and the
    // status bar saying what a learn waits for and what it learned.
    void SetMidiLearn(MidiLearn* learn);
    LearnMenu* ControlMenu() const { return LearnMenu_; }
    static constexpr int kNoticeTicks = 4; // seconds a learned controller stays on the status bar

    // Run by the File, Setup and Help items; the program wires them.
    std::function<void()> OnLoadPattern, OnSavePattern, OnRecordToWav;
    std::function<void()> OnAudioSetup, OnMidiSetup, OnEnvelopeSetup;
    std::function<void()> OnAbout, OnHelp;
    // File, "Open example": a pattern file of the factory bank chosen, by its path.
    std::function<void(const std::string& path)> OnOpenExample;
    // File, "Export audio..." and "Export MIDI file...".
    std::function<void()> OnExportAudio, OnExportMidi;
    // Swing, 0..75 % (the sequencer's); its spin edit is on the lower panel once ShowSwing
    // has run (the desktop program, which plays this window's synth). OnChange is the
    // program's: it sets the synth and keeps the value in the settings.
    SpinEdit Swing{"SwingEdit", 0, Sequencer::kMaxSwing, 0, "Swing"};
    void ShowSwing();

    // Closing the window: FormClose has run (playback stopped); the program then ends.
    std::function<void()> OnClosed;
    // When set, closing the window runs this instead: nothing stops (a session manager's
    // client hides its window and plays on).
    std::function<void()> HideOnClose;

protected:
    void closeEvent(QCloseEvent*) override;

private:
    void BuildKnobStrip();
    void BuildEditor();
    void BuildArranger();
    void BuildStepLeds();
    void BuildLowerPanel();
    void BuildMenus();
    void BuildKeys();
    QAction* AddCommand(QMenu* menu, const char* caption, const char* name, std::function<void()>* handler);
    void Dice(bool mutate);

    MainForm& Form_;
    QWidget* Panel_;
    QLabel* Status_;
    QMenu* StepMenu_ = nullptr;
    QMenu* PatternMenu_ = nullptr;
    QTimer Timer2_;
    int CaptionLink_ = 0;
    QString Problem_;      // start-up problem still to be shown, or empty
    int ProblemTicks_ = 0; // ticks it has been shown while the window was visible
    LearnMenu* LearnMenu_ = nullptr;
    MidiLearn* Learn_ = nullptr;
    std::unique_ptr<qt::ModelLink> LearnLink_;
    QWidget* SwingView_ = nullptr;
    DiceOptions Dice_;          // the last dialog's choices, offered again
    int32_t MutateAmount_ = 25; // percent
    QString Notice_; // what a learn just did, or empty
    int NoticeTicks_ = 0;
};

} // namespace zelvox::app
