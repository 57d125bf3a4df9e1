#include "playback/videosearch.h"

#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "playback/fileplay.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideoonlypb.h"
#include "playback/syncplayer.h"
#include "playback/timelinewidget.h"

#include <QHBoxLayout>
#include <QMap>
#include <QMetaType>
#include <QStackedWidget>
#include <QThread>

#include <cstring>

videosearch::videosearch(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videosearch"));
    qRegisterMetaType<QMap<QString, MEDIA_FILE_S>>("QMap<QString,MEDIA_FILE_S>");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_fileplay = new fileplay(this);
    m_fileplay->setMinimumWidth(360);
    m_fileplay->setMaximumWidth(480);
    m_stack = new QStackedWidget(this);
    m_grid = new qvideoonlypb(m_stack, 1);
    m_sync = new varno::playback::SyncPlayer(&m_fileplay->timeline()->model(), nullptr, m_stack);
    m_stack->addWidget(m_grid);
    m_stack->addWidget(m_sync);
    layout->addWidget(m_fileplay);
    layout->addWidget(m_stack, 1);
    varno::playback::TimelineWidget *timeline = m_fileplay->timeline();
    connect(timeline, &varno::playback::TimelineWidget::playRequested, this, &videosearch::playFromTimeline);
    connect(timeline, &varno::playback::TimelineWidget::syncRequested, this, &videosearch::startSync);
    connect(m_sync, &varno::playback::SyncPlayer::positionChanged, this,
            [timeline](qint64 ms) { timeline->view()->setPlayhead(ms / 1000); });
    connect(m_sync, &varno::playback::SyncPlayer::closed, this, [this] { showSync(false); });

    connect(m_fileplay, &fileplay::SendFilePathToPlay, this, &videosearch::RecvFilePathFromTable);
    connect(m_fileplay, &fileplay::sendDevProperty, this, &videosearch::recvDevProperty);
    connect(m_fileplay, &fileplay::SendVideoWinPause, this, &videosearch::RecvVideoWinPause);
    connect(this, &videosearch::sendVideoWinPause, m_grid, &qvideoonlypb::RecvPauseFromClient);
    connect(this, &videosearch::sendVideoWinPause, m_sync->grid(), &qvideoonlypb::RecvPauseFromClient);
    connect(this, &videosearch::sendDelDevInfo, m_fileplay, &fileplay::recvDelDevInfo);
    connect(this, &videosearch::sendDelDevInfo, m_grid, [this](QString id) {
        m_grid->removeDevInfo(id);
        m_sync->grid()->removeDevInfo(id);
    });
    connect(this, &videosearch::sendWinCloseSignal, m_fileplay, &fileplay::recvWinCloseSlot);
}

videosearch::~videosearch()
{
    // The synced player reads the panel's timeline: it goes first.
    delete m_stack;
    m_stack = nullptr;
    m_grid = nullptr;
    m_sync = nullptr;
}

void videosearch::setDevInfo(const DvrListInfo_s &info)
{
    m_grid->setDevInfo(info);
    m_sync->grid()->setDevInfo(info);
    m_fileplay->updateDeviceInfo(info.dev);
}

void videosearch::RecvFilePathFromTable(QString filename, int videosrc, MEDIA_FILE_S mediafile)
{
    showSync(false);
    m_grid->playFile(filename, videosrc, mediafile);
}

bool videosearch::syncShown() const
{
    return m_stack->currentWidget() == m_sync;
}

void videosearch::showSync(bool show)
{
    if (show == syncShown())
        return;
    if (show) {
        // The single window's file gives way (a camera sends one file at a time).
        for (int i = 0; i < m_grid->windowCount(); ++i)
            if (m_grid->entry(i).inUse)
                m_grid->RecvCloseFromMul(m_grid->window(i)->winId());
    } else {
        m_sync->stop();
        m_fileplay->timeline()->view()->setPlayhead(-1);
    }
    m_stack->setCurrentWidget(show ? static_cast<QWidget *>(m_sync) : m_grid);
}

// A click on the timeline: in synced play on one of its cameras the clock
// moves there; otherwise the file holding that second plays in the window,
// a local one from that second, a camera's from its start.
void videosearch::playFromTimeline(const QString &camera, qint64 second)
{
    VARNO_ASSERT_UI_THREAD();
    if (syncShown() && m_sync->sync()->running() && m_sync->sync()->cameras().contains(camera)) {
        m_sync->sync()->seek(second * 1000);
        return;
    }
    const std::optional<varno::playback::TimelineHit> hit = m_fileplay->timeline()->model().fileAt(camera, second);
    if (!hit)
        return;
    const varno::playback::TimelineFile &f = *hit->file;
    const bool local = f.source == varno::playback::TimelineSource::Local;
    showSync(false);
    m_grid->playFileAt(f.key, local ? 0 : 1, f.file, local ? hit->offset : 0);
}

void videosearch::startSync(const QStringList &cameras, qint64 second)
{
    VARNO_ASSERT_UI_THREAD();
    QHash<QString, QString> names;
    for (const QString &c : cameras)
        names.insert(c, m_fileplay->timeline()->view()->nameOf(c));
    showSync(true);
    if (!m_sync->start(cameras, second, names))
        showSync(false);
}

void videosearch::RecvCapPathFromConfig(QString capPath)
{
    m_grid->setCapPath(capPath);
    m_sync->grid()->setCapPath(capPath);
}

void videosearch::recvP2pMessage(P2pMessage_S p2pMsg)
{
    VARNO_ASSERT_UI_THREAD();
    switch (p2pMsg.type) {
    case P2P_MSG_RECORD_LIST:
    case P2P_MSG_RECORD_LIST_EX:
    case P2P_MSG_DOWNLOAD_NOTICE:
        m_fileplay->handleP2pMessage(p2pMsg);
        break;
    case P2P_MSG_PLAY_LENGTH:
        if (p2pMsg.payload && p2pMsg.payloadLen >= int32_t(sizeof(int32_t))) {
            int32_t seconds = 0;
            std::memcpy(&seconds, p2pMsg.payload, sizeof(seconds));
            char peer[sizeof(p2pMsg.devId) + 1] = {};
            std::memcpy(peer, p2pMsg.devId, sizeof(p2pMsg.devId));
            m_grid->recvPlayLength(peer, seconds);
        }
        break;
    default:
        break;
    }
}

void videosearch::recvDelDevInfo(QString strDevId)
{
    emit sendDelDevInfo(strDevId);
}

void videosearch::recvWinCloseSlot()
{
    emit sendWinCloseSignal();
}

void videosearch::recvDevProperty(DeviceInfo_s deviceInfo)
{
    emit sendDevProperty(deviceInfo);
}

void videosearch::RecvVideoWinPause(bool bPause)
{
    emit sendVideoWinPause(bPause);
}
