#include "device/qmanualdial.h"
#include "ui_qmanualdial.h"

#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"
#include "common/ui/pendingjob.h"
#include "common/uithread.h"
#include "device/devicestore.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QHideEvent>

#include <cstring>

QManualDial::QManualDial(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QManualDial)
{
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));
    m_setup = new varno::device::DeviceSetup(this);
    connect(m_setup, &varno::device::DeviceSetup::checkSent, this, &QManualDial::onCheckSent);
}

QManualDial::~QManualDial()
{
    // The worker is joined before the widgets go.
    delete m_setup;
    delete ui;
}

void QManualDial::setBusy(bool busy)
{
    m_busy = busy;
    varno::ui::showPending(ui->addButton, busy, tr("Checking the camera's password..."));
}

void QManualDial::hideEvent(QHideEvent *event)
{
    // Closed (not minimised): a check not sent yet is given up; one sent
    // still waits for its reply.
    if (!event->spontaneous() && m_busy) {
        m_setup->cancel();
        setBusy(false);
    }
    QDialog::hideEvent(event);
}

void QManualDial::on_addButton_clicked()
{
    VARNO_ASSERT_UI_THREAD();
    if (m_busy)
        return;
    const QString title = tr("Manual");
    if (ui->idLineEdit->text().isEmpty()) {
        varno::ui::InfoBox(this, title, tr("ID can not be empty!"));
        return;
    }
    char devId[64];
    varno::setText(devId, ui->idLineEdit->text());
    WriteLog(0, "[DEVICE]Manual add device(%s)!!!", devId);
    if (!varno::device::isP2pCameraId(QByteArray(devId))) {
        WriteLog(2, "%s(%d):ID(%s) is not correct!!!", "QManualDial::on_addButton_clicked", __LINE__, devId);
        varno::ui::InfoBox(this, title, tr("ID is not correct !"));
        return;
    }
    if (devId[0] >= 'a' && devId[0] <= 'z')
        devId[0] = static_cast<char>(devId[0] - 'a' + 'A');

    const int listed = varno::device::indexOfDevice(m_devList, devId);
    if (listed >= 0) {
        WriteLog(3, "%s(%d):Device(%s) has been added!!!", "QManualDial::on_addButton_clicked", __LINE__, devId);
        varno::ui::InfoBox(this, title,
                           tr("Device[%1] has been added, check [%2].")
                               .arg(QString::fromUtf8(devId), varno::fieldText(m_devList[listed].dev.devName)));
        return;
    }
    if (ui->nameLineEdit->text().isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Please inupt Name."));
        return;
    }
    PendingCheck check;
    std::memset(&check, 0, sizeof(check));
    varno::setText(check.name, ui->nameLineEdit->text());
    varno::setText(check.devId, devId);
    if (ui->passwdLineEdit->text().isEmpty()) {
        varno::ui::InfoBox(this, title, tr("Please input password."));
        return;
    }
    varno::setText(check.password, ui->passwdLineEdit->text().toLatin1());

    setBusy(true);
    m_setup->checkPassword(check);
}

void QManualDial::onCheckSent(const QString &devId, int step, int ret)
{
    VARNO_ASSERT_UI_THREAD();
    setBusy(false);
    const QString title = tr("Manual");
    switch (step) {
    case varno::device::DeviceSetup::LookUp:
        if (ret == 0) {
            varno::ui::InfoBox(this, title, tr("ID is not correct !"));
            break;
        }
        // Nobody answered for the camera: the relay knows no license and
        // the camera did not answer the lookup itself.
        varno::ui::InfoBox(this, title,
                           (ret == P2P_ERR_NOT_FOUND
                                ? tr("Camera %1 did not answer its lookup (errorno:%2). Check the ID; a camera with an "
                                     "older firmware may need a newer one, or the same relay node as this client.")
                                : tr("Unable to connect server (ID:%1) (errorno:%2)!"))
                               .arg(devId)
                               .arg(ret));
        break;
    case varno::device::DeviceSetup::Connect:
    case varno::device::DeviceSetup::Deliver:
        // A check that could not be sent is no check under way.
        varno::ui::InfoBox(this, title, tr("Unable to connect device(%1) (errorno:%2)!").arg(devId).arg(ret));
        break;
    default:
        break;
    }
}

void QManualDial::checkPasswd(P2pMessage_S message)
{
    VARNO_ASSERT_UI_THREAD();
    if (!message.payload || message.payloadLen < int32_t(sizeof(PASSWORD_CHECK_RSP_S))) {
        // Too short to carry a result: not an answer; the check goes on.
        for (const PendingCheck &waiting : m_setup->pending()) {
            if (varno::device::sameP2pId(message.devId, waiting.p2pId)) {
                WriteLog(3, "%s(%d):Short reply(%d) from device(%s)!!!", "QManualDial::checkPasswd", __LINE__,
                         message.payloadLen, waiting.devId);
                break;
            }
        }
        return;
    }
    PendingCheck check;
    if (!m_setup->takeCheck(message, &check))
        return;
    const int32_t result = varno::device::payloadInt(message.payload, message.payloadLen,
                                                     offsetof(PASSWORD_CHECK_RSP_S, result), -1);
    const QString title = tr("Manual");
    if (result != 0) {
        WriteLog(2, "%s(%d):Password incorrect!!!", "QManualDial::checkPasswd", __LINE__);
        varno::ui::InfoBox(this, title, tr("Password incorrect!"));
        return;
    }

    DvrListInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.dev.devId, check.devId);
    varno::setText(info.dev.devName, check.name);
    varno::setText(info.dev.password, check.password);
    varno::setText(info.dev.p2pId, check.p2pId);
    info.dev.p2pFlag = 1;

    const int listed = varno::device::indexOfDevice(m_devList, check.devId);
    if (listed >= 0) {
        const DeviceInfo_s &old = m_devList[listed].dev;
        if (old.p2pFlag != info.dev.p2pFlag || std::strcmp(old.password, info.dev.password) != 0
            || std::strcmp(old.p2pId, info.dev.p2pId) != 0)
            emit sendManualInfo(info);
        WriteLog(3, "%s(%d):Device(%s) has been added!!!", "QManualDial::checkPasswd", __LINE__, check.devId);
        varno::ui::InfoBox(this, title,
                           tr("Device[%1] has been added, check [%2].")
                               .arg(QString::fromUtf8(check.devId), varno::fieldText(old.devName)));
        return;
    }
    emit sendManualInfo(info);
    WriteLog(0, "%s(%d):Manually add device(%s) success!!!", "QManualDial::checkPasswd", __LINE__, check.devId);
    // Ready for the next camera, unless the user has started on it already.
    if (ui->idLineEdit->text().compare(QString::fromUtf8(check.devId), Qt::CaseInsensitive) == 0)
        clearFields();
    varno::ui::InfoBox(this, title, tr("Manually add device(%1) successfully!").arg(QString::fromUtf8(check.name)));
}

void QManualDial::clearFields()
{
    ui->idLineEdit->clear();
    ui->nameLineEdit->clear();
    ui->passwdLineEdit->clear();
}

void QManualDial::on_cancelButton_clicked()
{
    clearFields();
    close();
}

void QManualDial::on_closeButton_clicked()
{
    clearFields();
    close();
}

void QManualDial::updateDevList(QList<DvrListInfo_s> list)
{
    m_devList = list;
}

void QManualDial::recvDelDevInfo(QString id)
{
    const QByteArray key = id.toUtf8();
    const int i = varno::device::indexOfDevice(m_devList, key.constData());
    if (i >= 0)
        m_devList.removeAt(i);
    WriteLog(3, "%s(%d):Delete device(%s)!!!", "QManualDial::recvDelDevInfo", __LINE__, key.constData());
}

void QManualDial::recvP2pMessage(P2pMessage_S message)
{
    if (message.type == P2P_MSG_PASSWORD_CHECK_RSP || message.type == P2P_MSG_PASSWORD_CHECK2_RSP)
        checkPasswd(message);
}
