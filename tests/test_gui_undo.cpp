// The Edit menu's Undo and Redo on the real window: captions that name the edit, disabled when
// there is nothing to take back, and the keyboard shortcuts.

#include <gtest/gtest.h>

#include <QAction>
#include <QTest>

#include "support/GuiProgram.h"

using namespace zelvox;
using namespace zelvox::testing;

TEST(GuiUndo, MenuCaptionsAndShortcutsUndoAndRedoAWheelBurst) {
    GuiProgram holder;
    app::MainWindow& w = holder->Main();
    MainForm& f = holder->Form;
    f.History.Now = [] {
        return EditHistory::Clock::time_point{};
    }; // one burst, however slow the machine
    w.show();
    w.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return w.isActiveWindow(); }));
    QAction* undo = w.findChild<QAction*>("Undo1");
    QAction* redo = w.findChild<QAction*>("Redo1");
    ASSERT_TRUE(undo && redo);
    EXPECT_EQ(undo->text(), "&Undo");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    const int32_t start = f.MMWheel3.Value();
    QWidget* knob = ViewOf(w, "MMWheel3");
    ASSERT_NE(knob, nullptr);
    Wheel(knob, 1);
    Wheel(knob, 1);
    Wheel(knob, 1);
    const int32_t turned = f.MMWheel3.Value();
    ASSERT_NE(turned, start);
    EXPECT_EQ(undo->text(), "&Undo Cut-off");
    EXPECT_TRUE(undo->isEnabled());

    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(f.MMWheel3.Value(), start); // the whole burst at once
    EXPECT_EQ(undo->text(), "&Undo");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_EQ(redo->text(), "&Redo Cut-off");
    EXPECT_TRUE(redo->isEnabled());

    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(f.MMWheel3.Value(), turned);
    undo->trigger();
    EXPECT_EQ(f.MMWheel3.Value(), start);
    QTest::keyClick(&w, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(f.MMWheel3.Value(), turned);
    EXPECT_EQ(redo->text(), "&Redo");
    EXPECT_TRUE(GuiErrors().isEmpty());
}
