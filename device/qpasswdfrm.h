#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QWidget>

#include <cstdint>

namespace Ui {
class QPasswdFrm;
}

// "Change password" page of the device settings: changes the password kept
// by the camera itself, over the peer-to-peer channel (request 34, reply
// 35). The camera's answer completes the change; only then does the
// client's record take the new password.
class QPasswdFrm : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QPasswdFrm)

public:
    explicit QPasswdFrm(QWidget *parent = nullptr);
    ~QPasswdFrm() override;

    void setUserName(const char *user);
    // Shows the camera's device ID and name; the three password fields are
    // cleared.
    void setDevInfo(const DvrListInfo_s &info);
    const DvrListInfo_s &devInfo() const { return m_info; }

    // Brings up the session with the camera (1 s between tries while the
    // library answers "connecting"): 0 or an error code.
    int connectDevice(intptr_t p2pHandle, const char *p2pCameraId);
    // The camera's answer to a change (type 35). It is taken only for the
    // camera that was asked, while its change is in flight.
    void changePasswd(P2pMessage_S reply);

    bool changeInFlight() const { return m_inFlight; }

signals:
    void sendDevChangePasswd(DeviceInfo_s info);
    void sendLogInfo(LogInfo_s info);

public slots:
    void on_changeButton_clicked();

private:
    Ui::QPasswdFrm *ui;
    DvrListInfo_s m_info;       // the camera shown
    DvrListInfo_s m_asked;      // the camera asked, with the name and new password sent
    bool m_inFlight = false;
    char m_user[32];
};
