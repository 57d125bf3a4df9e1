#include "common/callabort.h"

namespace varno {

namespace {
thread_local CallAbort *t_abort = nullptr;
}

void CallAbort::raise()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_raised = true;
    for (auto &entry : m_wakers)
        entry.second();
}

int CallAbort::addWaker(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int key = m_nextKey++;
    m_wakers.emplace(key, std::move(wake));
    return key;
}

void CallAbort::removeWaker(int key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakers.erase(key);
}

CallAbortScope::CallAbortScope(CallAbort *abort)
    : m_previous(t_abort)
{
    t_abort = abort;
}

CallAbortScope::~CallAbortScope()
{
    t_abort = m_previous;
}

CallAbort *currentCallAbort()
{
    return t_abort;
}

CallAbortWaker::CallAbortWaker(std::function<void()> wake)
    : m_abort(t_abort)
{
    if (m_abort)
        m_key = m_abort->addWaker(std::move(wake));
}

CallAbortWaker::~CallAbortWaker()
{
    if (m_abort)
        m_abort->removeWaker(m_key);
}

} // namespace varno
