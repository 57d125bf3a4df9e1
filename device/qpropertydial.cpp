#include "device/qpropertydial.h"
#include "ui_qpropertydial.h"

#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "device/devicestore.h"
#include "device/qpasswdfrm.h"
#include "device/qrenamefrm.h"

#include <QButtonGroup>
#include <QVBoxLayout>

#include <cstring>

QPropertyDial::QPropertyDial(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QPropertyDial)
{
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));

    auto *group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(ui->editorButton);
    group->addButton(ui->passwdButton);

    m_renamePage = new QRenameFrm(ui->pageArea);
    m_passwdPage = new QPasswdFrm(ui->pageArea);
    auto *pages = new QVBoxLayout(ui->pageArea);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(m_renamePage);
    pages->addWidget(m_passwdPage);

    connect(m_renamePage, &QRenameFrm::sendDevRename, this, &QPropertyDial::recvDevProperty);
    connect(m_passwdPage, &QPasswdFrm::sendDevChangePasswd, this, &QPropertyDial::recvDevProperty);
    connect(m_renamePage, &QRenameFrm::sendLogInfo, this, &QPropertyDial::recvLogInfo);
    connect(m_passwdPage, &QPasswdFrm::sendLogInfo, this, &QPropertyDial::recvLogInfo);

    m_devList = varno::device::readStoredDevices("QPropertyDial::QPropertyDial", __LINE__);
    on_editorButton_clicked();
}

QPropertyDial::~QPropertyDial()
{
    delete ui;
}

void QPropertyDial::setUserName(const char *user)
{
    m_renamePage->setUserName(user);
    m_passwdPage->setUserName(user);
}

void QPropertyDial::loadPages(const DvrListInfo_s &info)
{
    m_renamePage->setDevInfo(info);
    m_passwdPage->setDevInfo(info);
    // The camera's own password is changed over the P2P channel: a camera
    // without it (ONVIF) has its web page for that, and the editor page
    // says so.
    const bool p2p = info.dev.p2pFlag == 1;
    ui->passwdButton->setVisible(p2p);
    if (!p2p && !m_passwdPage->isHidden())
        on_editorButton_clicked();
}

void QPropertyDial::setDevId(QString id)
{
    const QByteArray key = id.toUtf8();
    const int i = varno::device::indexOfDevice(m_devList, key.constData());
    if (i < 0) {
        // Never show another camera's record under this ID.
        WriteLog(3, "%s(%d):Can't find device(%s)!!!", "QPropertyDial::setDevId", __LINE__, key.constData());
        DvrListInfo_s empty;
        std::memset(&empty, 0, sizeof(empty));
        varno::setText(empty.dev.devId, key);
        loadPages(empty);
        return;
    }
    loadPages(m_devList[i]);
}

void QPropertyDial::updateDevInfo(DvrListInfo_s info)
{
    const int i = varno::device::indexOfDevice(m_devList, info.dev.devId);
    if (i < 0) {
        m_devList.append(info);
        loadPages(info);
        return;
    }
    DvrListInfo_s &entry = m_devList[i];
    std::memcpy(entry.dev.devName, info.dev.devName, sizeof(entry.dev.devName));
    if (std::memcmp(entry.dev.password, info.dev.password, sizeof(entry.dev.password)) != 0)
        std::memcpy(entry.dev.password, info.dev.password, sizeof(entry.dev.password));
    loadPages(entry);
}

void QPropertyDial::updateDevList(const QList<DvrListInfo_s> &list)
{
    m_devList = list.mid(0, kMaxDevices);
}

void QPropertyDial::on_editorButton_clicked()
{
    ui->editorButton->setChecked(true);
    m_passwdPage->hide();
    m_renamePage->show();
}

void QPropertyDial::on_passwdButton_clicked()
{
    ui->passwdButton->setChecked(true);
    m_renamePage->hide();
    m_passwdPage->show();
}

void QPropertyDial::on_closeButton_clicked()
{
    close();
}

void QPropertyDial::recvDevProperty(DeviceInfo_s info)
{
    emit sendDevProperty(info);
}

void QPropertyDial::recvLogInfo(LogInfo_s info)
{
    emit sendLogInfo(info);
}

void QPropertyDial::recvDelDevInfo(QString id)
{
    const QByteArray key = id.toUtf8();
    const int i = varno::device::indexOfDevice(m_devList, key.constData());
    if (i >= 0)
        m_devList.removeAt(i);
}

void QPropertyDial::recvP2pMessage(P2pMessage_S message)
{
    if (message.type == P2P_MSG_PASSWORD_CHANGE_RSP)
        m_passwdPage->changePasswd(message);
}
