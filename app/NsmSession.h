#pragma once
// The desktop program as a client of a session manager (NSM), over OSC with liblo.
//
// With NSM_URL in the environment the program announces itself before it builds its models,
// waits for the manager's "open" and keeps its pattern and its settings with the session's
// other files, named from the path the manager gives: <prefix>.zvx and <prefix>.ini. A session
// that has them is restored from them; a new one gets the default pattern and default settings.
// "save" writes both there. SIGTERM, the manager's way of closing a client, ends the program as
// closing its window does, without saving. Without NSM_URL none of this exists.
//
// Everything here runs on the main thread: the OSC socket is read when Qt's event loop finds it
// readable (or, before the program is built, in the wait for "open"), so the handlers use the
// models directly.

#include <QObject>

#include <memory>
#include <string>

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
    // be used or no OSC port can be opened. Installs the SIGTERM handler.
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

    // The program, built on SettingsPath(): its pattern is loaded from the session (or the
    // default pattern written there), the open answered; from now on saves are answered and
    // SIGTERM ends the event loop.
    void Attach(Program& program);

private:
    NsmSession(lo_address manager, lo_server server, std::string executable);
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc,
                         lo_message msg, void* self);
    void Handle(const std::string& path, const char* types, lo_arg** argv, int argc);
    void Save();
    void Reply(const char* to, const std::string& message);
    void Error(const char* to, int code, const std::string& message);
    void Receive();

    lo_address Manager_;
    lo_server Server_;
    std::string Executable_;
    bool Welcomed_ = false;
    std::string Refused_;
    bool OpenAsked_ = false;
    bool Unreadable_ = false; // the session's pattern file could not be read at the open
    std::string Prefix_, ClientId_; // from the open (its display name is not shown)
    Program* Program_ = nullptr;
    std::unique_ptr<QSocketNotifier> OscReady_, StopReady_;
};

} // namespace zelvox::app
