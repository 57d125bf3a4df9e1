#pragma once

#include <cstdint>

// The process-wide handle of the peer-to-peer client library. It is 0 until
// the registration thread has initialised the library, and 0 again once the
// library has been released. Written by the owner of the library (the main
// window), read by every part that talks to cameras by camera ID.
namespace varno {

intptr_t p2pHandle();
void setP2pHandle(intptr_t handle);

} // namespace varno
