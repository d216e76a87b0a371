// The system's random source on Windows: BCryptGenRandom with the system's
// preferred generator.
#include "engine/kt_system/random.h"

#include "engine/kt_system/win_util.h"

#include <bcrypt.h>

#include <cstdio>

bool os_random(void* out, size_t size, std::string* err) {
    unsigned char* p = static_cast<unsigned char*>(out);
    while (size > 0) {
        ULONG chunk = size > 0x10000000 ? 0x10000000 : ULONG(size);
        NTSTATUS status = BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) {
            if (err) {
                char text[64];
                std::snprintf(text, sizeof text, "BCryptGenRandom failed (status 0x%08lX)", (unsigned long)status);
                *err = text;
            }
            return false;
        }
        p += chunk;
        size -= chunk;
    }
    return true;
}
