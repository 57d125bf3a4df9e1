#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QWidget>

namespace varno::device {
class DeviceSetup;
}

namespace Ui {
class QPasswdFrm;
}

// "Change password" page of the device settings: changes the password kept
// by the camera itself, over the peer-to-peer channel (request 34, reply
// 35). The camera's answer completes the change; only then does the
// client's record take the new password.
//
// The connect and the request run on the page's DeviceSetup, off the
// window's thread; meanwhile the Change button shows it. Hiding the page
// (its dialog closed) cancels a change not sent yet; a change sent is still
// decided by the camera's answer.
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

    // The camera's answer to a change (type 35). It is taken only for the
    // camera that was asked, while its change is in flight.
    void changePasswd(P2pMessage_S reply);

    bool changeInFlight() const { return m_inFlight; }
    // The change is being connected and sent.
    bool isBusy() const { return m_busy; }
    varno::device::DeviceSetup *setup() const { return m_setup; }

signals:
    void sendDevChangePasswd(DeviceInfo_s info);
    void sendLogInfo(LogInfo_s info);

public slots:
    void on_changeButton_clicked();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void onChangeSent(const QString &devId, int step, int ret);
    void setBusy(bool busy);

    Ui::QPasswdFrm *ui;
    varno::device::DeviceSetup *m_setup;
    bool m_busy = false;
    DvrListInfo_s m_info;       // the camera shown
    DvrListInfo_s m_asked;      // the camera asked, with the name and new password sent
    bool m_inFlight = false;
    char m_user[32];
};
