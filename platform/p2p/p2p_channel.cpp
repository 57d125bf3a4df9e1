#include "platform/p2p/p2p_client.h"

#include "common/crashhandler.h"

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

namespace {
thread_local bool t_libraryThread = false;
} // namespace

void enterLibraryThread()
{
    if (t_libraryThread)
        return;
    t_libraryThread = true;
    InstallCrashHandlerOnThread();
}

bool onLibraryThread()
{
    return t_libraryThread;
}

void DispatchProgress::waitFor(uint64_t mark, const Channel &channel, int timeoutMs) const
{
    const int64_t end = monotonicMs() + timeoutMs;
    while (done.load() < mark && !stopped.load() && !channel.stopping() && monotonicMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Channel::Channel(Type type, uint32_t id, size_t maxItems, size_t maxBytes)
    : m_type(type), m_id(id), m_maxItems(maxItems), m_maxBytes(maxBytes), m_core(std::make_shared<Core>())
{
}

Channel::~Channel()
{
    requestStop();
    if (m_thread.joinable()) {
        // The last owner let go inside the callback: this is the delivery
        // thread itself, which touches nothing of the channel from here on.
        if (onDeliveryThread())
            m_thread.detach();
        else
            m_thread.join();
    }
}

void Channel::start(std::function<void(DeliveryItem &)> deliver)
{
    m_deliver = std::move(deliver);
    m_thread = std::thread([core = m_core, channel = weak_from_this()] { run(core, channel); });
}

bool Channel::onDeliveryThread() const
{
    return std::this_thread::get_id() == m_core->threadId.load();
}

bool Channel::push(DeliveryItem &&item)
{
    Core &c = *m_core;
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.stop.load())
        return false;
    const bool video = item.media == kMediaVideo;
    const bool full = c.queue.size() >= m_maxItems || c.bytes + item.data.size() > m_maxBytes;
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
    c.bytes += item.data.size();
    c.queue.push_back(std::move(item));
    c.cv.notify_one();
    return true;
}

uint32_t Channel::noteVideoNumber(uint32_t number)
{
    std::lock_guard<std::mutex> lock(m_core->mutex);
    // Unsigned: the count wraps as the camera's does. A camera that opens the
    // stream again starts at a key frame, whatever its number.
    const uint32_t missing = m_haveNumber ? number - m_lastNumber - 1 : 0;
    m_haveNumber = true;
    m_lastNumber = number;
    if (missing == 0 || missing > 0x7fffffffu) // the same or an older number: nothing missing
        return 0;
    m_waitKey = true;
    return missing;
}

void Channel::requestStop()
{
    Core &c = *m_core;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.stop.store(true);
        c.queue.clear();
        c.bytes = 0;
    }
    c.cv.notify_all();
}

bool Channel::join(int timeoutMs)
{
    if (!m_thread.joinable() || onDeliveryThread())
        return true;
    const int64_t end = monotonicMs() + timeoutMs;
    while (!m_core->finished.load()) {
        if (monotonicMs() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_thread.join();
    return true;
}

void Channel::run(const std::shared_ptr<Core> &core, const std::weak_ptr<Channel> &channel)
{
    enterLibraryThread();
    core->threadId.store(std::this_thread::get_id());
    for (;;) {
        DeliveryItem item;
        {
            std::unique_lock<std::mutex> lock(core->mutex);
            core->cv.wait(lock, [&core] { return core->stop.load() || !core->queue.empty(); });
            if (core->stop.load())
                break;
            item = std::move(core->queue.front());
            core->queue.pop_front();
            core->bytes -= item.data.size();
        }
        // Held while the callback runs. No owner left: the channel is being
        // destroyed on another thread, whose destructor joins this one.
        std::shared_ptr<Channel> self = channel.lock();
        if (!self)
            break;
        if (self->m_deliver)
            self->m_deliver(item);
        // May be the last owner now: the channel ends here, on this thread.
        self.reset();
    }
    core->finished.store(true);
}

} // namespace varno::p2p
