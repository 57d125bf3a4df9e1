#include "record/streamkeeper.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "record/qmediarealrecord.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace varno::record {

struct StreamKeeper::State
{
    std::string deviceId;
    std::unique_ptr<RecordSource> source;
    std::mutex recorderMutex;
    qmediarealrecord *recorder = nullptr; // null once stop() began
    std::function<uint64_t()> clock;

    std::mutex passMutex; // one pass at a time; stop() waits for none
    bool open = true;
    uint64_t framesAtOpen = 0;
    bool framesSeen = false;
    ReopenBackoff backoff;
    int reopens = 0;
    bool quiet = false; // the failures of this run were logged

    std::atomic<bool> stop{false};
    std::mutex wakeMutex;
    std::condition_variable wakeCv;

    void pass();
    void run();
};

void StreamKeeper::State::pass()
{
    std::lock_guard lock(passMutex);
    if (stop)
        return;
    const uint32_t now = uint32_t(clock());
    if (open) {
        if (!source->broken()) {
            if (!framesSeen && source->frames() > framesAtOpen) {
                framesSeen = true;
                backoff.reset(); // frames again: the next break reopens at once
            }
            return;
        }
        WriteLog(2, "%s(%d):Record stream of device(%s) broken, reopen it!!!", "StreamKeeper::pass", __LINE__,
                 deviceId.c_str());
        source->close();
        open = false;
        quiet = false;
        std::lock_guard recorderLock(recorderMutex);
        if (recorder)
            recorder->noteStreamLost();
    }
    if (!backoff.due(now))
        return;
    backoff.tried(now);
    const int ret = source->open();
    if (stop) { // stop() came during the open: nothing of it stays
        if (ret == 0)
            source->close();
        return;
    }
    if (ret == 0) {
        open = true;
        framesAtOpen = source->frames();
        framesSeen = false;
        ++reopens;
        WriteLog(0, "[RECORD]Reopen device(%s) record stream after %d failures!!!", deviceId.c_str(),
                 backoff.failures());
        backoff.opened();
        return;
    }
    backoff.failed();
    if (!quiet) {
        quiet = true;
        WriteLog(2, "%s(%d):Reopen device(%s) record stream failed, ret(%d), its next failures are counted!!!",
                 "StreamKeeper::pass", __LINE__, deviceId.c_str(), ret);
    }
}

void StreamKeeper::State::run()
{
    InstallCrashHandlerOnThread();
    while (!stop) {
        pass();
        std::unique_lock lock(wakeMutex);
        wakeCv.wait_for(lock, std::chrono::milliseconds(kCycleMs), [&] { return bool(stop); });
    }
    std::lock_guard lock(passMutex);
    if (open)
        source->close();
    open = false;
}

StreamKeeper::StreamKeeper(std::string deviceId, std::unique_ptr<RecordSource> source, qmediarealrecord *recorder,
                           std::function<uint64_t()> clock, ReopenBackoff backoff)
    : m_state(std::make_shared<State>())
{
    m_state->backoff = backoff;
    m_state->deviceId = std::move(deviceId);
    m_state->source = std::move(source);
    m_state->recorder = recorder;
    m_state->clock = std::move(clock);
}

StreamKeeper::~StreamKeeper()
{
    stop();
}

void StreamKeeper::start()
{
    if (m_started || m_stopped)
        return;
    try {
        m_thread = std::thread([state = m_state] { state->run(); });
        m_started = true;
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "StreamKeeper::start", __LINE__);
    }
}

void StreamKeeper::pass()
{
    m_state->pass();
}

void StreamKeeper::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    State &s = *m_state;
    s.source->detach();
    {
        std::lock_guard lock(s.recorderMutex);
        s.recorder = nullptr;
    }
    {
        std::lock_guard lock(s.wakeMutex);
        s.stop = true;
        s.wakeCv.notify_all();
    }
    if (m_thread.joinable()) {
        // An open in progress ends within the connect time-out; the thread
        // then closes what it opened and ends.
        m_thread.join();
        return;
    }
    std::lock_guard lock(s.passMutex);
    if (s.open)
        s.source->close();
    s.open = false;
}

int StreamKeeper::reopenFailures() const
{
    std::lock_guard lock(m_state->passMutex);
    return m_state->backoff.failures();
}

uint32_t StreamKeeper::reopenDelay() const
{
    std::lock_guard lock(m_state->passMutex);
    return m_state->backoff.delay();
}

int StreamKeeper::reopens() const
{
    std::lock_guard lock(m_state->passMutex);
    return m_state->reopens;
}

} // namespace varno::record
