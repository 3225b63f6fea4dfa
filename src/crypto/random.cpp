#include "crypto/random.h"

#include <pthread.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/wipe.h"

namespace crypto {
namespace {

void default_failure(const char* reason) {
    std::fprintf(stderr, "fatal: no random numbers available from the operating system (%s)\n", reason);
}

random_failure_handler failure_handler = default_failure;

// Bytes fetched ahead so a packet's padding does not cost a system call per byte.
uint8_t pool[256];
std::size_t pool_left = 0;

// A forked child must not hand out the bytes its parent still holds.
void forget_pool_in_child() {
    wipe(pool, sizeof pool);
    pool_left = 0;
}

bool fork_guard_installed = false;

void os_random(uint8_t* out, std::size_t n) {
    if (!fork_guard_installed) {
        pthread_atfork(nullptr, nullptr, forget_pool_in_child);
        fork_guard_installed = true;
    }
    while (n > 0) {
        ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            failure_handler(std::strerror(errno));
            std::abort();
        }
        out += got;
        n -= std::size_t(got);
    }
}

}  // namespace

void set_random_failure_handler(random_failure_handler h) { failure_handler = h ? h : default_failure; }

void random_seed() {
    wipe(pool, sizeof pool);
    pool_left = 0;
}

unsigned random_byte() {
    if (pool_left == 0) {
        os_random(pool, sizeof pool);
        pool_left = sizeof pool;
    }
    std::size_t i = sizeof pool - pool_left--;
    unsigned v = pool[i];
    pool[i] = 0;
    return v;
}

void random_fill(uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = uint8_t(random_byte());
}

}  // namespace crypto
