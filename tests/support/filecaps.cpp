#include "tests/support/filecaps.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace varno::test {

namespace {

bool capabilities(__user_cap_data_struct data[2], bool set)
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0; // this thread
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

constexpr unsigned kFileBits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

} // namespace

WithoutFileCapabilities::WithoutFileCapabilities()
{
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    m_saved[0] = data[0].effective;
    m_saved[1] = data[1].effective;
    data[0].effective &= ~kFileBits; // permitted stays: the destructor raises them again
    m_changed = capabilities(data, true);
}

WithoutFileCapabilities::~WithoutFileCapabilities()
{
    if (!m_changed)
        return;
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    data[0].effective = m_saved[0];
    data[1].effective = m_saved[1];
    capabilities(data, true);
}

} // namespace varno::test
