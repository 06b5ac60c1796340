#include "app/NsmSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include "app/Program.h"
#include "files/PatternFileFormat.h"

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
// Messages from strangers said on stderr; after that they are dropped without a word.
constexpr int kIgnoredToldMax = 20;

// The manager's host and port as a socket address. IPv4 first, as liblo's own addresses are,
// so a host name that has both reaches a manager listening on IPv4 only.
bool Resolve(const char* host, const char* port, sockaddr_storage& out, socklen_t& size) {
    for (const int family : {AF_INET, AF_UNSPEC}) {
        addrinfo hints{};
        hints.ai_family = family;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host, port, &hints, &found) != 0 || !found) continue;
        std::memcpy(&out, found->ai_addr, found->ai_addrlen);
        size = found->ai_addrlen;
        ::freeaddrinfo(found);
        return true;
    }
    return false;
}

// Same host and port (IPv4 or IPv6).
bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_port == y.sin6_port &&
               std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

std::string AddressText(const sockaddr_storage& a, socklen_t size) {
    char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&a), size, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(host) + ":" + port;
}

// A UDP socket bound to the local address the system would send to `to` from (loopback for a
// manager on this machine), on a port of the system's choice.
int SocketTowards(const sockaddr_storage& to, socklen_t toSize) {
    const int probe = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return -1;
    sockaddr_storage local{};
    socklen_t localSize = sizeof local;
    const bool found = ::connect(probe, reinterpret_cast<const sockaddr*>(&to), toSize) == 0 &&
                       ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &localSize) == 0;
    ::close(probe);
    if (!found) return -1;
    if (local.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(local).sin_port = 0;
    if (local.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6&>(local).sin6_port = 0;
    const int s = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return -1;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), localSize) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

} // namespace

std::unique_ptr<NsmSession> NsmSession::FromEnvironment(const std::string& executable) {
    const char* url = std::getenv("NSM_URL");
    if (!url || !*url) return nullptr;
    lo_address parsed = lo_address_new_from_url(url);
    if (!parsed) throw std::runtime_error(std::string("NSM_URL is not an OSC address: ") + url);
    const int proto = lo_address_get_protocol(parsed);
    const std::string host = lo_address_get_hostname(parsed) ? lo_address_get_hostname(parsed) : "";
    const std::string port = lo_address_get_port(parsed) ? lo_address_get_port(parsed) : "";
    lo_address_free(parsed);
    if (proto != LO_UDP)
        throw std::runtime_error(
            std::string("the session manager at ") + url +
            " is not reached over UDP, the only way this program speaks to one");
    sockaddr_storage manager{};
    socklen_t size = 0;
    if (!Resolve(host.c_str(), port.c_str(), manager, size))
        throw std::runtime_error(std::string("the session manager at ") + url +
                                 " cannot be reached");
    const int s = SocketTowards(manager, size);
    if (s < 0) throw std::runtime_error("no OSC port could be opened for the session manager");
    InstallTermHandler();
    return std::unique_ptr<NsmSession>(new NsmSession(manager, size, s, executable));
}

NsmSession::NsmSession(const sockaddr_storage& manager, socklen_t managerSize, int socket,
                       std::string executable)
    : Manager_(manager), ManagerSize_(managerSize), Socket_(socket),
      Executable_(std::move(executable)) {}

NsmSession::~NsmSession() {
    ::signal(SIGTERM, SIG_DFL); // a program that runs on without the manager ends on it as ever
    OscReady_.reset();
    StopReady_.reset();
    ::close(Socket_);
}

bool NsmSession::Stopped() const {
    return Terminated.load();
}

bool NsmSession::WaitForOpen() {
    // The manager identifies its client by the port it hears from, so everything goes out of
    // this one socket.
    lo_message hello = lo_message_new();
    lo_message_add_string(hello, "Zelvox");
    lo_message_add_string(hello, ":dirty:optional-gui:");
    lo_message_add_string(hello, Executable_.c_str());
    lo_message_add_int32(hello, 1); // the API's version, 1.1
    lo_message_add_int32(hello, 1);
    lo_message_add_int32(hello, int(::getpid()));
    Send("/nsm/server/announce", hello);
    QElapsedTimer waited;
    waited.start();
    while (!OpenAsked_ && Refused_.empty() && !Stopped()) {
        if (!Welcomed_ && waited.elapsed() > kAnswerWaitMs) {
            Refused_ = "no answer";
            break;
        }
        Receive(20);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (!Refused_.empty() && !Stopped())
        std::fprintf(stderr, "zelvox: the session manager at %s: %s; running without it\n",
                     std::getenv("NSM_URL"), Refused_.c_str());
    return OpenAsked_ && !Stopped();
}

void NsmSession::Receive(int waitMs) {
    std::array<uint8_t, 65536> buffer; // the largest UDP datagram
    // At most so many datagrams a call: a flood (from anyone on this machine) cannot hold the
    // main thread; the event loop calls again while more wait.
    constexpr int kMaxPerCall = 64;
    for (int n = 0; n < kMaxPerCall; ++n) {
        const bool first = n == 0;
        if (first && waitMs > 0) {
            pollfd p{Socket_, POLLIN, 0};
            if (::poll(&p, 1, waitMs) <= 0) return;
        }
        sockaddr_storage from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(Socket_, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0) return; // nothing more now (or an error the next read will meet again)
        const size_t size = size_t(got);
        // The path: the message's first string, ended inside the datagram.
        const void* end = std::memchr(buffer.data(), 0, size);
        const std::string path =
            end ? std::string(reinterpret_cast<const char*>(buffer.data())) : "";
        if (!SameAddress(from, Manager_)) {
            if (Ignored_ < kIgnoredToldMax)
                std::fprintf(
                    stderr,
                    "zelvox: ignored %s from %s: only the session manager at %s is heard%s\n",
                    path.empty() ? "a message" : path.c_str(), AddressText(from, fromSize).c_str(),
                    AddressText(Manager_, ManagerSize_).c_str(),
                    Ignored_ + 1 == kIgnoredToldMax ? " (further ones are not said)" : "");
            ++Ignored_;
            continue;
        }
        int result = 0;
        lo_message m = lo_message_deserialise(buffer.data(), size, &result);
        if (!m) continue; // not an OSC message (a bundle, or damaged): nothing the API sends
        Handle(path, lo_message_get_types(m), lo_message_get_argv(m), lo_message_get_argc(m));
        lo_message_free(m);
    }
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
        return;
    }
    if (Program_ &&
        (path == "/nsm/client/show_optional_gui" || path == "/nsm/client/hide_optional_gui"))
        ShowGui(path == "/nsm/client/show_optional_gui");
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
        // A new session holds its own (default) settings from the start.
        code = kErrCreateFailed;
        if (!std::filesystem::exists(SettingsPath())) program.Settings().Commit();
        code = 0;
    } catch (const std::exception& e) {
        problem = e.what();
    }
    SavedPattern_ = EncodePatternFile(program.PatternRecord());
    if (code == 0)
        Reply("/nsm/client/open", "Zelvox is open");
    else
        Error("/nsm/client/open", code, problem);

    // Any change from now on may make the session dirty.
    program.Form.OnEdited = [this] { CheckDirty(); };
    program.Settings().OnHeldWrite = [this] { CheckDirty(); };
    // Closing the window hides it: the manager ends the program.
    program.OnWindowsHidden = [this] {
        lo_message m = lo_message_new();
        Send("/nsm/client/gui_is_hidden", m);
    };
    // A new session starts hidden (as the NSM API asks); a saved one where it was left.
    const TSettingsFile& settings = program.Settings();
    const bool shown = settings.ReadBool("Window", "Shown", false);
    if (shown) {
        constexpr int32_t kNone = std::numeric_limits<int32_t>::min();
        const int32_t x = settings.ReadInteger("Window", "X", kNone);
        const int32_t y = settings.ReadInteger("Window", "Y", kNone);
        if (x != kNone && y != kNone) program.PlaceMainWindow(x, y);
    }
    ShowGui(shown);

    OscReady_ = std::make_unique<QSocketNotifier>(Socket_, QSocketNotifier::Read);
    connect(OscReady_.get(), &QSocketNotifier::activated, this, [this] { Receive(0); });
    StopReady_ = std::make_unique<QSocketNotifier>(StopPipe[0], QSocketNotifier::Read);
    connect(StopReady_.get(), &QSocketNotifier::activated, this, [] {
        char bytes[16];
        while (::read(StopPipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    // Anything that came while the program was being built; a SIGTERM then is still in the
    // pipe and ends the event loop as soon as it runs.
    Receive(0);
}

void NsmSession::Detach() {
    if (!Program_) return;
    OscReady_.reset();
    Program_->Form.OnEdited = nullptr;
    Program_->Settings().OnHeldWrite = nullptr;
    Program_->OnWindowsHidden = nullptr;
    Program_ = nullptr;
}

void NsmSession::ShowGui(bool shown) {
    Program_->ShowWindows(shown);
    Placed_ = Placed_ || shown;
    lo_message m = lo_message_new();
    Send(shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden", m);
}

void NsmSession::CheckDirty() {
    if (!Program_ || Saving_) return;
    const bool dirty = Program_->Settings().Changed() ||
                       EncodePatternFile(Program_->PatternRecord()) != SavedPattern_;
    if (dirty == Dirty_) return;
    Dirty_ = dirty;
    lo_message m = lo_message_new();
    Send(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", m);
}

void NsmSession::Save() {
    Saving_ = true;
    try {
        // A pattern file the session opened with but could not read is kept beside the new one.
        if (Unreadable_) {
            std::filesystem::rename(PatternPath(), PatternPath() + ".unreadable");
            Unreadable_ = false;
        }
        const PatternFileRecord record = Program_->PatternRecord();
        Program::SavePattern(record, PatternPath());
        SavedPattern_ = EncodePatternFile(record);
        // The window as the user left it, for the next open.
        TSettingsFile& settings = Program_->Settings();
        settings.WriteBool("Window", "Shown", Program_->WindowsShown());
        if (Placed_) {
            const auto [x, y] = Program_->MainWindowPlace();
            settings.WriteInteger("Window", "X", x);
            settings.WriteInteger("Window", "Y", y);
        }
        settings.Commit();
    } catch (const std::exception& e) {
        Saving_ = false;
        Error("/nsm/client/save", kErrGeneral, e.what());
        return;
    }
    Saving_ = false;
    Reply("/nsm/client/save", "Saved");
    Dirty_ = true; // so that the check below says clean
    CheckDirty();
}

void NsmSession::Send(const char* path, lo_message m) {
    std::vector<uint8_t> bytes(lo_message_length(m, path));
    size_t size = bytes.size();
    lo_message_serialise(m, path, bytes.data(), &size);
    lo_message_free(m);
    // A datagram the manager does not get is what UDP allows; it asks again or times out.
    (void)::sendto(Socket_, bytes.data(), size, 0, reinterpret_cast<const sockaddr*>(&Manager_),
                   ManagerSize_);
}

void NsmSession::Reply(const char* to, const std::string& message) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, to);
    lo_message_add_string(m, message.c_str());
    Send("/reply", m);
}

void NsmSession::Error(const char* to, int code, const std::string& message) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, to);
    lo_message_add_int32(m, code);
    lo_message_add_string(m, message.c_str());
    Send("/error", m);
}

} // namespace zelvox::app
