#include "app/PluginWindow.h"

#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/ErrorDisplay.h"
#include "app/FileDialogs.h"
#include "program/MidiKnobs.h"

namespace zelvox::app {

PluginWindow::PluginWindow(int fd, unsigned long parent, pid_t host)
    : Fd_(fd), Parent_(parent), Host_(host), Buffer_(wire::kMaxMessage + 64) {
    StartUp([this] { Main_ = std::make_unique<MainWindow>(Form); });
    Envelope_ = std::make_unique<EnvelopeWindow>(Envelopes);
    Envelope_->SetCentreOn(Main_.get());
    Link_ = std::make_unique<PluginLink>(*this);
    // A knob held with the mouse is still one gesture, however long it rests.
    Link_->Holding = [] { return QGuiApplication::mouseButtons() != Qt::NoButton; };
    Link_->OnShow = [this](bool show) {
        if (!show) {
            Main_->hide();
            return;
        }
        Main_->show();
        Main_->raise();
        Main_->activateWindow();
    };

    MainWindow& w = *Main_;
    // The host owns the sound and MIDI: no device setup, no recording, no exit of its own.
    for (const char* caption : {"&Record to wav", "Export audio...", "Export MIDI file...", "&Exit", "&Audio", "&MIDI", "&About", "&Help"})
        if (QAction* a = w.FindAction(caption)) a->setVisible(false);
    for (QAction* top : w.menuBar()->actions())
        if (top->text() == "&Help") top->setVisible(false);
    w.OnLoadPattern = [this] {
        const std::optional<QString> name = ChooseFile(Main_.get(), LoadPatternDialog());
        if (name) LoadPattern(name->toStdString()); // sent to the plugin by the next pump
    };
    w.OnOpenExample = [this](const std::string& path) { LoadPattern(path); };
    w.OnSavePattern = [this] {
        const PatternFileRecord record = PatternRecord();
        const std::optional<QString> name = ChooseFile(Main_.get(), SavePatternDialog());
        if (name) SavePattern(record, name->toStdString());
    };
    w.OnEnvelopeSetup = [this] { Envelopes.Show(); };
    for (QAction* top : w.menuBar()->actions())
        if (top->text() == "&Setup" && top->menu())
            QObject::connect(top->menu()->addAction("MIDI &controllers from the desktop program"),
                             &QAction::triggered, this, [this] { UseDesktopControllers(); });
    w.OnClosed = [this] {
        Envelopes.Form5.SetVisible(false);
        Send(wire::Simple(wire::Kind::Closed));
        Gone();
    };
    w.ShowStartupProblem("Waiting for the plugin ...");

    Readable_ = std::make_unique<QSocketNotifier>(Fd_, QSocketNotifier::Read);
    connect(Readable_.get(), &QSocketNotifier::activated, this, [this] { Read(); });
    connect(&Pump_, &QTimer::timeout, this, [this] { Pump(); });
    Pump_.start(kPumpMs);
    // A host that dies closes the socket, but a child of its own (a crash handler, a plugin
    // scanner) may hold the socket's end on: the parent is watched too.
    connect(&HostWatch_, &QTimer::timeout, this, [this] {
        if (::getppid() != Host_) Gone();
    });
    HostWatch_.start(kHostWatchMs);

    if (Parent_ != 0) {
        // Inside the host's window: a native child of the window the UI library made there.
        w.setAttribute(Qt::WA_NativeWindow);
        w.winId();
        if (QWindow* host = QWindow::fromWinId(WId(Parent_))) {
            w.windowHandle()->setParent(host);
            w.move(0, 0);
        }
    }
    w.show();
    Send(wire::Simple(wire::Kind::Hello, wire::kVersion));
    wire::Message size;
    size.What = wire::Kind::Size;
    size.A = uint32_t(w.frameGeometry().width());
    size.B = w.frameGeometry().height();
    Send(size);
}

PluginWindow::~PluginWindow() {
    Pump_.stop();
    Readable_.reset();
    if (Fd_ >= 0) ::close(Fd_);
    Link_.reset();
    Envelope_.reset();
    Main_.reset();
}

void PluginWindow::UseDesktopControllers() {
    Guarded([&] { Send(wire::ControllersMessage(ReadControllerTable(TSettingsFile()))); });
}

void PluginWindow::Pump() {
    if (Ended_) return;
    for (const wire::Message& m : Link_->Outgoing()) Send(m);
    Flush();
}

void PluginWindow::Read() {
    if (Ended_) return;
    Pump(); // the window's own edits first, so that news from the host does not hide them
    for (int k = 0; k < 256; ++k) {
        const ssize_t n = ::recv(Fd_, Buffer_.data(), Buffer_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
            Gone();
            return;
        }
        if (n == 0) {
            Gone(); // the host closed the window or went away
            return;
        }
        wire::Message m;
        if (size_t(n) > Buffer_.size() || !wire::Decode(Buffer_.data(), size_t(n), m)) continue;
        Guarded([&] { Link_->Receive(m); });
    }
    if (Link_->Synced() && !WasSynced_) {
        WasSynced_ = true;
        Main_->ShowStartupProblem(QString());
        Main_->Timer2Timer();
        if (OnSynced) OnSynced();
    }
}

void PluginWindow::Send(const wire::Message& m) {
    if (Fd_ < 0) return;
    Queue_.push_back(wire::Encode(m));
    Flush();
}

void PluginWindow::Flush() {
    while (Fd_ >= 0 && !Queue_.empty()) {
        const std::vector<uint8_t>& m = Queue_.front();
        const ssize_t n = ::send(Fd_, m.data(), m.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n < 0) {
            Gone();
            return;
        }
        Queue_.pop_front();
    }
}

void PluginWindow::Gone() {
    if (Ended_) return;
    Ended_ = true;
    Readable_->setEnabled(false);
    Pump_.stop();
    HostWatch_.stop();
    QTimer::singleShot(0, this, &PluginWindow::finished);
}

int RunPluginWindow(int argc, char** argv, const std::function<void(PluginWindow&)>& started) {
    int fd = -1;
    unsigned long parent = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string key = argv[i];
        char* end = nullptr;
        const unsigned long v = std::strtoul(argv[i + 1], &end, 10);
        if (!end || *end) continue;
        if (key == "--plugin-window") fd = int(v);
        if (key == "--parent") parent = v;
    }
    if (fd < 0) {
        std::fprintf(stderr, "usage: zelvox-window --plugin-window FD [--parent WINDOW]\n"
                             "The plugin's window; the plugin's UI library starts it.\n");
        return 2;
    }
    // The host dying ends this process at once (SIGTERM's default action), whatever its
    // event loop is doing; the process that started it is its host. A host that died before
    // this line is seen by the check just after, and by the window's watch.
    const pid_t host = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != host) return 0;
    Application app(argc, argv);
    Application::setApplicationName("Zelvox");
    Application::setQuitOnLastWindowClosed(false);
    PluginWindow window(fd, parent, host);
    QObject::connect(&window, &PluginWindow::finished, &app, &QApplication::quit);
    if (started) started(window);
    return app.exec();
}

} // namespace zelvox::app
