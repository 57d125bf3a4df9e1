#pragma once

#include "common/devicerecords.h"

#include <QWidget>

namespace Ui {
class QRenameFrm;
}

// "Camera Editor" page of the device settings: the camera's display name and
// the password the client uses for it. Only the client's record changes;
// nothing is sent to the camera.
class QRenameFrm : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRenameFrm)

public:
    explicit QRenameFrm(QWidget *parent = nullptr);
    ~QRenameFrm() override;

    void setUserName(const char *user);
    // Shows the camera: device ID, display name and camera password.
    void setDevInfo(const DvrListInfo_s &info);
    const DvrListInfo_s &devInfo() const { return m_info; }

signals:
    void sendDevRename(DeviceInfo_s info);
    void sendLogInfo(LogInfo_s info);

public slots:
    void on_confirmButton_clicked();

private:
    Ui::QRenameFrm *ui;
    DvrListInfo_s m_info;
    char m_user[32];
};
