#pragma once
// A JACK client of the test's own that watches the server: which clients register while it
// is open, and which ports there are (one client, instead of starting jack_lsp again and
// again, which itself opens and closes a client each time).

#include <mutex>
#include <string>
#include <vector>

#include <jack/jack.h>

#include "devices/JackClient.h"

namespace zelvox::test {

class JackWatch {
public:
    JackWatch() {
        // Two clients of one process on one server can trip over each other in libjack: the
        // program's listing client (kept by JackServerRunning) goes first.
        ReleaseJackListClient();
        jack_status_t status{};
        Client_ = jack_client_open("zelvox-test-watch", JackNoStartServer, &status);
        if (!Client_) return;
        jack_set_client_registration_callback(Client_, &OnClient, this);
        if (jack_activate(Client_) != 0) {
            jack_client_close(Client_);
            Client_ = nullptr;
        }
    }
    ~JackWatch() {
        if (Client_) jack_client_close(Client_);
    }
    JackWatch(const JackWatch&) = delete;
    JackWatch& operator=(const JackWatch&) = delete;

    bool Ok() const { return Client_ != nullptr; }
    // Names of the clients that registered since the watch began (or Clear), in order.
    std::vector<std::string> Registered() {
        std::lock_guard guard(Lock_);
        return Registered_;
    }
    void Clear() {
        std::lock_guard guard(Lock_);
        Registered_.clear();
    }
    // Every port's full name now.
    std::vector<std::string> Ports() const {
        std::vector<std::string> out;
        if (const char** p = jack_get_ports(Client_, nullptr, nullptr, 0)) {
            for (size_t i = 0; p[i]; ++i) out.emplace_back(p[i]);
            jack_free(p);
        }
        return out;
    }

private:
    static void OnClient(const char* name, int registered, void* self) {
        auto* w = static_cast<JackWatch*>(self);
        if (!registered) return;
        std::lock_guard guard(w->Lock_);
        w->Registered_.emplace_back(name);
    }
    jack_client_t* Client_ = nullptr;
    std::mutex Lock_;
    std::vector<std::string> Registered_;
};

} // namespace zelvox::test
