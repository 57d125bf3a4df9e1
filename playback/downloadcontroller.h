#pragma once

#include "common/mediarecords.h"
#include "playback/cfiledownload.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace varno::playback {

// startDownload's result when a stop came before the start was made.
inline constexpr int kDownloadCancelled = -1051;

// One file to fetch, as the download dialog hands it over.
struct DownloadRequest
{
    int row = 0;
    QByteArray peerId;
    QByteArray password;
    MEDIA_FILE_S file{};
    QString target;
    uint32_t size = 0;
    uint32_t offset = 0;   // bytes an earlier transfer kept in "<target>.tmp"
};

// Runs the downloads of the dialog without a widget: one at a time, each
// started and stopped on a job thread of its own, because the camera's
// connect and Start_Download take up to 3 s each and a stop waits up to 5 s
// for the library's callback and 5 s for the worker. Answers come back as
// queued signals carrying values. Called on the user-interface thread only.
class DownloadController : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadController)

public:
    explicit DownloadController(QObject *parent = nullptr);
    // Stops what runs and joins the job thread (shutdown()).
    ~DownloadController() override;

    // Starts a download; false (nothing done) while one is starting,
    // running or ending. started() follows, and ended() after a start that
    // succeeded.
    bool start(const DownloadRequest &request);
    // Stops the download (one still starting right after its start);
    // ended() follows, or started() with kDownloadCancelled when the start
    // had not been made yet.
    void stop();
    // A download is starting, running or ending.
    bool busy() const;
    // Stops, joins the job thread and returns the end of the download that
    // was running (whose ended() will not be delivered any more), if any.
    std::optional<std::pair<int, DownloadOutcome>> shutdown();

signals:
    // result 0: the transfer runs; otherwise it failed to start (the
    // worker's code, kDownloadTargetBusy, kDownloadCancelled).
    void started(int row, int result);
    void progress(int row, int percent);
    void ended(int row, DownloadOutcome outcome);

private:
    static int notifyThunk(uint32_t total, uint32_t received, int code, CFileDownload *worker, void *user);
    void jobThread();

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<DownloadRequest> m_request;   // handed over, not yet taken
    CFileDownload *m_worker = nullptr;          // the running download (job thread)
    bool m_busy = false;                        // request taken or worker running
    bool m_stopWanted = false;
    bool m_workerDone = false;
    bool m_quit = false;
    std::optional<std::pair<int, DownloadOutcome>> m_lastEnded;
    std::atomic<int> m_row{-1};
    std::thread m_thread;
};

} // namespace varno::playback

Q_DECLARE_METATYPE(DownloadOutcome)
