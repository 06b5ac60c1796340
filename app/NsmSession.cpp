#include "app/NsmSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include "app/Program.h"

namespace zelvox::app {

namespace {

// SIGTERM reaches the main thread through a pipe that the event loop watches.
std::atomic<bool> Terminated{false};
int StopPipe[2] = {-1, -1};

void OnTerm(int) {
    Terminated.store(true);
    const char byte = 1;
    const ssize_t ignored = ::write(StopPipe[1], &byte, 1);
    (void)ignored;
}

void InstallTermHandler() {
    if (StopPipe[0] >= 0) return;
    if (::pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("no pipe for SIGTERM");
    struct sigaction sa {};
    sa.sa_handler = OnTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
}

// How long the announce may go unanswered before the program runs on its own.
constexpr int kAnswerWaitMs = 10000;

} // namespace

std::unique_ptr<NsmSession> NsmSession::FromEnvironment(const std::string& executable) {
    const char* url = std::getenv("NSM_URL");
    if (!url || !*url) return nullptr;
    lo_address manager = lo_address_new_from_url(url);
    if (!manager) throw std::runtime_error(std::string("NSM_URL is not an OSC address: ") + url);
    const int proto = lo_address_get_protocol(manager);
    lo_server server =
        lo_server_new_with_proto(nullptr, proto == LO_TCP ? LO_TCP : LO_UDP, nullptr);
    if (!server) {
        lo_address_free(manager);
        throw std::runtime_error("no OSC port could be opened for the session manager");
    }
    InstallTermHandler();
    return std::unique_ptr<NsmSession>(new NsmSession(manager, server, executable));
}

NsmSession::NsmSession(lo_address manager, lo_server server, std::string executable)
    : Manager_(manager), Server_(server), Executable_(std::move(executable)) {
    lo_server_add_method(Server_, nullptr, nullptr, &NsmSession::OnMessage, this);
}

NsmSession::~NsmSession() {
    ::signal(SIGTERM, SIG_DFL); // a program that runs on without the manager ends on it as ever
    OscReady_.reset();
    StopReady_.reset();
    lo_server_free(Server_);
    lo_address_free(Manager_);
}

bool NsmSession::Stopped() const {
    return Terminated.load();
}

bool NsmSession::WaitForOpen() {
    // The manager identifies its client by the port it hears from, so everything goes out of
    // the server's own socket.
    if (lo_send_from(Manager_, Server_, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii",
                     "Zelvox", ":", Executable_.c_str(), 1, 2, int(::getpid())) < 0) {
        // An address that does not resolve or cannot be sent to: no use waiting for an answer.
        const char* why = lo_address_errstr(Manager_);
        Refused_ = std::string("cannot be reached") + (why && *why ? std::string(" (") + why + ")" : "");
    }
    QElapsedTimer waited;
    waited.start();
    while (!OpenAsked_ && Refused_.empty() && !Stopped()) {
        if (!Welcomed_ && waited.elapsed() > kAnswerWaitMs) {
            Refused_ = "no answer";
            break;
        }
        lo_server_recv_noblock(Server_, 20);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10); // the splash stays drawn
    }
    if (!Refused_.empty() && !Stopped())
        std::fprintf(stderr, "zelvox: the session manager at %s: %s; running without it\n",
                     std::getenv("NSM_URL"), Refused_.c_str());
    return OpenAsked_ && !Stopped();
}

int NsmSession::OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                          void* self) {
    static_cast<NsmSession*>(self)->Handle(path, types, argv, argc);
    return 0;
}

void NsmSession::Handle(const std::string& path, const char* types, lo_arg** argv, int argc) {
    const std::string t = types ? types : "";
    auto text = [&](int i) {
        // liblo's arguments lie only 4-byte aligned in the message (lo_arg asks for 8), so
        // the text is read through a plain character pointer.
        return i < argc && t[size_t(i)] == 's' ? std::string(reinterpret_cast<const char*>(argv[i]))
                                               : std::string();
    };
    if (path == "/reply" && text(0) == "/nsm/server/announce") {
        Welcomed_ = true;
        return;
    }
    if (path == "/error" && text(0) == "/nsm/server/announce") {
        Refused_ = argc >= 3 ? text(2) : "refused";
        if (Refused_.empty()) Refused_ = "refused";
        return;
    }
    if (path == "/nsm/client/open") {
        if (argc < 3 || t.substr(0, 3) != "sss") return;
        if (OpenAsked_) {
            // Announced without :switch:, so a second session is not the manager's to ask for.
            Error("/nsm/client/open", kErrGeneral, "Zelvox is open in a session already");
            return;
        }
        OpenAsked_ = true;
        Prefix_ = text(0);
        ClientId_ = text(2);
        return;
    }
    if (path == "/nsm/client/save") {
        if (!Program_)
            Error("/nsm/client/save", kErrGeneral, "Zelvox is not open yet");
        else
            Save();
    }
}

void NsmSession::Attach(Program& program) {
    Program_ = &program;
    std::string problem;
    int code = 0;
    try {
        if (std::filesystem::exists(PatternPath())) {
            code = kErrBadProject;
            Unreadable_ = true;
            program.LoadPattern(PatternPath());
            Unreadable_ = false;
            program.Form.ClearHistory(); // opening the session is not an edit to undo
        } else {
            code = kErrCreateFailed;
            Program::SavePattern(program.PatternRecord(), PatternPath());
        }
        // The settings are written as they change; a new session starts a file of its own.
        code = kErrCreateFailed;
        if (!std::filesystem::exists(SettingsPath()))
            program.Settings().WriteInteger("Sequencer", "Swing", program.Form.Synth.Seq.Swing());
        code = 0;
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (code == 0)
        Reply("/nsm/client/open", "Zelvox is open");
    else
        Error("/nsm/client/open", code, problem);

    OscReady_ =
        std::make_unique<QSocketNotifier>(lo_server_get_socket_fd(Server_), QSocketNotifier::Read);
    connect(OscReady_.get(), &QSocketNotifier::activated, this, [this] { Receive(); });
    StopReady_ = std::make_unique<QSocketNotifier>(StopPipe[0], QSocketNotifier::Read);
    connect(StopReady_.get(), &QSocketNotifier::activated, this, [] {
        char bytes[16];
        while (::read(StopPipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    // Anything that came while the program was being built; a SIGTERM then is still in the
    // pipe and ends the event loop as soon as it runs.
    Receive();
}

void NsmSession::Receive() {
    while (lo_server_recv_noblock(Server_, 0) > 0) {
    }
}

void NsmSession::Save() {
    try {
        // A pattern file the session opened with but could not read is kept beside the new one.
        if (Unreadable_) {
            std::filesystem::rename(PatternPath(), PatternPath() + ".unreadable");
            Unreadable_ = false;
        }
        Program::SavePattern(Program_->PatternRecord(), PatternPath());
        Program_->Settings().WriteInteger("Sequencer", "Swing", Program_->Form.Synth.Seq.Swing());
    } catch (const std::exception& e) {
        Error("/nsm/client/save", kErrGeneral, e.what());
        return;
    }
    Reply("/nsm/client/save", "Saved");
}

void NsmSession::Reply(const char* to, const std::string& message) {
    lo_send_from(Manager_, Server_, LO_TT_IMMEDIATE, "/reply", "ss", to, message.c_str());
}

void NsmSession::Error(const char* to, int code, const std::string& message) {
    lo_send_from(Manager_, Server_, LO_TT_IMMEDIATE, "/error", "sis", to, code, message.c_str());
}

} // namespace zelvox::app
