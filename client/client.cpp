#include "client/client.h"
#include "ui_client.h"

#include "alarm/qalarmsearch.h"
#include "client/qaboutdlg.h"
#include "client/qptzctrol.h"
#include "client/qtreewid.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/metatypes.h"
#include "common/textfield.h"
#include "common/ui/desktopinfo.h"
#include "common/ui/infobox.h"
#include "config/qconfigmgr.h"
#include "device/qadddevice.h"
#include "device/qpasswd.h"
#include "device/qpropertydial.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "common/uithread.h"
#include "playback/storageaccess.h"
#include "playback/fileplay.h"
#include "playback/videosearch.h"
#include "record/camerarecorder.h"
#include "record/cstorage.h"
#include "resources/resourcepath.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr size_t kPasswordSize = sizeof(DeviceInfo_s::password); // 64
constexpr int kIconSize = 24;
// ConnectDevice: the camera has no password and none was entered.
constexpr int kNoPassword = -2;

const char *const kStyle =
    "QDialog#Client { background-color: rgb(30, 34, 40); }"
    "QFrame#titleFrame { background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
    " stop:0 rgb(47, 109, 181), stop:1 rgb(23, 58, 102)); }"
    "QLabel#titleLabel { color: white; font-size: 15px; font-weight: bold; padding-left: 6px; }"
    "QFrame#titleFrame QPushButton { color: rgb(220, 230, 242); border: none; background: transparent;"
    " min-width: 40px; min-height: 36px; padding: 0px 10px; }"
    "QFrame#titleFrame QPushButton:hover { background-color: rgba(255, 255, 255, 36); }"
    "QFrame#titleFrame QPushButton:checked { color: white; background-color: rgba(0, 0, 0, 70);"
    " border-bottom: 3px solid rgb(120, 190, 255); }"
    "QPushButton#btnWinClose:hover { background-color: rgb(229, 72, 77); }"
    "QFrame#bodyFrame, QFrame#rightFrame, QStackedWidget#stackPages { background-color: rgb(30, 34, 40); }"
    "QFrame#leftFrame { background-color: rgb(43, 47, 51); border-right: 1px solid rgb(20, 23, 27); }"
    "QFrame#treeHeadFrame { background-color: rgb(36, 40, 45); border-bottom: 1px solid rgb(20, 23, 27); }"
    "QLabel#labelDevList { color: rgb(220, 224, 230); font-weight: bold; }"
    "QTreeWidget { background-color: rgb(43, 47, 51); color: rgb(220, 224, 230); border: none;"
    " outline: none; padding-top: 4px; }"
    "QTreeWidget::item { height: 28px; }"
    "QTreeWidget::item:hover { background-color: rgb(55, 61, 68); }"
    "QTreeWidget::item:selected { background-color: rgb(47, 109, 181); color: white; }"
    "QFrame#toolFrame { background-color: rgb(43, 47, 51); border-top: 1px solid rgb(20, 23, 27); }"
    "QFrame#toolFrame QPushButton, QFrame#treeHeadFrame QPushButton { border: none; border-radius: 3px;"
    " background: transparent; min-width: 34px; min-height: 32px; }"
    "QFrame#toolFrame QPushButton:hover, QFrame#treeHeadFrame QPushButton:hover"
    " { background-color: rgb(62, 68, 76); }"
    "QFrame#toolFrame QPushButton:checked { background-color: rgb(47, 109, 181); }"
    "QMenu { background-color: rgb(43, 47, 51); color: rgb(220, 224, 230); border: 1px solid rgb(20, 23, 27); }"
    "QMenu::item { padding: 6px 28px 6px 20px; }"
    "QMenu::item:selected { background-color: rgb(47, 109, 181); color: white; }"
    "QMenu::separator { height: 1px; background: rgb(70, 76, 84); margin: 3px 8px; }"
    "QToolTip { color: black; background-color: rgb(222, 222, 222); border: 1px solid rgb(120, 120, 120); }";

// The recording search reads the record folders of the storage
// configuration from the storage manager.
class StorageManagerAccess final : public varno::playback::StorageAccess
{
public:
    int recordFolders(QStringList *folders) override
    {
        folders->clear();
        CStorage *storage = CStorage::Instance();
        if (!storage)
            return -1;
        const StorageConfig config = storage->getStorageConfig();
        if (config.disks.isEmpty())
            return -1;
        for (const StorageDisk_s &d : config.disks) {
            const QString folder = storage->recordFolder(varno::fieldText(d.name));
            if (!folder.isEmpty())
                folders->append(folder);
        }
        return 0;
    }
    int diskSpaceM(const QString &path, double *freeM) override
    {
        return varno::playback::fileSystemFreeM(path, freeM);
    }
};

QIcon icon(const char *name)
{
    return QIcon(varno::resourcePath(QString::fromLatin1(name)));
}

} // namespace

Client::Client(const char *localIp, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Client)
{
    std::memset(m_localIp, 0, sizeof(m_localIp));
    std::memset(m_user, 0, sizeof(m_user));
    varno::setText(m_localIp, localIp);

    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint); // 0x4800
    m_registry = std::make_unique<varno::client::CameraRegistry>();

    m_registry->openLibraries(m_localIp);
    m_registry->load();
    varno::playback::setStorageAccess(std::make_shared<StorageManagerAccess>());

    buildLook();
    buildDialogs();
    initDevTree();
    ui->stackPages->setCurrentWidget(ui->pageLive);
    ui->btnRealVideo->setChecked(true);
    checkCountButton(4);

    // The records travel in queued signals.
    varno::registerMetaTypes();
    makeConnections();
    connectRegistry();

    m_formSize = size();
    setGeometry(CDesktopInfo::instance()->currentMonitorRect());
    setMaximizedLook(true);
    m_registry->startProbing();
}

Client::~Client()
{
    // Probing reports to the pages: it ends (joined) before they go. The
    // close confirmation asked it to stop already, which also gave up the
    // request of the camera it was asking.
    m_registry->stopProbing();
    // The live page closes its streams while the libraries are still up.
    delete m_realVideo;
    m_realVideo = nullptr;
    // So does the playback page with its playbacks and downloads.
    delete m_videoSearch;
    m_videoSearch = nullptr;
    // Ends the discovery and event libraries and writes the list a last
    // time while the device manager is open.
    m_registry->shutdown();
    delete m_addDevice;
    m_addDevice = nullptr;
    m_registry->closeStore();
    delete m_property;
    m_property = nullptr;
    delete m_config;
    m_config = nullptr;
    delete m_about;
    delete ui;
}

void Client::buildLook()
{
    setStyleSheet(QString::fromLatin1(kStyle));
    ui->logoLabel->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/varno.png"))));
    struct ButtonIcon
    {
        QPushButton *button;
        const char *image;
    };
    const ButtonIcon icons[] = {
        {ui->btnWinMin, "./images/Sys_Min.png"},
        {ui->btnWinClose, "./images/Sys_Close.png"},
        {ui->btnRealVideo, "./images/Btn_Preview.png"},
        {ui->btnVideoSearch, "./images/Btn_Playback.png"},
        {ui->btnAlarmVideo, "./images/Btn_Alarm.png"},
        {ui->btnConfigManage, "./images/Btn_Config.png"},
        {ui->btnAbout, "./images/Btn_About.png"},
        {ui->btnAddDevice, "./images/Btn_AddDevice.png"},
        {ui->btnCount4, "./images/Win_4.png"},
        {ui->btnCount8, "./images/Win_8.png"},
        {ui->btnCount16, "./images/Win_16.png"},
        {ui->btnCount25, "./images/Win_25.png"},
        {ui->btnPagePrev, "./images/Page_Prev.png"},
        {ui->btnPageNext, "./images/Page_Next.png"},
        {ui->btnMute, "./images/Sound_Off.png"},
        {ui->btnFullScreen, "./images/FullScreen.png"},
    };
    for (const ButtonIcon &b : icons) {
        b.button->setIcon(icon(b.image));
        b.button->setIconSize(QSize(kIconSize, kIconSize));
    }
    ui->btnWinMax->setIconSize(QSize(kIconSize, kIconSize));
    ui->treeDevice->setIconSize(QSize(20, 20));
    ui->treeDevice->setIndentation(14);

    // The pan/tilt pad sits under the device tree, hidden.
    m_ptz = new QPtzCtrol(ui->leftFrame);
    ui->leftLayout->addWidget(m_ptz);
    m_ptz->hide();

    m_about = new QAboutDlg(this);

    m_menu = new QMenu(this);
    m_actConnect = new QAction(tr("Connect"), this);
    m_actConnectAll = new QAction(tr("Connect all"), this);
    m_actDelete = new QAction(tr("Delete"), this);
    m_actSettings = new QAction(tr("Settings"), this);
}

// The dialogs read the stored cameras and the operation log when they are
// built: the device manager is open by now.
void Client::buildDialogs()
{
    // Answers the camera password prompts of the whole program.
    QPasswd::registerAsPasswordPrompt();
    m_config = new QConfigMgr(this);
    m_addDevice = new QAddDevice(this);
    m_addDevice->setDevList(m_registry->deviceList());
    // The registry stores the cameras the dialog hands it: its one writer.
    m_addDevice->setup()->setWritesStore(false);
    m_property = new QPropertyDial(this);
    m_realVideo = new realvideo(ui->pageLive);
    auto *liveLayout = new QVBoxLayout(ui->pageLive);
    liveLayout->setContentsMargins(0, 0, 0, 0);
    liveLayout->addWidget(m_realVideo);
    // Sound starts off, as the mute button shows.
    m_realVideo->setMute(!m_soundOn);
    m_videoSearch = new videosearch(ui->pagePlayback);
    auto *playbackLayout = new QVBoxLayout(ui->pagePlayback);
    playbackLayout->setContentsMargins(0, 0, 0, 0);
    playbackLayout->addWidget(m_videoSearch);
    // The playback page starts hidden: its engines are held until it shows.
    m_videoSearch->RecvVideoWinPause(true);
    m_alarm = new QAlarmSearch(this);
}

void Client::makeConnections()
{
    // Operation-log entries: the configuration window stores and lists them,
    // on whichever thread they are made (the probing thread's included).
    connect(this, &Client::sendLogInfo, m_config, &QConfigMgr::recvLogInfo, Qt::DirectConnection);
    connect(m_addDevice, &QAddDevice::sendLogInfo, m_config, &QConfigMgr::recvLogInfo, Qt::DirectConnection);
    connect(m_property, &QPropertyDial::sendLogInfo, m_config, &QConfigMgr::recvLogInfo, Qt::DirectConnection);

    // A removal reaches the registry first, then every dialog's own list.
    connect(this, &Client::sendDelDevInfo, this, &Client::recvDelDevInfo);
    connect(this, &Client::sendDelDevInfo, m_addDevice, &QAddDevice::recvDelDevInfo);
    connect(this, &Client::sendDelDevInfo, m_config, &QConfigMgr::recvDelDevInfo);
    connect(this, &Client::sendDelDevInfo, m_property, &QPropertyDial::recvDelDevInfo);
    connect(this, &Client::sendDelDevInfo, m_alarm, &QAlarmSearch::recvDelDevInfo);

    // Camera messages arrive on the library's thread: queued to the dialogs.
    connect(this, &Client::sendP2pMsg, m_addDevice, &QAddDevice::recvP2pMessage);
    connect(this, &Client::sendP2pMsg, m_property, &QPropertyDial::recvP2pMessage);
    connect(this, &Client::sendP2pMsg, m_alarm, &QAlarmSearch::recvP2pMessage);
    connect(m_alarm, &QAlarmSearch::sendDevProperty, this, &Client::recvDevProperty, Qt::DirectConnection);

    connect(this, &Client::sendSearchReslutToAdd, m_addDevice, &QAddDevice::RecvSearchReslutFromClient,
            Qt::DirectConnection);
    connect(m_addDevice, &QAddDevice::sendDevList, this, &Client::recvDevListSlot, Qt::DirectConnection);
    connect(m_property, &QPropertyDial::sendDevProperty, this, &Client::recvDevProperty, Qt::DirectConnection);

    connect(this, &Client::sendDevProperty, this, &Client::recvDevProperty, Qt::DirectConnection);
    connect(this, &Client::sendShowProperty, this, &Client::recvShowProperty);
    connect(this, &Client::sendShowMenu, this, &Client::recvShowMenu);

    // The pan/tilt pad follows the live page's selected window.
    m_ptz->attach(m_realVideo, [this](const QString &devId, DvrListInfo_s *out) {
        return m_registry->record(devId, out);
    });
    connect(m_ptz, &QPtzCtrol::sendPtzCapability, this, &Client::recvPtzCapability);
    connect(this, &Client::sendP2pMsg, m_ptz->controller(), &varno::live::PtzController::recvP2pMessage);
    connect(m_ptz, &QPtzCtrol::sendOperation, this, [this](const QString &content) { recordOperation(content); });
    connect(ui->treeDevice, &QTreeWid::MouseDoublePress, this, &Client::doubleClickedEvent);
    connect(ui->treeDevice, &QTreeWidget::customContextMenuRequested, this, &Client::show_contextmenu);
    connect(m_actConnect, &QAction::triggered, this, &Client::connectAction);
    connect(m_actConnectAll, &QAction::triggered, this, &Client::connectAllAction);
    connect(m_actDelete, &QAction::triggered, this, &Client::deleteDevAction);
    connect(m_actSettings, &QAction::triggered, this, &Client::propertyAction);

    // The live page.
    connect(ui->btnCount4, &QPushButton::clicked, m_realVideo, &realvideo::btnCount4Clicked);
    connect(ui->btnCount8, &QPushButton::clicked, m_realVideo, &realvideo::btnCount8Clicked);
    connect(ui->btnCount16, &QPushButton::clicked, m_realVideo, &realvideo::btnCount16Clicked);
    connect(ui->btnCount25, &QPushButton::clicked, m_realVideo, &realvideo::btnCount25Clicked);
    connect(ui->btnPagePrev, &QPushButton::clicked, m_realVideo, &realvideo::btnPagePrevClicked);
    connect(ui->btnPageNext, &QPushButton::clicked, m_realVideo, &realvideo::btnPageNextClicked);
    connect(this, &Client::sendDevStateRequest, m_realVideo, &realvideo::recvDevStateRequest);
    connect(this, &Client::sendOnLineState, m_realVideo, &realvideo::recvOnLineState, Qt::DirectConnection);
    connect(this, &Client::sendP2pMsg, m_realVideo, &realvideo::recvP2pMessage);
    connect(this, &Client::SendVideoWinPauseToReal, m_realVideo, &realvideo::RecvVideoWinPause,
            Qt::DirectConnection);
    connect(m_realVideo, &realvideo::sendDevProperty, this, &Client::recvDevProperty, Qt::DirectConnection);
    connect(m_realVideo, &realvideo::sendDevStateReslut, this, &Client::recvDevStateReslut);
    connect(m_realVideo, &realvideo::streamStarted, this, &Client::previewResult);
    connect(m_realVideo, &realvideo::sendLiveReconnecting, this, &Client::liveReconnecting);
    connect(m_config, &QConfigMgr::sendCapPathToClient, m_realVideo, &realvideo::RecvCapPathFromConfig);
    connect(m_config, &QConfigMgr::sendRecordAlarmType, m_realVideo, &realvideo::recvRecordAlarmType);
    connect(m_realVideo, &realvideo::sendRecordCount, m_config, &QConfigMgr::recvRecordCount);
    connect(m_realVideo, &realvideo::sendRecordStream, this, [this](const QString &id, bool lost) {
        recordOperation(tr("Device:") + id + (lost ? tr(" Recording lost its stream") : tr(" Recording has its stream again")));
    });
    // The storage page saved once before these connections existed.
    m_realVideo->RecvCapPathFromConfig(m_config->getCapturePath());
    m_realVideo->recvRecordAlarmType(m_config->getRecordAlarmType());
    // The real recorder behind the grid's recorder hook; the grid stops
    // every recorder before it goes, so no report reaches it afterwards.
    QVideoOnly *grid = m_realVideo->videoOnly();
    grid->setRecorderFactory([grid](const DvrListInfo_s &dev, int alarmType) -> std::unique_ptr<LiveRecorder> {
        return varno::record::startCameraRecorder(
            dev, alarmType, [grid](const QString &id, const QString &path, int code, LiveRecorder *recorder) {
                grid->recvRecord(id, path, code, recorder);
            });
    });
    connect(this, &Client::sendSoundAll, m_realVideo, [this](bool on) { m_realVideo->setMute(!on); });
    connect(this, &Client::sendFullScreen, m_realVideo, [this](bool on, QRect) { m_realVideo->setFullScreen(on); });
    // The playback page.
    connect(this, &Client::sendDelDevInfo, m_videoSearch, &videosearch::recvDelDevInfo);
    // Queued: the page is deleted before the P2P library is released, so a
    // message on the library's thread must never reach it directly.
    connect(this, &Client::sendP2pMsg, m_videoSearch, &videosearch::recvP2pMessage, Qt::QueuedConnection);
    connect(this, &Client::sendWinCloseSignal, m_videoSearch, &videosearch::recvWinCloseSlot, Qt::DirectConnection);
    connect(this, &Client::SendVideoWinPauseToVsearch, m_videoSearch, &videosearch::RecvVideoWinPause,
            Qt::DirectConnection);
    connect(m_videoSearch, &videosearch::sendDevProperty, this, &Client::recvDevProperty, Qt::DirectConnection);
    connect(m_videoSearch->panel(), &fileplay::sendOperation, this, &Client::recordOperation);
    connect(m_config, &QConfigMgr::sendCapPathToClient, m_videoSearch, &videosearch::RecvCapPathFromConfig);
    // The cameras known at start: their grid entries (stream choice) and,
    // once known, their event subscriptions; the playback page's camera
    // lists.
    for (const DvrListInfo_s &d : deviceList()) {
        m_realVideo->setDevInfo(d);
        m_videoSearch->setDevInfo(d);
        m_alarm->UpdateAlarmDevice(d);
    }
}

// ---------------------------------------------------------------------------
// Registry

void Client::connectRegistry()
{
    using varno::client::CameraRegistry;
    CameraRegistry *reg = m_registry.get();
    // Camera messages go on from the library's thread as they came; each
    // receiver chose its connection above.
    connect(reg, &CameraRegistry::p2pMessage, this, &Client::sendP2pMsg, Qt::DirectConnection);
    // Probing reports on its own thread: the pages take online changes
    // there (as they did from the window), the tree's look is set queued.
    connect(reg, &CameraRegistry::lookChanged, this, &Client::applyTreeIcon, Qt::QueuedConnection);
    connect(
        reg, &CameraRegistry::onlineChanged, this,
        [this](STATE_E state, const DvrListInfo_s &record) {
            emit sendOnLineState(state, record);
            if (state == STATE_ONLINE && m_alarm && record.dev.devId[0] != 0)
                m_alarm->UpdateAlarmDevice(record);
        },
        Qt::DirectConnection);
    connect(reg, &CameraRegistry::configChanged, this, &Client::passToLivePage, Qt::DirectConnection);
    connect(reg, &CameraRegistry::operation, this, &Client::recordOperation, Qt::DirectConnection);
    connect(reg, &CameraRegistry::connectAllDue, this, &Client::connectAllAction, Qt::QueuedConnection);
    connect(reg, &CameraRegistry::storeFailed, this, [this](int ret) {
        WriteLog(2, "%s(%d):Store the device list failed, ret(%d)!!!", "Client::storeDevices", __LINE__, ret);
        varno::ui::InfoBox(this, tr("Device Management"),
                           tr("The camera list could not be saved (error %1): the changes are lost when the "
                              "client ends.")
                               .arg(ret));
    }, Qt::QueuedConnection);
}

QList<DvrListInfo_s> Client::deviceList() const
{
    return m_registry->deviceList();
}

QList<DevTreeEntry> Client::treeEntries() const
{
    QList<DevTreeEntry> out;
    for (const varno::client::RegistryEntry &e : m_registry->entries()) {
        DevTreeEntry entry;
        std::memset(&entry, 0, sizeof(entry));
        varno::setText(entry.devId, e.devId);
        varno::setText(entry.devName, e.devName);
        entry.state = e.state;
        entry.item = nullptr;
        out.append(entry);
    }
    return out;
}

QList<DeviceInfo_s> Client::searchResults() const
{
    return m_registry->searchResults();
}

QList<DeviceInfo_s> Client::searchSnapshot() const
{
    return m_registry->searchSnapshot();
}

bool Client::refusesPassword(const QString &devId) const
{
    return m_registry->refusesPassword(devId);
}

int Client::OnDiscoveryResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user)
{
    auto *client = static_cast<Client *>(user);
    return client ? client->m_registry->discoveryResult(results, n, last) : 0;
}

void Client::setProbeIntervalMs(int ms)
{
    varno::client::CameraRegistry::setProbeIntervalMs(ms);
}

void Client::setP2pRetryIntervalMs(int ms)
{
    varno::client::CameraRegistry::setP2pRetryIntervalMs(ms);
}

void Client::connectAllOnStart()
{
    m_registry->connectAllOnStart();
}

void Client::startP2PRegistration()
{
    m_registry->startP2pRegistration(m_localIp);
}

P2P_HANDLE Client::p2pHandle()
{
    return varno::client::CameraRegistry::p2pHandle();
}

int Client::p2pMessageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId, void *user)
{
    auto *client = static_cast<Client *>(user);
    return varno::client::CameraRegistry::p2pMessageCallback(type, payload, length, cameraId,
                                                             client ? client->m_registry.get() : nullptr);
}

int Client::p2pStatusCallback(int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}

QTreeWidgetItem *Client::treeItem(const QString &devId) const
{
    QTreeWidgetItem *root = ui->treeDevice->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->data(0, kIdRole).toString() == devId)
            return root->child(i);
    return nullptr;
}

QTreeWidgetItem *Client::addTreeItem(const DeviceInfo_s &dev, bool online)
{
    auto *item = new QTreeWidgetItem(ui->treeDevice->invisibleRootItem());
    item->setText(0, varno::fieldText(dev.devName));
    item->setData(0, Qt::UserRole, 0);   // a camera item
    setItemLook(item, varno::fieldText(dev.devId), online ? STATE_ONLINE : STATE_OFFLINE);
    return item;
}

void Client::setItemLook(QTreeWidgetItem *item, const QString &devId, int look)
{
    item->setData(0, kIdRole, devId);
    item->setData(0, kLookRole, look);
    if (look == kLookRefused) {
        item->setIcon(0, icon("./images/dvr_lock.png"));
        item->setToolTip(0, devId + QLatin1Char('\n') + tr("Wrong password"));
    } else if (look == STATE_ONLINE && item->data(0, kLiveLostRole).toBool()) {
        // Online, but its live stream is down: not the plain green.
        item->setIcon(0, icon("./images/dvr_amber.png"));
        item->setToolTip(0, devId + QLatin1Char('\n') + tr("Live video reconnecting"));
    } else if (look == kLookUnaskable) {
        item->setIcon(0, icon("./images/dvr_gray.png"));
        item->setToolTip(0, devId + QLatin1Char('\n')
                                + tr("The relay reports this camera offline. Its firmware cannot be asked whether it is "
                                     "back: if it is online on another relay node, it needs a newer firmware or the "
                                     "same relay node as this client."));
    } else {
        item->setIcon(0, icon(look == STATE_ONLINE ? "./images/dvr_green.png" : "./images/dvr_gray.png"));
        item->setToolTip(0, devId);
    }
}

bool Client::tellRefused(const QString &devId)
{
    if (!m_registry->refusesPassword(devId))
        return false;
    DvrListInfo_s record;
    const QString name = m_registry->record(devId, &record) ? varno::fieldText(record.dev.devName) : QString();
    WriteLog(3, "%s(%d):Device(%s) refuses the stored password!!!", "Client::tellRefused", __LINE__,
             devId.toUtf8().constData());
    varno::ui::InfoBox(this, tr("PC Client"),
                       tr("The camera %1 (%2) refuses the stored password. Enter its password under "
                          "Settings > Camera Editor.")
                           .arg(name, devId));
    return true;
}

void Client::initDevTree()
{
    for (const DvrListInfo_s &d : m_registry->deviceList())
        addTreeItem(d.dev, false);
    if (ui->treeDevice->invisibleRootItem()->childCount() > 0)
        ui->treeDevice->expandAll();
}

void Client::recvDevListSlot(QList<DvrListInfo_s> list)
{
    VARNO_ASSERT_UI_THREAD();
    // The add dialog's copy may hold addresses probing has changed since:
    // only those of the cameras it moved there are taken.
    const bool fromDialog = m_addDevice && sender() == m_addDevice;
    const QStringList moved = fromDialog ? m_addDevice->movedCameras() : QStringList();
    const varno::client::ListChange change = m_registry->applyList(list, fromDialog ? &moved : nullptr);
    for (const QString &id : change.nowOnline)
        if (QTreeWidgetItem *item = treeItem(id))
            setItemLook(item, id, STATE_ONLINE);
    for (const DvrListInfo_s &in : change.added) {
        addTreeItem(in.dev, true);
        deviceChanged(in);
    }
    for (const DvrListInfo_s &c : change.changed)
        deviceChanged(c);
    m_property->updateDevList(deviceList());
    ui->treeDevice->expandAll();
    if (change.refused > 0)
        varno::ui::InfoBox(this, tr("Device Management"),
                           tr("At most %1 cameras can be listed: %2 camera(s) not added.")
                               .arg(kMaxDevices).arg(change.refused));
}

void Client::recvDevProperty(DeviceInfo_s info)
{
    const QString id = varno::fieldText(info.devId);
    if (QThread::currentThread() != thread()) {
        // A page reports from a thread of its own: the registry takes it here.
        QMetaObject::invokeMethod(this, [this, info] { recvDevProperty(info); }, Qt::QueuedConnection);
        return;
    }
    if (QTreeWidgetItem *item = treeItem(id))
        item->setText(0, varno::fieldText(info.devName));
    DvrListInfo_s updated;
    if (!m_registry->applyProperty(info, &updated))
        return;
    m_addDevice->updateDevInfo(updated);
    m_property->updateDevInfo(updated);
    deviceChanged(updated);
}

void Client::recvPtzCapability(QString devId, bool ptz)
{
    VARNO_ASSERT_UI_THREAD();
    m_registry->setPtzCapability(devId, ptz);
}

void Client::deviceChanged(const DvrListInfo_s &record)
{
    passToLivePage(record);
    if (m_alarm)
        m_alarm->UpdateAlarmDevice(record);
    emit sendDevUpdated(record);
}

void Client::passToLivePage(const DvrListInfo_s &record)
{
    if (m_realVideo) {
        if (QThread::currentThread() == thread())
            m_realVideo->setDevInfo(record);
        else
            QMetaObject::invokeMethod(m_realVideo, [page = m_realVideo, record] { page->setDevInfo(record); },
                                      Qt::QueuedConnection);
    }
    // The playback page keeps its own copies (passwords included): every
    // change reaches them.
    if (m_videoSearch) {
        if (QThread::currentThread() == thread())
            m_videoSearch->setDevInfo(record);
        else
            QMetaObject::invokeMethod(m_videoSearch, [page = m_videoSearch, record] { page->setDevInfo(record); },
                                      Qt::QueuedConnection);
    }
}

void Client::recvDelDevInfo(QString devId)
{
    const QByteArray id = devId.toUtf8();
    WriteLog(0, "[CLIENT]Request delete device(%s)!!!", id.constData());
    if (QTreeWidgetItem *item = treeItem(devId)) {
        WriteLog(0, "[CLIENT]Finded item and remove!!!");
        delete item;
    }
    m_registry->remove(devId);
    if (m_selectedId == devId)
        m_selectedId.clear();
    WriteLog(0, "[CLIENT]Delete device(%s) finished!!!", id.constData());
}

void Client::liveReconnecting(QString devId, bool on)
{
    QTreeWidgetItem *item = treeItem(devId);
    if (!item)
        return;
    item->setData(0, kLiveLostRole, on);
    setItemLook(item, devId, item->data(0, kLookRole).toInt());
}

void Client::applyTreeIcon(QString devId)
{
    const int look = m_registry->look(devId);
    QTreeWidgetItem *item = treeItem(devId);
    if (item && look >= 0)
        setItemLook(item, devId, look);
}

// ---------------------------------------------------------------------------
// Operation log

void Client::userLogin(const char *user)
{
    {
        std::lock_guard<std::mutex> lock(m_userMutex);
        std::memset(m_user, 0, sizeof(m_user));
        varno::setText(m_user, user);
    }
    m_config->setUserName(m_user);
    m_addDevice->setUserName(m_user);
    m_property->setUserName(m_user);
    if (m_realVideo)
        m_realVideo->videoOnly()->setUserName(QString::fromUtf8(m_user));
    if (m_videoSearch)
        m_videoSearch->setUserName(QString::fromUtf8(m_user));
    recordOperation(QStringLiteral("User login"));
}

void Client::recordOperation(const QString &content)
{
    LogInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.time, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    {
        std::lock_guard<std::mutex> lock(m_userMutex);
        varno::setText(info.user, m_user);
    }
    varno::setText(info.content, content);
    emit sendLogInfo(info);
}

// ---------------------------------------------------------------------------
// Window

void Client::on_btnWinMin_clicked()
{
    showMinimized();
}

void Client::on_btnWinMax_clicked()
{
    const QRect monitor = CDesktopInfo::instance()->currentMonitorRect();
    if (m_maximized) {
        const int x = monitor.left() + (monitor.width() - m_formSize.width()) / 2;
        const int y = monitor.top() + (monitor.height() - m_formSize.height()) / 2;
        setGeometry(x, y, m_formSize.width(), m_formSize.height());
        setMaximizedLook(false);
    } else {
        setGeometry(monitor);
        setMaximizedLook(true);
    }
}

void Client::on_btnWinClose_clicked()
{
    if (m_closing || m_asking)
        return;
    m_asking = true;
    const bool confirmed = varno::ui::InfoBox(this, tr("PC Client"), tr("Are you sure to close the client?"), true)
        == QMessageBox::Yes;
    m_asking = false;
    if (!confirmed)
        return;
    m_closing = true;
    hide();
    emit sendWinCloseSignal();
    recordOperation(QStringLiteral("User exit"));
    // Probing stops at the camera it is asking; the window does not wait
    // for that camera's answer (the destructor joins the thread).
    m_registry->requestStop();
    close();
    // The window is hidden already, so closing it may not end the loop by itself.
    QCoreApplication::quit();
    WriteLog(0, "============>Stop Varno<============\n");
}

void Client::setMaximizedLook(bool maximized)
{
    m_maximized = maximized;
    ui->btnWinMax->setIcon(QIcon(varno::resourcePath(
        maximized ? QStringLiteral("./images/Sys_Restore.png") : QStringLiteral("./images/Sys_Max.png"))));
    ui->btnWinMax->setToolTip(maximized ? tr("Restore Down") : tr("Maximize"));
}

bool Client::inTitleArea(const QPoint &pos) const
{
    return pos.y() >= 0 && pos.y() < ui->titleFrame->height();
}

void Client::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        leaveFullScreen();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Return and Enter never close the main window.
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void Client::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        QDialog::closeEvent(event);
        return;
    }
    // A close from outside (window manager, Alt+F4) asks like the close button.
    event->ignore();
    QTimer::singleShot(0, this, &Client::on_btnWinClose_clicked);
}

void Client::reject()
{
    if (m_closing)
        QDialog::reject();
}

void Client::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_pressOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(event);
}

void Client::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton) && inTitleArea(m_pressOffset)
        && !(windowState() & Qt::WindowMaximized))
        move(event->globalPosition().toPoint() - m_pressOffset);
    QDialog::mouseMoveEvent(event);
}

void Client::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void Client::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && inTitleArea(event->position().toPoint()))
        on_btnWinMax_clicked();
    QDialog::mouseDoubleClickEvent(event);
}

// ---------------------------------------------------------------------------
// Pages and tool buttons

void Client::on_btnRealVideo_clicked()
{
    ui->btnRealVideo->setChecked(true);
    ui->btnVideoSearch->setChecked(false);
    ui->stackPages->setCurrentWidget(ui->pageLive);
    ui->toolFrame->show();
    emit pageChanged(0);
    emit SendVideoWinPauseToReal(false);
    emit SendVideoWinPauseToVsearch(true);
}

void Client::on_btnVideoSearch_clicked()
{
    ui->btnVideoSearch->setChecked(true);
    ui->btnRealVideo->setChecked(false);
    ui->stackPages->setCurrentWidget(ui->pagePlayback);
    ui->toolFrame->hide();
    emit pageChanged(1);
    emit SendVideoWinPauseToReal(true);
    emit SendVideoWinPauseToVsearch(false);
}

void Client::on_btnAlarmVideo_clicked()
{
    m_alarm->exec();
}

void Client::on_btnConfigManage_clicked()
{
    m_config->exec();
}

void Client::on_btnAbout_clicked()
{
    m_about->exec();
}

void Client::on_btnAddDevice_clicked()
{
    // The discovery callback may overwrite the snapshot at any time: the
    // dialog reads a copy.
    QList<DeviceInfo_s> snapshot = m_registry->searchSnapshot();
    const int count = int(snapshot.size());
    // The dialog starts from the list as the registry holds it now.
    if (!m_addDevice->isBusy())
        m_addDevice->setDevList(m_registry->deviceList());
    emit sendSearchReslutToAdd(count, count > 0 ? snapshot.data() : nullptr);
    m_addDevice->exec();
}

void Client::checkCountButton(int count)
{
    ui->btnCount4->setChecked(count == 4);
    ui->btnCount8->setChecked(count == 8);
    ui->btnCount16->setChecked(count == 16);
    ui->btnCount25->setChecked(count == 25);
}

void Client::on_btnCount4_clicked() { checkCountButton(4); }
void Client::on_btnCount8_clicked() { checkCountButton(8); }
void Client::on_btnCount16_clicked() { checkCountButton(16); }
void Client::on_btnCount25_clicked() { checkCountButton(25); }

void Client::on_btnMute_clicked()
{
    m_soundOn = !m_soundOn;
    emit sendSoundAll(m_soundOn);
    ui->btnMute->setChecked(m_soundOn);
    ui->btnMute->setIcon(icon(m_soundOn ? "./images/Sound_On.png" : "./images/Sound_Off.png"));
    ui->btnMute->setToolTip(m_soundOn ? tr("Mute All") : tr("Unmute All"));
}

void Client::on_btnFullScreen_released()
{
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    const QRect monitor = CDesktopInfo::instance()->currentMonitorRect();
    const QRect rect = m_maximized ? monitor : QRect(monitor.topLeft(), m_formSize);
    m_liveGeometry = ui->stackPages->geometry();
    // The page area leaves the window and covers the rectangle; Escape
    // brings it back.
    ui->rightLayout->removeWidget(ui->stackPages);
    ui->stackPages->setParent(this, Qt::Window | Qt::FramelessWindowHint);
    ui->stackPages->setGeometry(rect);
    ui->stackPages->installEventFilter(this);
    ui->stackPages->show();
    emit sendFullScreen(true, rect);
}

void Client::leaveFullScreen()
{
    if (!m_fullScreen)
        return;
    ui->stackPages->removeEventFilter(this);
    ui->stackPages->setParent(ui->rightFrame, Qt::Widget);
    ui->rightLayout->insertWidget(0, ui->stackPages);
    ui->stackPages->setGeometry(m_liveGeometry);
    ui->stackPages->show();
    emit sendFullScreen(false, m_liveGeometry);
    m_fullScreen = false;
}

bool Client::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->stackPages && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        leaveFullScreen();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Device tree

void Client::show_contextmenu(const QPoint &pos)
{
    QTreeWidgetItem *item = ui->treeDevice->itemAt(pos);
    if (!item || item->data(0, Qt::UserRole).toInt() != 0)
        return;
    const QString id = item->data(0, kIdRole).toString();
    if (id.isEmpty() || m_registry->state(id) < 0)
        return;
    m_selectedId = id;
    emit sendShowMenu(QCursor::pos());
}

void Client::recvShowMenu(QPoint pos)
{
    m_menu->clear();
    m_menu->addAction(m_actConnect);
    m_menu->addAction(m_actConnectAll);
    m_menu->addSeparator();
    m_menu->addAction(m_actDelete);
    m_menu->addSeparator();
    m_menu->addAction(m_actSettings);
    m_menu->exec(pos);
}

void Client::doubleClickedEvent(QTreeWidgetItem *item)
{
    WriteLog(0, "[CLIENT]Double clicked to start preview!!!");
    const QString id = item ? item->data(0, kIdRole).toString() : QString();
    const int state = id.isEmpty() ? -1 : m_registry->state(id);
    if (state < 0) {
        WriteLog(3, "%s(%d):Can't find item!!!", "Client::doubleClickedEvent", __LINE__);
        return;
    }
    if (state != STATE_ONLINE && !m_registry->refusesPassword(id)) {
        WriteLog(0, "[CLIENT]Double clicked to start preview finished!!!");
        return;
    }
    if (tellRefused(id)) {
        WriteLog(0, "[CLIENT]Double clicked to start preview finished!!!");
        return;
    }
    bool started = false;
    QString name;
    const int ret = ConnectDevice(id, &started, &name);
    if (started)
        m_previewRequests.insert(id, name);
    if (!started && ret != kNoPassword) {
        WriteLog(0, "[CLIENT]Double clicked to start preview finished!!!");
        return;
    }
    if (!started)
        return; // no password: the preview ends here
    // The open goes on without the window waiting for it: its result comes
    // with previewResult. Only a start that found no window fails here.
    if (ret != 0)
        previewResult(id, ret);
    WriteLog(0, "[CLIENT]Double clicked to start preview finished!!!");
}

void Client::previewResult(QString devId, int result)
{
    auto it = m_previewRequests.find(devId);
    if (it == m_previewRequests.end())
        return;
    const QString name = it.value();
    m_previewRequests.erase(it);
    const QByteArray id8 = devId.toUtf8();
    if (result != 0) {
        // The camera may have stopped taking the stored password: the next
        // pass asks it (and marks it when so).
        m_registry->markRecheck(devId);
        WriteLog(2, "%s(%d):Preview device(%s) failed, ret(%d)!!!", "Client::doubleClickedEvent", __LINE__,
                 id8.constData(), result);
        varno::ui::InfoBox(this, tr("PC Client"), tr("Preview (%1) failed !").arg(name));
    } else {
        WriteLog(0, "%s(%d):Preview device(%s) success!!!", "Client::doubleClickedEvent", __LINE__, id8.constData());
    }
}

int Client::ConnectDevice(const QString &devId, bool *started, QString *name)
{
    VARNO_ASSERT_UI_THREAD();
    if (started)
        *started = false;
    DvrListInfo_s info;
    if (!m_registry->record(devId, &info)) {
        WriteLog(3, "%s(%d):Can't find device!!!", "Client::ConnectDevice", __LINE__);
        return -1;
    }
    WriteLog(0, "[CLIENT]Finded device(%s), type(%d)!!!", devId.toUtf8().constData(), int(info.dev.p2pFlag));
    if (info.dev.p2pFlag == 1 && info.dev.password[0] == 0) {
        WriteLog(3, "%s(%d):At first, password is null!!!", "Client::ConnectDevice", __LINE__);
        varno::ui::InfoBox(this, tr("PC Client"), tr("Pls provide the camera password before visiting it"));
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = tr("PC Client");
        request.text = varno::fieldText(info.dev.devName);
        request.parent = this;
        const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
        if (answer.button == QMessageBox::Ok)
            varno::setText(info.dev.password, answer.text);
        if (info.dev.password[0] == 0) {
            WriteLog(3, "%s(%d):Device(%s) password is null!!!", "Client::ConnectDevice", __LINE__,
                     devId.toUtf8().constData());
            return kNoPassword;
        }
        emit sendDevProperty(info.dev);
        QCoreApplication::processEvents();
    }
    if (name)
        *name = varno::fieldText(info.dev.devName);
    if (started)
        *started = true;
    if (info.dev.p2pFlag == 1)
        return m_realVideo->StartStream(info.dev, true);
    OnvifAccessInfo_s access;
    std::memset(&access, 0, sizeof(access));
    std::memcpy(access.devId, info.dev.devId, sizeof(access.devId));
    std::memcpy(access.configText3, info.config.eventAddr, sizeof(access.configText3));
    access.configText3[sizeof(access.configText3) - 1] = 0;
    std::memcpy(access.mainToken, info.config.mainToken, sizeof(access.mainToken));
    access.rtspPort = 554;
    access.reserved = 0;
    std::memcpy(access.serviceAddr, info.dev.serviceAddr, sizeof(access.serviceAddr));
    return m_realVideo->StartStream(info.dev, access, true);
}

void Client::connectAction()
{
    const QByteArray id = m_selectedId.toUtf8();
    WriteLog(0, "[CLIENT]Request connect devices %s!!!", id.constData());
    if (!tellRefused(m_selectedId))
        ConnectDevice(m_selectedId);
    WriteLog(0, "[CLIENT]Connect devices %s finish!!!", id.constData());
}

void Client::connectAllAction()
{
    VARNO_ASSERT_UI_THREAD();
    WriteLog(0, "[CLIENT]Request connect all devices!!!");
    const QList<DevTreeEntry> entries = treeEntries();
    for (const DevTreeEntry &e : entries) {
        QCoreApplication::processEvents();
        if (e.state == STATE_ONLINE)
            ConnectDevice(varno::fieldText(e.devId));
    }
    WriteLog(0, "[CLIENT]Connect all devices finish!!!");
}

void Client::deleteDevAction()
{
    if (m_selectedId.isEmpty())
        return;
    // The live page answers whether the camera is in use; without one
    // nothing uses it.
    if (isSignalConnected(QMetaMethod::fromSignal(&Client::sendDevStateRequest)))
        emit sendDevStateRequest(m_selectedId);
    else
        recvDevStateReslut(false);
}

void Client::recvDevStateReslut(bool isUsed)
{
    if (isUsed) {
        varno::ui::InfoBox(this, tr("Device Management"),
                           tr("The current device is under previewing or recording playing back. "
                              "Pls stop that before removing it."));
        return;
    }
    // The selection may change while the question is open: the camera asked
    // about is the one removed.
    const QString devId = m_selectedId;
    QString name = devId;
    DvrListInfo_s record;
    if (m_registry->record(devId, &record))
        name = varno::fieldText(record.dev.devName);
    if (varno::ui::InfoBox(this, tr("Device Management"),
                           tr("Are you sure to delete the device %1 (%2)?").arg(name, devId), true)
        != QMessageBox::Yes)
        return;
    emit sendDelDevInfo(devId);
}

void Client::propertyAction()
{
    const int state = m_registry->state(m_selectedId);
    const bool refused = m_registry->refusesPassword(m_selectedId);
    if (state < 0)
        return;
    // A camera that refuses the stored password answers: its password is
    // fixed here.
    if (state != STATE_ONLINE && !refused) {
        varno::ui::InfoBox(this, tr("Setup Device"), tr("Device is offline !"));
        return;
    }
    emit sendShowProperty(m_selectedId);
}

void Client::recvShowProperty(QString devId)
{
    m_property->setDevId(devId);
    m_property->exec();
}
