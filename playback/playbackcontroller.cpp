#include "playback/playbackcontroller.h"

#include "common/crashhandler.h"
#include "common/uithread.h"
#include "playback/qmediaplay.h"

#include <QMetaObject>

namespace varno::playback {

PlaybackController::PlaybackController(QObject *parent)
    : QObject(parent)
{
    m_thread = std::thread(&PlaybackController::jobThread, this);
}

PlaybackController::~PlaybackController()
{
    shutdown();
}

void PlaybackController::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_cv.notify_all();
}

quint64 PlaybackController::start(std::unique_ptr<qmediaplay> engine, const PlayStart &args)
{
    VARNO_ASSERT_UI_THREAD();
    const quint64 ticket = ++m_nextTicket;
    qmediaplay *raw = engine.get();
    auto retired = std::make_shared<std::atomic<bool>>(false);
    m_engines.emplace(raw, Owned{std::move(engine), retired});
    // The engine lives until its retire job, which comes after this one.
    post([this, raw, args, ticket, retired] {
        if (retired->load())
            return;
        const int ret = raw->StartPlay(args.fileName.c_str(), args.videoCodec, &args.params, args.frameRate,
                                       args.window);
        QMetaObject::invokeMethod(
            this, [this, ticket, ret] { emit started(ticket, ret); }, Qt::QueuedConnection);
    });
    return ticket;
}

void PlaybackController::retire(qmediaplay *engine)
{
    VARNO_ASSERT_UI_THREAD();
    auto it = m_engines.find(engine);
    if (it == m_engines.end())
        return;
    it->second.retired->store(true);
    qmediaplay *raw = it->second.engine.release();
    m_engines.erase(it);
    post([raw] {
        raw->SetCallback(nullptr, nullptr);
        raw->StopPlay(true);
        delete raw;
    });
}

void PlaybackController::shutdown()
{
    VARNO_ASSERT_UI_THREAD();
    while (!m_engines.empty())
        retire(m_engines.begin()->first);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

int PlaybackController::pendingJobs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_jobs.size()) + m_running;
}

void PlaybackController::jobThread()
{
    InstallCrashHandlerOnThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        // At the end every job still runs: the retires free the engines.
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_running;
        lock.unlock();
        job();
        lock.lock();
        --m_running;
    }
}

} // namespace varno::playback
