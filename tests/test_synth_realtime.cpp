// What a host's audio thread may call on the synth allocates nothing, takes no lock and makes
// no system call. This program replaces the global allocation functions and the mutex lock
// to count them, and renders once more in a child process that the kernel kills on its
// first system call.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <new>
#include <pthread.h>
#include <random>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "synth/PatternSynth.h"

using namespace zelvox;

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
#endif

namespace {
std::atomic<bool> Counting{false};
std::atomic<long> Allocations{0}, Locks{0};
void Count(std::atomic<long>& c) {
    if (Counting.load(std::memory_order_relaxed)) c.fetch_add(1, std::memory_order_relaxed);
}
// Memory for operator new, not counted a second time as a malloc.
void* RawAlloc(size_t n) {
#if !defined(__SANITIZE_ADDRESS__)
    return __libc_malloc(n);
#else
    return std::malloc(n);
#endif
}
} // namespace

// ---- every way C++ code allocates ends up here ----
// The replacements below pair malloc with free on purpose; GCC cannot see that through the
// inlined operator delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    Count(Allocations);
    if (void* p = RawAlloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) {
    return operator new(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    Count(Allocations);
    return RawAlloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept {
    return operator new(n, t);
}
void* operator new(size_t n, std::align_val_t a) {
    Count(Allocations);
    if (void* p = std::aligned_alloc(size_t(a), (n + size_t(a) - 1) / size_t(a) * size_t(a)))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n, std::align_val_t a) {
    return operator new(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}

// The C allocator and the mutex, counted on their way to the C library. The address
// sanitizer brings its own allocator; under it only operator new is counted.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* malloc(size_t n) {
    Count(Allocations);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t s) {
    Count(Allocations);
    return __libc_calloc(n, s);
}
extern "C" void* realloc(void* p, size_t n) {
    Count(Allocations);
    return __libc_realloc(p, n);
}
#endif
extern "C" int pthread_mutex_lock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    Count(Locks);
    return real(m);
}

namespace {

// Everything a host does while audio runs: blocks of every size from 1 to 8,192 frames,
// every control turned (the echo's Delay and Depth rebuild it, the contours rebuild their
// curves, Steps and Tempo retime the clock), patterns chosen, the song switched on and
// played to its end, stop and start.
void HostSession(PatternSynth& synth, std::vector<int16_t>& buffer) {
    std::minstd_rand rng(7);
    constexpr std::array<uint32_t, 8> sizes = {1, 2, 63, 64, 441, 1000, 4096, 8192};
    synth.Start();
    for (int round = 0; round < 40; ++round) {
        synth.Render(buffer.data(), sizes[size_t(round) % sizes.size()]);
        const ControlRow& row = kControls[rng() % kControls.size()];
        synth.SetControl(row.Id, row.Min + int32_t(rng() % uint32_t(row.Max - row.Min + 1)));
        if (round % 7 == 3) synth.ChoosePattern(1 + int32_t(rng() % 16));
        synth.Render(buffer.data(), 1 + rng() % PatternSynth::kMaxFrames);
    }
    synth.SetControl(ControlId::Steps, 1);
    synth.SetSongMode(true); // stops
    synth.Start();           // phrase 1 plays pattern 1 once, then the song ends
    for (int i = 0; i < 20; ++i)
        synth.Render(buffer.data(), 4096);
    synth.Stop();
    synth.Render(buffer.data(), 500);
}

// Runs body in a child process under a seccomp filter that kills it at its first system
// call (other than the raw exit at the end). Returns the child's wait status.
template <class Body> int UnderNoSyscallFilter(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        sock_filter allowExitOnly[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        };
        sock_fprog prog{sizeof(allowExitOnly) / sizeof(allowExitOnly[0]), allowExitOnly};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
            _exit(77);
        body();
        syscall(SYS_exit, 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

} // namespace

TEST(SynthRealTime, HostCallsAllocateNothingAndTakeNoLock) {
    PatternSynth synth; // construction and Activate may allocate
    synth.Activate();
    std::vector<int16_t> buffer(PatternSynth::kMaxFrames);
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&m); // resolve the real function before counting
    pthread_mutex_unlock(&m);

    // The counters see what they are meant to see.
    Counting = true;
    int* volatile probe = new int(1); // volatile: the pair must not be optimised away
    delete probe;
    pthread_mutex_lock(&m);
    pthread_mutex_unlock(&m);
    Counting = false;
    ASSERT_EQ(Allocations.exchange(0), 1);
    ASSERT_EQ(Locks.exchange(0), 1);

    Counting = true;
    HostSession(synth, buffer);
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_EQ(Locks.load(), 0);
}

TEST(SynthRealTime, HostCallsMakeNoSystemCall) {
    PatternSynth synth;
    synth.Activate();
    std::vector<int16_t> buffer(PatternSynth::kMaxFrames);

    // The filter kills a child that makes a system call.
    const int caught = UnderNoSyscallFilter([] { (void)getppid(); });
    if (WIFEXITED(caught) && WEXITSTATUS(caught) == 77)
        GTEST_SKIP() << "this machine does not allow a seccomp filter";
    ASSERT_TRUE(WIFSIGNALED(caught)) << "a system call under the filter went unnoticed";

    const int status = UnderNoSyscallFilter([&] { HostSession(synth, buffer); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the session made a system call (killed by signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
}
