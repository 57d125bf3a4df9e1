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
#include "device/passwordcipher.h"
#include "device/qadddevice.h"
#include "device/qpasswd.h"
#include "device/qpropertydial.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "common/uithread.h"
#include "playback/storageaccess.h"
#include "playback/fileplay.h"
#include "playback/videosearch.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "platform/onvif/onvif_event_sdk.h"
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
    m_stop = false;

    ONVIF_EVENT_SDK_Startup(m_localIp);
    ONVIF_DISCOVERY_SDK_Startup(m_localIp);

    const int ret = SDK_DVRMGR_Init(varno::installDir().c_str());
    if (ret != 0)
        WriteLog(2, "%s(%d):SDK_DVRMGR_Init failed, ret(%d)!!!", "Client::Client", 63, ret);
    m_searchBuf.reset(new (std::nothrow) DeviceInfo_s[kMaxDevices]());
    m_snapBuf.reset(new (std::nothrow) DeviceInfo_s[kMaxDevices]());
    if (!m_searchBuf || !m_snapBuf)
        WriteLog(1, "%s(%d):New failed!!!", "Client::Client", __LINE__);
    loadDevices();
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

    m_formSize = size();
    setGeometry(CDesktopInfo::instance()->currentMonitorRect());
    setMaximizedLook(true);
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        std::memset(m_user, 0, sizeof(m_user));
    }
    startProbeThread();
}

Client::~Client()
{
    // The probing thread normally ended at the close confirmation; a window
    // destroyed without it must not leave the thread running on a dead object.
    stopProbeThread();
    // The live page closes its streams while the libraries are still up.
    delete m_realVideo;
    m_realVideo = nullptr;
    // So does the playback page with its playbacks and downloads.
    delete m_videoSearch;
    m_videoSearch = nullptr;
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(nullptr, nullptr);
    ONVIF_DISCOVERY_SDK_Cleanup();
    ONVIF_EVENT_SDK_Cleanup();
    storeDevices("Client::~Client");
    delete m_addDevice;
    m_addDevice = nullptr;
    SDK_DVRMGR_UnInit();
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
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d < 0)
            return false;
        *out = m_devList[d];
        return true;
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
// Store

void Client::loadDevices()
{
    std::unique_ptr<DeviceInfo_s[]> records(new (std::nothrow) DeviceInfo_s[kMaxDevices]());
    if (!records) {
        WriteLog(1, "%s(%d):New failed!!!", "Client::Client", __LINE__);
        return;
    }
    int count = 0;
    const int ret = SDK_DVRMGR_GetDevInfo(records.get(), &count);
    if (ret != 0)
        WriteLog(2, "%s(%d):GetDevInfo failed, ret(%d)!!!", "Client::Client", 77, ret);
    if (count < 0)
        count = 0;
    if (count > kMaxDevices)
        count = kMaxDevices;

    std::lock_guard<std::mutex> lock(m_devListMutex);
    for (int i = 0; i < count; ++i) {
        DvrListInfo_s entry;
        std::memset(&entry, 0, sizeof(entry));
        entry.dev = records[size_t(i)];
        // The stored field may fill all 64 bytes: hand the cipher a
        // terminated copy.
        char cipherText[kPasswordSize + 1] = {};
        std::memcpy(cipherText, entry.dev.password, kPasswordSize);
        char plain[kPasswordSize] = {};
        if (decode(cipherText, plain) == 0) {
            std::memset(entry.dev.password, 0, kPasswordSize);
            std::memcpy(entry.dev.password, plain, kPasswordSize);
        }
        m_devList.append(entry);
    }
}

void Client::storeDevices(const char *caller)
{
    // The whole list is rewritten in one transaction: a crash at any point
    // leaves either the old list or the new one in the store.
    int ret = SDK_DVRMGR_BeginRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):Begin rewrite failed, ret(%d)!!!", caller, __LINE__, ret);
        return;
    }
    ret = SDK_DVRMGR_DelDevAll();
    if (ret != 0) {
        WriteLog(2, "%s(%d):DelDevAll failed, ret(%d)!!!", caller, __LINE__, ret);
        SDK_DVRMGR_RollbackRewrite();
        return;
    }
    QList<DvrListInfo_s> list;
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        list = m_devList;
    }
    for (const DvrListInfo_s &entry : std::as_const(list)) {
        DeviceInfo_s dev = entry.dev;
        char plain[kPasswordSize + 1] = {};
        std::memcpy(plain, dev.password, kPasswordSize);
        char cipherText[kPasswordSize] = {};
        if (encode(plain, cipherText) == 0) {
            std::memset(dev.password, 0, kPasswordSize);
            std::memcpy(dev.password, cipherText, kPasswordSize);
        }
        if (SDK_DVRMGR_AddDevice(dev) != 0)
            WriteLog(2, "%s(%d):Add device(%s) to file error!!!", caller, 199,
                     varno::fieldText(dev.devId).toUtf8().constData());
    }
    ret = SDK_DVRMGR_CommitRewrite();
    if (ret != 0) {
        WriteLog(2, "%s(%d):Commit rewrite failed, ret(%d)!!!", caller, __LINE__, ret);
        SDK_DVRMGR_RollbackRewrite();
    }
}

// ---------------------------------------------------------------------------
// Registry

QList<DvrListInfo_s> Client::deviceList() const
{
    std::lock_guard<std::mutex> lock(m_devListMutex);
    return m_devList;
}

QList<DevTreeEntry> Client::treeEntries() const
{
    std::lock_guard<std::mutex> lock(m_treeMutex);
    QList<DevTreeEntry> out = m_treeList;
    for (DevTreeEntry &e : out)
        e.item = nullptr;
    return out;
}

int Client::treeIndexOf(const QString &devId) const
{
    const QByteArray id = devId.toUtf8();
    for (int i = 0; i < m_treeList.size(); ++i)
        if (varno::fieldText(m_treeList[i].devId).toUtf8() == id)
            return i;
    return -1;
}

int Client::treeIndexOfItem(const QTreeWidgetItem *item) const
{
    for (int i = 0; i < m_treeList.size(); ++i)
        if (m_treeList[i].item == item)
            return i;
    return -1;
}

int Client::devIndexOf(const QString &devId) const
{
    const QByteArray id = devId.toUtf8();
    for (int i = 0; i < m_devList.size(); ++i)
        if (varno::fieldText(m_devList[i].dev.devId).toUtf8() == id)
            return i;
    return -1;
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

bool Client::refusesPassword(const QString &devId) const
{
    std::lock_guard<std::mutex> lock(m_treeMutex);
    return m_authRefused.contains(devId);
}

bool Client::tellRefused(const QString &devId)
{
    bool refused = false;
    QString name;
    {
        m_pause = true;
        std::lock_guard<std::mutex> lock(m_treeMutex);
        m_pause = false;
        refused = m_authRefused.contains(devId);
        const int t = treeIndexOf(devId);
        if (t >= 0)
            name = varno::fieldText(m_treeList[t].devName);
    }
    if (!refused)
        return false;
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
    const QList<DvrListInfo_s> list = deviceList();
    std::lock_guard<std::mutex> lock(m_treeMutex);
    for (const DvrListInfo_s &d : list) {
        DevTreeEntry entry;
        std::memset(&entry, 0, sizeof(entry));
        std::memcpy(entry.devId, d.dev.devId, sizeof(entry.devId));
        std::memcpy(entry.devName, d.dev.devName, sizeof(entry.devName));
        entry.devId[sizeof(entry.devId) - 1] = 0;
        entry.devName[sizeof(entry.devName) - 1] = 0;
        entry.state = STATE_OFFLINE;
        entry.item = addTreeItem(d.dev, false);
        m_treeList.append(entry);
    }
    if (ui->treeDevice->invisibleRootItem()->childCount() > 0)
        ui->treeDevice->expandAll();
}

void Client::recvDevListSlot(QList<DvrListInfo_s> list)
{
    int refused = 0;
    QList<DvrListInfo_s> changedList;   // known cameras the list changed
    for (const DvrListInfo_s &in : std::as_const(list)) {
        const QString id = varno::fieldText(in.dev.devId);
        m_pause = true;
        std::unique_lock<std::mutex> tree(m_treeMutex);
        const int t = treeIndexOf(id);
        if (t >= 0) {
            DevTreeEntry &entry = m_treeList[t];
            if (entry.state != STATE_ONLINE || m_authRefused.contains(id)) {
                entry.state = STATE_ONLINE;
                m_authRefused.remove(id);
                m_unaskable.remove(id);
                if (entry.item)
                    setItemLook(entry.item, id, STATE_ONLINE);
            }
            m_pause = false;
            tree.unlock();
            std::lock_guard<std::mutex> lock(m_devListMutex);
            const int d = devIndexOf(id);
            if (d < 0)
                continue;
            DvrListInfo_s &stored = m_devList[d];
            bool changed = true;
            if (std::strncmp(stored.dev.ipAddr, in.dev.ipAddr, sizeof(stored.dev.ipAddr)) != 0) {
                std::memcpy(stored.dev.ipAddr, in.dev.ipAddr, sizeof(stored.dev.ipAddr));
                std::memcpy(stored.dev.serviceAddr, in.dev.serviceAddr, sizeof(stored.dev.serviceAddr));
                stored.config = in.config;
            } else if (stored.dev.p2pFlag != in.dev.p2pFlag
                       || std::memcmp(stored.dev.password, in.dev.password, sizeof(stored.dev.password)) != 0
                       || std::memcmp(stored.dev.p2pId, in.dev.p2pId, sizeof(stored.dev.p2pId)) != 0) {
                stored.dev.p2pFlag = in.dev.p2pFlag;
                std::memcpy(stored.dev.password, in.dev.password, sizeof(stored.dev.password));
                std::memcpy(stored.dev.p2pId, in.dev.p2pId, sizeof(stored.dev.p2pId));
            } else {
                changed = false;
            }
            if (changed)
                changedList.append(stored);
            continue;
        }
        m_pause = false;
        tree.unlock();
        {
            std::lock_guard<std::mutex> lock(m_devListMutex);
            // The store's read buffer holds kMaxDevices records: the list
            // never grows beyond them.
            if (m_devList.size() >= kMaxDevices) {
                WriteLog(3, "%s(%d):Device list full, device(%s) refused!!!", "Client::recvDevListSlot", __LINE__,
                         id.toUtf8().constData());
                ++refused;
                continue;
            }
            m_devList.append(in);
        }
        QTreeWidgetItem *item = addTreeItem(in.dev, true);
        DevTreeEntry entry;
        std::memset(&entry, 0, sizeof(entry));
        varno::setText(entry.devId, id);
        varno::setText(entry.devName, varno::fieldText(in.dev.devName));
        entry.state = STATE_ONLINE;
        entry.item = item;
        m_pause = true;
        {
            std::lock_guard<std::mutex> lock(m_treeMutex);
            m_treeList.append(entry);
        }
        m_pause = false;
        deviceChanged(in);
    }
    for (const DvrListInfo_s &c : std::as_const(changedList))
        deviceChanged(c);
    m_property->updateDevList(deviceList());
    ui->treeDevice->expandAll();
    if (refused > 0)
        varno::ui::InfoBox(this, tr("Device Management"),
                           tr("At most %1 cameras can be listed: %2 camera(s) not added.")
                               .arg(kMaxDevices).arg(refused));
}

void Client::recvDevProperty(DeviceInfo_s info)
{
    const QString id = varno::fieldText(info.devId);
    m_pause = true;
    {
        std::lock_guard<std::mutex> lock(m_treeMutex);
        const int t = treeIndexOf(id);
        if (t >= 0) {
            DevTreeEntry &entry = m_treeList[t];
            std::memcpy(entry.devName, info.devName, sizeof(entry.devName));
            entry.devName[sizeof(entry.devName) - 1] = 0;
            if (entry.item)
                entry.item->setText(0, varno::fieldText(entry.devName));
        }
    }
    m_pause = false;
    bool found = false;
    DvrListInfo_s updated;
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(id);
        if (d >= 0) {
            DeviceInfo_s &stored = m_devList[d].dev;
            if (std::memcmp(stored.devName, info.devName, sizeof(stored.devName)) != 0)
                std::memcpy(stored.devName, info.devName, sizeof(stored.devName));
            if (std::memcmp(stored.password, info.password, sizeof(stored.password)) != 0) {
                std::memcpy(stored.password, info.password, sizeof(stored.password));
                // The next pass asks the camera with the new password.
                m_recheck.insert(id);
            }
            // The live page reports the stream the user switched to here.
            if (info.streamType == 0 || info.streamType == 1)
                stored.streamType = info.streamType;
            updated = m_devList[d];
            found = true;
        }
    }
    if (found) {
        m_addDevice->updateDevInfo(updated);
        m_property->updateDevInfo(updated);
    }
    storeDevices("Client::recvDevProperty");
    if (found)
        deviceChanged(updated);
}

void Client::recvPtzCapability(QString devId, bool ptz)
{
    VARNO_ASSERT_UI_THREAD();
    const char caps = ptz ? 2 : 1;
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d < 0 || m_devList[d].dev.ptzCaps == caps)
            return;
        m_devList[d].dev.ptzCaps = caps;
    }
    storeDevices("Client::recvPtzCapability");
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
    m_pause = true;
    {
        std::lock_guard<std::mutex> lock(m_treeMutex);
        const int t = treeIndexOf(devId);
        if (t >= 0) {
            WriteLog(0, "[CLIENT]Finded item and remove!!!");
            delete m_treeList[t].item;
            m_treeList.removeAt(t);
        }
        m_authRefused.remove(devId);
        m_unaskable.remove(devId);
        m_pause = false;
    }
    bool erased = false;
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d >= 0) {
            WriteLog(0, "[CLIENT]Finded device(%s) and erase!!!", id.constData());
            m_devList.removeAt(d);
            erased = true;
        }
        m_recheck.remove(devId);
    }
    // The store follows at once: left until the next rewrite, the camera's
    // row would still be there when it is added again, which appends a
    // second one.
    if (erased)
        storeDevices("Client::recvDelDevInfo");
    if (m_selectedId == devId)
        m_selectedId.clear();
    WriteLog(0, "[CLIENT]Delete device(%s) finished!!!", id.constData());
}

void Client::liveReconnecting(QString devId, bool on)
{
    QTreeWidgetItem *root = ui->treeDevice->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem *item = root->child(i);
        if (item->data(0, kIdRole).toString() != devId)
            continue;
        item->setData(0, kLiveLostRole, on);
        setItemLook(item, devId, item->data(0, kLookRole).toInt());
    }
}

void Client::applyTreeIcon(QString devId, int state)
{
    // The probing thread holds the tree lock for a whole pass; when it is
    // free the entry's own state decides, otherwise the state it reported.
    std::unique_lock<std::mutex> lock(m_treeMutex, std::try_to_lock);
    QTreeWidgetItem *item = nullptr;
    if (lock.owns_lock()) {
        const int t = treeIndexOf(devId);
        if (t < 0)
            return;
        state = m_authRefused.contains(devId) ? kLookRefused : m_treeList[t].state;
        if (state == STATE_OFFLINE && m_unaskable.contains(devId))
            state = kLookUnaskable;
        item = m_treeList[t].item;
    } else {
        QTreeWidgetItem *root = ui->treeDevice->invisibleRootItem();
        for (int i = 0; i < root->childCount(); ++i)
            if (root->child(i)->data(0, kIdRole).toString() == devId)
                item = root->child(i);
    }
    if (item)
        setItemLook(item, devId, state);
}

// ---------------------------------------------------------------------------
// Operation log

void Client::userLogin(const char *user)
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
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
        std::lock_guard<std::mutex> lock(m_stopMutex);
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
    stopProbeThread();
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
    // dialog reads a copy taken under the lock.
    std::vector<DeviceInfo_s> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_searchMutex);
        if (m_snapBuf && m_snapCount > 0)
            snapshot.assign(m_snapBuf.get(), m_snapBuf.get() + m_snapCount);
    }
    const int count = int(snapshot.size());
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
    {
        std::lock_guard<std::mutex> lock(m_treeMutex);
        const int t = treeIndexOfItem(item);
        if (t < 0)
            return;
        m_selectedId = varno::fieldText(m_treeList[t].devId);
    }
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
    QString id;
    {
        m_pause = true;
        std::lock_guard<std::mutex> lock(m_treeMutex);
        m_pause = false;
        const int t = treeIndexOfItem(item);
        if (t < 0) {
            WriteLog(3, "%s(%d):Can't find item!!!", "Client::doubleClickedEvent", __LINE__);
            return;
        }
        id = varno::fieldText(m_treeList[t].devId);
        if (m_treeList[t].state != STATE_ONLINE && !m_authRefused.contains(id)) {
            WriteLog(0, "[CLIENT]Double clicked to start preview finished!!!");
            return;
        }
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
        {
            std::lock_guard<std::mutex> lock(m_devListMutex);
            m_recheck.insert(devId);
        }
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
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d < 0) {
            WriteLog(3, "%s(%d):Can't find device!!!", "Client::ConnectDevice", __LINE__);
            return -1;
        }
        info = m_devList[d];
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
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d >= 0)
            name = varno::fieldText(m_devList[d].dev.devName);
    }
    if (varno::ui::InfoBox(this, tr("Device Management"),
                           tr("Are you sure to delete the device %1 (%2)?").arg(name, devId), true)
        != QMessageBox::Yes)
        return;
    emit sendDelDevInfo(devId);
}

void Client::propertyAction()
{
    int state = -1;
    bool refused = false;
    {
        m_pause = true;
        std::lock_guard<std::mutex> lock(m_treeMutex);
        m_pause = false;
        const int t = treeIndexOf(m_selectedId);
        if (t >= 0)
            state = m_treeList[t].state;
        refused = m_authRefused.contains(m_selectedId);
    }
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
