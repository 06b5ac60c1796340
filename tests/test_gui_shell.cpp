// The program's start-up and shell: splash sequence, About, the main window's size, caption,
// menus and status bar, Exit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <QScreen>

#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/Program.h"
#include "ui/PlatformLine.h"
#include "support/GuiProgram.h"

using namespace zelvox;
using namespace zelvox::app;
using namespace zelvox::testing;

namespace {
class GuiShell : public ::testing::Test {
protected:
    void SetUp() override { GuiApp(); }
};

QStringList Texts(QWidget* w) {
    QStringList out;
    for (QLabel* l : w->findChildren<QLabel*>())
        if (l->isVisibleTo(w)) out << l->text();
    return out;
}
} // namespace

TEST_F(GuiShell, SplashEnablesOkAfterOneSecondAndOkShowsTheMainWindow) {
    GuiProgram holder;
    Program& program = *holder;
    SplashWindow& splash = program.Splash();
    MainWindow& main = program.Main();
    EXPECT_EQ(splash.size(), QSize(420, 172));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    for (const std::string& t : {std::string("Zelvox"), PlatformLine(), std::string("V3.0"),
                                 std::string("Initialising, please wait ....")})
        EXPECT_TRUE(Texts(&splash).contains(QString::fromStdString(t))) << t;

    QElapsedTimer clock;
    program.Start();
    clock.start();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_FALSE(splash.OkButton()->isEnabled());
    ProcessEvents(500);
    EXPECT_FALSE(splash.OkButton()->isEnabled());
    EXPECT_FALSE(main.isVisible());
    ASSERT_TRUE(WaitFor([&] { return splash.OkButton()->isEnabled(); }, 3000));
    EXPECT_GE(clock.elapsed(), 1000);

    splash.OkButton()->click();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(main.isVisible());

    // About while playing: the banner without the initialising text; playback goes on.
    ViewOf<QPushButton>(main, "Button1")->click();
    ASSERT_TRUE(program.Form.Eng.S.Playing);
    main.FindAction("&About")->trigger();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_FALSE(Texts(&splash).contains("Initialising, please wait ...."));
    EXPECT_TRUE(splash.OkButton()->isEnabled());
    EXPECT_TRUE(program.Form.Eng.S.Playing);
    splash.OkButton()->click();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(main.isVisible());
}

TEST_F(GuiShell, MainWindowHasTheFixedClientAreaCaptionMenusAndStatusBar) {
    GuiProgram holder;
    Program& program = *holder;
    MainWindow& main = program.Main();
    main.show();
    EXPECT_EQ(main.windowTitle(), "Zelvox");
    EXPECT_EQ(main.width(), 397);
    EXPECT_EQ(main.height() - main.menuBar()->height(), 382);
    EXPECT_EQ(main.minimumSize(), main.maximumSize());
    EXPECT_FALSE(main.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(main.Panel()->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(main.StatusText()->text(), "DSP Usage : 0%");
    main.DspLoad = [] { return 37; };
    main.Timer2Timer();
    EXPECT_EQ(main.StatusText()->text(), "DSP Usage : 37%");

    const std::vector<std::pair<QString, QStringList>> menus = {
        {"&File", {"&Load pattern", "Open example", "&Save pattern", "&Record to wav", "Export audio...",
                   "Export MIDI file...", "&Exit"}},
        {"&Edit", {"&Undo", "&Redo", "&Copy", "&Paste", "Ra&ndomise...", "&Mutate..."}},
        {"Edit-&mode", {"&All Notes", "&Selected Note"}},
        {"S&ynth-mode", {"&Bass synth", "&Twin-T synth", "&Noise synth", "&Arranger"}},
        {"&Setup", {"&Audio", "&MIDI", "&Envelopes"}},
        {"&Help", {"&About", "&Help"}},
    };
    const QList<QAction*> top = main.menuBar()->actions();
    ASSERT_EQ(top.size(), int(menus.size()));
    for (size_t i = 0; i < menus.size(); ++i) {
        EXPECT_EQ(top[int(i)]->text(), menus[i].first);
        QStringList items;
        for (QAction* a : top[int(i)]->menu()->actions())
            if (!a->isSeparator()) items << a->text();
        EXPECT_EQ(items, menus[i].second) << menus[i].first.toStdString();
    }
    EXPECT_TRUE(main.FindAction("&All Notes")->isChecked());
    EXPECT_FALSE(main.FindAction("&Selected Note")->isChecked());
    main.FindAction("&Selected Note")->trigger();
    EXPECT_TRUE(program.Form.SelectedNoteMode);
    EXPECT_TRUE(main.FindAction("&Selected Note")->isChecked());
    EXPECT_FALSE(main.FindAction("&All Notes")->isChecked());
}

TEST_F(GuiShell, ExitStopsPlaybackAndEndsTheProgram) {
    GuiProgram holder;
    Program& program = *holder;
    bool ended = false;
    QObject::connect(&program, &Program::finished, [&] { ended = true; });
    program.Start();
    program.Splash().hide();
    program.Main().show();
    ViewOf<QPushButton>(program.Main(), "Button1")->click();
    ASSERT_TRUE(program.Form.Eng.S.Playing);
    program.Main().FindAction("&Exit")->trigger();
    EXPECT_FALSE(program.Main().isVisible());
    EXPECT_FALSE(program.Form.Eng.S.Playing);
    EXPECT_TRUE(ended);
}

TEST_F(GuiShell, HelpOpensTheProgramsOwnViewerAtTheContents) {
    GuiProgram holder;
    Program& program = *holder;
    program.Main().FindAction("&Help")->trigger();
    ASSERT_TRUE(program.Help().isVisible());
    // The test program's folder has no help file next to it; the viewer says where it looked.
    const QString text = program.Help().Browser()->toPlainText();
    EXPECT_TRUE(text.startsWith("Zelvox Help") || text.contains("Help file not found")) << text.toStdString();
}

TEST_F(GuiShell, DialogsOpenCentredOnTheMainWindow) {
    GuiProgram holder;
    Program& program = *holder;
    MainWindow& main = program.Main();
    main.show();
    // Off the screen's centre, with room around it for the largest dialog (the help viewer).
    const QRect screen = main.screen()->availableGeometry();
    main.move(screen.center() - main.rect().center() + QPoint(40, 20));
    ProcessEvents();
    const QPoint centre = main.frameGeometry().center();
    std::vector<QWidget*> dialogs{&program.AudioDialog(), &program.EnvelopeDialog(), &program.Help()};
    if (program.MidiDialog()) dialogs.push_back(program.MidiDialog());
    for (const char* item : {"&Audio", "&Envelopes", "&Help", "&MIDI"})
        main.FindAction(item)->trigger();
    ProcessEvents();
    for (QWidget* d : dialogs) {
        ASSERT_TRUE(d->isVisible()) << d->objectName().toStdString();
        const QPoint off = d->frameGeometry().center() - centre;
        // Within the rounding of two centres and the window frame.
        EXPECT_TRUE(std::abs(off.x()) <= 3 && std::abs(off.y()) <= 3)
            << d->objectName().toStdString() << " is off by " << off.x() << "," << off.y();
    }
}

TEST_F(GuiShell, MidiThatDidNotOpenAtStartIsShownOnTheStatusBarWhileTheWindowIsSeen) {
    ScriptedMidiIn::Device busy;
    busy.Name = "Keys";
    busy.OpenResult = kMidiErrAllocated; // held by another program
    GuiProgram holder({busy}, "[MIDI]\nENABLED=1\n");
    Program& program = *holder;
    MainWindow& main = program.Main();
    ASSERT_NE(program.Midi(), nullptr);
    const QString problem = QString::fromStdString(program.Midi()->StartupProblem());
    ASSERT_TRUE(problem.startsWith("The MIDI input device Keys could not be opened")) << problem.toStdString();
    EXPECT_EQ(main.StatusText()->text(), problem);
    EXPECT_EQ(main.StatusText()->toolTip(), problem);

    // While the splash is up the main window is hidden: the seconds do not count.
    for (int i = 0; i < 3 * MainWindow::kProblemTicks; ++i) main.Timer2Timer();
    EXPECT_EQ(main.StatusText()->text(), problem);
    main.show();
    for (int i = 0; i < MainWindow::kProblemTicks; ++i) {
        main.Timer2Timer();
        ASSERT_EQ(main.StatusText()->text(), problem) << "tick " << i;
    }
    main.Timer2Timer();
    // The meter's reading, whatever it is: on the low-latency output the callback runs while
    // stopped, and its last period's share is not always below half a percent (under the
    // address sanitizer a cold period read 3 %).
    const QString usage = main.StatusText()->text();
    EXPECT_TRUE(usage.startsWith("DSP Usage : ") && usage.endsWith("%")) << usage.toStdString();
    EXPECT_EQ(main.StatusText()->toolTip(), problem) << "still there for a second look";
}

TEST_F(GuiShell, MidiThatOpenedLeavesTheStatusBarToTheDspUsage) {
    GuiProgram holder({{"Keys"}}, "[MIDI]\nENABLED=1\n");
    Program& program = *holder;
    ASSERT_NE(program.Midi(), nullptr);
    EXPECT_TRUE(program.Midi()->DevicesOpen);
    EXPECT_EQ(program.Main().StatusText()->text(), "DSP Usage : 0%");
    EXPECT_EQ(program.Main().StatusText()->toolTip(), "");
}

TEST_F(GuiShell, MidiInputThatGoesAwayIsSaidInABoxAndOkOpensItAgain) {
    GuiProgram holder({{"Keys"}}, "[MIDI]\nENABLED=1\n");
    TForm4& midi = *holder->Midi();
    ASSERT_TRUE(midi.DevicesOpen);
    GuiErrors().clear();
    ASSERT_TRUE(holder.Midi->SendGone()); // e.g. its JACK server was stopped
    ProcessEvents(100);
    const QString said = "The MIDI input device Keys stopped working: the device went away. Tick "
                         "\"Enable MIDI\" again or press OK in the MIDI setup to open it again.";
    EXPECT_EQ(GuiErrors(), QStringList{said});
    EXPECT_EQ(QString::fromStdString(midi.MidiStatus.Caption()), said);
    EXPECT_FALSE(midi.DevicesOpen);
    EXPECT_FALSE(holder.Midi->IsOpen()) << "the dead device is let go at once";
    EXPECT_TRUE(midi.CheckBox1.Checked());

    midi.Show();
    midi.Button1.Click(); // OK
    EXPECT_TRUE(midi.DevicesOpen);
    EXPECT_TRUE(holder.Midi->IsStarted());
    EXPECT_EQ(midi.MidiStatus.Caption(), "");
    EXPECT_EQ(holder.Midi->Opens, 2);
}

TEST_F(GuiShell, TheWindowsChainIsTheMainChainWithTheEchosStoredSettings) {
    GuiProgram holder;
    Program& program = *holder;
    AudioRig& rig = program.Audio();
    MainChain& c = rig.Chain;
    EXPECT_EQ(&c.MMWaveOut2, static_cast<TMMCustomSoundComponent*>(&rig.MMWaveOut2));
    EXPECT_EQ(c.MMWaveout1.Output(), &c.MMReverb1);
    EXPECT_EQ(c.MMReverb1.Output(), &c.MMWaveOut2);
    EXPECT_EQ(rig.MMWaveOut2.Output(), &c.MMWaveFile1);
    ASSERT_NE(c.MMWaveFile1.GetWaveFormat(), nullptr) << "the form's format reached the sink";
    EXPECT_EQ(c.MMWaveFile1.GetWaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_FALSE(c.MMWaveFile1.Enabled());

    // The echo as stored, then FormCreate's start-up (input gain 100, enabled).
    const TMMReverb& r = c.MMReverb1;
    EXPECT_EQ(r.Description(), "Untitled");
    EXPECT_EQ(r.MaxDelay(), 2000);
    EXPECT_EQ(r.InputGain(), 100);
    EXPECT_EQ(r.InputPan(), 0);
    EXPECT_EQ(r.OutputGain(), 100);
    EXPECT_EQ(r.FeedBack(), 0);
    EXPECT_FALSE(r.Filter());
    EXPECT_TRUE(r.Enabled());
    ASSERT_EQ(r.Echos().Count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(r.Echos()[i].Delay(), 0) << i;
        EXPECT_EQ(r.Echos()[i].Gain(), 0) << i;
    }

    // At tempo 20, "Delay" 3 asks for 2250 ms: the echo memory must reach 2000 ms, not less.
    program.Form.SpinEdit972.SetValue(20);
    program.Form.MMWheel16.SetValue(3);
    EXPECT_EQ(r.Echos()[0].Delay(), 2250);
    rig.MMWaveOut2.Open();
    ASSERT_NE(r.Dsp(), nullptr);
    EXPECT_EQ(r.Dsp()->MaxDelay, 2000);
    ASSERT_EQ(r.Dsp()->NumTaps, 1);
    // The tap reads 2000 ms (88200 samples) behind the write position.
    const int32_t behind = (r.Dsp()->W - r.Dsp()->TapPos[0] + r.Dsp()->Len) % r.Dsp()->Len;
    EXPECT_EQ(behind, 88200);
    rig.MMWaveOut2.Close();
}
