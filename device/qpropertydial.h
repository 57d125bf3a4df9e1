#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"

#include <QDialog>
#include <QList>
#include <QString>

class QPasswdFrm;
class QRenameFrm;

namespace Ui {
class QPropertyDial;
}

// "Settings": edits one camera, either its name and the password the client
// uses (page "Camera Editor") or the password kept by the camera (page
// "Change password"). Both pages report the edited record, which leaves
// the dialog as sendDevProperty for the main window to store.
class QPropertyDial : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QPropertyDial)

public:
    // Reads the stored cameras (passwords deciphered) as its camera list.
    explicit QPropertyDial(QWidget *parent = nullptr);
    ~QPropertyDial() override;

    // The operator's name (a 32-byte field) for the pages' log entries.
    void setUserName(const char *user);
    // Loads the camera with this device ID into both pages.
    void setDevId(QString id);
    // A camera whose name or password changed elsewhere: the list takes the
    // name and the password, and both pages show that camera.
    void updateDevInfo(DvrListInfo_s info);
    // The main window's camera list after cameras were added.
    void updateDevList(const QList<DvrListInfo_s> &list);

    const QList<DvrListInfo_s> &devList() const { return m_devList; }
    QRenameFrm *renamePage() const { return m_renamePage; }
    QPasswdFrm *passwdPage() const { return m_passwdPage; }

signals:
    void sendDevProperty(DeviceInfo_s info);
    void sendLogInfo(LogInfo_s info);

public slots:
    void on_editorButton_clicked();
    void on_passwdButton_clicked();
    void on_closeButton_clicked();
    void recvDevProperty(DeviceInfo_s info);
    void recvLogInfo(LogInfo_s info);
    void recvDelDevInfo(QString id);
    void recvP2pMessage(P2pMessage_S message);

private:
    void loadPages(const DvrListInfo_s &info);

    Ui::QPropertyDial *ui;
    QRenameFrm *m_renamePage;
    QPasswdFrm *m_passwdPage;
    QList<DvrListInfo_s> m_devList;
};
