#include "platform/p2p/p2p_client.h"

#include <chrono>
#include <thread>

namespace varno::p2p {

int64_t monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t monotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void DispatchProgress::waitFor(uint64_t mark, const Channel &channel, int timeoutMs) const
{
    const int64_t end = monotonicMs() + timeoutMs;
    while (done.load() < mark && !stopped.load() && !channel.stopping() && monotonicMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Channel::Channel(Type type, uint32_t id, size_t maxItems, size_t maxBytes)
    : m_type(type), m_id(id), m_maxItems(maxItems), m_maxBytes(maxBytes)
{
}

Channel::~Channel()
{
    requestStop();
    if (m_thread.joinable()) {
        if (onDeliveryThread())
            m_thread.detach();   // the last owner let go inside the callback
        else
            m_thread.join();
    }
}

void Channel::start(std::function<void(DeliveryItem &)> deliver)
{
    m_deliver = std::move(deliver);
    m_thread = std::thread([this] { run(); });
}

bool Channel::onDeliveryThread() const
{
    return std::this_thread::get_id() == m_threadId.load();
}

bool Channel::push(DeliveryItem &&item)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop.load())
        return false;
    const bool video = item.media == kMediaVideo;
    const bool full = m_queue.size() >= m_maxItems || m_bytes + item.data.size() > m_maxBytes;
    if (m_type != Type::Download) {
        // A consumer that falls behind loses video up to the next key frame:
        // P slices without their reference would only decode into garbage.
        if (m_waitKey && video) {
            if (!(item.flags & kFlagKey) || full) {
                m_lost.fetch_add(1);
                return false;
            }
            m_waitKey = false;
        }
        if (full) {
            m_lost.fetch_add(1);
            if (video)
                m_waitKey = true;
            return false;
        }
    } else if (full) {
        m_lost.fetch_add(1);
        return false;
    }
    m_bytes += item.data.size();
    m_queue.push_back(std::move(item));
    m_cv.notify_one();
    return true;
}

void Channel::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
        m_queue.clear();
        m_bytes = 0;
    }
    m_cv.notify_all();
}

bool Channel::join(int timeoutMs)
{
    if (!m_thread.joinable() || onDeliveryThread())
        return true;
    const int64_t end = monotonicMs() + timeoutMs;
    while (!m_finished.load()) {
        if (monotonicMs() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_thread.join();
    return true;
}

void Channel::run()
{
    m_threadId.store(std::this_thread::get_id());
    for (;;) {
        DeliveryItem item;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stop.load() || !m_queue.empty(); });
            if (m_stop.load())
                break;
            item = std::move(m_queue.front());
            m_queue.pop_front();
            m_bytes -= item.data.size();
        }
        if (m_deliver)
            m_deliver(item);
    }
    m_finished.store(true);
}

} // namespace varno::p2p
