#include "common/jobworker.h"

#include "common/crashhandler.h"
#include "common/logfile.h"

#include <chrono>
#include <system_error>

namespace varno {

JobToken::JobToken()
    : m_state(std::make_shared<State>())
{
}

JobToken JobToken::cancelledToken()
{
    JobToken token;
    token.cancel();
    return token;
}

bool JobToken::cancelled() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->cancelled;
}

bool JobToken::pause(int ms) const
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return !m_state->wake.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0),
                                   [this] { return m_state->cancelled; });
}

void JobToken::markCancelled() const
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->cancelled = true;
    }
    m_state->wake.notify_all();
}

void JobToken::cancel() const
{
    markCancelled();
    m_state->calls.raise();
}

JobWorker::JobWorker() = default;

JobWorker::~JobWorker()
{
    stopAndJoin(true);
}

bool JobWorker::post(Job job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_queue.emplace_back(std::move(job), m_current);
    if (!m_thread.joinable()) {
        m_stop = false;
        try {
            m_thread = std::thread(&JobWorker::run, this);
        } catch (const std::system_error &) {
            m_queue.pop_back();
            WriteLog(2, "%s(%d):Create thread failed!!!", "JobWorker::post", __LINE__);
            return false;
        }
    }
    lock.unlock();
    m_wake.notify_one();
    return true;
}

void JobWorker::cancel()
{
    JobToken told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        told = m_current;
        told.markCancelled();
        m_current = JobToken();
    }
    // Outside the lock: the abort wakes library calls, which take their own.
    told.cancel();
}

void JobWorker::finish()
{
    stopAndJoin(false);
}

bool JobWorker::idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.empty() && !m_running;
}

void JobWorker::stopAndJoin(bool dropQueued)
{
    JobToken told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (dropQueued) {
            told = m_current;
            told.markCancelled();
            m_current = JobToken();
            m_queue.clear();
        }
        m_stop = true;
    }
    // Outside the lock: the abort wakes library calls, which take their own.
    if (dropQueued)
        told.cancel();
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void JobWorker::run()
{
    InstallCrashHandlerOnThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopped, nothing left to run
        auto next = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = true;
        lock.unlock();
        {
            const CallAbortScope calls(&next.second.m_state->calls);
            next.first(next.second);
        }
        next.first = nullptr; // whatever the job holds goes on this thread
        lock.lock();
        m_running = false;
    }
}

} // namespace varno
