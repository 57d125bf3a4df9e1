#pragma once

#include "common/devicerecords.h"
#include "common/mediarecords.h"
#include "common/p2pmessage.h"

#include <QString>
#include <QWidget>

class QStackedWidget;
class fileplay;
class qvideoonlypb;
namespace varno::playback {
class SyncPlayer;
}

// The "Recordings and Playback" page: the search panel on the left, the
// playback window on the right.
class videosearch : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(videosearch)

public:
    explicit videosearch(QWidget *parent = nullptr);
    ~videosearch() override;

    // A new or changed camera (user-interface thread): the playback
    // window's stream table and the panel's camera list.
    void setDevInfo(const DvrListInfo_s &info);

    fileplay *panel() const { return m_fileplay; }
    qvideoonlypb *grid() const { return m_grid; }
    // Synced playback of cameras picked on the timeline, shown in place of
    // the single window while it runs.
    varno::playback::SyncPlayer *syncPlayer() const { return m_sync; }
    bool syncShown() const;

signals:
    void sendDelDevInfo(QString strDevId);
    void sendWinCloseSignal();
    void sendDevProperty(DeviceInfo_s deviceInfo);
    void sendVideoWinPause(bool bPause);

public slots:
    void RecvFilePathFromTable(QString filename, int videosrc, MEDIA_FILE_S mediafile);
    void RecvCapPathFromConfig(QString capPath);
    // Camera messages, queued to the user-interface thread (the payload's
    // owner travels with the signal).
    void recvP2pMessage(P2pMessage_S p2pMsg);
    void recvDelDevInfo(QString strDevId);
    void recvWinCloseSlot();
    void recvDevProperty(DeviceInfo_s deviceInfo);
    void RecvVideoWinPause(bool bPause);

private:
    void playFromTimeline(const QString &camera, qint64 second);
    void startSync(const QStringList &cameras, qint64 second);
    void showSync(bool show);

    fileplay *m_fileplay = nullptr;
    qvideoonlypb *m_grid = nullptr;
    QStackedWidget *m_stack = nullptr;
    varno::playback::SyncPlayer *m_sync = nullptr;
};
