#include "app/ErrorDisplay.h"

#include <QMessageBox>

#include <exception>

namespace zelvox::app {

namespace {
std::function<void(const QString&)>& Sink() {
    static std::function<void(const QString&)> sink;
    return sink;
}
int Depth = 0; // errors shown while an error box is open are not stacked
} // namespace

void SetErrorSink(std::function<void(const QString&)> sink) { Sink() = std::move(sink); }

void ShowError(const QString& text) {
    if (Sink()) return Sink()(text);
    if (Depth > 0) return;
    ++Depth;
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName().isEmpty() ? "Zelvox"
                                                                                    : QApplication::applicationName(),
                    text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    --Depth;
}

bool Guarded(const std::function<void()>& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    } catch (...) {
        ShowError("Unknown error");
    }
    return false;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

} // namespace zelvox::app
