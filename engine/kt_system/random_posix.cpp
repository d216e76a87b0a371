// The system's random source on Linux: getrandom, which waits only until the
// kernel's pool has been seeded once after boot.
#include "engine/kt_system/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

bool os_random(void* out, size_t size, std::string* err) {
    unsigned char* p = static_cast<unsigned char*>(out);
    size_t done = 0;
    while (done < size) {
        ssize_t got = getrandom(p + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (err) *err = std::strerror(errno);
            return false;
        }
        done += size_t(got);
    }
    return true;
}
