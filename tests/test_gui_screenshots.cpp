// Pictures of every window: the splash, the four pages of the main window and the setup
// dialogs. With ZELVOX_SCREENSHOT_DIR set (scripts/screenshots.sh, under a real X server) the
// pictures are written there as PNG files; otherwise each is only taken and checked for size.

#include <gtest/gtest.h>

#include <algorithm>

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "app/DiceWindow.h"
#include "app/Program.h"
#include "ui/qt/Knob.h"
#include "support/GuiProgram.h"

using namespace zelvox;
using namespace zelvox::app;
using namespace zelvox::testing;

namespace {

class GuiScreenshots : public ::testing::Test {
protected:
    void SetUp() override { GuiApp(); }

    // The window with its frame when a window manager draws one, else the widget itself.
    static QImage Take(QWidget& w) {
        ProcessEvents(150);
        return w.grab().toImage();
    }

    void Keep(const QImage& img, const char* name) {
        ASSERT_FALSE(img.isNull()) << name;
        const QString dir = QString::fromLocal8Bit(qgetenv("ZELVOX_SCREENSHOT_DIR"));
        if (dir.isEmpty()) return;
        QDir().mkpath(dir);
        ASSERT_TRUE(img.save(dir + "/" + name + ".png")) << name;
    }

    // The main window with its menu bar, as the user sees its client area.
    static QImage MainWindowPicture(MainWindow& w) { return Take(w); }
};

} // namespace

TEST_F(GuiScreenshots, SplashAndAbout) {
    GuiProgram holder;
    Program& program = *holder;
    program.Start();
    const QImage splash = Take(program.Splash());
    EXPECT_EQ(splash.size(), QSize(420, 172) * splash.devicePixelRatio());
    Keep(splash, "splash");
    ASSERT_TRUE(WaitFor([&] { return program.Splash().OkButton()->isEnabled(); }, 3000));
    program.Splash().OkButton()->click();
    program.Main().FindAction("&About")->trigger();
    Keep(Take(program.Splash()), "about");
}

TEST_F(GuiScreenshots, EveryPageOfTheMainWindow) {
    GuiProgram holder;
    Program& program = *holder;
    MainWindow& w = program.Main();
    w.show();
    Keep(MainWindowPicture(w), "main-start");
    const std::pair<const char*, const char*> pages[] = {
        {"&Bass synth", "page-bass"}, {"&Twin-T synth", "page-twin-t"}, {"&Noise synth", "page-noise"},
        {"&Arranger", "page-arranger"}};
    for (const auto& [item, file] : pages) {
        w.FindAction(item)->trigger();
        const QImage img = MainWindowPicture(w);
        EXPECT_EQ(img.width(), int(397 * img.devicePixelRatio()));
        Keep(img, file);
    }
    // A pattern with some life in it: notes, a slide, the sequencer on step 5, the edit step.
    w.FindAction("&Bass synth")->trigger();
    MainForm& f = program.Form;
    const int notes[16] = {13, 13, 25, 13, 20, 13, 8, 13, 13, 25, 13, 18, 13, 30, 13, 11};
    for (int n = 1; n <= 16; ++n) f.MMSlider(n).SetValue(notes[n - 1]);
    f.MMSliderEnter(3);
    f.PopupMenu1Popup();
    f.Slide1Click();
    f.MMLED(5).SetColor(Colours::Red);
    Keep(MainWindowPicture(w), "page-bass-edited");

    // Played from the keyboard: the focus on step 3's slider, the Delay knob just turned,
    // its value showing in milliseconds.
    QApplication::setActiveWindow(&w);
    ViewOf<QWidget>(w, "MMSlider3")->setFocus(Qt::TabFocusReason);
    auto* delay = ViewOf<qt::KnobView>(w, "MMWheel16");
    Wheel(delay, 4);
    ASSERT_TRUE(delay->ValueShown());
    Keep(MainWindowPicture(w), "page-bass-keyboard-and-knob-value");
}

TEST_F(GuiScreenshots, SetupDialogsAndMenus) {
    GuiProgram holder;
    Program& program = *holder;
    program.Main().show();
    program.Main().FindAction("&Envelopes")->trigger();
    ASSERT_TRUE(program.EnvelopeDialog().isVisible());
    program.Envelopes.SpinEdit971.SetValue(30);
    program.Envelopes.SpinEdit974.SetValue(8);
    Keep(Take(program.EnvelopeDialog()), "dialog-envelopes");

    program.Main().FindAction("&Audio")->trigger();
    ASSERT_TRUE(program.AudioDialog().isVisible());
    EXPECT_GE(program.Audio().AudioSetup.ComboBox1.Items.size(), 2u) << "Automatic and the virtual output";
    // Shown with the low-latency JACK output chosen and following the transport when the
    // pictures are taken with a server running; else the first sound system found and its
    // first device.
    TAudioSetupForm& audio = program.Audio().AudioSetup;
    const auto& systems = audio.ComboBox1.Items;
    const auto live = std::find(systems.begin(), systems.end(), "JACK (low latency)");
    audio.ComboBox1.SetItemIndex(live != systems.end() ? int32_t(live - systems.begin()) : 1);
    if (audio.ComboBox2.Items.size() > 1) audio.ComboBox2.SetItemIndex(1);
    audio.CheckBox1.SetChecked(true);
    audio.CheckBox3.SetChecked(true);
    audio.CheckBox5.SetChecked(true); // MIDI notes out, the bass on channel 2
    audio.SpinEdit1.SetValue(2);
    Keep(Take(program.AudioDialog()), "dialog-audio-setup");

    ASSERT_NE(program.MidiDialog(), nullptr);
    program.Main().FindAction("&MIDI")->trigger();
    program.Midi()->CheckBox1.SetChecked(true);
    program.Midi()->Learn.LearnClick(ControlId::BassCutoff); // one learned controller listed
    ASSERT_TRUE(holder.Midi->SendShort(0xB0, 74, 64));
    ASSERT_TRUE(holder.Midi->SendShort(0xB0, 7, 100));
    ProcessEvents(100);
    Keep(Take(*program.MidiDialog()), "dialog-midi-setup");

    program.Main().FindAction("&Help")->trigger();
    program.Help().OpenContents(QString::fromLocal8Bit(qgetenv("ZELVOX_BIN_DIR")) + "/Zelvox.html");
    Keep(Take(program.Help()), "help-viewer");

    // The step context menu over slider 5.
    program.Main().StepMenu()->popup(program.Main().mapToGlobal(QPoint(130, 150)));
    Keep(Take(*program.Main().StepMenu()), "menu-step");
}

// The swing spin edit under Loop and Stop, set to 33 %, and Edit > Randomise and Mutate with a
// seed typed in.
TEST_F(GuiScreenshots, SwingAndTheRandomiseAndMutateDialogs) {
    GuiProgram holder;
    Program& program = *holder;
    MainWindow& w = program.Main();
    w.show();
    w.Swing.SetValue(33);
    Keep(MainWindowPicture(w), "main-swing");
    for (const bool mutate : {false, true}) {
        DiceWindow dialog(mutate, DiceOptions{}, 25, &w);
        dialog.findChild<QLineEdit*>("Seed")->setText("42");
        dialog.show();
        Keep(Take(dialog), mutate ? "dialog-mutate" : "dialog-randomise");
    }
}

// File > "Open example" with its submenu of the factory bank, File > "Export MIDI file..."
// chosen, and the Arranger page after an example song was opened.
TEST_F(GuiScreenshots, OpenExampleAndExportMidiFile) {
    GuiProgram holder;
    Program& program = *holder;
    MainWindow& w = program.Main();
    w.show();
    QMenu* file = w.menuBar()->actions().value(0)->menu();
    auto* examples = w.findChild<QMenu*>("OpenExample1");
    ASSERT_NE(file, nullptr);
    ASSERT_NE(examples, nullptr);
    file->popup(w.mapToGlobal(QPoint(0, w.menuBar()->height())));
    file->setActiveAction(examples->menuAction());
    const QRect at = file->actionGeometry(examples->menuAction());
    examples->popup(file->mapToGlobal(QPoint(file->width(), at.top())));
    const QImage menu = Take(*file), sub = Take(*examples);
    QImage both(menu.width() + sub.width(), std::max(menu.height(), at.top() + sub.height()), QImage::Format_RGB32);
    both.fill(Qt::white);
    QPainter paint(&both);
    paint.drawImage(0, 0, menu);
    paint.drawImage(menu.width(), at.top(), sub);
    paint.end();
    Keep(both, "menu-open-example");
    examples->hide();
    file->setActiveAction(w.FindAction("Export MIDI file..."));
    Keep(Take(*file), "menu-export-midi");
    file->hide();

    for (QAction* a : examples->actions())
        if (a->text() == "song-acid-journey") a->trigger();
    program.Form.Arranger1Click();
    Keep(MainWindowPicture(w), "page-arranger-example");
}
