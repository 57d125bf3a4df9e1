#include "playback/videosearch.h"

#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "live/liveviewsettings.h"
#include "playback/fileplay.h"
#include "playback/qvideoonlypb.h"

#include <QHBoxLayout>
#include <QMap>
#include <QMetaType>
#include <QSplitter>
#include <QThread>
#include <QTimer>

#include <cstring>

namespace {
constexpr int kMinPanelWidth = 360;
constexpr int kDefaultPanelWidth = 600;
} // namespace

videosearch::videosearch(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videosearch"));
    qRegisterMetaType<QMap<QString, MEDIA_FILE_S>>("QMap<QString,MEDIA_FILE_S>");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("playbackSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(4);
    m_fileplay = new fileplay(m_splitter);
    m_fileplay->setMinimumWidth(kMinPanelWidth);
    m_grid = new qvideoonlypb(m_splitter, 1);
    m_grid->setMinimumWidth(kMinPanelWidth);
    m_splitter->addWidget(m_fileplay);
    m_splitter->addWidget(m_grid);
    // A wider window gives the room to the pictures.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kDefaultPanelWidth, 1000});
    layout->addWidget(m_splitter);
    // The width is written once the user lets go of the handle for a moment,
    // not for every pixel of a drag.
    m_widthSave = new QTimer(this);
    m_widthSave->setSingleShot(true);
    m_widthSave->setInterval(300);
    connect(m_widthSave, &QTimer::timeout, this, &videosearch::savePanelWidth);
    connect(m_splitter, &QSplitter::splitterMoved, this, &videosearch::panelMoved);

    connect(m_fileplay, &fileplay::SendFilePathToPlay, this, &videosearch::RecvFilePathFromTable);
    connect(m_fileplay, &fileplay::sendDevProperty, this, &videosearch::recvDevProperty);
    connect(m_fileplay, &fileplay::SendVideoWinPause, this, &videosearch::RecvVideoWinPause);
    connect(this, &videosearch::sendVideoWinPause, m_grid, &qvideoonlypb::RecvPauseFromClient);
    connect(this, &videosearch::sendDelDevInfo, m_fileplay, &fileplay::recvDelDevInfo);
    connect(this, &videosearch::sendDelDevInfo, m_grid, [this](QString id) { m_grid->removeDevInfo(id); });
    connect(this, &videosearch::sendWinCloseSignal, m_fileplay, &fileplay::recvWinCloseSlot);
}

videosearch::~videosearch()
{
    if (m_widthSave->isActive())
        savePanelWidth();
}

void videosearch::setUserName(const QString &user)
{
    VARNO_ASSERT_UI_THREAD();
    if (m_widthSave->isActive()) {
        m_widthSave->stop();
        savePanelWidth();
    }
    m_user = user;
    m_grid->setUserName(user);
    const int width = varno::live::LiveViewSettings::playbackPanelWidth(user);
    const int total = qMax(m_splitter->width(), width + kMinPanelWidth + m_splitter->handleWidth());
    const int panel = width > 0 ? width : kDefaultPanelWidth;
    m_splitter->setSizes({panel, qMax(kMinPanelWidth, total - panel - m_splitter->handleWidth())});
}

void videosearch::panelMoved()
{
    m_widthSave->start();
}

void videosearch::savePanelWidth()
{
    if (!m_user.isEmpty())
        varno::live::LiveViewSettings::setPlaybackPanelWidth(m_user, m_splitter->sizes().value(0));
}

void videosearch::setDevInfo(const DvrListInfo_s &info)
{
    m_grid->setDevInfo(info);
    m_fileplay->updateDeviceInfo(info.dev);
}

void videosearch::RecvFilePathFromTable(QString filename, int videosrc, MEDIA_FILE_S mediafile)
{
    m_grid->playFile(filename, videosrc, mediafile);
}

void videosearch::RecvCapPathFromConfig(QString capPath)
{
    m_grid->setCapPath(capPath);
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
