#include "device/qrenamefrm.h"
#include "ui_qrenamefrm.h"

#include "common/logfile.h"
#include "common/loginfo.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"

#include <cstring>

QRenameFrm::QRenameFrm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::QRenameFrm)
{
    std::memset(&m_info, 0, sizeof(m_info));
    std::memset(m_user, 0, sizeof(m_user));
    ui->setupUi(this);
}

QRenameFrm::~QRenameFrm()
{
    delete ui;
}

void QRenameFrm::setUserName(const char *user)
{
    if (user)
        varno::setText(m_user, varno::fieldText(user, sizeof(m_user)));
    else
        std::memset(m_user, 0, sizeof(m_user));
}

void QRenameFrm::setDevInfo(const DvrListInfo_s &info)
{
    m_info = info;
    ui->idLineEdit->setText(varno::fieldText(m_info.dev.devId));
    ui->nameLineEdit->setText(varno::fieldText(m_info.dev.devName));
    ui->passwdLineEdit->setText(varno::fieldText(m_info.dev.password));
    // The 6-30 characters rule is the camera's rule for a new password set
    // under "Change password"; here the client only keeps the password the
    // camera has, whatever its length (a factory password may be shorter).
    ui->passwdHint->setText(m_info.dev.p2pFlag == 1
                                ? tr("The password the client uses for this camera: the camera's current "
                                     "password, of any length. To give the camera a new password (6-30 "
                                     "characters) use \"Change password\".")
                                : tr("The password the client uses for this camera: its ONVIF password, of "
                                     "any length. The camera's own password is changed on the camera's "
                                     "web page."));
}

void QRenameFrm::on_confirmButton_clicked()
{
    const QByteArray id = varno::fieldText(m_info.dev.devId).toUtf8();
    WriteLog(0, "[DEVICE]Request rename device(%s)!!!", id.constData());
    const QString title = tr("Settings");
    const QString name = ui->nameLineEdit->text();
    const QString password = ui->passwdLineEdit->text();
    if (name.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Name can not be empty!"));
        return;
    }
    if (password.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Password can not be empty!"));
        return;
    }
    varno::setText(m_info.dev.devName, name);
    varno::setText(m_info.dev.password, password);
    emit sendDevRename(m_info.dev);
    emit sendLogInfo(varno::makeLogInfo(m_user, tr("Rename:") + QString::fromUtf8(id)));
    varno::ui::InfoBox(this, title, tr("Modify successful !"));
    WriteLog(0, "[DEVICE]Rename device(%s) success!!!", id.constData());
}
