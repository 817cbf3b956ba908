#include "Platform/ProcessStart.h"

#include <openssl/crypto.h>

#include <cstdio>

namespace brevalto {

void startProcess() {
    // By default libcrypto's first full initialisation registers OPENSSL_cleanup with atexit, and
    // that frees every thread's state at exit. The shared task pool's threads (hashing, request
    // signing, random bytes) are detached and may still be running their thread clean-up then, on
    // the same state: a double free or a crash at exit. Only the first initialisation's choice
    // counts, so it is made here, before libcurl's global init or a first hash can make it.
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) != 1)
        std::fputs("the crypto library could not be initialised\n", stderr);
}

}  // namespace brevalto
