#pragma once

#include "common/devicerecords.h"
#include "common/onvifrecords.h"
#include "common/p2pmessage.h"
#include "client/cameraregistry.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class QAboutDlg;
class QAction;
class QAddDevice;
class QAlarmSearch;
class QCloseEvent;
class QConfigMgr;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QPropertyDial;
class QPtzCtrol;
class QTreeWidgetItem;
class realvideo;
class videosearch;

namespace Ui {
class Client;
}


// The frameless main window: the device tree, the page buttons and the
// dialogs, wired to the pages and to the camera registry
// (varno::client::CameraRegistry: the camera list, probing, P2P
// registration and the store), which it owns. Construction initialises the
// device manager, loads the stored cameras and starts probing; the close
// confirmation asks probing to stop without waiting for it; the destructor
// joins it, writes the list back and releases the libraries.
class Client : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Client)

public:
    explicit Client(const char *localIp, QWidget *parent = nullptr);
    ~Client() override;

    // User-login step: keeps the user name (32-byte buffer) for the
    // operation log, hands it to the dialogs that make entries of their own
    // and records "User login".
    void userLogin(const char *user);

    // Data role of a device tree item holding the camera's device ID.
    static constexpr int kIdRole = Qt::UserRole + 1;
    // Data roles of the item's look: its state (STATE_E or the refused
    // look), and true while the camera's live window is reconnecting.
    static constexpr int kLookRole = Qt::UserRole + 2;
    static constexpr int kLiveLostRole = Qt::UserRole + 3;

    // The dialogs the window owns for the life of the program.
    QAddDevice *addDeviceDialog() const { return m_addDevice; }
    QPropertyDial *propertyDialog() const { return m_property; }
    QConfigMgr *configWindow() const { return m_config; }
    QAboutDlg *aboutDialog() const { return m_about; }
    QAlarmSearch *alarmDialog() const { return m_alarm; }

    // A copy of the camera list, in list order.
    QList<DvrListInfo_s> deviceList() const;
    // A copy of the tree entries (without their items), in tree order.
    QList<DevTreeEntry> treeEntries() const;
    // The camera answers the probing but refuses the stored password.
    bool refusesPassword(const QString &devId) const;
    // The result list of the latest discovery cycle, and the snapshot of the
    // last completed one (what the add-device button hands over).
    QList<DeviceInfo_s> searchResults() const;
    QList<DeviceInfo_s> searchSnapshot() const;

    const char *loginUser() const { return m_user; }
    bool stopRequested() const { return m_registry->stopRequested(); }
    bool isMaximized() const { return m_maximized; }
    bool soundOn() const { return m_soundOn; }
    bool isFullScreenOn() const { return m_fullScreen; }
    QString selectedDevice() const { return m_selectedId; }
    // The live page (owned).
    realvideo *liveView() const { return m_realVideo; }
    // The playback page (owned).
    videosearch *playbackView() const { return m_videoSearch; }
    // The probing thread is at work (a close asks it to stop; it ends
    // after the camera it is asking).
    bool probeThreadRunning() const { return m_registry->probing(); }
    // Probing passes finished so far (the probing thread counts them).
    int probePasses() const { return m_registry->probePasses(); }
    varno::client::CameraRegistry *registry() const { return m_registry.get(); }
    // The pause between two probing passes (default 5 s) and between two
    // registration attempts while the relay is unreachable (default 5 s).
    // Process-wide; tests shorten them.
    static void setProbeIntervalMs(int ms);
    static void setP2pRetryIntervalMs(int ms);
    // Registration attempts made so far by this window's registration thread.
    int p2pRegisterAttempts() const { return m_registry->p2pRegisterAttempts(); }

    // Discovery callback of the ONVIF discovery library (library thread;
    // user: this window).
    static int OnDiscoveryResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user);

    // Peer-to-peer registration on the registry's thread; the destructor
    // logs out and releases the library.
    void startP2PRegistration();
    // Opens every online camera on the live page as soon as probing has seen
    // them: after the first pass that finds every camera online, or after
    // the third pass with whatever is online by then (a wall display that
    // starts with its cameras showing).
    void connectAllOnStart();
    // The process-wide P2P library handle, 0 until initialised.
    static P2P_HANDLE p2pHandle();
    // The library's callbacks (message: user value this Client).
    static int p2pMessageCallback(int32_t type, const char *payload, int32_t length,
                                  const char *cameraId, void *user); // user: this window
    static int p2pStatusCallback(int32_t event, int32_t value, int32_t reserved, int32_t user);

signals:
    // A camera message. The payload's owner travels beside the record: a
    // queued delivery keeps it (and so msg.payload) alive until the
    // receiver's slot has returned, however long that slot runs. Receivers
    // may take the record alone.
    void sendP2pMsg(P2pMessage_S msg, QByteArray payloadOwner);
    void sendLogInfo(LogInfo_s info);
    void sendSearchReslutToAdd(int count, DeviceInfo_s *results);
    void sendOnLineState(STATE_E state, DvrListInfo_s info);
    void sendDevStateRequest(QString devId);
    void sendDelDevInfo(QString devId);
    void sendWinCloseSignal();
    void SendVideoWinPauseToReal(bool pause);
    void SendVideoWinPauseToVsearch(bool pause);
    void sendDevProperty(DeviceInfo_s info);
    void sendShowProperty(QString devId);
    void sendShowMenu(QPoint pos);

    // A camera record the registry took over: a new camera, or a changed
    // name, password (typed, or changed in the camera) or stream choice.
    // Emitted on the thread that made the change, after the registry, the
    // live page and the alarm log have it; pages that keep their own copy of
    // a camera's password follow it here.
    void sendDevUpdated(DvrListInfo_s info);

    // The page buttons: which page is shown (0 live, 1 playback).
    void pageChanged(int page);
    // Sound of all live windows on or off.
    void sendSoundAll(bool on);
    // The live page enters (rectangle) or leaves full screen.
    void sendFullScreen(bool on, QRect rect);

public slots:
    void on_btnWinMin_clicked();
    void on_btnWinMax_clicked();
    void on_btnWinClose_clicked();
    void on_btnRealVideo_clicked();
    void on_btnVideoSearch_clicked();
    void on_btnAlarmVideo_clicked();
    void on_btnConfigManage_clicked();
    void on_btnMute_clicked();
    void on_btnCount4_clicked();
    void on_btnCount8_clicked();
    void on_btnCount16_clicked();
    void on_btnCount25_clicked();
    void on_btnFullScreen_released();
    void on_btnAddDevice_clicked();
    void on_btnAbout_clicked();
    // A camera list to take (from the add dialog: the addresses of the
    // cameras it moved, the others keep theirs).
    void recvDevListSlot(QList<DvrListInfo_s> list);
    void recvDevProperty(DeviceInfo_s info);
    void doubleClickedEvent(QTreeWidgetItem *item);
    // The live page's answer to a double click's open (0 or the failure).
    void previewResult(QString devId, int result);
    void recvDelDevInfo(QString devId);
    void connectAction();
    void connectAllAction();
    void deleteDevAction();
    void propertyAction();
    void show_contextmenu(const QPoint &pos);
    void recvDevStateReslut(bool isUsed);
    void recvShowProperty(QString devId);
    void recvShowMenu(QPoint pos);
    // The camera's answer whether it can pan, tilt or zoom: kept with its
    // record so that it is asked once.
    void recvPtzCapability(QString devId, bool ptz);

    // Sets the selected device ID as the context menu does (for keyboard
    // use of the actions and for tests).
    void selectDevice(const QString &devId) { m_selectedId = devId; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // Gives a camera's tree item the look the registry has for it now
    // (user-interface thread; probing reports changes queued).
    void applyTreeIcon(QString devId);
    // The camera's live window is reconnecting (on) or shows pictures again.
    void liveReconnecting(QString devId, bool on);

private:
    static constexpr int kLookRefused = varno::client::CameraRegistry::kLookRefused;
    static constexpr int kLookUnaskable = varno::client::CameraRegistry::kLookUnaskable;
    static void setItemLook(QTreeWidgetItem *item, const QString &devId, int look);
    // The camera refuses the stored password: says so and where to fix it.
    bool tellRefused(const QString &devId);
    void recordOperation(const QString &content);
    void setMaximizedLook(bool maximized);
    bool inTitleArea(const QPoint &pos) const;
    void initDevTree();
    QTreeWidgetItem *addTreeItem(const DeviceInfo_s &dev, bool online);
    QTreeWidgetItem *treeItem(const QString &devId) const;
    void buildLook();
    void buildDialogs();
    void makeConnections();
    void connectRegistry();
    void checkCountButton(int count);
    void leaveFullScreen();
    // A new or changed camera record for the live and playback pages (any
    // thread).
    void passToLivePage(const DvrListInfo_s &record);
    // A new or changed camera record for every page that keeps a copy:
    // the live page, the alarm log, then sendDevUpdated.
    void deviceChanged(const DvrListInfo_s &record);
    // Opens the camera's live stream (its window is selected when it is
    // open already). Returns the stream start's result; *started tells
    // whether a start was tried (false: unknown camera or no password),
    // *name gets the camera's display name.
    int ConnectDevice(const QString &devId, bool *started = nullptr, QString *name = nullptr);

    Ui::Client *ui;
    // Pages and dialogs (children of the window).
    QAddDevice *m_addDevice = nullptr;
    QPropertyDial *m_property = nullptr;
    QConfigMgr *m_config = nullptr;
    realvideo *m_realVideo = nullptr;
    videosearch *m_videoSearch = nullptr;
    QAlarmSearch *m_alarm = nullptr;
    QAboutDlg *m_about = nullptr;
    QPtzCtrol *m_ptz = nullptr;
public:
    QPtzCtrol *ptzPanel() const { return m_ptz; }
private:
    QMenu *m_menu = nullptr;
    QAction *m_actConnect = nullptr;
    QAction *m_actConnectAll = nullptr;
    QAction *m_actDelete = nullptr;
    QAction *m_actSettings = nullptr;

    bool m_asking = false;              // the close confirmation is showing
    bool m_closing = false;             // the confirmed close is under way
    char m_localIp[32];
    mutable std::mutex m_userMutex;     // m_user (the probing thread's log entries read it)
    char m_user[32];
    QString m_selectedId;
    QHash<QString, QString> m_previewRequests; // double-clicked camera -> its name, until the open ends

    bool m_soundOn = false;
    bool m_maximized = false;
    bool m_fullScreen = false;
    bool m_dragging = false;
    QPoint m_pressOffset;
    QRect m_liveGeometry;
    QSize m_formSize;

    // Last member: destroyed first, after the pages and dialogs have gone;
    // it releases the P2P library.
    std::unique_ptr<varno::client::CameraRegistry> m_registry;
};
