#include "device/qpasswdfrm.h"
#include "ui_qpasswdfrm.h"

#include "common/authtoken.h"
#include "common/logfile.h"
#include "common/loginfo.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "device/devicestore.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <cstdlib>
#include <cstring>
#include <ctime>

QPasswdFrm::QPasswdFrm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::QPasswdFrm)
{
    std::memset(&m_info, 0, sizeof(m_info));
    std::memset(&m_asked, 0, sizeof(m_asked));
    std::memset(m_user, 0, sizeof(m_user));
    ui->setupUi(this);
    auto *validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[a-zA-Z0-9]+$")), this);
    ui->oldpassLineEdit->setValidator(validator);
    ui->newpassLineEdit->setValidator(validator);
    ui->confirmpassLineEdit->setValidator(validator);
}

QPasswdFrm::~QPasswdFrm()
{
    delete ui;
}

void QPasswdFrm::setUserName(const char *user)
{
    if (user)
        varno::setText(m_user, varno::fieldText(user, sizeof(m_user)));
    else
        std::memset(m_user, 0, sizeof(m_user));
}

void QPasswdFrm::setDevInfo(const DvrListInfo_s &info)
{
    m_info = info;
    ui->idLineEdit->setText(varno::fieldText(m_info.dev.devId));
    ui->nameLineEdit->setText(varno::fieldText(m_info.dev.devName));
    ui->oldpassLineEdit->clear();
    ui->newpassLineEdit->clear();
    ui->confirmpassLineEdit->clear();
}

int QPasswdFrm::connectDevice(intptr_t p2pHandle, const char *p2pCameraId)
{
    static const varno::device::ConnectNames names{"QPasswdFrm::connectDevice", "%s(%d):Handle is NULL!!!", 1000};
    return varno::device::connectPeer(p2pHandle, p2pCameraId, names);
}

void QPasswdFrm::on_changeButton_clicked()
{
    const QByteArray id = varno::fieldText(m_info.dev.devId).toUtf8();
    WriteLog(0, "[DEVICE]Request change device(%s) password!!!", id.constData());
    const QString title = tr("Settings");
    const QString name = ui->nameLineEdit->text();
    const QString oldPass = ui->oldpassLineEdit->text();
    const QString newPass = ui->newpassLineEdit->text();
    const QString confirm = ui->confirmpassLineEdit->text();
    if (name.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Name can not be empty!"));
        return;
    }
    if (oldPass.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Old password can not be empty!"));
        return;
    }
    if (newPass.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("New password can not be empty!"));
        return;
    }
    if (newPass == oldPass) {
        varno::ui::InfoBox(this, title, tr("New password can not be same with old password!"));
        return;
    }
    if (newPass.size() < 6 || newPass.size() > 30) {
        varno::ui::InfoBox(this, title, tr("New password must consists of 6-30 characters!"));
        return;
    }
    if (newPass.startsWith(QLatin1Char('0'))) {
        varno::ui::InfoBox(this, title, tr("New password must not begin with '0' !"));
        return;
    }
    if (confirm.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Confirm password can not be empty!"));
        return;
    }
    if (newPass != confirm) {
        varno::ui::InfoBox(this, title, tr("New password can be same with confirm password!"));
        return;
    }

    const intptr_t handle = varno::p2pHandle();
    const int r = connectDevice(handle, m_info.dev.p2pId);
    if (r != 0) {
        WriteLog(2, "%s(%d):Unable to connect device(%s), ret(%d)!!!", "QPasswdFrm::on_changeButton_clicked",
                 __LINE__, id.constData(), r);
        varno::ui::InfoBox(this, title,
                           tr("Unable to connect device(%1) (errorno:%2)!").arg(QString::fromUtf8(id)).arg(r));
        return;
    }

    PASSWORD_CHANGE_REQ_S req;
    std::memset(&req, 0, sizeof(req));
    req.random = varno::authNonce();
    const QByteArray oldAscii = oldPass.toLatin1();
    MakeAuthToken(oldAscii.constData(), req.random, req.token);
    varno::setText(req.newPassword, newPass.toLatin1());
    const int ret = P2P_Client_SDK_Deliver_Msg(handle, m_info.dev.p2pId, P2P_MSG_PASSWORD_CHANGE,
                                               reinterpret_cast<const char *>(&req), sizeof(req));
    std::memset(&req, 0, sizeof(req));
    if (ret < 0) {
        WriteLog(2, "%s(%d):Set device(%s) passwowd failed, ret(%d)!!!", "QPasswdFrm::on_changeButton_clicked",
                 __LINE__, id.constData(), ret);
        return;
    }
    // What the record becomes when the camera accepts.
    m_asked = m_info;
    varno::setText(m_asked.dev.devName, name);
    varno::setText(m_asked.dev.password, newPass.toLatin1());
    m_inFlight = true;
    WriteLog(0, "[DEVICE]Change device(%s) password finished!!!", id.constData());
}

void QPasswdFrm::changePasswd(P2pMessage_S reply)
{
    if (!m_inFlight || !varno::device::sameP2pId(reply.devId, m_asked.dev.p2pId)) {
        WriteLog(3, "%s(%d):Ignore password reply from device(%s)!!!", "QPasswdFrm::changePasswd", __LINE__,
                 varno::fieldText(reply.devId).toUtf8().constData());
        return;
    }
    m_inFlight = false;
    const QString title = tr("Settings");
    const QByteArray id = varno::fieldText(m_asked.dev.devId).toUtf8();
    const int32_t result = varno::device::payloadInt(reply.payload, reply.payloadLen,
                                                     offsetof(PASSWORD_CHANGE_RSP_S, result), -1);
    if (result != 0) {
        WriteLog(2, "%s(%d):Change device(%s) Password failed!!!", "QPasswdFrm::changePasswd", __LINE__,
                 id.constData());
        varno::ui::InfoBox(
            this, title,
            tr("Change device [%1] Password failed, Please enter the correct old password !").arg(QString::fromUtf8(id)));
        return;
    }
    WriteLog(0, "[DEVICE]Change device(%s) password success!!!", id.constData());
    const DvrListInfo_s changed = m_asked;
    if (varno::device::indexOfDevice({m_info}, changed.dev.devId) == 0)
        m_info = changed;
    emit sendDevChangePasswd(changed.dev);
    emit sendLogInfo(varno::makeLogInfo(m_user, tr("Change Password:") + QString::fromUtf8(id)));
    varno::ui::InfoBox(this, title, tr("Modify successful !"));
}
