#pragma once

#include "common/alarmrecords.h"
#include "common/metatypes.h"
#include "common/jobworker.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace varno::live {

// The ONVIF event subscriptions of the live page, without widgets: each
// camera that has an event service address is subscribed once (pull point;
// a camera that refuses at its address is tried once more on port 8899),
// on the worker thread this object owns, so the page never waits for a
// camera's SOAP answer. Alarms of every subscription come from the event
// library's threads as the signal alarm.
//
// The destructor stops the alarms, cancels subscriptions not made yet,
// unsubscribes the cameras (on the worker) and joins the worker; then it
// ends the event library's subscriptions.
//
// Threads: subscribe() and subscriptions() on the owner's thread
// (asserted); alarm on the library's threads.
class CameraEvents final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CameraEvents)

public:
    explicit CameraEvents(QObject *parent = nullptr);
    ~CameraEvents() override;

    // Subscribes the camera's events unless asked already; the answer comes
    // back queued (subscribed, or a log line and the camera may be asked
    // again).
    void subscribe(const QString &devId, const QString &eventAddr);
    // The cameras whose subscription the camera made.
    QStringList subscriptions() const;

signals:
    void alarm(EVENT_alarm_info info);

private:
    static int onAlarm(const EVENT_alarm_info *info, void *user);

    QHash<QString, QString> m_subscribed; // device ID -> the address that took it
    QHash<QString, QString> m_pending;    // device ID -> the address asked
    JobWorker m_worker;                   // last: joined before the rest goes
};

} // namespace varno::live
