#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include "device/devicesetup.h"

class QManualDial;

namespace Ui {
class QAddDevice;
}

// "Add Device": the cameras found by discovery that are not in the camera
// list yet, to be ticked and added; cameras entered by camera ID arrive from
// the manual add dialog. The dialog keeps its own copy of the camera list
// (at most kMaxDevices), given by the window (setDevList) each time it
// opens, stores every add, and hands the whole list to the main window
// after each add, naming the cameras whose address it changed there (the
// window keeps the address it knows of the others: probing may have found
// a newer one meanwhile).
//
// The cameras are asked and stored by the dialog's DeviceSetup, one after
// the other, off the window's thread: while it works the Add button shows
// it, and cameras from the manual add wait their turn. Closing the dialog
// cancels the adds not done yet; a camera stored meanwhile still joins the
// list.
class QAddDevice : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QAddDevice)

public:
    // Starts with an empty camera list: setDevList gives it (no store is
    // read here).
    explicit QAddDevice(QWidget *parent = nullptr);
    ~QAddDevice() override;

    // The operator's name (a 32-byte field) for the operation-log entries.
    void setUserName(const char *user);
    // The camera list as the window holds it (passwords deciphered).
    void setDevList(const QList<DvrListInfo_s> &list);
    // A camera whose name or password changed elsewhere.
    void updateDevInfo(DvrListInfo_s info);

    const QList<DvrListInfo_s> &devList() const { return m_devList; }
    QManualDial *manualDialog() const { return m_manual; }
    varno::device::DeviceSetup *setup() const { return m_setup; }
    // The IDs of the cameras asked at a new address since the list was last
    // handed over (valid while sendDevList is emitted).
    const QStringList &movedCameras() const { return m_moved; }
    // Cameras are being asked or stored.
    bool isBusy() const { return m_busy; }

    // Password given to every camera added from discovery, unless the
    // camera refuses it and the user gives its own.
    static constexpr const char *kDefaultPassword = "583";

signals:
    void sendLogInfo(LogInfo_s info);
    // The dialog's camera list; a direct receiver reads movedCameras().
    void sendDevList(QList<DvrListInfo_s> list);
    void sendDelDevInfo(QString id);

public slots:
    void on_addButton_clicked();
    void on_manualButton_clicked();
    void on_closeButton_clicked();
    void on_exitButton_clicked();
    void on_checkAllCBox_stateChanged(int state);
    void RecvSearchReslutFromClient(int count, DeviceInfo_s *devInfo);
    void RecvManualInfo(DvrListInfo_s info);
    void recvDelDevInfo(QString id);
    void recvP2pMessage(P2pMessage_S message);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    // A ticked row as it was when Add was pressed.
    struct Row
    {
        DvrListInfo_s info;
        QString foundName;
    };

    // Starts the next row's add, or ends the batch when none is left.
    void nextRow();
    void finishBatch();
    void onCameraAdded(const varno::device::AddResult &result);
    void onCameraStored(const DvrListInfo_s &info, int ret, bool cancelled);
    // A camera from the manual add: stored, or its entry updated.
    void takeManual(DvrListInfo_s info);
    void setBusy(bool busy);
    // The list is full: refused with a message naming the camera.
    bool refuseWhenFull(const char *devId);
    void handBackList();

    Ui::QAddDevice *ui;
    QManualDial *m_manual;
    varno::device::DeviceSetup *m_setup;
    QList<DvrListInfo_s> m_devList;
    QStringList m_moved;                 // cameras asked at a new address, not handed back yet
    char m_user[32];

    bool m_busy = false;
    QList<Row> m_rows;                   // ticked rows still to add
    QList<DvrListInfo_s> m_manualWaiting; // manual adds waiting for the batch
    varno::device::AddRequest m_lastRequest; // the camera asked last
    QString m_askedName;                 // the name shown when the camera refuses the password
    int m_added = 0;
    bool m_batch = false;
};
