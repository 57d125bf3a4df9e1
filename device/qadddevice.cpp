#include "device/qadddevice.h"
#include "ui_qadddevice.h"

#include "common/logfile.h"
#include "common/loginfo.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"
#include "common/ui/pendingjob.h"
#include "common/uithread.h"
#include "device/devicesetup.h"
#include "device/devicestore.h"
#include "device/qmanualdial.h"

#include <QHeaderView>
#include <QHideEvent>
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
    m_setup = new varno::device::DeviceSetup(this);
    connect(m_setup, &varno::device::DeviceSetup::cameraAdded, this, &QAddDevice::onCameraAdded);
    connect(m_setup, &varno::device::DeviceSetup::cameraStored, this, &QAddDevice::onCameraStored);

    connect(this, &QAddDevice::sendDevList, m_manual, &QManualDial::updateDevList);
    connect(this, &QAddDevice::sendDelDevInfo, m_manual, &QManualDial::recvDelDevInfo);
    connect(m_manual, &QManualDial::sendManualInfo, this, &QAddDevice::RecvManualInfo);
}

QAddDevice::~QAddDevice()
{
    // The worker is joined before the widgets go.
    delete m_setup;
    delete ui;
}

void QAddDevice::setUserName(const char *user)
{
    if (user)
        varno::setText(m_user, varno::fieldText(user, sizeof(m_user)));
    else
        std::memset(m_user, 0, sizeof(m_user));
}

void QAddDevice::setDevList(const QList<DvrListInfo_s> &list)
{
    VARNO_ASSERT_UI_THREAD();
    m_devList = list.mid(0, kMaxDevices);
    m_moved.clear();
    m_manual->updateDevList(m_devList);
}

void QAddDevice::handBackList()
{
    emit sendDevList(m_devList);
    m_moved.clear();
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

void QAddDevice::setBusy(bool busy)
{
    m_busy = busy;
    varno::ui::showPending(ui->addButton, busy, tr("Adding the selected cameras..."));
    if (busy)
        ui->devTableWidget->setCursor(Qt::BusyCursor);
    else
        ui->devTableWidget->unsetCursor();
}

void QAddDevice::on_addButton_clicked()
{
    VARNO_ASSERT_UI_THREAD();
    if (m_busy)
        return;
    WriteLog(0, "[DEVICE]Request add device!!!");
    QTableWidget *table = ui->devTableWidget;
    m_rows.clear();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *check = table->item(row, ColCheck);
        if (!check || check->checkState() != Qt::Checked)
            continue;
        Row r;
        std::memset(&r.info, 0, sizeof(r.info));
        const QString ip = cellText(table, row, ColIp);
        const QString id = cellText(table, row, ColId);
        const QString url = cellText(table, row, ColUrl);
        if (!ip.isEmpty())
            varno::setText(r.info.dev.ipAddr, ip);
        if (!id.isEmpty())
            varno::setText(r.info.dev.devId, id);
        if (!url.isEmpty())
            varno::setText(r.info.dev.serviceAddr, url);
        r.foundName = cellText(table, row, ColName);
        m_rows.append(r);
    }
    if (m_rows.isEmpty()) {
        WriteLog(3, "%s(%d):Has not selected any device to add!!!", "QAddDevice::on_addButton_clicked", __LINE__);
        varno::ui::InfoBox(this, tr("Add Device"), tr("Please select one or more devices to add!"));
        WriteLog(0, "[DEVICE]Add device finished!!!");
        return;
    }
    m_added = 0;
    m_batch = true;
    setBusy(true);
    nextRow();
}

void QAddDevice::nextRow()
{
    const QString title = tr("Add Device");
    while (m_batch && !m_rows.isEmpty()) {
        const Row row = m_rows.takeFirst();
        const char *devId = row.info.dev.devId;
        const QString idText = varno::fieldText(row.info.dev.devId);
        WriteLog(0, "[DEVICE]Has selected device(%s)!!!", devId);
        varno::device::AddRequest request;
        request.info = row.info;
        request.foundName = row.foundName;
        request.list = m_devList;
        const int listed = varno::device::indexOfDevice(m_devList, devId);
        if (listed >= 0) {
            const DvrListInfo_s &entry = m_devList[listed];
            if (std::strcmp(entry.dev.ipAddr, row.info.dev.ipAddr) == 0) {
                varno::ui::InfoBox(this, title,
                                   tr("Device [%1] has been added, the name is [%2].")
                                       .arg(idText, varno::fieldText(entry.dev.devName)));
                continue;
            }
            // A new address: asked there with the password it has.
            request.listedIndex = listed;
            request.password = QByteArray(entry.dev.password, int(varno::textLength(entry.dev.password)));
            m_askedName = varno::fieldText(entry.dev.devName);
        } else {
            if (refuseWhenFull(devId))
                continue;
            request.password = QByteArray(kDefaultPassword);
            m_askedName = row.foundName.isEmpty() ? idText : row.foundName;
        }
        m_lastRequest = request;
        m_setup->addCamera(request);
        return;
    }
    finishBatch();
}

void QAddDevice::onCameraAdded(const varno::device::AddResult &result)
{
    VARNO_ASSERT_UI_THREAD();
    const QString title = tr("Add Device");
    const QString idText = varno::fieldText(result.info.dev.devId);
    if (result.outcome == varno::device::AddResult::Added) {
        // Stored: the list follows, even when the dialog was closed since.
        if (varno::device::indexOfDevice(m_devList, result.info.dev.devId) < 0)
            m_devList.append(result.info);
        emit sendLogInfo(varno::makeLogInfo(m_user, tr("Add device:") + idText));
        ++m_added;
    } else if (result.outcome == varno::device::AddResult::Moved) {
        const int i = varno::device::indexOfDevice(m_devList, result.info.dev.devId);
        if (i >= 0) {
            m_devList[i] = result.info;
            const QString id = varno::fieldText(result.info.dev.devId);
            if (!m_moved.contains(id))
                m_moved.append(id);
        }
    }
    if (result.cancelled) {
        // The batch was given up: the others hear of the stored camera.
        handBackList();
        return;
    }
    if (result.outcome == varno::device::AddResult::Refused) {
        // The camera answers but refuses the password: its own password is
        // asked for, and tried, until the camera takes one or the user
        // gives up.
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = title;
        request.text = m_askedName;
        request.devId = varno::fieldText(m_lastRequest.info.dev.devId);
        request.parent = this;
        const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
        if (m_batch && answer.button == QMessageBox::Ok && !answer.text.isEmpty()) {
            varno::device::AddRequest again = m_lastRequest;
            again.password = answer.text.toUtf8().left(int(sizeof(DeviceInfo_s::password)) - 1);
            again.list = m_devList;
            m_lastRequest = again;
            m_setup->addCamera(again);
            return;
        }
        if (!m_batch)
            return;
    }
    if (result.outcome == varno::device::AddResult::Refused || result.outcome == varno::device::AddResult::Failed)
        varno::ui::InfoBox(this, title,
                           tr("Failed to add device,id:[%1]").arg(varno::fieldText(m_lastRequest.info.dev.devId)));
    nextRow();
}

void QAddDevice::finishBatch()
{
    // Cameras in the list now are no longer "found and not listed yet".
    for (int row = ui->devTableWidget->rowCount() - 1; row >= 0; --row) {
        const QByteArray id = cellText(ui->devTableWidget, row, ColId).toUtf8();
        if (!id.isEmpty() && varno::device::indexOfDevice(m_devList, id.constData()) >= 0)
            ui->devTableWidget->removeRow(row);
    }
    m_batch = false;
    setBusy(false);
    if (!m_devList.isEmpty())
        handBackList();
    if (m_added > 0) {
        WriteLog(3, "%s(%d):Add device (%d) completed!!!", "QAddDevice::on_addButton_clicked", __LINE__, m_added);
        varno::ui::InfoBox(this, tr("Add Device"), tr("Add device completed"));
    }
    WriteLog(0, "[DEVICE]Add device finished!!!");
    // Cameras of the manual add that came meanwhile.
    while (!m_busy && !m_manualWaiting.isEmpty())
        takeManual(m_manualWaiting.takeFirst());
}

void QAddDevice::RecvManualInfo(DvrListInfo_s info)
{
    VARNO_ASSERT_UI_THREAD();
    info.dev.devId[sizeof(info.dev.devId) - 1] = '\0';
    if (m_busy) {
        m_manualWaiting.append(info);
        return;
    }
    takeManual(info);
}

void QAddDevice::takeManual(DvrListInfo_s info)
{
    const char *devId = info.dev.devId;
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
        m_setup->rewriteList(m_devList, "QAddDevice::RecvManualInfo", __LINE__);
        handBackList();
        WriteLog(0, "[DEVICE]Manual add device(%s) finished!!!", devId);
        return;
    }
    if (refuseWhenFull(devId))
        return;
    setBusy(true);
    m_setup->storeCamera(info, m_devList);
}

void QAddDevice::onCameraStored(const DvrListInfo_s &info, int ret, bool cancelled)
{
    VARNO_ASSERT_UI_THREAD();
    const char *devId = info.dev.devId;
    if (ret != 0) {
        if (!cancelled)
            varno::ui::InfoBox(this, tr("Add Device"),
                               tr("Failed to add device (%1)").arg(varno::fieldText(info.dev.devId)));
    } else {
        if (varno::device::indexOfDevice(m_devList, devId) < 0)
            m_devList.append(info);
        WriteLog(0, "[DEVICE]Manual add device(%s) success!!!", devId);
        emit sendLogInfo(varno::makeLogInfo(m_user, tr("Add device:") + varno::fieldText(info.dev.devId)));
        handBackList();
        WriteLog(0, "[DEVICE]Manual add device(%s) finished!!!", devId);
    }
    if (cancelled)
        return;
    setBusy(false);
    while (!m_busy && !m_manualWaiting.isEmpty())
        takeManual(m_manualWaiting.takeFirst());
}

void QAddDevice::hideEvent(QHideEvent *event)
{
    // Closed (not minimised): the adds not done yet are given up.
    if (!event->spontaneous() && (m_busy || m_setup->jobsInFlight() > 0)) {
        WriteLog(0, "[DEVICE]Add device cancelled!!!");
        m_setup->cancel();
        m_rows.clear();
        m_batch = false;
        setBusy(false);
        // Cameras of the manual add that waited for the batch passed their
        // password check and the user was told they are added: they are
        // stored all the same.
        while (!m_busy && !m_manualWaiting.isEmpty())
            takeManual(m_manualWaiting.takeFirst());
    }
    QDialog::hideEvent(event);
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
