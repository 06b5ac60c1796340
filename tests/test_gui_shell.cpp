// Splash window and main-window shell: start-up sequence, About, sizes, menus.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/MainWindow.h"
#include "app/SplashWindow.h"
#include "support/GuiTest.h"

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
    SplashWindow splash;
    MainWindow main;
    QObject::connect(&splash, &SplashWindow::okPressed, &main, [&] { main.show(); });
    EXPECT_EQ(splash.size(), QSize(420, 172));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    for (const char* t : {"Zelvox", "For Win95/98", "V3.0", "Initialising, please wait ...."})
        EXPECT_TRUE(Texts(&splash).contains(t)) << t;

    QElapsedTimer clock;
    splash.show();
    clock.start();
    EXPECT_FALSE(splash.OkButton()->isEnabled());
    ProcessEvents(500);
    EXPECT_FALSE(splash.OkButton()->isEnabled());
    EXPECT_FALSE(main.isVisible());
    ASSERT_TRUE(WaitFor([&] { return splash.OkButton()->isEnabled(); }, 3000));
    EXPECT_GE(clock.elapsed(), 990);

    splash.OkButton()->click();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(main.isVisible());

    // About: the banner again, without the initialising text, OK usable at once.
    splash.ShowAbout();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_FALSE(Texts(&splash).contains("Initialising, please wait ...."));
    EXPECT_TRUE(splash.OkButton()->isEnabled());
    splash.OkButton()->click();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(main.isVisible());
}

TEST_F(GuiShell, MainWindowHasTheFixedClientAreaCaptionMenusAndStatusBar) {
    MainWindow main;
    main.show();
    EXPECT_EQ(main.windowTitle(), "Zelvox");
    EXPECT_EQ(main.width(), 397);
    EXPECT_EQ(main.height() - main.menuBar()->height(), 382);
    EXPECT_EQ(main.minimumSize(), main.maximumSize());
    EXPECT_EQ(main.Panel()->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(main.StatusText()->text(), "DSP Usage : 0%");

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
}

TEST_F(GuiShell, ExitClosesTheMainWindowWhichClosesTheSplash) {
    SplashWindow splash;
    MainWindow main;
    bool programEnded = false;
    QObject::connect(&main, &MainWindow::closed, &splash, &QWidget::close);
    QObject::connect(&splash, &SplashWindow::closed, [&] { programEnded = true; });
    main.show();
    main.FindAction("&Exit")->trigger();
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(programEnded);
}
