#include "record/recordingcontroller.h"

#include "platform/recfile/nalunits.h"

#include "common/crashhandler.h"
#include "common/logfile.h"

#include <QMetaObject>
#include <QThread>

#include <system_error>

namespace varno::record {

namespace {

// The recorder's report codes that do not end a recording
// (record/qmediarealrecord.h).
constexpr int kFileCreated = -1043;
constexpr int kDiskGone = -1050;

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

} // namespace

#define VARNO_ASSERT_OWN_THREAD() Q_ASSERT_X(QThread::currentThread() == thread(), Q_FUNC_INFO, "not on the controller's thread")

RecordingController::RecordingController(QObject *parent)
    : QObject(parent)
{
}

RecordingController::~RecordingController()
{
    VARNO_ASSERT_OWN_THREAD();
    m_closing = true;
    // A start in progress gives up the request it waits in (stream address,
    // P2P connect) and stops its recorder itself when the factory returns
    // (finishStart); stops in progress end.
    m_closeAbort.raise();
    for (auto &job : m_jobs)
        job->thread.join();
    m_jobs.clear();
    QList<std::shared_ptr<LiveRecorder>> recorders;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_records.begin(); it != m_records.end(); ++it)
            if (it->recorder)
                recorders << std::move(it->recorder);
        m_records.clear();
        m_factory = nullptr;
    }
    // Every recorder at once: each stop waits for its own disk.
    std::list<std::thread> stops;
    for (const auto &recorder : recorders) {
        try {
            stops.emplace_back([recorder] { recorder->stop(); });
        } catch (const std::system_error &) {
            recorder->stop();
        }
    }
    for (auto &t : stops)
        t.join();
}

void RecordingController::setFactory(RecorderFactory factory)
{
    QMutexLocker lock(&m_mutex);
    m_factory = std::move(factory);
}

void RecordingController::setDevice(const QString &deviceId, const DvrListInfo_s &dev)
{
    QMutexLocker lock(&m_mutex);
    m_devices[deviceId] = dev;
}

bool RecordingController::knows(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    return m_devices.contains(deviceId);
}

bool RecordingController::runJob(std::function<void()> work)
{
    reapJobs();
    auto job = std::make_unique<Job>();
    Job *raw = job.get();
    try {
        job->thread = std::thread([this, raw, work] {
            InstallCrashHandlerOnThread();
            {
                const CallAbortScope calls(&m_closeAbort);
                work();
            }
            raw->done = true;
            // Joined on the controller's thread; the destructor joins
            // whatever this call leaves.
            if (!m_closing)
                QMetaObject::invokeMethod(this, &RecordingController::reapJobs, Qt::QueuedConnection);
        });
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "RecordingController::runJob", __LINE__);
        return false;
    }
    m_jobs.push_back(std::move(job));
    return true;
}

void RecordingController::reapJobs()
{
    VARNO_ASSERT_OWN_THREAD();
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
}

int RecordingController::jobCount() const
{
    VARNO_ASSERT_OWN_THREAD();
    return int(m_jobs.size());
}

bool RecordingController::start(const QString &deviceId, int alarmType)
{
    VARNO_ASSERT_OWN_THREAD();
    DvrListInfo_s dev{};
    RecorderFactory factory;
    uint64_t serial = 0;
    {
        QMutexLocker lock(&m_mutex);
        const auto known = m_devices.constFind(deviceId);
        if (known == m_devices.constEnd() || !m_factory || m_records.contains(deviceId) || m_closing)
            return false;
        dev = *known;
        factory = m_factory;
        serial = ++m_serial;
        Ctl &ctl = m_records[deviceId];
        ctl.serial = serial;
        ctl.alarm = alarmType != 0;
    }
    const bool running = runJob([this, deviceId, alarmType, serial, dev, factory] {
        finishStart(deviceId, serial, alarmType, factory(dev, alarmType));
    });
    if (!running) {
        QMutexLocker lock(&m_mutex);
        m_records.remove(deviceId);
    }
    return running;
}

// Job thread: the factory returned.
void RecordingController::finishStart(const QString &deviceId, uint64_t serial, int alarmType,
                                      std::unique_ptr<LiveRecorder> recorder)
{
    bool ok = false;
    bool current = false; // neither cancelled nor closing
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_records.find(deviceId);
        if (it != m_records.end() && it->serial == serial && !m_closing) {
            current = true;
            if (recorder) {
                it->recorder = std::move(recorder);
                it->recording = true;
                ok = true;
                if (it->pendingAlarmType != 0 && it->recorder->setAlarmType(it->pendingAlarmType) != 0)
                    WriteLog(3, "%s(%d):Device(%s) set alarm type(%d) failed!!!",
                             "RecordingController::finishStart", __LINE__, text8(deviceId).constData(),
                             it->pendingAlarmType);
            } else {
                m_records.erase(it);
            }
        }
    }
    if (recorder) {
        // Cancelled (stopped while starting, or the controller closes).
        WriteLog(3, "%s(%d):Recording of device(%s) was cancelled while it started!!!",
                 "RecordingController::finishStart", __LINE__, text8(deviceId).constData());
        recorder->stop();
        recorder.reset();
        return;
    }
    if (current)
        emit sendStarted(deviceId, alarmType, ok); // queued to the controller's thread
}

bool RecordingController::stop(const QString &deviceId, bool *wasRecording)
{
    VARNO_ASSERT_OWN_THREAD();
    std::shared_ptr<LiveRecorder> shared;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_records.find(deviceId);
        if (it == m_records.end())
            return false;
        if (wasRecording)
            *wasRecording = it->recording;
        shared = std::move(it->recorder);
        m_records.erase(it); // a start in progress finds itself cancelled
    }
    if (!shared)
        return true;
    const bool running = runJob([this, deviceId, shared] {
        shared->stop();
        if (!m_closing)
            emit sendStopped(deviceId);
    });
    if (!running) { // no thread to spare: it stops here
        shared->stop();
        emit sendStopped(deviceId);
    }
    return true;
}

int RecordingController::setAlarmType(const QString &deviceId, int type)
{
    VARNO_ASSERT_OWN_THREAD();
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.find(deviceId);
    if (it == m_records.end())
        return -1;
    if (!it->recording) {
        it->pendingAlarmType = type;
        it->alarm = true;
        return 0;
    }
    if (!it->recorder)
        return -1;
    const int ret = it->recorder->setAlarmType(type);
    if (ret == 0)
        it->alarm = true;
    return ret;
}

bool RecordingController::isStarting(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    return it != m_records.constEnd() && !it->recording;
}

bool RecordingController::isRecording(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    return it != m_records.constEnd() && it->recording;
}

bool RecordingController::isAlarmRecording(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    return it != m_records.constEnd() && it->recording && it->alarm;
}

bool RecordingController::isAlarm(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    return it != m_records.constEnd() && it->alarm;
}

bool RecordingController::isWaiting(const QString &deviceId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    return it != m_records.constEnd() && it->recording && it->waiting;
}

void RecordingController::pushLiveFrame(const QString &deviceId, bool audio, const char *data, int size,
                                        uint64_t timeStampMs)
{
    if (!data || size <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(deviceId);
    if (it == m_records.constEnd() || !it->recording || !it->recorder)
        return;
    LiveRecorder *recorder = it->recorder.get();
    const int frameType = audio ? 1
        : varno::recfile::mediaFrameType(recorder->isH265() ? varno::recfile::VideoCodec::H265
                                                            : varno::recfile::VideoCodec::H264,
                                         reinterpret_cast<const uint8_t *>(data), size_t(size));
    recorder->pushFrame(frameType, data, size, timeStampMs);
}

void RecordingController::report(const QString &deviceId, const QString &filePath, int code,
                                 LiveRecorder *recorder)
{
    QString device;
    {
        QMutexLocker lock(&m_mutex);
        // The recorder's entry; while its start is still in the factory the
        // recorder is not in the table yet and the starting entry is its own.
        for (auto it = m_records.begin(); it != m_records.end(); ++it) {
            if (it->recorder.get() == recorder || (!it->recording && it.key() == deviceId)) {
                device = it.key();
                if (code == LiveRecorder::kStreamLost || code == LiveRecorder::kStreamBack) {
                    it->waiting = code == LiveRecorder::kStreamLost;
                } else {
                    it->filePath = filePath;
                    it->alarmFileOpen = it->alarm && code == kFileCreated;
                }
                break;
            }
        }
    }
    if (device.isEmpty())
        return; // a recorder that is stopping
    // Queued to the controller's thread.
    if (code == LiveRecorder::kStreamLost || code == LiveRecorder::kStreamBack) {
        emit sendWaiting(device, code == LiveRecorder::kStreamLost);
        return;
    }
    if (code != kFileCreated && code != kDiskGone)
        WriteLog(2, "%s(%d):Device(%s) Record failed, ret(%d)!!!", "QVideoOnly::recvRecord", __LINE__,
                 text8(deviceId).constData(), code);
    emit sendReport(device, code, filePath);
}

} // namespace varno::record
