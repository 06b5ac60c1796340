#pragma once
// A JACK server of the test's own (dummy back-end), to be stopped while a client plays.
// While it exists JACK_DEFAULT_SERVER names it.

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jack/jack.h>

#include "devices/AudioBackend.h"

namespace zelvox::test {

// A JACK server of our own, to be killed while a client plays, or run with another period.
class PrivateJack {
public:
    // How the server runs its clients when one is late. By default as users run it: after
    // two periods it starts the next one anyway, and a client still in the last period then
    // reads its inputs as the new period has written them (that period's MIDI seen twice,
    // the one before lost). In order: every period runs every client once, in order, however
    // late the machine lets them run; for tests that judge MIDI timing to the frame on a
    // shared, busy machine.
    enum class Pacing { AsUsersRunIt, InOrder };

    explicit PrivateJack(int period = 441, int rate = 44100, Pacing pacing = Pacing::AsUsersRunIt)
        : Period_(std::to_string(period) + ":" + std::to_string(rate)), InOrder_(pacing == Pacing::InOrder) {
        Name_ = "zelvox_die_" + std::to_string(::getpid());
        Pid_ = Spawn(Name_, Period_, InOrder_);
        const char* old = std::getenv("JACK_DEFAULT_SERVER");
        Saved_ = old ? old : "";
        HadOld_ = old != nullptr;
        ::setenv("JACK_DEFAULT_SERVER", Name_.c_str(), 1);
        for (int i = 0; i < 100 && !Ready(); ++i) ::usleep(50000);
    }
    // The server answers and its playback ports exist (they come a moment after it answers).
    static bool Ready() {
        if (!JackServerRunning()) return false;
        jack_status_t status;
        jack_client_t* c = jack_client_open("zelvox-ready", JackNoStartServer, &status);
        if (!c) return false;
        bool ok = jack_port_by_name(c, "system:playback_1") != nullptr;
        jack_client_close(c);
        return ok;
    }
    ~PrivateJack() {
        Kill();
        // A server stopped while a client still played can leave its entry in JACK's server
        // registry (which holds only eight). Starting and cleanly stopping a server of the
        // same name reclaims the entry.
        pid_t again = Spawn(Name_, Period_, InOrder_);
        for (int i = 0; i < 100 && !JackServerRunning(); ++i) ::usleep(50000);
        Stop(again);
        if (HadOld_) ::setenv("JACK_DEFAULT_SERVER", Saved_.c_str(), 1);
        else ::unsetenv("JACK_DEFAULT_SERVER");
    }
    // Starts the server again after Kill, under the same name, and waits until it answers.
    void Restart() {
        if (Pid_ > 0) return;
        Pid_ = Spawn(Name_, Period_, InOrder_);
        for (int i = 0; i < 100 && !Ready(); ++i) ::usleep(50000);
    }
    // Stops the server as a user would (a crash leaves its shared-memory files behind, and
    // JACK refuses new servers once too many are registered).
    void Kill() {
        if (Pid_ > 0) {
            Stop(Pid_);
            Pid_ = -1;
        }
    }

private:
    // SIGTERM, and SIGKILL if the server has not ended 10 s later: a test must not hang on a
    // server that does not stop.
    static void Stop(pid_t pid) {
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
            ::usleep(50000);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    // Period: "frames:rate". In order: synchronous, with a client timeout of 10 s.
    static pid_t Spawn(const std::string& name, const std::string& periodAndRate, bool inOrder) {
        const std::string period = periodAndRate.substr(0, periodAndRate.find(':'));
        const std::string rate = periodAndRate.substr(periodAndRate.find(':') + 1);
        pid_t pid = ::fork();
        if (pid == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<const char*> args{"jackd"};
            if (inOrder) args.insert(args.end(), {"-S", "-t", "10000"});
            args.insert(args.end(), {"-n", name.c_str(), "-d", "dummy", "-r", rate.c_str(), "-p", period.c_str(),
                                     "-C", "0", "-P", "1", nullptr});
            ::execvp("jackd", const_cast<char* const*>(args.data()));
            ::_exit(127);
        }
        return pid;
    }
    std::string Period_, Name_, Saved_;
    bool HadOld_ = false;
    bool InOrder_ = false;
    pid_t Pid_ = -1;
};

// A server's death reaches the output either through the server's shutdown notice or through
// the next buffer write being refused, whichever the threads meet first; both say why.
inline bool SaysTheServerWentAway(const std::string& error) {
    const bool prefixed = error.rfind("WaveOut:\n\r", 0) == 0 || error.rfind("WaveOutWrite:\n\r", 0) == 0;
    return prefixed && error.find("the JACK server has gone away") != std::string::npos;
}

} // namespace zelvox::test
