#pragma once
// The desktop program as a client of a session manager (NSM), over OSC (messages built and read
// with liblo, the socket our own).
//
// With NSM_URL in the environment the program announces itself before it builds its models,
// waits for the manager's "open" and keeps its pattern and its settings with the session's
// other files, named from the path the manager gives: <prefix>.zvx and <prefix>.ini. A session
// that has them is restored from them; a new one gets the default pattern and default settings.
// Everything the program keeps (the pattern, swing, audio and MIDI setup, learned controllers,
// the window's place and whether it is shown) stays in memory until the manager's "save"
// writes both files, so an abort leaves them as they were at the last save. SIGTERM, the
// manager's way of closing a client, ends the program as closing its window does, without
// saving. Without NSM_URL none of this exists.
//
// Capabilities: dirty (is_dirty at the first change after an open or save, is_clean after a
// save or when an undo comes back to what was saved) and optional-gui (the manager shows and
// hides the window; closing the window hides it; sound and MIDI go on either way; a new
// session starts hidden, a saved one as it was saved).
//
// The OSC socket is bound to the address that reaches the manager (loopback for a manager on
// this machine) and takes messages only from the manager's own address and port: anything
// else is said on stderr and dropped.
//
// Everything here runs on the main thread: the socket is read when Qt's event loop finds it
// readable (or, before the program is built, in the wait for "open"), so the handlers use the
// models directly.

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>

#include <lo/lo.h>

class QSocketNotifier;

namespace zelvox::app {

class Program;

class NsmSession : public QObject {
    Q_OBJECT
public:
    // NSM's error codes that this client answers with.
    static constexpr int kErrGeneral = -1;
    static constexpr int kErrBadProject = -9;
    static constexpr int kErrCreateFailed = -10;

    // Null when NSM_URL is not set (or empty). Throws std::runtime_error when the URL cannot
    // be used (not UDP, a host that does not resolve) or no socket can be opened. Installs the
    // SIGTERM handler.
    static std::unique_ptr<NsmSession> FromEnvironment(const std::string& executable);
    ~NsmSession() override;

    // Announces the program and waits for the manager's open. False when the manager refused
    // or did not answer (said on stderr; the program then runs on its own), or when SIGTERM came
    // first (Stopped()).
    bool WaitForOpen();
    bool Stopped() const;

    const std::string& Prefix() const { return Prefix_; }
    const std::string& ClientId() const { return ClientId_; }
    std::string PatternPath() const { return Prefix_ + ".zvx"; }
    std::string SettingsPath() const { return Prefix_ + ".ini"; }

    // The program, built on SettingsPath() held in memory: its pattern is loaded from the
    // session (or the default pattern and settings written there), the open answered, the
    // window shown or not as the session last saved it; from now on saves are answered and
    // SIGTERM ends the event loop.
    void Attach(Program& program);
    // Before the program goes: its hooks are taken back and nothing reaches it any more.
    void Detach();

private:
    NsmSession(const sockaddr_storage& manager, socklen_t managerSize, int socket,
               std::string executable);
    void Handle(const std::string& path, const char* types, lo_arg** argv, int argc);
    void Save();
    void ShowGui(bool shown);
    void CheckDirty();
    void Send(const char* path, lo_message m);
    void Reply(const char* to, const std::string& message);
    void Error(const char* to, int code, const std::string& message);
    // Reads what the socket holds (waiting up to `waitMs` for the first datagram).
    void Receive(int waitMs);

    sockaddr_storage Manager_{};
    socklen_t ManagerSize_ = 0;
    int Socket_ = -1;
    std::string Executable_;
    bool Welcomed_ = false;
    std::string Refused_;
    bool OpenAsked_ = false;
    bool Unreadable_ = false;       // the session's pattern file could not be read at the open
    std::string Prefix_, ClientId_; // from the open (its display name is not shown)
    Program* Program_ = nullptr;
    std::vector<uint8_t> SavedPattern_; // the pattern file's bytes as last opened or saved
    bool Dirty_ = false;
    bool Saving_ = false;
    bool Placed_ = false; // the window has been on screen, so its place is worth keeping
    int Ignored_ = 0;     // messages from others than the manager, said on stderr so far
    std::unique_ptr<QSocketNotifier> OscReady_, StopReady_;
};

} // namespace zelvox::app
