// pthread_create for solver_boundary_test: fails from the refuseFrom-th
// call on, with EAGAIN (std::thread throws std::system_error) or, as when the
// memory a thread's start needs is refused, with std::bad_alloc.
//
// Declared here rather than taken from <pthread.h>, whose declaration
// promises that no exception leaves it: a compiler may then end the program
// where this one throws.
#include <dlfcn.h>

#include <cerrno>
#include <new>

namespace refused_threads {
int creations = 0;
int refuseFrom = 0;  // 0: none refused
bool withBadAlloc = false;
}  // namespace refused_threads

extern "C" int pthread_create(unsigned long* thread, const void* attr, void* (*start)(void*),
                              void* argument) {
    using Create = int (*)(unsigned long*, const void*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    using namespace refused_threads;
    if (refuseFrom > 0 && ++creations >= refuseFrom) {
        if (withBadAlloc) throw std::bad_alloc();
        return EAGAIN;
    }
    return real(thread, attr, start, argument);
}
