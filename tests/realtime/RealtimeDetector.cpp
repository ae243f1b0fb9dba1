// The real-time detector's replacements of malloc and friends, operator new and delete, the
// pthread lock calls and read/write: each counts a call made while the calling thread is armed,
// then does the real work. Link this file into a program to watch its audio callback.
#include "realtime/RealtimeDetector.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(std::size_t);
void __libc_free(void*);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
ssize_t __read(int, void*, std::size_t);
ssize_t __write(int, const void*, std::size_t);
}

namespace realtime {
thread_local bool t_armed = false;
std::atomic<int> g_hits{0};
} // namespace realtime

namespace {

using realtime::g_hits;
using realtime::t_armed;

inline void hit() {
    if (t_armed)
        g_hits.fetch_add(1, std::memory_order_relaxed);
}

template <class F> F realFunction(F& cache, const char* name) {
    if (cache == nullptr)
        cache = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
    return cache;
}

} // namespace

extern "C" {
void* malloc(std::size_t n) {
    hit();
    return __libc_malloc(n);
}
void free(void* p) {
    if (p != nullptr)
        hit();
    __libc_free(p);
}
void* calloc(std::size_t n, std::size_t size) {
    hit();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    hit();
    return __libc_realloc(p, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    hit();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    hit();
    *out = __libc_memalign(alignment, n);
    return *out != nullptr ? 0 : ENOMEM;
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    static int (*real)(pthread_mutex_t*) = nullptr;
    hit();
    return realFunction(real, "pthread_mutex_lock")(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    static int (*real)(pthread_mutex_t*) = nullptr;
    hit();
    return realFunction(real, "pthread_mutex_trylock")(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    static int (*real)(pthread_rwlock_t*) = nullptr;
    hit();
    return realFunction(real, "pthread_rwlock_rdlock")(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    static int (*real)(pthread_rwlock_t*) = nullptr;
    hit();
    return realFunction(real, "pthread_rwlock_wrlock")(l);
}
ssize_t read(int fd, void* buffer, std::size_t n) {
    hit();
    return __read(fd, buffer, n);
}
ssize_t write(int fd, const void* buffer, std::size_t n) {
    hit();
    return __write(fd, buffer, n);
}
}

void* operator new(std::size_t n) {
    hit();
    if (void* p = __libc_malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    if (p != nullptr)
        hit();
    __libc_free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}
