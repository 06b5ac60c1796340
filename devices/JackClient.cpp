#include "devices/JackClient.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zelvox {

namespace {

void SilentJackMessage(const char*) {}

std::atomic<int> Hanging{0};
std::atomic<bool> Stuck{false};
std::atomic<bool> CloseHangTold{false};

constexpr size_t kUsers = 4;

// A kept client. It lives on the heap and is left there when its close did not return, since
// libjack may still call its callbacks.
struct Kept {
    std::string Server;
    std::string Name; // the name asked for (the server may have given another)
    jack_client_t* Client = nullptr;
    std::atomic<bool> Gone{false}; // set by the shutdown callback
    bool Active = false;
    bool Retired = false; // a play on it failed: closed when its last user leaves, not reused
    int Attached = 0; // attaches not yet detached
    std::atomic<int> InFlight{0}; // callbacks running now
    std::array<std::atomic<const JackClientUser*>, kUsers> Users{};
};

std::mutex& KeptLock() {
    static std::mutex lock;
    return lock;
}
// Never destroyed: the atexit handler and libjack's threads may look at it late.
std::vector<Kept*>& KeptClients() {
    static auto* kept = new std::vector<Kept*>;
    return *kept;
}
std::string& ProgramName() {
    static auto* name = new std::string("zelvox");
    return *name;
}

std::string ServerNameNow() {
    const char* s = std::getenv("JACK_DEFAULT_SERVER");
    return s && *s ? s : "default";
}

struct CallWait {
    std::mutex Lock;
    std::condition_variable Done;
    bool Returned = false;
};

// Runs Job on a thread of its own and waits for it at most TimeoutMs. True when it returned.
// Job owns all it touches: it goes on when the wait is given up. A call that did not return
// makes JACK stuck for the process.
bool RunBounded(std::function<void()> job, unsigned timeoutMs) {
    auto wait = std::make_shared<CallWait>();
    Hanging.fetch_add(1);
    try {
        std::thread([job, wait] {
            job();
            Hanging.fetch_sub(1);
            std::lock_guard guard(wait->Lock);
            wait->Returned = true;
            wait->Done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: call here, unbounded, rather than not at all.
        job();
        Hanging.fetch_sub(1);
        return true;
    }
    std::unique_lock lock(wait->Lock);
    if (wait->Done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return wait->Returned; }))
        return true;
    Stuck.store(true);
    return false;
}

// The client's own callbacks, passed on to the users hooked in now.
template <class Call> void ForUsers(Kept& k, Call call) {
    k.InFlight.fetch_add(1, std::memory_order_seq_cst);
    for (auto& slot : k.Users)
        if (const JackClientUser* u = slot.load(std::memory_order_seq_cst)) call(*u);
    k.InFlight.fetch_sub(1, std::memory_order_seq_cst);
}

int KeptProcess(jack_nframes_t frames, void* arg) {
    ForUsers(*static_cast<Kept*>(arg), [frames](const JackClientUser& u) {
        if (u.Process) u.Process(frames, u.Arg);
    });
    return 0;
}

int KeptXrun(void* arg) {
    ForUsers(*static_cast<Kept*>(arg), [](const JackClientUser& u) {
        if (u.Xrun) u.Xrun(u.Arg);
    });
    return 0;
}

void KeptLatency(jack_latency_callback_mode_t mode, void* arg) {
    ForUsers(*static_cast<Kept*>(arg), [mode](const JackClientUser& u) {
        if (u.Latency) u.Latency(mode, u.Arg);
    });
}

int KeptSampleRate(jack_nframes_t rate, void* arg) {
    ForUsers(*static_cast<Kept*>(arg), [rate](const JackClientUser& u) {
        if (u.SampleRate) u.SampleRate(rate, u.Arg);
    });
    return 0;
}

void KeptShutdown(void* arg) {
    auto* k = static_cast<Kept*>(arg);
    k->Gone.store(true, std::memory_order_release);
    ForUsers(*k, [](const JackClientUser& u) {
        if (u.Shutdown) u.Shutdown(u.Arg);
    });
}

bool Usable(const Kept& k) {
    return !k.Retired && !k.Gone.load(std::memory_order_acquire);
}

// Closes K (bounded) and forgets it. Caller holds KeptLock.
void CloseKept(Kept* k) {
    auto& kept = KeptClients();
    kept.erase(std::remove(kept.begin(), kept.end(), k), kept.end());
    // With libjack's lock taken for good, a close would only add a thread that waits.
    if (Stuck.load()) return;
    jack_client_t* c = k->Client;
    // A client whose server has gone has nothing left to deactivate.
    const bool deactivate = k->Active && !k->Gone.load(std::memory_order_acquire);
    if (RunBounded(
            [c, deactivate] {
                if (deactivate) jack_deactivate(c);
                jack_client_close(c);
            },
            kJackCloseTimeoutMs)) {
        delete k;
        return;
    }
    if (!CloseHangTold.exchange(true))
        std::fprintf(stderr,
                     "zelvox: closing a JACK client did not finish within %u ms (libjack hangs "
                     "there when other programs open or close clients at that moment); going "
                     "on without it\n",
                     kJackCloseTimeoutMs);
}

// Closes the clients whose server has gone and that nobody uses. Caller holds KeptLock.
void CloseGone() {
    std::vector<Kept*> gone;
    for (Kept* k : KeptClients())
        if (k->Attached == 0 && !Usable(*k)) gone.push_back(k);
    for (Kept* k : gone) CloseKept(k);
}

Kept* FindKept(jack_client_t* client) {
    for (Kept* k : KeptClients())
        if (k->Client == client) return k;
    return nullptr;
}

void CloseAtExit() {
    CloseJackClients();
    if (Hanging.load() > 0) {
        // libjack's teardown would wait on the lock the hung call holds.
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
}

// Opens a kept client called Name on Server (bounded). Caller holds KeptLock.
Kept* OpenKept(const std::string& name, const std::string& server, JackAttach& why) {
    if (Stuck.load()) {
        why = JackAttach::Stuck;
        return nullptr;
    }
    static bool atExit = false;
    if (!atExit) {
        atExit = true;
        KeptClients();
        std::atexit(CloseAtExit);
    }
    // libjack keeps one server's state per process: the idle clients of another server
    // (JACK_DEFAULT_SERVER changed, as in tests) go first.
    std::vector<Kept*> elsewhere;
    for (Kept* k : KeptClients())
        if (k->Server != server && k->Attached == 0) elsewhere.push_back(k);
    for (Kept* k : elsewhere) CloseKept(k);
    if (Stuck.load()) {
        why = JackAttach::Stuck;
        return nullptr;
    }
    SilenceJackMessages();
    struct Opened {
        jack_client_t* Client = nullptr;
        jack_status_t Status{};
    };
    jack_client_t* client = nullptr;
    jack_status_t status{};
    // The kept record exists before the client does: the threads that call its callbacks are
    // started by the open, so everything made before it is ordered before their first step
    // (libjack's own hand-over of the callbacks' argument is invisible to the race detector).
    auto* k = new Kept;
    k->Server = server;
    k->Name = name;
    // A busy server now and then refuses a client for a moment: ask twice before saying no.
    for (int attempt = 0; attempt < 2 && !client; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto opened = std::make_shared<Opened>();
        if (!RunBounded(
                [opened, name] {
                    opened->Client =
                        jack_client_open(name.c_str(), JackNoStartServer, &opened->Status);
                },
                kJackOpenTimeoutMs)) {
            delete k;
            why = JackAttach::Stuck;
            return nullptr;
        }
        client = opened->Client;
        status = opened->Status;
        if (!client && (status & JackServerFailed)) break; // nobody there
    }
    if (!client) {
        delete k;
        why = (status & JackServerFailed) ? JackAttach::NoServer : JackAttach::Refused;
        return nullptr;
    }
    k->Client = client;
    // Callbacks are set before activation only, so they are set once, for every use to come.
    // Not activated yet: while it only answers questions it stays out of the server's graph;
    // its notification channel still tells it when the server shuts down.
    jack_set_process_callback(client, &KeptProcess, k);
    jack_set_xrun_callback(client, &KeptXrun, k);
    // PipeWire's libjack (0.3.65) deadlocks when a latency callback sets a port's latency after
    // its server changed rate a second time: there the users tell their latency themselves.
    if (!JackIsPipeWire()) jack_set_latency_callback(client, &KeptLatency, k);
    jack_set_sample_rate_callback(client, &KeptSampleRate, k);
    jack_on_shutdown(client, &KeptShutdown, k);
    KeptClients().push_back(k);
    return k;
}

} // namespace

std::string JackStuckText() {
    return "JACK is stuck in libjack: opening or closing a client did not return in time "
           "(libjack can hang when other programs open or close JACK clients at the same "
           "moment); JACK cannot be used again until the program is restarted: choose another "
           "sound system";
}

bool JackStuck() {
    return Stuck.load();
}

int JackCallsHanging() {
    return Hanging.load();
}

std::string JackAttachProblem(JackAttach result) {
    switch (result) {
    case JackAttach::Ok:
        return "";
    case JackAttach::NoServer:
        return "JACK: the JACK server is not running";
    case JackAttach::Refused:
        return "JACK: the server refused the client";
    case JackAttach::NotStarted:
        return "JACK: could not start the client";
    case JackAttach::Stuck:
        break;
    }
    return JackStuckText();
}

bool JackIsPipeWire() {
    // PipeWire's libjack names itself in its version ("3.0.0.0 (using PipeWire 0.3.65)").
    const char* version = jack_get_version_string();
    return version && std::strstr(version, "PipeWire") != nullptr;
}

void SilenceJackMessages() {
    jack_set_error_function(SilentJackMessage);
    jack_set_info_function(SilentJackMessage);
}

void SetJackProgramName(const std::string& name) {
    std::lock_guard guard(KeptLock());
    ProgramName() = name;
}

JackAttach AttachJackClient(const std::string& name, jack_client_t*& client) {
    client = nullptr;
    std::lock_guard guard(KeptLock());
    if (Stuck.load()) return JackAttach::Stuck;
    CloseGone();
    const std::string server = ServerNameNow();
    Kept* k = nullptr;
    for (Kept* c : KeptClients())
        if (c->Server == server && c->Name == name && Usable(*c)) k = c;
    JackAttach why = JackAttach::Ok;
    if (!k && !(k = OpenKept(name, server, why))) return why;
    if (!k->Active) {
        auto rc = std::make_shared<int>(-1);
        jack_client_t* c = k->Client;
        if (!RunBounded([rc, c] { *rc = jack_activate(c); }, kJackOpenTimeoutMs))
            return JackAttach::Stuck;
        if (*rc != 0) return JackAttach::NotStarted;
        k->Active = true;
    }
    ++k->Attached;
    client = k->Client;
    return JackAttach::Ok;
}

void DetachJackClient(jack_client_t* client, bool retire) {
    std::lock_guard guard(KeptLock());
    Kept* k = FindKept(client);
    if (!k) return;
    k->Retired = k->Retired || retire;
    if (k->Attached > 0) --k->Attached;
    if (k->Attached == 0 && !Usable(*k)) CloseKept(k);
}

bool AddJackUser(jack_client_t* client, const JackClientUser* user) {
    std::lock_guard guard(KeptLock());
    Kept* k = FindKept(client);
    if (!k) return false;
    for (auto& slot : k->Users) {
        const JackClientUser* none = nullptr;
        if (slot.compare_exchange_strong(none, user, std::memory_order_seq_cst)) return true;
    }
    return false;
}

bool RemoveJackUser(jack_client_t* client, const JackClientUser* user) {
    Kept* k = nullptr;
    {
        std::lock_guard guard(KeptLock());
        k = FindKept(client);
        if (!k) return true;
        for (auto& slot : k->Users) {
            const JackClientUser* was = user;
            slot.compare_exchange_strong(was, nullptr, std::memory_order_seq_cst);
        }
    }
    // From here the callbacks no longer reach User; wait out one that is running. (K stays:
    // only its last detach closes it, and the caller has not detached yet.)
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (k->InFlight.load(std::memory_order_seq_cst) != 0) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool JackClientGone(jack_client_t* client) {
    std::lock_guard guard(KeptLock());
    Kept* k = FindKept(client);
    return !k || k->Gone.load(std::memory_order_acquire);
}

bool WithJackListClient(const std::function<void(jack_client_t*)>& fn) {
    std::lock_guard guard(KeptLock());
    if (Stuck.load()) return false;
    CloseGone();
    const std::string server = ServerNameNow();
    Kept* k = nullptr;
    for (Kept* c : KeptClients())
        if (c->Server == server && Usable(*c) && (!k || c->Name == ProgramName())) k = c;
    JackAttach why = JackAttach::Ok;
    if (!k && !(k = OpenKept(ProgramName(), server, why))) return false;
    fn(k->Client);
    return true;
}

void ReleaseJackListClient() {
    std::lock_guard guard(KeptLock());
    std::vector<Kept*> idle;
    for (Kept* k : KeptClients())
        if (k->Attached == 0) idle.push_back(k);
    for (Kept* k : idle) CloseKept(k);
}

void CloseJackClients() {
    std::lock_guard guard(KeptLock());
    const std::vector<Kept*> all = KeptClients();
    for (Kept* k : all) CloseKept(k);
}

} // namespace zelvox
