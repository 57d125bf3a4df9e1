#pragma once

#include "common/devicerecords.h"
#include "common/mediarecords.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>

#include <memory>
#include <mutex>

class qmediaplay;
class qmultivideopb;
namespace varno::playback {
class PlaybackController;
}
class QAction;
class QGridLayout;
class QMenu;
class QTimer;
class QTipWidget;

// The playback windows of the page. Chooses the window a file plays in,
// creates its engine, turns the engine's progress into slider and toolbar
// updates, watches each engine for stalls (every 80 ms, on the
// user-interface thread, because it switches the windows' painting), takes
// snapshots and resets windows. Its engines belong to the playback
// controller, which starts, stops and deletes them on its job thread; a
// window whose start runs shows the file's title and takes no requests.
class qvideoonlypb : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(qvideoonlypb)

public:
    // Play entry of a window.
    struct PlayEntry
    {
        qmediaplay *engine = nullptr;
        char devId[64] = {};
        char p2pId[32] = {};
        uint32_t channel = 0;
        uint32_t index = 0;
        bool inUse = false;
        bool progressSeen = false;
        uint32_t lastCount = 0;
        uint32_t state = 0;    // 1 waiting for the first frame, 2 playing, 3 stalled
        bool ended = false;    // the end of the file reached: play starts it again
        bool opening = false;  // its start runs on the playback controller's thread
        quint64 ticket = 0;    // the start's ticket
        QString fileName;
        int lastLength = -1;
        int startSecond = 0;   // sought to once the start succeeded
        bool startPaused = false;
    };

    explicit qvideoonlypb(QWidget *parent = nullptr, int count = 1);
    ~qvideoonlypb() override;

    // Starts the file in a window: 0 once its start is handed to the
    // playback controller (a failure comes back through it and frees the
    // window again).
    int playFile(const QString &filename, int videosrc, const MEDIA_FILE_S &mediafile);
    // The same from a second inside the file; window >= 0 plays it in that
    // window (what played there is closed; the rule of one camera file at a
    // time is then the caller's), paused: it waits on its first picture.
    int playFileAt(const QString &filename, int videosrc, const MEDIA_FILE_S &mediafile, int startSecond,
                   int window = -1, bool paused = false);
    varno::playback::PlaybackController *controller() const { return m_player; }
    void ResetPlayHash(int winId);
    // A camera's record: playback reads its P2P flag, P2P ID and password.
    void setDevInfo(const DvrListInfo_s &info);
    void removeDevInfo(const QString &devId);
    void setCapPath(const QString &path);
    QString capPath() const;
    // Message type 14 (any thread): the length of the camera file played.
    void recvPlayLength(const char *peerId, int seconds);

    // The engine callback (engine threads).
    static int engineCallback(int length, int position, int code, qmediaplay *engine, void *user);

    int windowCount() const { return m_windows.size(); }
    qmultivideopb *window(int index) const { return m_windows.value(index); }
    int currentIndex() const { return m_current; }
    // A copy of a window's entry (tests).
    PlayEntry entry(int index) const;
    qmediaplay *engineOf(int index) const;
    bool anyPlaying() const;
    QTipWidget *tipWidget() const { return m_tip; }
    // The user logged in: the windows take the picture shape this user chose.
    void setUserName(const QString &user);
    // The context menu's choice: pictures letter-boxed to their own shape
    // (the default) or stretched to the window; kept per user.
    void setKeepAspect(bool on);
    bool keepAspect() const { return m_keepAspect; }
    QAction *aspectAction() const { return m_aspectAction; }
    // Runs one watchdog pass now (tests).
    void watchdogPass();

signals:
    void SendValue(int index, int count);
    void SendPlayView(int index, bool view);
    void SendUpdate();
    void SendMsgbox(QString strTitle, QString strMsg);
    void SendRangeToWin(int index, int length);
    void SendPlayEnded(int index);
    // A snapshot was saved (path) or failed (empty path).
    void snapshotTaken(QString path, int result);

public slots:
    void RecvValue(int index, int count);
    void RecvPlayView(int index, bool view);
    void RecvValueFromMul(int winId, int value);
    void RecvCloseFromMul(int winId);
    void RecvPauseFromMul(int winId, bool pause);
    void RecvPauseFromClient(bool pause);
    void RecvSpeedFromMul(int winId, float speed);
    void RecvUpdate();
    void RecvMsgbox(QString strTitle, QString strMsg);
    void RecvSnapFromMul(int winId);
    void RecvSeekFromMul(int winId, bool bSeek);
    void RecvStepFromMul(int winId);
    void RecvRangeToWin(int index, int length);
    // The end of a file: the window waits with the play button shown.
    void RecvPlayEnded(int index);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Stream
    {
        char p2pFlag = 0;
        char p2pId[32] = {};
        char password[64] = {};
    };

    void callbackViewChange(int winId, bool view);
    void selectWindow(int index);
    void toggleZoom(int winId);
    int indexOfWin(int winId) const;
    qmediaplay *usableEngine(int winId) const;
    // The started window's engine, its file no longer counted as ended; null
    // for a window that is empty or still opening.
    qmediaplay *engineToSeek(int winId);
    // Plays an ended file again from its start; false when it had not ended.
    bool replayEnded(int winId);
    // Moves a started window's file to the second.
    void seekWindow(int winId, int second);
    void engineStarted(quint64 ticket, int result);
    void applyKeepAspect(bool on);

    QList<qmultivideopb *> m_windows;
    QGridLayout *m_grid = nullptr;
    int m_current = 0;
    bool m_zoom = false;
    QString m_capPath;
    mutable std::mutex m_mutex;      // guards m_entries and m_streams
    QHash<int, PlayEntry> m_entries; // keyed by winId
    QHash<QString, Stream> m_streams;
    QTimer *m_watchdog = nullptr;
    QTipWidget *m_tip = nullptr;
    bool m_suspended = false;
    varno::playback::PlaybackController *m_player = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_aspectAction = nullptr;
    QString m_user;
    bool m_keepAspect = true;
};
