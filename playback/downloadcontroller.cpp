#include "playback/downloadcontroller.h"

#include "common/crashhandler.h"
#include "common/uithread.h"

#include <QMetaObject>
#include <QtGlobal>

namespace varno::playback {

DownloadController::DownloadController(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<DownloadOutcome>("DownloadOutcome");
    m_thread = std::thread(&DownloadController::jobThread, this);
}

DownloadController::~DownloadController()
{
    shutdown();
}

bool DownloadController::start(const DownloadRequest &request)
{
    VARNO_ASSERT_UI_THREAD();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_quit)
            return false;
        m_busy = true;
        m_stopWanted = false;
        m_request = request;
    }
    m_cv.notify_all();
    return true;
}

void DownloadController::stop()
{
    VARNO_ASSERT_UI_THREAD();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_busy)
            return;
        m_stopWanted = true;
    }
    m_cv.notify_all();
}

bool DownloadController::busy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_busy;
}

std::optional<std::pair<int, DownloadOutcome>> DownloadController::shutdown()
{
    VARNO_ASSERT_UI_THREAD();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_stopWanted = m_busy;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_lastEnded, std::nullopt);
}

int DownloadController::notifyThunk(uint32_t total, uint32_t received, int code, CFileDownload *, void *user)
{
    auto *self = static_cast<DownloadController *>(user);
    if (!self)
        return 0;
    if (code == kDownloadProgress) {
        // A file of size 0 has nothing to measure against: 0 % until it
        // ends; 100 % is the end's (a whole file, converted), never a notice's.
        const int percent = total > 0 ? int(qMin<quint64>(quint64(received) * 100 / total, 99)) : 0;
        const int row = self->m_row.load();
        QMetaObject::invokeMethod(
            self, [self, row, percent] { emit self->progress(row, percent); }, Qt::QueuedConnection);
        return 0;
    }
    if (code == kDownloadFinished) {
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_workerDone = true;
        }
        self->m_cv.notify_all();
    }
    return 0;
}

void DownloadController::jobThread()
{
    InstallCrashHandlerOnThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || m_request || (m_worker && (m_stopWanted || m_workerDone)); });
        if (m_request) {
            DownloadRequest request = std::move(*m_request);
            m_request.reset();
            if (m_stopWanted) {
                m_stopWanted = false;
                m_busy = false;
                lock.unlock();
                QMetaObject::invokeMethod(
                    this, [this, row = request.row] { emit started(row, kDownloadCancelled); },
                    Qt::QueuedConnection);
                lock.lock();
                continue;
            }
            m_workerDone = false;
            m_row = request.row;
            lock.unlock();
            // The camera's connect and Start_Download: up to 3 s each.
            auto *worker = new CFileDownload;
            worker->setTotal(request.size);
            worker->setOffset(request.offset);
            worker->setCallback(&DownloadController::notifyThunk, this);
            const QByteArray target = request.target.toUtf8();
            const int ret = worker->startDownload(request.peerId.constData(), request.password.constData(),
                                                  request.file.fileName, target.constData());
            if (ret != 0)
                delete worker;
            lock.lock();
            if (ret == 0) {
                m_worker = worker;
            } else {
                m_busy = false;
                m_stopWanted = false;
            }
            lock.unlock();
            QMetaObject::invokeMethod(
                this, [this, row = request.row, ret] { emit started(row, ret); }, Qt::QueuedConnection);
            lock.lock();
            continue;
        }
        if (m_worker) {
            // Stopped, or the worker said it ended: the library's stop (up to
            // 5 s for its callback) and the worker's end (up to 5 s).
            CFileDownload *worker = m_worker;
            lock.unlock();
            const bool joined = worker->stopDownload();
            DownloadOutcome outcome = worker->outcome();
            if (!joined || outcome.state == DownloadState::Running) {
                // Left to end by itself: it stopped as far as the dialog knows.
                outcome.state = DownloadState::Stopped;
                outcome.kept = worker->written();
            }
            delete worker;
            const int row = m_row.load();
            lock.lock();
            m_worker = nullptr;
            m_workerDone = false;
            m_stopWanted = false;
            m_busy = false;
            m_lastEnded.emplace(row, outcome);
            lock.unlock();
            QMetaObject::invokeMethod(
                this,
                [this, row, outcome] {
                    {
                        std::lock_guard<std::mutex> guard(m_mutex);
                        m_lastEnded.reset();
                    }
                    emit ended(row, outcome);
                },
                Qt::QueuedConnection);
            lock.lock();
            continue;
        }
        if (m_quit)
            break;
    }
}

} // namespace varno::playback
