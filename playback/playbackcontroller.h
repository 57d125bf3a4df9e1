#pragma once

#include "platform/av/av_decoder.h"

#include <QObject>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class qmediaplay;

namespace varno::playback {

// What an engine's StartPlay takes.
struct PlayStart
{
    std::string fileName;
    int videoCodec = AV_VIDEO_H264;
    AV_DECODER_PARAM_S params{};
    uint32_t frameRate = 0;
    int32_t window = 0;
};

// Owns the playback windows' engines without a widget and does what may
// wait on a job thread of its own: an engine's start (a camera file: the
// session and Start_Playback, up to about 6 s; a local recording without a
// duration tag: reading the whole file) and its stop and deletion (a camera
// file's stop waits up to 5 s for the library's callback). Jobs run in the
// order they were handed over, so an engine is never deleted while its
// start runs. The grid keeps using an engine's other operations (flags
// the worker reads) on the user-interface thread once started() said so.
// Called on the user-interface thread only.
class PlaybackController : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlaybackController)

public:
    explicit PlaybackController(QObject *parent = nullptr);
    // shutdown().
    ~PlaybackController() override;

    // Takes the engine (its callback already set) and starts it on the job
    // thread; the ticket names it in started().
    quint64 start(std::unique_ptr<qmediaplay> engine, const PlayStart &args);
    // Stops and deletes an engine on the job thread, after its start when
    // that still runs. Unknown engines are ignored.
    void retire(qmediaplay *engine);
    // Retires every engine and joins the job thread; an engine's callback
    // is not called once this returns.
    void shutdown();
    // Engines owned (started or starting, not yet retired).
    int engineCount() const { return int(m_engines.size()); }
    // Jobs handed over and not yet done.
    int pendingJobs() const;

signals:
    // result 0: the engine plays; otherwise StartPlay's code (the grid
    // retires the engine).
    void started(quint64 ticket, int result);

private:
    void post(std::function<void()> job);
    void jobThread();

    struct Owned
    {
        std::unique_ptr<qmediaplay> engine;
        // Set by retire(): a start not yet made is not made any more.
        std::shared_ptr<std::atomic<bool>> retired;
    };
    std::map<qmediaplay *, Owned> m_engines;   // user-interface thread
    quint64 m_nextTicket = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_jobs;
    int m_running = 0;   // jobs taken and not finished
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace varno::playback
