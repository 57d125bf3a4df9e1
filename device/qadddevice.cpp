#include "device/qadddevice.h"
#include "ui_qadddevice.h"

#include "common/logfile.h"
#include "common/loginfo.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"
#include "device/devicestore.h"
#include "device/qmanualdial.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>

#include <algorithm>
#include <cstring>

namespace {

// ColName is the last column of the model and shown second, after the ID.
enum Column { ColCheck = 0, ColId = 1, ColIp = 2, ColUrl = 3, ColName = 4, ColumnCount = 5 };

QString cellText(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

QAddDevice::QAddDevice(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QAddDevice)
{
    std::memset(m_user, 0, sizeof(m_user));
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));

    QTableWidget *table = ui->devTableWidget;
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({QString(), tr("Camera ID"), tr("IP"), tr("ONVIF URL"), tr("Name")});
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(ColCheck, QHeaderView::Fixed);
    header->resizeSection(ColCheck, 34);
    header->setSectionResizeMode(ColId, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColIp, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColUrl, QHeaderView::Stretch);
    header->setSectionResizeMode(ColName, QHeaderView::ResizeToContents);
    header->moveSection(ColName, ColIp);

    m_manual = new QManualDial(this);
    m_manual->hide();

    m_devList = varno::device::readStoredDevices("QAddDevice::QAddDevice", __LINE__);
    m_manual->updateDevList(m_devList);
    connect(this, &QAddDevice::sendDevList, m_manual, &QManualDial::updateDevList);
    connect(this, &QAddDevice::sendDelDevInfo, m_manual, &QManualDial::recvDelDevInfo);
    connect(m_manual, &QManualDial::sendManualInfo, this, &QAddDevice::RecvManualInfo);
}

QAddDevice::~QAddDevice()
{
    delete ui;
}

void QAddDevice::setUserName(const char *user)
{
    if (user)
        varno::setText(m_user, varno::fieldText(user, sizeof(m_user)));
    else
        std::memset(m_user, 0, sizeof(m_user));
}

void QAddDevice::updateDevInfo(DvrListInfo_s info)
{
    const int i = varno::device::indexOfDevice(m_devList, info.dev.devId);
    if (i < 0)
        return;
    DvrListInfo_s &entry = m_devList[i];
    std::memcpy(entry.dev.devName, info.dev.devName, sizeof(entry.dev.devName));
    if (std::memcmp(entry.dev.password, info.dev.password, sizeof(entry.dev.password)) != 0)
        std::memcpy(entry.dev.password, info.dev.password, sizeof(entry.dev.password));
    m_manual->updateDevList(m_devList);
}

void QAddDevice::RecvSearchReslutFromClient(int count, DeviceInfo_s *devInfo)
{
    QTableWidget *table = ui->devTableWidget;
    table->setRowCount(0);
    if (!devInfo)
        count = 0;
    count = std::clamp(count, 0, kMaxDevices);
    for (int i = 0; i < count; ++i) {
        DeviceInfo_s found = devInfo[i];
        // Fields of a discovery record are ended here whatever arrived.
        found.devId[sizeof(found.devId) - 1] = '\0';
        if (varno::device::indexOfDevice(m_devList, found.devId) >= 0) {
            WriteLog(3, "%s(%d):Device(%s) has been !!!", "QAddDevice::RecvSearchReslutFromClient", __LINE__,
                     found.devId);
            continue;
        }
        const int row = table->rowCount();
        table->insertRow(row);
        auto *check = new QTableWidgetItem();
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        check->setCheckState(Qt::Unchecked);
        table->setItem(row, ColCheck, check);
        table->setItem(row, ColId, new QTableWidgetItem(varno::fieldText(found.devId)));
        table->setItem(row, ColIp, new QTableWidgetItem(varno::fieldText(found.ipAddr)));
        table->setItem(row, ColUrl, new QTableWidgetItem(varno::fieldText(found.serviceAddr)));
        // The camera's own name, from its discovery answer.
        table->setItem(row, ColName, new QTableWidgetItem(varno::fieldText(found.discoveryText)));
    }
    ui->checkAllCBox->setCheckState(Qt::Unchecked);
}

void QAddDevice::on_checkAllCBox_stateChanged(int state)
{
    if (state != Qt::Checked && state != Qt::Unchecked)
        return;
    QTableWidget *table = ui->devTableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (QTableWidgetItem *item = table->item(row, ColCheck))
            item->setCheckState(static_cast<Qt::CheckState>(state));
    }
}

bool QAddDevice::refuseWhenFull(const char *devId)
{
    if (m_devList.size() < kMaxDevices)
        return false;
    WriteLog(3, "%s(%d):Device list is full, device(%s) not added!!!", "QAddDevice::refuseWhenFull", __LINE__, devId);
    varno::ui::InfoBox(this, tr("Add Device"),
                       tr("The device list is full: at most %1 devices. Device [%2] was not added.")
                           .arg(kMaxDevices)
                           .arg(QString::fromUtf8(devId)));
    return true;
}

int QAddDevice::storeNew(const DvrListInfo_s &info, const char *where)
{
    int ret = SDK_DVRMGR_AddDevice(varno::device::storedForm(info.dev));
    if (ret == DVRMGR_ERR_FULL && m_devList.size() < kMaxDevices) {
        // The store still holds cameras deleted since its last rewrite:
        // write the list as it is now, with the new camera.
        QList<DvrListInfo_s> list = m_devList;
        list.append(info);
        const int stored = varno::device::rewriteStore(list, where, __LINE__, 2);
        ret = stored == list.size() ? 0 : (stored < 0 ? stored : int(DVRMGR_ERR_STORE));
    }
    return ret;
}

int QAddDevice::fetchConfig(const QString &idText, const QString &name, const char *serviceAddr,
                            QByteArray *password, DevConfig_s *config)
{
    SDK_DVRMGR_SetOnvifCredentials(serviceAddr, password->constData());
    int ret = SDK_DVRMGR_GetDevConfig(serviceAddr, config);
    while (ret == DVRMGR_ERR_AUTH) {
        // The camera answers but refuses the password: its own password is
        // asked for, and tried, until the camera takes one or the user
        // gives up.
        WriteLog(3, "%s(%d):Device(%s) refused the password, ret(%d)!!!", "QAddDevice::fetchConfig", __LINE__,
                 idText.toUtf8().constData(), ret);
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = tr("Add Device");
        request.text = name;
        request.devId = idText;
        request.parent = this;
        const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
        if (answer.button != QMessageBox::Ok || answer.text.isEmpty())
            break;
        *password = answer.text.toUtf8().left(int(sizeof(DeviceInfo_s::password)) - 1);
        SDK_DVRMGR_SetOnvifCredentials(serviceAddr, password->constData());
        ret = SDK_DVRMGR_GetDevConfig(serviceAddr, config);
    }
    return ret;
}

bool QAddDevice::addRow(int row)
{
    const QString title = tr("Add Device");
    QTableWidget *table = ui->devTableWidget;
    DvrListInfo_s info;
    std::memset(&info, 0, sizeof(info));
    const QString ip = cellText(table, row, ColIp);
    const QString id = cellText(table, row, ColId);
    const QString url = cellText(table, row, ColUrl);
    const QString foundName = cellText(table, row, ColName);
    if (!ip.isEmpty())
        varno::setText(info.dev.ipAddr, ip);
    if (!id.isEmpty())
        varno::setText(info.dev.devId, id);
    if (!url.isEmpty())
        varno::setText(info.dev.serviceAddr, url);
    const char *devId = info.dev.devId;
    const QString idText = varno::fieldText(info.dev.devId);
    WriteLog(0, "[DEVICE]Has selected device(%s)!!!", devId);

    const int listed = varno::device::indexOfDevice(m_devList, devId);
    if (listed >= 0) {
        DvrListInfo_s &entry = m_devList[listed];
        if (std::strcmp(entry.dev.ipAddr, info.dev.ipAddr) == 0) {
            varno::ui::InfoBox(this, title,
                               tr("Device [%1] has been added, the name is [%2].")
                                   .arg(idText, varno::fieldText(entry.dev.devName)));
            return false;
        }
        // A new address: the camera's configuration is fetched there first,
        // and the entry changes only when that succeeds.
        DevConfig_s config;
        std::memset(&config, 0, sizeof(config));
        QByteArray password(entry.dev.password, int(varno::textLength(entry.dev.password)));
        const int ret =
            fetchConfig(idText, varno::fieldText(entry.dev.devName), info.dev.serviceAddr, &password, &config);
        if (ret != 0) {
            WriteLog(2, "%s(%d):GetDevConfig failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked", __LINE__, ret);
            varno::ui::InfoBox(this, title, tr("Failed to add device,id:[%1]").arg(idText));
            return false;
        }
        std::memcpy(entry.dev.ipAddr, info.dev.ipAddr, sizeof(entry.dev.ipAddr));
        std::memcpy(entry.dev.serviceAddr, info.dev.serviceAddr, sizeof(entry.dev.serviceAddr));
        entry.config = config;
        varno::setText(entry.dev.password, password);
        varno::device::rewriteStore(m_devList, "QAddDevice::on_addButton_clicked", __LINE__, 3);
        return false;
    }

    if (refuseWhenFull(devId))
        return false;

    QByteArray password(kDefaultPassword);
    if (varno::device::isP2pCameraId(QByteArray(devId))) {
        const int ret = P2P_Client_SDK_Get_Device_License(varno::p2pHandle(), devId, info.dev.p2pId);
        info.dev.p2pId[sizeof(info.dev.p2pId) - 1] = '\0';
        if (ret < 0) {
            WriteLog(2, "%s(%d):Get device(%s) license failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked",
                     __LINE__, devId, ret);
            varno::ui::InfoBox(this, title, tr("Failed to add device,id:[%1]").arg(idText));
            return false;
        }
        varno::setText(info.dev.devName, QByteArray("Varno_") + QByteArray(devId));
        info.dev.p2pFlag = 1;
    } else {
        // The camera is asked with the password it will be stored with: the
        // factory one, or the one the user gives when the camera refuses it.
        const int ret = fetchConfig(idText, foundName.isEmpty() ? idText : foundName, info.dev.serviceAddr,
                                    &password, &info.config);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Get device(%s) config failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked",
                     __LINE__, devId, ret);
            varno::ui::InfoBox(this, title, tr("Failed to add device,id:[%1]").arg(idText));
            return false;
        }
        // Named as the camera calls itself: the name of its discovery
        // answer, else its model, else its ID (cut to the field).
        QString name = foundName;
        char model[sizeof(info.dev.devName)] = {};
        if (name.isEmpty() && SDK_DVRMGR_GetDevModel(info.dev.serviceAddr, model, int(sizeof(model))) == 0)
            name = QString::fromUtf8(model);
        varno::setText(info.dev.devName, name.isEmpty() ? idText : name);
    }

    varno::setText(info.dev.password, password);
    const int ret = storeNew(info, "QAddDevice::on_addButton_clicked");
    if (ret != 0) {
        WriteLog(2, "%s(%d):Add device(%s) failed, ret(%d)!!!", "QAddDevice::on_addButton_clicked", __LINE__, devId,
                 ret);
        varno::ui::InfoBox(this, title, tr("Failed to add device,id:[%1]").arg(idText));
        return false;
    }
    WriteLog(0, "[DEVICE]Add device(%s) success!!!", devId);
    m_devList.append(info);
    emit sendLogInfo(varno::makeLogInfo(m_user, tr("Add device:") + idText));
    return true;
}

void QAddDevice::on_addButton_clicked()
{
    WriteLog(0, "[DEVICE]Request add device!!!");
    const QString title = tr("Add Device");
    int selected = 0;
    int added = 0;
    // The row count is read again every time: pending events may change it.
    for (int row = 0; row < ui->devTableWidget->rowCount(); ++row) {
        QCoreApplication::processEvents();
        if (row >= ui->devTableWidget->rowCount())
            break;
        const QTableWidgetItem *check = ui->devTableWidget->item(row, ColCheck);
        if (!check || check->checkState() != Qt::Checked)
            continue;
        ++selected;
        if (addRow(row))
            ++added;
    }
    // Cameras in the list now are no longer "found and not listed yet".
    for (int row = ui->devTableWidget->rowCount() - 1; row >= 0; --row) {
        const QByteArray id = cellText(ui->devTableWidget, row, ColId).toUtf8();
        if (!id.isEmpty() && varno::device::indexOfDevice(m_devList, id.constData()) >= 0)
            ui->devTableWidget->removeRow(row);
    }
    if (selected == 0) {
        WriteLog(3, "%s(%d):Has not selected any device to add!!!", "QAddDevice::on_addButton_clicked", __LINE__);
        varno::ui::InfoBox(this, title, tr("Please select one or more devices to add!"));
    } else {
        if (!m_devList.isEmpty())
            emit sendDevList(m_devList);
        if (added > 0) {
            WriteLog(3, "%s(%d):Add device (%d) completed!!!", "QAddDevice::on_addButton_clicked", __LINE__, added);
            varno::ui::InfoBox(this, title, tr("Add device completed"));
        }
    }
    WriteLog(0, "[DEVICE]Add device finished!!!");
}

void QAddDevice::RecvManualInfo(DvrListInfo_s info)
{
    const char *devId = info.dev.devId;
    info.dev.devId[sizeof(info.dev.devId) - 1] = '\0';
    WriteLog(0, "[DEVICE]Request manual add device(%s)!!!", devId);
    const int listed = varno::device::indexOfDevice(m_devList, devId);
    if (listed >= 0) {
        WriteLog(3, "%s(%d):Device(%s) has been!!!", "QAddDevice::RecvManualInfo", __LINE__, devId);
        DeviceInfo_s &entry = m_devList[listed].dev;
        if (entry.p2pFlag == info.dev.p2pFlag
            && std::memcmp(entry.password, info.dev.password, sizeof(entry.password)) == 0
            && std::memcmp(entry.p2pId, info.dev.p2pId, sizeof(entry.p2pId)) == 0) {
            WriteLog(3, "%s(%d):Device(%s) has been, and info is same!!!", "QAddDevice::RecvManualInfo", __LINE__,
                     devId);
            return;
        }
        entry.p2pFlag = info.dev.p2pFlag;
        std::memcpy(entry.password, info.dev.password, sizeof(entry.password));
        std::memcpy(entry.p2pId, info.dev.p2pId, sizeof(entry.p2pId));
        varno::device::rewriteStore(m_devList, "QAddDevice::RecvManualInfo", __LINE__, 3);
    } else {
        if (refuseWhenFull(devId))
            return;
        const int ret = storeNew(info, "QAddDevice::RecvManualInfo");
        if (ret != 0) {
            WriteLog(2, "%s(%d):AddDevice(%s) failed, ret(%d)!!!", "QAddDevice::RecvManualInfo", __LINE__, devId, ret);
            varno::ui::InfoBox(this, tr("Add Device"),
                               tr("Failed to add device (%1)").arg(varno::fieldText(info.dev.devId)));
            return;
        }
        m_devList.append(info);
        WriteLog(0, "[DEVICE]Manual add device(%s) success!!!", devId);
        emit sendLogInfo(varno::makeLogInfo(m_user, tr("Add device:") + varno::fieldText(info.dev.devId)));
    }
    emit sendDevList(m_devList);
    WriteLog(0, "[DEVICE]Manual add device(%s) finished!!!", devId);
}

void QAddDevice::recvDelDevInfo(QString id)
{
    emit sendDelDevInfo(id);
    const QByteArray key = id.toUtf8();
    const int i = varno::device::indexOfDevice(m_devList, key.constData());
    if (i >= 0) {
        WriteLog(3, "%s(%d):Delete device(%s)!!!", "QAddDevice::recvDelDevInfo", __LINE__, key.constData());
        m_devList.removeAt(i);
    }
}

void QAddDevice::recvP2pMessage(P2pMessage_S message)
{
    if (message.type == P2P_MSG_PASSWORD_CHECK_RSP || message.type == P2P_MSG_PASSWORD_CHECK2_RSP)
        m_manual->recvP2pMessage(message);
}

void QAddDevice::on_manualButton_clicked()
{
    m_manual->setWindowModality(Qt::WindowModal);
    m_manual->show();
    m_manual->raise();
    m_manual->activateWindow();
}

void QAddDevice::on_closeButton_clicked()
{
    close();
}

void QAddDevice::on_exitButton_clicked()
{
    close();
}
