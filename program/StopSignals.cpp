#include "program/StopSignals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <semaphore.h>
#include <unistd.h>

namespace zelvox {

namespace {

std::atomic<int> First{0};
sem_t Asked; // posted by the first signal, for the grace thread

// Async-signal-safe: a line on stderr and the end.
[[noreturn]] void EndNow(int sig) {
    static const char text[] = "zelvox-render: stopped at once (the program did not end in time)\n";
    const ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
    (void)ignored;
    ::_exit(StopStatus(sig));
}

void OnStopSignal(int sig) {
    int none = 0;
    if (First.compare_exchange_strong(none, sig)) {
        ::sem_post(&Asked);
        return;
    }
    EndNow(First.load());
}

} // namespace

void InstallStopSignals(unsigned graceMs) {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::sem_init(&Asked, 0, 0);
    // The grace thread takes no signals itself, so the handlers run on the program's threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    std::thread([graceMs] {
        while (::sem_wait(&Asked) != 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(graceMs));
        EndNow(First.load());
    }).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

int StopSignal() {
    return First.load();
}

} // namespace zelvox
