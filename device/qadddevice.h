#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QDialog>
#include <QList>
#include <QString>

class QManualDial;

namespace Ui {
class QAddDevice;
}

// "Add Device": the cameras found by discovery that are not in the camera
// list yet, to be ticked and added; cameras entered by camera ID arrive from
// the manual add dialog. The dialog keeps its own copy of the camera list
// (at most kMaxDevices), stores every add, and hands the whole list to the
// main window after each add.
class QAddDevice : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QAddDevice)

public:
    // Reads the stored cameras (passwords deciphered) as its camera list.
    explicit QAddDevice(QWidget *parent = nullptr);
    ~QAddDevice() override;

    // The operator's name (a 32-byte field) for the operation-log entries.
    void setUserName(const char *user);
    // A camera whose name or password changed elsewhere.
    void updateDevInfo(DvrListInfo_s info);

    const QList<DvrListInfo_s> &devList() const { return m_devList; }
    QManualDial *manualDialog() const { return m_manual; }

    // Password given to every camera added from discovery, unless the
    // camera refuses it and the user gives its own.
    static constexpr const char *kDefaultPassword = "583";

signals:
    void sendLogInfo(LogInfo_s info);
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

private:
    // Adds the camera of one ticked row; true when it was stored as new.
    bool addRow(int row);
    // The list is full: refused with a message naming the camera.
    bool refuseWhenFull(const char *devId);
    // The camera's configuration, asked with *password; when the camera
    // refuses it, the user is asked for the camera's password (ID idText,
    // name) and it is tried until the camera takes one or the user cancels.
    // Returns GetDevConfig's last result; *password is the last one tried.
    int fetchConfig(const QString &idText, const QString &name, const char *serviceAddr, QByteArray *password,
                    DevConfig_s *config);
    // Stores a camera that is not in the list yet: 0 or the store's error.
    int storeNew(const DvrListInfo_s &info, const char *where);

    Ui::QAddDevice *ui;
    QManualDial *m_manual;
    QList<DvrListInfo_s> m_devList;
    char m_user[32];
};
