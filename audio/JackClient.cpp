#include "audio/JackClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zelvox {

namespace {

void SilentJackMessage(const char*) {}

std::atomic<int> Hanging{0};
std::atomic<bool> HangTold{false};

struct CloseWait {
    std::mutex Lock;
    std::condition_variable Done;
    bool Returned = false;
};

void CloseNow(jack_client_t* client, bool deactivate) {
    if (deactivate) jack_deactivate(client);
    jack_client_close(client);
}

// The kept listing client and the server it talks to. Gone is set by libjack's shutdown
// callback; it lives on the heap so that a client whose close hung can still write to it.
struct ListClient {
    std::string Server;
    jack_client_t* Client = nullptr;
    std::atomic<bool>* Gone = nullptr;
};

// The working clients that are open, which answer questions in the listing client's place.
struct Working {
    jack_client_t* Client;
    std::string Server;
    const std::atomic<bool>* Gone;
};
std::vector<Working>& WorkingClients() {
    static std::vector<Working> open;
    return open;
}

std::mutex& ListLock() {
    static std::mutex lock;
    return lock;
}
ListClient& List() {
    static ListClient list;
    return list;
}

bool CloseBounded(jack_client_t* client, bool deactivate, unsigned timeoutMs);

void OnListShutdown(void* gone) {
    static_cast<std::atomic<bool>*>(gone)->store(true, std::memory_order_release);
}

std::string ServerNameNow() {
    const char* s = std::getenv("JACK_DEFAULT_SERVER");
    return s && *s ? s : "default";
}

// Caller holds ListLock.
void DropListClient() {
    ListClient& l = List();
    if (!l.Client) return;
    if (CloseBounded(l.Client, false, kJackCloseTimeoutMs)) delete l.Gone; // else the callback may still run
    l.Client = nullptr;
    l.Gone = nullptr;
}

void CloseListAtExit() {
    std::lock_guard guard(ListLock());
    DropListClient();
    if (Hanging.load() > 0) {
        // libjack's teardown would wait on the lock the hung close holds.
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
}

} // namespace

void SilenceJackMessages() {
    jack_set_error_function(SilentJackMessage);
    jack_set_info_function(SilentJackMessage);
}

bool CloseJackClient(jack_client_t* client, bool deactivate, unsigned timeoutMs) {
    if (!client) return true;
    {
        std::lock_guard guard(ListLock());
        auto& open = WorkingClients();
        for (auto it = open.begin(); it != open.end(); ++it)
            if (it->Client == client) {
                open.erase(it);
                break;
            }
    }
    return CloseBounded(client, deactivate, timeoutMs);
}

namespace {

bool CloseBounded(jack_client_t* client, bool deactivate, unsigned timeoutMs) {
    auto wait = std::make_shared<CloseWait>();
    Hanging.fetch_add(1);
    try {
        std::thread([client, deactivate, wait] {
            CloseNow(client, deactivate);
            Hanging.fetch_sub(1);
            std::lock_guard guard(wait->Lock);
            wait->Returned = true;
            wait->Done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: close here, unbounded, rather than not at all.
        CloseNow(client, deactivate);
        Hanging.fetch_sub(1);
        return true;
    }
    std::unique_lock lock(wait->Lock);
    if (wait->Done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return wait->Returned; }))
        return true;
    if (!HangTold.exchange(true))
        std::fprintf(stderr,
                     "zelvox: closing a JACK client did not finish within %u ms (libjack hangs "
                     "there when other programs open or close clients at that moment); going "
                     "on without it\n",
                     timeoutMs);
    return false;
}

} // namespace

void ReleaseJackListClient() {
    std::lock_guard guard(ListLock());
    DropListClient();
}

int JackClosesHanging() {
    return Hanging.load();
}

jack_client_t* OpenJackClient(const std::string& name, jack_status_t& status,
                              const std::atomic<bool>* gone) {
    std::lock_guard guard(ListLock());
    DropListClient();
    SilenceJackMessages();
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client) WorkingClients().push_back({client, ServerNameNow(), gone});
    return client;
}

bool WithJackListClient(const std::function<void(jack_client_t*)>& fn) {
    std::lock_guard guard(ListLock());
    ListClient& l = List();
    const std::string server = ServerNameNow();
    for (const Working& w : WorkingClients())
        if (w.Server == server && !(w.Gone && w.Gone->load(std::memory_order_acquire))) {
            fn(w.Client);
            return true;
        }
    if (l.Client && (l.Server != server || l.Gone->load(std::memory_order_acquire))) DropListClient();
    if (!l.Client) {
        static bool atExit = false;
        if (!atExit) {
            atExit = true;
            std::atexit(CloseListAtExit);
        }
        SilenceJackMessages();
        // The flag exists before the client does: the thread that sets it is started by the
        // open, so everything made before it is ordered before the thread's first step.
        auto* gone = new std::atomic<bool>(false);
        // A busy server now and then refuses a client for a moment: ask twice before saying no.
        for (int attempt = 0; attempt < 2 && !l.Client; ++attempt) {
            if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            jack_status_t status{};
            l.Client = jack_client_open("zelvox-probe", JackNoStartServer, &status);
            if (!l.Client && (status & JackServerFailed)) break; // nobody there
        }
        if (!l.Client) {
            delete gone;
            return false;
        }
        l.Server = server;
        l.Gone = gone;
        // Not activated: it only asks, and stays out of the server's graph. Its notification
        // channel still tells it when the server shuts down.
        jack_on_shutdown(l.Client, &OnListShutdown, l.Gone);
    }
    fn(l.Client);
    return true;
}

} // namespace zelvox
