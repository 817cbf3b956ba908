// A preload library that widens, as a loaded machine may, the window in which an ending thread
// and the ending process both reach libcrypto's per-thread state:
//  - every thread-specific-data destructor that libcrypto gives pthread_key_create waits
//    SLOW_THREAD_EXIT_DELAY_MS (30 by default) before it runs;
//  - an atexit handler, registered before main and so run after every exit handler that the
//    program and its libraries register later (OPENSSL_cleanup's among them), keeps the process
//    alive SLOW_THREAD_EXIT_LINGER_MS (200 by default), so that a thread still ending then does
//    its clean-up before the process is gone.
//
//   LD_PRELOAD=libSlowThreadExit.so PROGRAM ...
#include <dlfcn.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace {

using Destructor = void (*)(void*);

void sleepMilliseconds(const char* variable, long fallback) {
    const char* text = std::getenv(variable);
    const long ms = text && *text ? std::strtol(text, nullptr, 10) : fallback;
    timespec pause{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

// libcrypto makes a handful of keys; a destructor takes no key, so each wrapped one has a slot.
constexpr int kSlots = 32;
Destructor originals[kSlots];
std::atomic<int> slotsUsed{0};

template <int Slot>
void delayedDestructor(void* value) {
    sleepMilliseconds("SLOW_THREAD_EXIT_DELAY_MS", 30);
    originals[Slot](value);
}

template <int... Slots>
constexpr auto makeTrampolines(std::integer_sequence<int, Slots...>) {
    return std::array<Destructor, sizeof...(Slots)>{&delayedDestructor<Slots>...};
}
constexpr auto trampolines = makeTrampolines(std::make_integer_sequence<int, kSlots>{});

bool fromLibcrypto(Destructor destructor) {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(destructor), &info) != 0 && info.dli_fname != nullptr &&
           std::strstr(info.dli_fname, "libcrypto") != nullptr;
}

void linger() { sleepMilliseconds("SLOW_THREAD_EXIT_LINGER_MS", 200); }

__attribute__((constructor)) void registerLinger() { std::atexit(linger); }

}  // namespace

extern "C" int pthread_key_create(pthread_key_t* key, Destructor destructor) {
    using Create = int (*)(pthread_key_t*, Destructor);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_key_create"));
    if (destructor != nullptr && fromLibcrypto(destructor)) {
        const int slot = slotsUsed.fetch_add(1);
        if (slot < kSlots) {
            originals[slot] = destructor;
            destructor = trampolines[slot];
        }
    }
    return real(key, destructor);
}
