// The desktop program: the splash window first, the main window after its "OK".

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstring>

#include "app/ErrorDisplay.h"
#include "app/NsmSession.h"
#include "app/Program.h"
#include "devices/AudioBackend.h"
#include "midi/backends/RtMidiInService.h"

#ifndef ZELVOX_VERSION
#define ZELVOX_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: zelvox [--check-help | --version | --help] [Qt options, e.g. -platform NAME]\n"
    "\n"
    "Starts the Zelvox pattern synthesizer: the splash window, then the main window.\n"
    "\n"
    "  --check-help  start as usual, open the help document as Help, \"Help\" does, print\n"
    "                the file it shows and end; exit status 0 when the document was found\n"
    "                and shown, 1 when not\n"
    "  --version     print the program's version and end\n"
    "  -h, --help    show this text and end\n"
    "\n"
    "Exit status 2 for an unknown option.\n"
    "\n"
    "With NSM_URL set (by a session manager such as NSM) the program joins that session: it\n"
    "keeps its pattern and settings in the session's folder, saves them only when the manager\n"
    "asks, shows and hides its window as the manager asks and ends on SIGTERM.\n";

// --check-help: the program starts up as it always does (models, sound output, MIDI, the
// windows), then Help opens the document through the same lookup and viewer as the menu
// command. Start-up problems (no MIDI on this machine, say) are printed instead of shown in
// a box, so nothing waits for a click, and do not fail the check.
int CheckHelp() {
    zelvox::app::SetErrorSink([](const QString& text) {
        std::fprintf(stderr, "zelvox: %s\n", text.toLocal8Bit().constData());
    });
    int status = 1;
    {
        zelvox::app::Program program;
        program.Help2Click();
        const QTextBrowser& browser = *program.Help().Browser();
        const QString shown = browser.source().toLocalFile();
        if (!shown.isEmpty() && QFileInfo(shown).isFile() &&
            browser.documentTitle() == "Zelvox Help") {
            std::printf("%s\n", QFileInfo(shown).canonicalFilePath().toLocal8Bit().constData());
            status = 0;
        } else {
            std::fprintf(stderr, "zelvox: help document not found (looked for %s)\n",
                         zelvox::app::HelpFileCandidates(QCoreApplication::applicationDirPath())
                             .join(", ")
                             .toLocal8Bit()
                             .constData());
        }
    }
    zelvox::app::SetErrorSink(nullptr);
    return status;
}

// --help and --version print and end; anything else unknown is an error (2). Returns -1 when
// the program is to run.
int Options(const QStringList& args) {
    if (args.isEmpty()) return -1;
    if (args.size() > 1) {
        std::fprintf(stderr, "zelvox: one option at a time (see --help)\n");
        return 2;
    }
    const QString& a = args.front();
    if (a == "-h" || a == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (a == "--version") {
        std::printf("zelvox %s\n", ZELVOX_VERSION);
        return 0;
    }
    if (a == "--check-help") return -1;
    std::fprintf(stderr, "zelvox: unknown option '%s' (see --help)\n", a.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a display; --check-help needs the application.
    if (argc == 2 && std::strcmp(argv[1], "--check-help") != 0)
        return Options({QString::fromLocal8Bit(argv[1])});

    // Qt takes its own options (-platform, -style, ...) out of argv here.
    zelvox::app::Application app(argc, argv);
    zelvox::app::Application::setApplicationName("Zelvox");
    zelvox::app::Application::setApplicationVersion(ZELVOX_VERSION);
    // The desktop entry's name, so that the desktop matches windows to the menu entry.
    zelvox::app::Application::setDesktopFileName("io.github.zelvox.Zelvox");
    zelvox::app::Application::setQuitOnLastWindowClosed(false);

    const QStringList args = zelvox::app::Application::arguments().mid(1);
    if (const int status = Options(args); status >= 0) return status;
    if (!args.isEmpty()) return CheckHelp(); // the one option that runs

    // Under a session manager the session's folder holds the settings, so its "open" comes
    // before anything reads them; the manager restores sessions unattended, so no splash
    // waits for a click and the window shows only as the session had it.
    std::unique_ptr<zelvox::app::NsmSession> session;
    try {
        session = zelvox::app::NsmSession::FromEnvironment(
            QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelvox: %s; running without the session manager\n", e.what());
    }
    if (session && !session->WaitForOpen()) {
        if (session->Stopped()) return 0;
        session.reset();
    }
    zelvox::app::ProgramOptions options;
    if (session) {
        options.SettingsPath = session->SettingsPath();
        options.HoldSettings = true;
        // The session restores the connections it saved; the program makes none of its own.
        zelvox::SetJackConnectionsBySession(true);
        // JACK knows this instance by the manager's client id, its MIDI input by the id and
        // "-midi"; an id JACK could not take leaves the usual names.
        if (zelvox::SetDefaultJackClientName(session->ClientId()))
            options.MidiService =
                std::make_unique<zelvox::RtMidiInService>(session->ClientId() + "-midi");
    } else {
        // The splash first ("Initialising, please wait ...."), drawn before the sound and MIDI
        // services are probed behind it, which with a JACK server running takes a while.
        options.Splash = std::make_unique<zelvox::app::SplashWindow>();
        options.Splash->show();
        QElapsedTimer drawn;
        drawn.start();
        while (!options.Splash->Painted() && drawn.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    zelvox::app::Program program(std::move(options));
    QObject::connect(&program, &zelvox::app::Program::finished, &app, &QApplication::quit);
    if (session)
        session->Attach(program);
    else
        program.Start();
    const int status = app.exec();
    if (session) session->Detach(); // the program goes first
    return status;
}
