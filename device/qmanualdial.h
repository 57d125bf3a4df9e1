#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"
#include "device/devicesetup.h"

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
//
// The lookup, the connect and the requests run on the dialog's DeviceSetup,
// off the window's thread; meanwhile the Add button shows the check under
// way. Closing the dialog cancels a check that has not been sent yet.
class QManualDial : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QManualDial)

public:
    using PendingCheck = varno::device::PendingCheck;

    explicit QManualDial(QWidget *parent = nullptr);
    ~QManualDial() override;

    // Completes the pending check of the camera that sent the reply.
    void checkPasswd(P2pMessage_S message);

    QList<PendingCheck> pending() const { return m_setup->pending(); }
    const QList<DvrListInfo_s> &devList() const { return m_devList; }
    varno::device::DeviceSetup *setup() const { return m_setup; }
    // A check is being looked up, connected or sent.
    bool isBusy() const { return m_busy; }

signals:
    void sendManualInfo(DvrListInfo_s info);

public slots:
    void on_addButton_clicked();
    void on_cancelButton_clicked();
    void on_closeButton_clicked();
    void updateDevList(QList<DvrListInfo_s> list);
    void recvDelDevInfo(QString id);
    void recvP2pMessage(P2pMessage_S message);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void clearFields();
    void onCheckSent(const QString &devId, int step, int ret);
    void setBusy(bool busy);

    Ui::QManualDial *ui;
    varno::device::DeviceSetup *m_setup;
    QList<DvrListInfo_s> m_devList;
    bool m_busy = false;
};
