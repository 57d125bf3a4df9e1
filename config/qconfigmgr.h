#pragma once

#include "common/devicerecords.h"

#include <QDialog>
#include <QString>

class QLogMgr;
class QUserMgr;
class QVideoMgr;

namespace Ui {
class QConfigMgr;
}

// "Config Management" window: the user password page, the storage page and
// the operation log page, chosen by the three buttons on the left. Every
// operation-log entry of the program passes through recvLogInfo on its way
// to the log page, which stores and shows it. The window also relays the
// storage page's settings to the main window.
class QConfigMgr : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QConfigMgr)

public:
    explicit QConfigMgr(QWidget *parent = nullptr);
    ~QConfigMgr() override;

    // The operator's name (a 32-byte field): kept for the window's own
    // entries and shown in the user page.
    void setUserName(const char *user);

    // Replaces the storage page (tests); the window takes ownership of it.
    void setStoragePage(QWidget *page);
    QWidget *storagePage() const { return m_videoPage; }

    // The storage manager's alarm recording setting and snapshot folder.
    int getRecordAlarmType() const;
    QString getCapturePath() const;

signals:
    void sendLogInfo(LogInfo_s info);
    void sendCapPathToClient(QString path);
    void sendRecordAlarmType(int type);

public slots:
    void on_userButton_clicked();
    void on_videoButton_clicked();
    void on_logButton_clicked();
    void on_closeButton_clicked();
    // Safe from any thread: the log page is reached through a connection
    // that queues when the entry comes from another thread.
    void recvLogInfo(LogInfo_s info);
    void recvDelDevInfo(QString id);
    void recvCapPathFromVMgr(QString path);
    void recvRecordAlarmType(int type);
    // Recordings in progress: +1 when one starts, -1 when one stops.
    void recvRecordCount(int delta);

private:
    void showPage(QWidget *page);

    Ui::QConfigMgr *ui;
    QUserMgr *m_userPage;
    QWidget *m_videoPage;
    QLogMgr *m_logPage;
    char m_user[32];
};
