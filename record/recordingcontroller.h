#pragma once

#include "common/callabort.h"
#include "common/devicerecords.h"
#include "live/liverecorder.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace varno::record {

// The recordings of the live page's cameras, without widgets: which camera
// records (by hand or for an alarm), whose recording waits for its stream,
// and the work that starts and stops a recording, none of it on the
// window's thread.
//
// Starting runs the recorder factory (stream descriptions, the stream
// address, the RTSP open: seconds with a slow camera) on a job thread;
// stopping stops the recorder (its record thread and stream keeper are
// joined: the file is closed) on a job thread. Results come back as queued
// signals carrying values. The controller owns its job threads: each is
// joined when it has finished (the next start or stop, or a queued reap) and
// at the latest by the destructor, which cancels a start in progress (its
// recorder is stopped as soon as the factory returns it) and stops every
// recorder: no job and no recorder outlives the controller.
//
// Threads: start(), stop() and setAlarmType() on the controller's own
// thread (asserted); the queries, pushLiveFrame() and report() on any thread
// (the record mutex; never held while a recorder stops).
class RecordingController : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingController)

public:
    // Creates and starts a recorder for a camera (alarm type 0: by hand);
    // nullptr when it cannot start. Runs on a job thread. The recorder
    // reports through report().
    using RecorderFactory =
        std::function<std::unique_ptr<LiveRecorder>(const DvrListInfo_s &dev, int alarmType)>;

    explicit RecordingController(QObject *parent = nullptr);
    ~RecordingController() override;

    void setFactory(RecorderFactory factory);
    // The camera record a recording of deviceId starts from.
    void setDevice(const QString &deviceId, const DvrListInfo_s &dev);
    bool knows(const QString &deviceId) const;

    // Starts the camera's recording; sendStarted tells how it went. false
    // (nothing started) for an unknown camera, without a factory, or while
    // the camera records or starts already.
    bool start(const QString &deviceId, int alarmType);
    // Ends the camera's recording or cancels its start: from now on no frame
    // reaches its recorder and no report of it goes out; the recorder stops
    // on a job thread and sendStopped follows. false when the camera neither
    // records nor starts. wasRecording (optional): it recorded (not started).
    bool stop(const QString &deviceId, bool *wasRecording = nullptr);
    // Turns a running recording into an alarm recording of the file alarm
    // type; the recorder's result, -1 when the camera does not record. A
    // recording still starting takes the type when its recorder is there (0).
    int setAlarmType(const QString &deviceId, int type);

    bool isStarting(const QString &deviceId) const;
    bool isRecording(const QString &deviceId) const;
    bool isAlarmRecording(const QString &deviceId) const;
    // An alarm recording, running or starting.
    bool isAlarm(const QString &deviceId) const;
    // The camera's recording waits for its stream.
    bool isWaiting(const QString &deviceId) const;
    // Job threads not joined yet (controller's thread).
    int jobCount() const;
    // The destructor has begun (a job may look).
    bool closing() const { return m_closing; }

    // A frame of the camera's live stream (stream library thread), typed for
    // the recorder here: video by the NAL type of its first unit, read by the
    // recording's codec (H.264 or H.265); anything else is audio.
    void pushLiveFrame(const QString &deviceId, bool audio, const char *data, int size, uint64_t timeStampMs);
    // A recorder's report (its record thread; see LiveRecorder and
    // qmediarealrecord for the codes).
    void report(const QString &deviceId, const QString &filePath, int code, LiveRecorder *recorder);

signals:
    void sendStarted(QString deviceId, int alarmType, bool ok);
    // The recorder stopped: its file is closed.
    void sendStopped(QString deviceId);
    void sendWaiting(QString deviceId, bool waiting);
    // Any other report of a running recording (a file created, a fault). A
    // report that ends the recording leaves the stop to the owner (stop()).
    void sendReport(QString deviceId, int code, QString path);

private:
    struct Ctl
    {
        std::shared_ptr<LiveRecorder> recorder; // the table's only owner
        uint64_t serial = 0; // the start this entry belongs to
        bool recording = false; // else starting
        bool alarm = false;
        int pendingAlarmType = 0; // set while starting
        bool waiting = false;
        bool alarmFileOpen = false;
        QString filePath;
    };
    struct Job
    {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    // false when no thread could be made (work not run).
    bool runJob(std::function<void()> work);
    void reapJobs();
    void finishStart(const QString &deviceId, uint64_t serial, int alarmType,
                     std::unique_ptr<LiveRecorder> recorder);

    mutable QMutex m_mutex; // m_devices, m_records, m_factory
    QHash<QString, DvrListInfo_s> m_devices;
    QHash<QString, Ctl> m_records; // cameras that record or start
    RecorderFactory m_factory;
    uint64_t m_serial = 0;
    std::atomic<bool> m_closing{false};
    CallAbort m_closeAbort;                 // raised by the destructor: the jobs' library calls end
    std::list<std::unique_ptr<Job>> m_jobs; // controller's thread
};

} // namespace varno::record
