#include "common/randomsource.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace varno {

uint32_t systemRandom32()
{
    uint32_t value = 0;
    auto *out = reinterpret_cast<unsigned char *>(&value);
    size_t have = 0;
    while (have < sizeof(value)) {
        const ssize_t n = ::getrandom(out + have, sizeof(value) - have, 0);
        if (n > 0) {
            have += size_t(n);
        } else if (n < 0 && errno != EINTR) {
            // Only a kernel without getrandom (before 3.17) gets here; a
            // predictable nonce is worse than no start.
            std::abort();
        }
    }
    return value;
}

int32_t authNonce()
{
    uint32_t v = 0;
    while (v == 0)
        v = systemRandom32() & 0x7fffffffu;
    return int32_t(v);
}

} // namespace varno
