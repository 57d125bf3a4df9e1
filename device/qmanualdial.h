#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <cstdint>

namespace Ui {
class QManualDial;
}

// "Manual": adds a peer-to-peer camera by its camera ID. The camera is
// looked up on the service, connected, and asked to prove the typed
// password (requests 125 and 16); the check stays pending until the first
// reply (126 or 17) from that camera decides it. A proved camera leaves as
// sendManualInfo for the add device dialog to store.
class QManualDial : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QManualDial)

public:
    // One password check in flight.
    struct PendingCheck
    {
        char name[32];         // camera name as typed (UTF-8)
        char p2pId[64];        // P2P camera ID from the service lookup
        char devId[64];        // camera ID as typed, first letter upper case
        char password[64];
    };

    explicit QManualDial(QWidget *parent = nullptr);
    ~QManualDial() override;

    // Brings up the session with the camera (500 ms between tries while the
    // library answers "connecting"): 0, -101 without a handle, or the
    // library's error.
    int connectDevice(intptr_t p2pHandle, const char *p2pCameraId);
    // Completes the pending check of the camera that sent the reply.
    void checkPasswd(P2pMessage_S message);

    const QList<PendingCheck> &pending() const { return m_pending; }
    const QList<DvrListInfo_s> &devList() const { return m_devList; }

signals:
    void sendManualInfo(DvrListInfo_s info);

public slots:
    void on_addButton_clicked();
    void on_cancelButton_clicked();
    void on_closeButton_clicked();
    void updateDevList(QList<DvrListInfo_s> list);
    void recvDelDevInfo(QString id);
    void recvP2pMessage(P2pMessage_S message);

private:
    void clearFields();

    Ui::QManualDial *ui;
    QList<DvrListInfo_s> m_devList;
    QList<PendingCheck> m_pending;
};
