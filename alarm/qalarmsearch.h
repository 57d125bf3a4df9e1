#pragma once

#include "alarm/alarmrecords.h"
#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

namespace varno::alarm {
class AlarmSearchController;
}

namespace Ui {
class QAlarmSearch;
}

// "Alarm Log": asks one P2P camera for the alarms it logged in a time range
// (message 127) and lists them by time. Replies arrive as messages 129
// (entries, possibly repeated across messages and in any order) and 130
// (status: 2 or 3 done, 4 wrong password). A camera that stops answering
// ends the search after the sync time-out (30 s from the request or its last
// reply), so the dialog never stays busy for good.
//
// The camera list is fed by UpdateAlarmDevice from any thread; the combo box
// follows through queued self-connections. The search itself (connect,
// request, replies, time-out) is the dialog's AlarmSearchController: the
// window's thread never waits for the camera. While it runs the Search
// button shows it; closing the dialog cancels it.
class QAlarmSearch : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QAlarmSearch)

public:
    using Clock = std::function<QDateTime()>;
    static constexpr int kDefaultSyncTimeoutMs = 30000;
    // The furthest a search may reach back from now.
    static constexpr qint64 kMaxSearchAgeSecs = 7 * 24 * 3600;

    explicit QAlarmSearch(QWidget *parent = nullptr);
    ~QAlarmSearch() override;

    // A camera came online, was added or changed (any thread).
    void UpdateAlarmDevice(DvrListInfo_s info);

    // The clock "now" is read from (the current time unless a test sets one);
    // the range fields start at now minus one day and now, set again each
    // time the dialog opens.
    void setClock(Clock clock);
    void resetRange();
    void setSyncTimeoutMs(int ms);
    void setRange(const QDateTime &start, const QDateTime &end);
    bool isSyncing() const;
    QStringList nameList() const { return m_nameList; }
    // A copy of the camera entry with this device ID (false when unknown).
    bool deviceEntry(const QString &devId, AlarmDevInfo *out) const;
    // Table cell text (row, column), for tests and screenshots.
    QString cellText(int row, int column) const;
    int rowCount() const;
    // Selects the camera shown in the combo box by its display name.
    void selectDevice(const QString &name);
    // The name of an alarm type code as the table shows it.
    static QString alarmTypeName(int32_t type);
    varno::alarm::AlarmSearchController *controller() const { return m_search; }

signals:
    void SendUpdateDeviceComboBox(QString name);
    void SendReplaceDeviceComboBox(QString src, QString dst);
    void sendDevProperty(DeviceInfo_s info);

public slots:
    void on_closeButton_clicked();
    void on_searchButton_clicked();
    void RecvUpdateDeviceComboBox(QString name);
    void recvDelDevInfo(QString devId);
    void RecvReplaceDeviceComboBox(QString src, QString dst);
    void recvP2pMessage(P2pMessage_S message);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void search(bool askAgain, qint64 start, qint64 end);
    void fillTable(const QList<AlarmRecord_s> &records);
    void showSearching(bool on);

    Ui::QAlarmSearch *ui;
    Clock m_clock;
    varno::alarm::AlarmSearchController *m_search;

    mutable std::mutex m_hashMutex;        // m_urlHash: the probing thread writes too
    QHash<QString, AlarmDevInfo> m_urlHash;
    QStringList m_nameList;                // user-interface thread
};
