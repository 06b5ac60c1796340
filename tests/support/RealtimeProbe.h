#pragma once
// For a test program that proves code allocates nothing, takes no lock and makes no system
// call: it replaces the global allocation functions and the mutex lock to count them while
// `Counting` is set, and runs code in a child process that the kernel kills at its first
// system call. Include it in one source file of a test program only: it defines the
// program's operator new. Code in shared objects the program loads is counted too.

#include <csignal>
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

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
#endif

namespace rtprobe {
inline std::atomic<bool> Counting{false};
inline std::atomic<long> Allocations{0}, Locks{0};
inline void Count(std::atomic<long>& c) {
    if (Counting.load(std::memory_order_relaxed)) c.fetch_add(1, std::memory_order_relaxed);
}
// Memory for operator new, not counted a second time as a malloc.
inline void* RawAlloc(size_t n) {
#if !defined(__SANITIZE_ADDRESS__)
    return __libc_malloc(n);
#else
    return std::malloc(n);
#endif
}
} // namespace rtprobe

using rtprobe::Count;
using rtprobe::RawAlloc;
using rtprobe::Allocations;
using rtprobe::Locks;
using rtprobe::Counting;

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


// Runs body in a child process under a seccomp filter that kills it at its first system
// call (other than the raw exit at the end). Returns the child's wait status.
template <class Body> inline int UnderNoSyscallFilter(Body body) {
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
    // Bounded: a body that never returns fails the test instead of hanging it.
    int status = 0;
    for (int i = 0; i < 6000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

