#pragma once
// Helpers for the GUI tests: one QApplication for the test program, synthetic mouse, wheel and
// key input delivered to real widgets, and waiting on the event loop. Header only, because
// tests/support/*.cpp is linked into the tests that do not use Qt.

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include <cstdio>
#include <functional>

#include "app/ErrorDisplay.h"

namespace zelvox::testing {

// Errors the program would have shown in a message box during the tests, in order.
inline QStringList& GuiErrors() {
    static QStringList errors;
    return errors;
}

inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "zelvox-gui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Run without a display also when started outside ctest.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new app::Application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // A modal error box would stop a test for good: collect the texts instead.
        app::SetErrorSink([](const QString& text) {
            GuiErrors() << text;
            fprintf(stderr, "error box: %s\n", qPrintable(text));
        });
        return a;
    }();
    return *app;
}

inline void ProcessEvents(int ms = 0) {
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (t.elapsed() < ms);
}

// Runs the event loop until pred() holds or the time is up; returns pred().
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 10);
    return pred();
}

inline void SendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

inline void Press(QWidget* w, QPointF pos, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, pos, b, b);
}
inline void Release(QWidget* w, QPointF pos, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton);
}
inline void Move(QWidget* w, QPointF pos, Qt::MouseButtons held = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, held);
}
inline void Click(QWidget* w, QPointF pos, Qt::MouseButton b = Qt::LeftButton) {
    Press(w, pos, b);
    Release(w, pos, b);
}
inline void Click(QWidget* w) { Click(w, QRectF(w->rect()).center()); }

// A right click as the platform delivers it: press, release, then the context-menu event.
inline void RightClick(QWidget* w, QPointF pos) {
    Press(w, pos, Qt::RightButton);
    Release(w, pos, Qt::RightButton);
    QContextMenuEvent e(QContextMenuEvent::Mouse, pos.toPoint(), w->mapToGlobal(pos.toPoint()));
    QApplication::sendEvent(w, &e);
}

inline void Wheel(QWidget* w, int notches) {
    const QPointF pos = QRectF(w->rect()).center();
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

inline void Key(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// The child of a window whose object name (the model's name) is name.
template <class W = QWidget> W* ViewOf(QWidget& window, const char* name) { return window.findChild<W*>(name); }

// The widget as drawn, for pixel checks.
inline QImage Grab(QWidget* w) { return w->grab().toImage(); }

} // namespace zelvox::testing
