#pragma once
// The application's standard error display. A component failure is an exception carrying
// the message text; one that reaches the event loop ends the action that raised it and is
// shown in a message box, and the program carries on.

#include <QApplication>
#include <QString>

#include <functional>

namespace zelvox::app {

// Shows text in an error box (or hands it to the sink that tests install).
void ShowError(const QString& text);
// Tests: where error texts go instead of a message box; empty restores the box.
void SetErrorSink(std::function<void(const QString&)> sink);

// Runs f; an exception it throws is shown by ShowError. Returns false if one was thrown.
bool Guarded(const std::function<void()>& f);

// The program's QApplication: every event handler runs guarded, so an exception leaving a
// handler is shown and the event loop goes on.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace zelvox::app
