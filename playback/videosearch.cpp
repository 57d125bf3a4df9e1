#include "playback/videosearch.h"

#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "playback/fileplay.h"
#include "playback/qvideoonlypb.h"

#include <QHBoxLayout>
#include <QMap>
#include <QMetaType>
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
    m_grid = new qvideoonlypb(this, 1);
    layout->addWidget(m_fileplay);
    layout->addWidget(m_grid, 1);

    connect(m_fileplay, &fileplay::SendFilePathToPlay, this, &videosearch::RecvFilePathFromTable);
    connect(m_fileplay, &fileplay::sendDevProperty, this, &videosearch::recvDevProperty);
    connect(m_fileplay, &fileplay::SendVideoWinPause, this, &videosearch::RecvVideoWinPause);
    connect(this, &videosearch::sendVideoWinPause, m_grid, &qvideoonlypb::RecvPauseFromClient);
    connect(this, &videosearch::sendDelDevInfo, m_fileplay, &fileplay::recvDelDevInfo);
    connect(this, &videosearch::sendDelDevInfo, m_grid, [this](QString id) { m_grid->removeDevInfo(id); });
    connect(this, &videosearch::sendWinCloseSignal, m_fileplay, &fileplay::recvWinCloseSlot);
}

videosearch::~videosearch() = default;

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
