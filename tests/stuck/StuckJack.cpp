// Preloaded in front of libjack by the tests, this stands in for its client open and close and
// can make them hang as libjack's own do: ZELVOX_TEST_JACK_STUCK=open makes every open wait
// for ever on a lock held by nobody who will free it; =close makes every close take that lock
// and never return, so that every open after it waits for ever too (libjack's close cancels
// the client's notification thread, which can die holding libjack's process-wide lock).
// Otherwise the calls go through to libjack.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include <jack/jack.h>

namespace {

std::mutex Lock; // stands for libjack's process-wide lock

bool Stuck(const char* where) {
    const char* m = std::getenv("ZELVOX_TEST_JACK_STUCK");
    return m && std::strcmp(m, where) == 0;
}

[[noreturn]] void HoldForEver() {
    for (;;) ::pause();
}

template <class Fn> Fn Next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// The program passes no server or load name, so the variable arguments are not passed on.
extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options,
                                           jack_status_t* status, ...) {
    if (Stuck("open")) {
        static std::mutex held;
        held.lock(); // the first open holds it; the others wait on it
        HoldForEver();
    }
    std::lock_guard guard(Lock);
    using Open = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
    return Next<Open>("jack_client_open")(name, options, status);
}

extern "C" int jack_client_close(jack_client_t* client) {
    if (Stuck("close")) {
        Lock.lock();
        HoldForEver();
    }
    std::lock_guard guard(Lock);
    return Next<int (*)(jack_client_t*)>("jack_client_close")(client);
}
