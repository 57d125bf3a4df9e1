#include "common/p2phandle.h"

#include <atomic>

namespace varno {

namespace {
std::atomic<intptr_t> g_handle{0};
} // namespace

intptr_t p2pHandle()
{
    return g_handle.load(std::memory_order_acquire);
}

void setP2pHandle(intptr_t handle)
{
    g_handle.store(handle, std::memory_order_release);
}

} // namespace varno
