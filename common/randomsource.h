#pragma once

#include <cstdint>

namespace varno {

// Random numbers from the system's random source (getrandom), for nonces,
// session and client IDs: never from a generator seeded with the time.
// Blocks only while the kernel's pool is not yet initialised at boot.
uint32_t systemRandom32();

// A nonce for an authenticated request: 1 .. 2^31 - 1, so that it reads
// the same whether a peer takes the field as signed or unsigned.
int32_t authNonce();

} // namespace varno
