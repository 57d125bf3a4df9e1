#include "device/qmanualdial.h"
#include "ui_qmanualdial.h"

#include "common/authtoken.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"
#include "device/devicestore.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

QManualDial::QManualDial(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QManualDial)
{
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));
}

QManualDial::~QManualDial()
{
    delete ui;
}

int QManualDial::connectDevice(intptr_t p2pHandle, const char *p2pCameraId)
{
    static const varno::device::ConnectNames names{"QManualDial::connectDevice", "%s(%d):handle is NULL!!!", 500};
    return varno::device::connectPeer(p2pHandle, p2pCameraId, names);
}

void QManualDial::on_addButton_clicked()
{
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

    const intptr_t handle = varno::p2pHandle();
    int r = P2P_Client_SDK_Get_Device_License(handle, devId, check.p2pId);
    if (r < 0) {
        WriteLog(2, "%s(%d):Get device(%s) license failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                 __LINE__, devId, r);
        // Nobody answered for the camera: the relay knows no license and
        // the camera did not answer the lookup itself.
        const QString text = r == P2P_ERR_NOT_FOUND
                                 ? tr("Camera %1 did not answer its lookup (errorno:%2). Check the ID; a camera with an "
                                      "older firmware may need a newer one, or the same relay node as this client.")
                                 : tr("Unable to connect server (ID:%1) (errorno:%2)!");
        varno::ui::InfoBox(this, title, text.arg(QString::fromUtf8(devId)).arg(r));
        return;
    }
    check.p2pId[sizeof(check.p2pId) - 1] = '\0';
    if (check.p2pId[0] == '\0') {
        WriteLog(2, "%s(%d):ID(%s) is not correct!!!", "QManualDial::on_addButton_clicked", __LINE__, devId);
        varno::ui::InfoBox(this, title, tr("ID is not correct !"));
        return;
    }
    r = connectDevice(handle, check.p2pId);
    if (r != 0) {
        WriteLog(2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "QManualDial::on_addButton_clicked", __LINE__,
                 devId, r);
        varno::ui::InfoBox(this, title,
                           tr("Unable to connect device(%1) (errorno:%2)!").arg(QString::fromUtf8(devId)).arg(r));
        return;
    }

    PASSWORD_CHECK2_REQ_S req2;
    std::memset(&req2, 0, sizeof(req2));
    req2.random = varno::authNonce();
    MakeAuthToken(check.password, req2.random, req2.token);
    r = P2P_Client_SDK_Deliver_Msg(handle, check.p2pId, P2P_MSG_PASSWORD_CHECK2,
                                   reinterpret_cast<const char *>(&req2), sizeof(req2));
    if (r < 0) {
        WriteLog(2, "%s(%d):Check device(%s) password2 failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                 __LINE__, devId, r);
        return;
    }
    PASSWORD_CHECK_REQ_S req;
    std::memset(&req, 0, sizeof(req));
    req.random = varno::authNonce();
    MakeAuthToken(check.password, req.random, req.token);
    r = P2P_Client_SDK_Deliver_Msg(handle, check.p2pId, P2P_MSG_PASSWORD_CHECK, reinterpret_cast<const char *>(&req),
                                   sizeof(req));
    if (r < 0) {
        WriteLog(2, "%s(%d):Check device(%s) password failed, ret(%d)!!!", "QManualDial::on_addButton_clicked",
                 __LINE__, devId, r);
        return;
    }
    // One check per camera: a newer check replaces an older one still
    // waiting, so that its reply decides with the password typed last.
    for (int i = 0; i < m_pending.size(); ++i) {
        if (std::strcmp(m_pending[i].p2pId, check.p2pId) == 0) {
            m_pending.removeAt(i);
            break;
        }
    }
    m_pending.append(check);
}

void QManualDial::checkPasswd(P2pMessage_S message)
{
    int index = -1;
    for (int i = 0; i < m_pending.size(); ++i) {
        if (varno::device::sameP2pId(message.devId, m_pending[i].p2pId)) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return;
    if (!message.payload || message.payloadLen < int32_t(sizeof(PASSWORD_CHECK_RSP_S))) {
        // Too short to carry a result: not an answer; the check goes on.
        WriteLog(3, "%s(%d):Short reply(%d) from device(%s)!!!", "QManualDial::checkPasswd", __LINE__,
                 message.payloadLen, m_pending[index].devId);
        return;
    }
    const int32_t result = varno::device::payloadInt(message.payload, message.payloadLen,
                                                     offsetof(PASSWORD_CHECK_RSP_S, result), -1);
    const PendingCheck check = m_pending.takeAt(index);
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
