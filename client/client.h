#pragma once

#include "common/devicerecords.h"
#include "common/p2pmessage.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QSize>

#include <atomic>
#include <memory>
#include <mutex>

class QCloseEvent;
class QKeyEvent;
class QMouseEvent;

namespace Ui {
class Client;
}

struct ClientP2p;

// The frameless main window and owner of the camera list. Construction
// initialises the device manager and loads the stored cameras (passwords
// deciphered); the destructor writes the list back whole (passwords
// enciphered) and releases the device manager.
class Client : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Client)

public:
    explicit Client(const char *localIp, QWidget *parent = nullptr);
    ~Client() override;

    // User-login step: keeps the user name (32-byte buffer) for the
    // operation log and records "User login".
    void userLogin(const char *user);

    // A copy of the camera list, in list order.
    QList<DvrListInfo_s> deviceList() const;
    const char *loginUser() const { return m_user; }
    bool stopRequested() const { return m_stop.load(); }

    // Peer-to-peer channel (client_p2p.cpp). startP2PRegistration runs
    // registerP2PProcFunc on the registration thread, which this object owns
    // and joins; the destructor logs out and releases the library.
    void startP2PRegistration();
    void registerP2PProcFunc();
    // The process-wide P2P library handle, 0 until initialised.
    static P2P_HANDLE p2pHandle();
    // The library's callbacks (message: user value this Client).
    static int p2pMessageCallback(int32_t type, const char *payload, int32_t length,
                                  const char *cameraId, void *user);
    static int p2pStatusCallback(int32_t event, int32_t value, int32_t reserved, int32_t user);
    bool isMaximized() const { return m_maximized; }

signals:
    void sendP2pMsg(P2pMessage_S msg);
    void sendLogInfo(LogInfo_s info);
    void sendWinCloseSignal();

private slots:
    void on_btnWinMin_clicked();
    void on_btnWinMax_clicked();
    void on_btnWinClose_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void loadDevices();
    void storeDevices();
    void recordOperation(const char *content);
    void setMaximizedLook(bool maximized);
    bool inTitleArea(const QPoint &pos) const;

    Ui::Client *ui;

    // Registry locks, taken in this order when nested: discovery results,
    // device tree entries, camera list.
    std::mutex m_searchMutex;
    std::mutex m_treeMutex;
    mutable std::mutex m_devListMutex;
    QList<DvrListInfo_s> m_devList;   // guarded by m_devListMutex

    std::atomic<bool> m_stop{false};  // set once, at close, by the user-interface thread
    bool m_asking = false;            // the close confirmation is showing
    bool m_closing = false;           // the confirmed close is under way
    char m_localIp[32];
    char m_user[32];

    bool m_maximized = false;
    bool m_dragging = false;
    QPoint m_pressOffset;
    QSize m_formSize;

    bool p2pStopRequested() const;
    // Last member: destroyed first, while the rest of the object still stands.
    std::shared_ptr<ClientP2p> m_p2p;
};
