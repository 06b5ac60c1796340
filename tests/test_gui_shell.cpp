// The program's start-up and shell: splash sequence, About, the main window's size, caption,
// menus and status bar, Exit.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/Program.h"
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
    for (const char* t : {"Zelvox", "For Win95/98", "V3.0", "Initialising, please wait ...."})
        EXPECT_TRUE(Texts(&splash).contains(t)) << t;

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
        {"&File", {"&Load pattern", "&Save pattern", "&Record to wav", "&Exit"}},
        {"&Edit", {"&Copy", "&Paste"}},
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
