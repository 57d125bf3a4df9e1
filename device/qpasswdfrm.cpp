#include "device/qpasswdfrm.h"
#include "ui_qpasswdfrm.h"

#include "common/logfile.h"
#include "common/loginfo.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "common/ui/pendingjob.h"
#include "common/uithread.h"
#include "device/devicesetup.h"
#include "device/devicestore.h"

#include <QHideEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <cstring>

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
    m_setup = new varno::device::DeviceSetup(this);
    connect(m_setup, &varno::device::DeviceSetup::changeSent, this, &QPasswdFrm::onChangeSent);
}

QPasswdFrm::~QPasswdFrm()
{
    // The worker is joined before the widgets go.
    delete m_setup;
    delete ui;
}

void QPasswdFrm::setBusy(bool busy)
{
    m_busy = busy;
    varno::ui::showPending(ui->changeButton, busy, tr("Changing the camera's password..."));
}

void QPasswdFrm::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && m_busy) {
        // A change that may have left still waits for the camera's answer.
        m_setup->cancel();
        setBusy(false);
    }
    QWidget::hideEvent(event);
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

void QPasswdFrm::on_changeButton_clicked()
{
    VARNO_ASSERT_UI_THREAD();
    if (m_busy)
        return;
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

    // What the record becomes when the camera accepts; taken before the
    // request leaves, as the answer may come before the job reports.
    m_asked = m_info;
    varno::setText(m_asked.dev.devName, name);
    varno::setText(m_asked.dev.password, newPass.toLatin1());
    m_inFlight = true;
    setBusy(true);
    m_setup->changePassword(id, QByteArray(m_info.dev.p2pId, int(varno::textLength(m_info.dev.p2pId))),
                            oldPass.toLatin1(), newPass.toLatin1());
}

void QPasswdFrm::onChangeSent(const QString &devId, int step, int ret)
{
    VARNO_ASSERT_UI_THREAD();
    setBusy(false);
    if (step == 0)
        return;
    // Not sent: no answer to wait for.
    if (varno::fieldText(m_asked.dev.devId) == devId)
        m_inFlight = false;
    varno::ui::InfoBox(this, tr("Settings"), tr("Unable to connect device(%1) (errorno:%2)!").arg(devId).arg(ret));
}

void QPasswdFrm::changePasswd(P2pMessage_S reply)
{
    VARNO_ASSERT_UI_THREAD();
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
