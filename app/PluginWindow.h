#pragma once
// The plugin's window: the desktop program's main window and envelope dialog on a plugin
// instance, in a process of its own that the plugin's UI library starts (zelvox-window).
// It speaks to that library over the socket it was given (synth/WindowWire.h); PluginLink
// keeps the window's model and the plugin in step. Without audio or MIDI setup: the host
// owns those.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/types.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/EnvelopeWindow.h"
#include "app/MainWindow.h"
#include "program/PluginLink.h"
#include "program/ProgramCore.h"

namespace zelvox::app {

class PluginWindow : public QObject, public ProgramCore {
    Q_OBJECT
public:
    // fd: the socket to the UI library (owned from now on). parent: the host's window to
    // show inside (0: a window of its own). host: the process that started this one; the
    // window ends when it is no longer this process's parent.
    PluginWindow(int fd, unsigned long parent, pid_t host);
    ~PluginWindow() override;

    MainWindow& Main() const { return *Main_; }
    EnvelopeWindow& EnvelopeDialog() const { return *Envelope_; }
    PluginLink& Link() { return *Link_; }

    // Sends what the window has edited now (the pump does it every kPumpMs).
    void Pump();
    static constexpr int kPumpMs = 40;
    static constexpr int kHostWatchMs = 250;

    // Setup > "MIDI controllers from the desktop program": the plugin takes the desktop
    // program's controller table (its settings file) into its own state.
    void UseDesktopControllers();

    // The first state from the plugin has been shown (for tests that drive the window).
    std::function<void()> OnSynced;

signals:
    void finished(); // the host went away or the user closed the window

private:
    void Read();
    void Send(const wire::Message& m);
    void Flush();
    void Gone();

    int Fd_;
    unsigned long Parent_;
    pid_t Host_;
    std::unique_ptr<PluginLink> Link_;
    std::unique_ptr<MainWindow> Main_;
    std::unique_ptr<EnvelopeWindow> Envelope_;
    std::unique_ptr<QSocketNotifier> Readable_;
    QTimer Pump_;
    QTimer HostWatch_;
    std::deque<std::vector<uint8_t>> Queue_;
    std::vector<uint8_t> Buffer_;
    bool Ended_ = false;
    bool WasSynced_ = false;
};

// zelvox-window's main: `--plugin-window FD [--parent WINDOW]`. Returns the exit status.
int RunPluginWindow(int argc, char** argv, const std::function<void(PluginWindow&)>& started = {});

} // namespace zelvox::app
