#include "live/qvideoonly.h"

#include "common/logfile.h"
#include "common/uithread.h"
#include "common/ui/infobox.h"
#include "live/liveviewsettings.h"
#include "live/qmultivideo.h"
#include "live/qtipwidget.h"
#include "live/qvideohand.h"
#include "live/qvideoplay.h"
#include "live/videosurface.h"
#include "record/recordingcontroller.h"
#include "resources/resourcepath.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QThread>
#include <QToolButton>

namespace {

// The recorder's report codes (record/qmediarealrecord.h).
constexpr int kRecordFileCreated = -1043;
constexpr int kRecordAlarmLimit = -1044;
constexpr int kRecordWriteFailed = -1027;
constexpr int kRecordNoSavePath = -259;
constexpr int kRecordCoverFailed = -1049;
constexpr int kRecordDiskGone = -1050;
constexpr int kRecordNoDiskLeft = -1051;
constexpr int kRecordNotWritable = -1052;

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

// The stream key of a device ID: "urn:uuid:" or "urn:" taken off the front.
QString streamKey(const QString &id)
{
    if (id.startsWith(QLatin1String("urn:uuid:")))
        return id.mid(9);
    if (id.startsWith(QLatin1String("urn:")))
        return id.mid(4);
    return id;
}

int gridSide(int count)
{
    switch (count) {
    case 4:
        return 2;
    case 25:
        return 5;
    default:
        return 4; // 8 and 16
    }
}

} // namespace

QVideoOnly::QVideoOnly(int count, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videoOnly"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("QVideoOnly#videoOnly { background-color: rgb(30, 34, 40); }"));
    for (int i = 0; i < kWinCount; ++i) {
        auto *win = new qmultivideo(i + 1, this);
        m_wins[i] = win;
        m_table[i].winHandle = win->nativeHandle();
        win->hide();
        connect(win, &qmultivideo::CapturePicWinToVOnly, this, &QVideoOnly::CapturePicWinFromMul);
        connect(win, &qmultivideo::CloseVideoWinToVOnly, this, &QVideoOnly::CloseVideoWinFromMul);
        connect(win, &qmultivideo::RecordVideoToVideo, this, &QVideoOnly::RecordVideoFromMul);
    }
    for (QLabel *&line : m_frame) {
        line = new QLabel(this);
        line->setObjectName(QStringLiteral("blueFrame"));
        line->setStyleSheet(QStringLiteral("QLabel{background-color:rgb(0,128,255);}"));
        line->setAttribute(Qt::WA_TransparentForMouseEvents);
        line->hide();
    }
    connect(this, &QVideoOnly::SendDiskIsFull, this, &QVideoOnly::RecvDiskIsFull);
    connect(this, &QVideoOnly::SendRecordFault, this, &QVideoOnly::RecvRecordFault);
    connect(this, &QVideoOnly::SendStopRecord, this, &QVideoOnly::RecvStopRecord);
    connect(this, &QVideoOnly::SendRecordWaiting, this, &QVideoOnly::RecvRecordWaiting);
    m_recording = new varno::record::RecordingController();
    connect(m_recording, &varno::record::RecordingController::sendStarted, this, &QVideoOnly::RecvRecordStarted);
    connect(m_recording, &varno::record::RecordingController::sendWaiting, this, &QVideoOnly::SendRecordWaiting);
    connect(m_recording, &varno::record::RecordingController::sendReport, this, &QVideoOnly::RecvRecordReport);

    m_menu = new QMenu(this);
    m_menu->setStyleSheet(QStringLiteral(
        "QMenu {background-color:gray; border:1px solid black; color:white;}"
        "QMenu::item:selected{background-color:blue;}"));
    m_closeAction = m_menu->addAction(QString());
    m_closeAllAction = m_menu->addAction(QString());
    m_snapAction = m_menu->addAction(QString());
    m_recordAction = m_menu->addAction(QString());
    m_hdAction = m_menu->addAction(QString());
    m_sdAction = m_menu->addAction(QString());
    m_autoStreamAction = m_menu->addAction(QString());
    m_menu->addSeparator();
    m_aspectAction = m_menu->addAction(QString());
    m_aspectAction->setCheckable(true);
    connect(m_closeAction, &QAction::triggered, this, &QVideoOnly::CloseVideo);
    connect(m_closeAllAction, &QAction::triggered, this, &QVideoOnly::CloseAllVideo);
    connect(m_snapAction, &QAction::triggered, this, &QVideoOnly::SnapPicture);
    connect(m_recordAction, &QAction::triggered, this, &QVideoOnly::RecordVideo);
    connect(m_hdAction, &QAction::triggered, this, &QVideoOnly::SelectHdAction);
    connect(m_sdAction, &QAction::triggered, this, &QVideoOnly::SelectSdAction);
    connect(m_autoStreamAction, &QAction::triggered, this, &QVideoOnly::SelectAutoStreamAction);
    connect(m_aspectAction, &QAction::triggered, this, &QVideoOnly::setKeepAspect);
    retranslate();
    applyKeepAspect(varno::live::LiveViewSettings::keepAspect(m_user));
    applyAutoStream(varno::live::LiveViewSettings::autoStream(m_user));

    ShowVideoCount(count == 8 || count == 16 || count == 25 ? count : 4);
}

QVideoOnly::~QVideoOnly()
{
    // Recordings end with the grid: the controller cancels a start in
    // progress, stops every recorder and joins its job threads before the
    // windows go (the recorders' reports reach the grid through it).
    delete m_recording;
    m_recording = nullptr;
    for (auto &tip : m_tips)
        delete tip.data();
}

// ---------------------------------------------------------------------------
// Geometry

QRect QVideoOnly::cellRect(QSize area, int count, int place)
{
    const int k = gridSide(count);
    const int cw = qMax((area.width() + 1 - (kGap * k + kGap)) / k, 0);
    const int ch = qMax((area.height() + 1 - (kGap * k + kGap)) / k, 0);
    int row = place / k;
    int col = place % k;
    if (count == 8) {
        if (place == 0) // the large cell: the top-left 3 x 3 cells
            return QRect(kGap, kGap, 3 * cw + 2 * kGap, 3 * ch + 2 * kGap);
        if (place <= 3) { // right column, top down
            row = place - 1;
            col = 3;
        } else { // bottom row, left to right
            row = 3;
            col = place - 4;
        }
    }
    return QRect(kGap + col * (cw + kGap), kGap + row * (ch + kGap), cw, ch);
}

QRect QVideoOnly::maximisedRect(QSize area)
{
    return QRect(kGap, kGap, qMax(area.width() - 2 * kGap, 0), qMax(area.height() - 2 * kGap, 0));
}

bool QVideoOnly::onPage(int index) const
{
    return ((index - m_first + kWinCount) % kWinCount) < m_count;
}

void QVideoOnly::layoutWins()
{
    if (m_maximised && m_maxIndex >= 0) {
        for (int i = 0; i < kWinCount; ++i) {
            m_wins[i]->setMaximised(i == m_maxIndex);
            m_wins[i]->setVisible(i == m_maxIndex);
        }
        m_wins[m_maxIndex]->setGeometry(maximisedRect(size()));
    } else {
        for (int i = 0; i < kWinCount; ++i)
            m_wins[i]->setMaximised(false);
        for (int place = 0; place < m_count; ++place) {
            qmultivideo *win = m_wins[(m_first + place) % kWinCount];
            win->setGeometry(cellRect(size(), m_count, place));
            win->show();
        }
        for (int i = 0; i < kWinCount; ++i) {
            if (!onPage(i))
                m_wins[i]->hide();
        }
    }
    PaintBlue();
}

void QVideoOnly::PaintBlue()
{
    for (QLabel *line : m_frame)
        line->hide();
    if (m_current < 0 || m_current > kWinCount) {
        WriteLog(3, "%s(%d):Video num is error, num(%d)!!!", "QVideoOnly::PaintBlue", __LINE__,
                 m_current);
        return;
    }
    if (m_current == kWinCount)
        return;
    qmultivideo *win = m_wins[m_current];
    if (win->isHidden()) {
        WriteLog(4, "%s(%d):Video is hidden, num(%d)!!!", "QVideoOnly::PaintBlue", __LINE__,
                 m_current);
        return;
    }
    const QRect r = win->geometry();
    const int f = kFrameWidth;
    m_frame[0]->setGeometry(r.x() - f, r.y() - f, r.width() + 2 * f, f); // top
    m_frame[1]->setGeometry(r.x() - f, r.bottom() + 1, r.width() + 2 * f, f); // bottom
    m_frame[2]->setGeometry(r.x() - f, r.y(), f, r.height()); // left
    m_frame[3]->setGeometry(r.right() + 1, r.y(), f, r.height()); // right
    for (QLabel *line : m_frame) {
        line->show();
        line->raise();
    }
}

void QVideoOnly::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutWins();
}

// ---------------------------------------------------------------------------
// Window table

qmultivideo *QVideoOnly::videoWin(int index) const
{
    return index >= 0 && index < kWinCount ? m_wins[index] : nullptr;
}

WinState QVideoOnly::winState(int index) const
{
    QMutexLocker lock(&m_tableMutex);
    return index >= 0 && index < kWinCount ? m_table[index] : WinState{};
}

int QVideoOnly::indexOfHandle(int32_t winHandle) const
{
    QMutexLocker lock(&m_tableMutex);
    for (int i = 0; i < kWinCount; ++i) {
        if (m_table[i].winHandle == winHandle)
            return i;
    }
    return -1;
}

void QVideoOnly::runOnUi(std::function<void()> work)
{
    if (QThread::currentThread() == thread())
        work();
    else
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

int QVideoOnly::GetVideoWidget(int *index, const QString &deviceId, const QString &name,
                               int channel)
{
    if (channel < 0 || channel >= kWinCount) {
        WriteLog(2, "%s(%d):win(%d) is error!!!", "QVideoOnly::GetVideoWidget", __LINE__, channel);
        return -3;
    }
    QMutexLocker lock(&m_tableMutex);
    for (int i = 0; i < kWinCount; ++i) {
        const WinState &w = m_table[i];
        if (w.used && w.deviceId == deviceId && w.channel == channel) {
            if (index)
                *index = i;
            lock.unlock();
            runOnUi([this, i] {
                m_wins[i]->hand()->setButtonsShown(false);
                layoutWins();
            });
            WriteLog(3, "%s(%d):win(%d) is used!!!", "QVideoOnly::GetVideoWidget", __LINE__, i);
            return -2;
        }
    }
    for (int i = 0; i < kWinCount; ++i) {
        WinState &w = m_table[i];
        if (w.used)
            continue;
        w.used = true;
        w.deviceId = deviceId;
        w.name = name;
        w.channel = channel;
        if (index)
            *index = i;
        WriteLog(0, "[VIDEO]Get video win(%d) success!!!", w.winHandle);
        return w.winHandle;
    }
    return -1;
}

void QVideoOnly::SetWinUsed(int index, bool used)
{
    if (index < 0 || index >= kWinCount) {
        WriteLog(2, "%s(%d):win(%d) is error!!!", "QVideoOnly::SetWinUsed", __LINE__, index);
        return;
    }
    QMutexLocker lock(&m_tableMutex);
    m_table[index].used = used;
}

void QVideoOnly::OpenVideoWin(int index)
{
    if (index < 0 || index >= kWinCount) {
        WriteLog(2, "%s(%d):win(%d) is error!!!", "QVideoOnly::OpenVideoWin", __LINE__, index);
        return;
    }
    WinState w = winState(index);
    qmultivideo *win = m_wins[index];
    win->hand()->setTitle(w.name + QLatin1Char('-') + QString::number(w.channel + 1));
    win->hand()->setButtonsShown(true);
    win->play()->setLabelShown(false);
    win->play()->setWaitingText(tr("Waiting for video..."));
    win->play()->setPainting(false);
    win->setInUse(true);
    emit SendVideoWinNum(w.deviceId);
    if (m_maximised) {
        if (m_maxIndex != index)
            setMaximised(index);
    } else {
        m_current = index;
        PaintBlue();
    }
}

void QVideoOnly::SetVideoPaint(int winHandle, bool on)
{
    const int index = indexOfHandle(winHandle);
    if (index < 0) {
        WriteLog(3, "%s(%d):win(%d) is error!!!", "QVideoOnly::SetVideoPaint", __LINE__, winHandle);
        return;
    }
    runOnUi([this, index, on] { m_wins[index]->play()->setPainting(on); });
}

void QVideoOnly::setReconnecting(int winHandle, bool on)
{
    const int index = indexOfHandle(winHandle);
    if (index >= 0)
        m_wins[index]->play()->setReconnecting(on);
}

void QVideoOnly::setDevInfo(const DvrListInfo_s &dev)
{
    const QString id = QString::fromUtf8(dev.dev.devId, qstrnlen(dev.dev.devId, sizeof dev.dev.devId));
    {
        QMutexLocker lock(&m_recordMutex);
        m_devices[id].info = dev;
    }
    m_recording->setDevice(id, dev);
    // A camera renamed while its window is open: the title follows at once.
    const QString name = QString::fromUtf8(dev.dev.devName, qstrnlen(dev.dev.devName, sizeof dev.dev.devName));
    for (int i = 0; i < kWinCount; ++i) {
        int channel = 0;
        {
            QMutexLocker lock(&m_tableMutex);
            WinState &w = m_table[i];
            if (!w.used || w.deviceId != id || w.name == name)
                continue;
            w.name = name;
            channel = w.channel;
        }
        m_wins[i]->hand()->setTitle(name + QLatin1Char('-') + QString::number(channel + 1));
    }
}

void QVideoOnly::freeWin(int index)
{
    QString w0;
    {
        QMutexLocker lock(&m_tableMutex);
        WinState &w = m_table[index];
        w0 = w.deviceId;
        w.used = false;
        w.deviceId.clear();
        w.name.clear();
        w.channel = 0;
    }
    qmultivideo *win = m_wins[index];
    win->hand()->setButtonsShown(false);
    win->hand()->setTitle(QString::number(index + 1));
    win->hand()->RecvResetRecord();
    win->setInUse(false);
    if (!w0.isEmpty())
        m_manualStream.remove(w0);
    layoutWins();
    win->play()->setWaitingText(QString());
    win->play()->setReconnecting(false);
    win->play()->setLabelShown(true);
    win->play()->setPainting(true);
}

// ---------------------------------------------------------------------------
// Pages, selection, maximise

void QVideoOnly::ShowVideoCount(int count)
{
    if (count != 4 && count != 8 && count != 16 && count != 25) {
        WriteLog(3, "%s(%d):Count(%d) is error!!!", "QVideoOnly::ShowVideoCount", __LINE__, count);
        return;
    }
    WriteLog(0, "[VIDEO]Win show count(%d)!!!", count);
    m_count = count;
    m_last = (m_first + count - 1) % kWinCount;
    m_maximised = false;
    m_maxIndex = -1;
    layoutWins();
}

void QVideoOnly::PageBack()
{
    if (m_maximised) {
        setMaximised((m_maxIndex + kWinCount - 1) % kWinCount);
    } else {
        m_first = (m_first + kWinCount - m_count) % kWinCount;
        m_last = (m_first + m_count - 1) % kWinCount;
        m_current = (m_current + kWinCount - m_count) % kWinCount;
        layoutWins();
    }
    const WinState w = winState(m_current);
    if (w.used)
        emit SendVideoWinNum(w.deviceId);
}

void QVideoOnly::PageForward()
{
    if (m_maximised) {
        setMaximised((m_maxIndex + 1) % kWinCount);
    } else {
        m_first = (m_first + m_count) % kWinCount;
        m_last = (m_first + m_count - 1) % kWinCount;
        m_current = (m_current + m_count) % kWinCount;
        layoutWins();
    }
    const WinState w = winState(m_current);
    if (w.used)
        emit SendVideoWinNum(w.deviceId);
}

void QVideoOnly::selectIndex(int index)
{
    if (index < 0 || index >= kWinCount)
        return;
    const WinState w = winState(index);
    if (w.used && index != m_current)
        emit SendVideoWinNum(w.deviceId);
    m_current = index;
    PaintBlue();
}

void QVideoOnly::SelectVideoWin(int winHandle)
{
    WriteLog(0, "[Video]Request select win(%d)!!!", winHandle);
    const int index = indexOfHandle(winHandle);
    if (index >= 0) {
        WriteLog(0, "[Video]Finded win(%d)!!!", winHandle);
        if (index != m_current) {
            WriteLog(0, "[Video]The win(%d) is not current win!!!", winHandle);
            if (m_maximised)
                setMaximised(index);
            else
                selectIndex(index);
        }
    }
    WriteLog(0, "[Video]Select win(%d) finished!!!", winHandle);
}

void QVideoOnly::setMaximised(int index)
{
    m_maximised = true;
    m_maxIndex = index;
    m_current = index;
    layoutWins();
}

void QVideoOnly::restoreLayout()
{
    m_maximised = false;
    m_maxIndex = -1;
    layoutWins();
}

int QVideoOnly::windowAt(const QPoint &pos) const
{
    for (int i = 0; i < kWinCount; ++i) {
        if (m_wins[i]->isVisible() && m_wins[i]->geometry().contains(pos))
            return i;
    }
    return -1;
}

void QVideoOnly::mousePressEvent(QMouseEvent *event)
{
    const int index = windowAt(event->position().toPoint());
    if (index >= 0) {
        m_wins[index]->setFocus(Qt::MouseFocusReason);
        selectIndex(index);
    }
    QWidget::mousePressEvent(event);
}

void QVideoOnly::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const int index = windowAt(event->position().toPoint());
    if (index < 0)
        return;
    if (m_maximised && index == m_maxIndex) {
        restoreLayout();
    } else {
        selectIndex(index);
        setMaximised(index);
    }
}

void QVideoOnly::recvUpdate()
{
    update();
    for (qmultivideo *win : m_wins)
        win->update();
}

// ---------------------------------------------------------------------------
// Context menu

void QVideoOnly::setCheck(QAction *action, bool checked)
{
    // The mark is a picture, as in every menu of the program.
    action->setIcon(checked ? QIcon(varno::resourcePath(QStringLiteral("./images/check.png")))
                            : QIcon());
    action->setCheckable(false);
    action->setProperty("marked", checked);
}

// A P2P camera sends streams 0 and 1; an ONVIF camera has a sub stream when
// it has a second profile.
bool QVideoOnly::hasTwoStreams(const DvrListInfo_s &info)
{
    return info.dev.p2pFlag != 0 || info.config.profileCount >= 2;
}

void QVideoOnly::prepareContextMenu()
{
    const WinState w = winState(m_current);
    bool anyUsed = false;
    for (int i = 0; i < kWinCount; ++i)
        anyUsed = anyUsed || winState(i).used;
    bool hasDev = false;
    bool twoStreams = false;
    int stream = 0;
    bool recording = false;
    if (w.used) {
        QMutexLocker lock(&m_recordMutex);
        const auto dev = m_devices.constFind(w.deviceId);
        if (dev != m_devices.constEnd()) {
            hasDev = true;
            twoStreams = hasTwoStreams(dev->info);
            stream = dev->info.dev.streamType;
        }
    }
    recording = w.used && isRecording(w.deviceId);
    // While the window follows its size, neither HD nor SD is marked and
    // both may be chosen.
    const bool byHand = !m_autoStream || (w.used && m_manualStream.contains(w.deviceId));
    setCheck(m_recordAction, recording);
    setCheck(m_hdAction, byHand && hasDev && stream != 1);
    setCheck(m_sdAction, byHand && hasDev && stream == 1);
    setCheck(m_autoStreamAction, !byHand);
    m_autoStreamAction->setEnabled(true);
    m_closeAction->setEnabled(w.used);
    m_closeAllAction->setEnabled(anyUsed);
    m_snapAction->setEnabled(w.used);
    m_recordAction->setEnabled(w.used);
    m_hdAction->setEnabled(w.used && hasDev && twoStreams && (!byHand || stream == 1));
    m_sdAction->setEnabled(w.used && hasDev && twoStreams && (!byHand || stream == 0));
}

void QVideoOnly::contextMenuEvent(QContextMenuEvent *event)
{
    const int index = windowAt(event->pos());
    if (index < 0)
        return;
    if (index != m_current)
        selectIndex(index);
    prepareContextMenu();
    m_menu->popup(event->globalPos());
}

void QVideoOnly::setUserName(const QString &user)
{
    m_user = user;
    applyKeepAspect(varno::live::LiveViewSettings::keepAspect(m_user));
    applyAutoStream(varno::live::LiveViewSettings::autoStream(m_user));
}

void QVideoOnly::setKeepAspect(bool on)
{
    applyKeepAspect(on);
    varno::live::LiveViewSettings::setKeepAspect(m_user, on);
}

void QVideoOnly::applyKeepAspect(bool on)
{
    m_keepAspect = on;
    m_aspectAction->setChecked(on);
    for (qmultivideo *win : m_wins)
        win->play()->surface()->setKeepAspect(on);
}

void QVideoOnly::CloseVideo()
{
    const WinState w = winState(m_current);
    if (w.used)
        CloseVideoWinFromMul(w.winHandle);
}

void QVideoOnly::SnapPicture()
{
    const WinState w = winState(m_current);
    if (w.used)
        CapturePicWinFromMul(w.winHandle);
}

void QVideoOnly::RecordVideo()
{
    const WinState w = winState(m_current);
    if (w.used)
        m_wins[m_current]->hand()->RecordVideo();
}

void QVideoOnly::SelectHdAction()
{
    switchStream(0);
}

void QVideoOnly::SelectSdAction()
{
    switchStream(1);
}

void QVideoOnly::SelectAutoStreamAction()
{
    const WinState w = winState(m_current);
    if (w.used && m_manualStream.remove(w.deviceId)) {
        // The window's choice by hand ends: it follows its size again.
        emit SendStreamByWindowSize(w.deviceId);
        if (!m_autoStream)
            setAutoStream(true);
        return;
    }
    setAutoStream(!m_autoStream);
}

void QVideoOnly::setAutoStream(bool on)
{
    applyAutoStream(on);
    varno::live::LiveViewSettings::setAutoStream(m_user, on);
}

void QVideoOnly::applyAutoStream(bool on)
{
    m_autoStream = on;
    emit autoStreamChanged(on);
}

void QVideoOnly::switchStream(int streamType)
{
    const WinState w = winState(m_current);
    if (!w.used)
        return;
    const bool byHand = !m_autoStream || m_manualStream.contains(w.deviceId);
    DvrListInfo_s switched{};
    bool p2p = false;
    {
        QMutexLocker lock(&m_recordMutex);
        auto dev = m_devices.find(w.deviceId);
        if (dev == m_devices.end() || !hasTwoStreams(dev->info))
            return;
        p2p = dev->info.dev.p2pFlag != 0;
        // HD only from SD and SD only from HD (either while the window
        // follows its size: the choice by hand begins).
        if (byHand && (streamType == 0) != (dev->info.dev.streamType == 1))
            return;
        // The choice the menu marks follows the switch at once; the live view
        // hands the camera record with the new choice to the main window.
        dev->info.dev.streamType = streamType;
        switched = dev->info;
    }
    m_manualStream.insert(w.deviceId);
    if (!p2p) {
        // An ONVIF camera records from its main profile over a session of
        // its own: the recording goes on untouched.
        emit SendChangeStream(w.deviceId, streamType);
        return;
    }
    m_recording->setDevice(w.deviceId, switched);
    // A recording still starting would begin on the old stream: it is
    // cancelled and started again like a running one.
    const bool recorded = isRecording(w.deviceId) || isRecordStarting(w.deviceId);
    if (recorded)
        emit SendStopRecord(w.deviceId);
    emit SendChangeStream(w.deviceId, streamType);
    QCoreApplication::processEvents();
    if (recorded) {
        const int index = indexOfHandle(w.winHandle);
        if (index >= 0 && winState(index).used)
            m_wins[index]->hand()->RecordVideo();
    }
}

// ---------------------------------------------------------------------------
// Closing

void QVideoOnly::CloseVideoWinFromMul(int winHandle)
{
    WriteLog(0, "[VIDEO]Request close win(%d)!!!", winHandle);
    int index = -1;
    WinState w;
    {
        QMutexLocker lock(&m_tableMutex);
        for (int i = 0; i < kWinCount; ++i) {
            if (m_table[i].used && m_table[i].winHandle == winHandle) {
                index = i;
                w = m_table[i];
                break;
            }
        }
    }
    if (index < 0)
        return;
    WriteLog(0, "[VIDEO]Finded win(%d), and win is used!!!", winHandle);
    selectIndex(index);
    // A recording still starting counts as one: closing cancels it.
    const bool recording = isRecording(w.deviceId) || isRecordStarting(w.deviceId);
    const bool alarm = isAlarmRecording(w.deviceId);
    if (recording) {
        const QString text = alarm
            ? tr("The client will run in the background because a alarm video is under "
                 "recording.Are you sure you want to close?")
            : tr("A running record will be stopped after closing the client. Are you sure to "
                 "close it?");
        if (varno::ui::InfoBox(window(), tr("Close the video"), text, true) != QMessageBox::Yes) {
            if (alarm)
                WriteLog(3, "%s(%d):It's alarm record, return!!!", "QVideoOnly::CloseVideoWinFromMul",
                         __LINE__);
            else
                WriteLog(3, "%s(%d):It's normal record, return!!!", "QVideoOnly::CloseVideoWinFromMul",
                         __LINE__);
            return;
        }
        emit SendStopRecord(w.deviceId);
    }
    // The answer may have taken a while: the window must still show the device.
    if (winState(index).deviceId != w.deviceId || !winState(index).used)
        return;
    freeWin(index);
    emit CloseVideoWinToVWin(w.deviceId);
    recvUpdate();
    WriteLog(0, "[VIDEO]Close win(%d) finished!!!", winHandle);
}

void QVideoOnly::CloseAllVideo()
{
    WriteLog(0, "[VIDEO]Request close all video!!!");
    int recordCount = 0;
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (w.used && (isRecording(w.deviceId) || isRecordStarting(w.deviceId)))
            ++recordCount;
    }
    WriteLog(0, "[VIDEO]Current record count(%d)!!!", recordCount);
    if (recordCount > 0) {
        const QString text =
            tr("%1 running record will be stopped after closing. Are you sure to close it?")
                .arg(recordCount);
        if (varno::ui::InfoBox(window(), tr("Close the video"), text, true) != QMessageBox::Yes) {
            WriteLog(0, "[VIDEO]Has been recording, return!!!");
            return;
        }
    }
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (!w.used)
            continue;
        if (isRecording(w.deviceId) || isRecordStarting(w.deviceId))
            emit SendStopRecord(w.deviceId);
        freeWin(i);
        emit CloseVideoWinToVWin(w.deviceId);
    }
    recvUpdate();
    WriteLog(0, "[VIDEO]Close all video finish!!!");
}

void QVideoOnly::RecvCloseVideoFromReal(QString deviceId)
{
    const QByteArray id = text8(deviceId);
    WriteLog(0, "[VIDEO]Request close device(%s)!!!", id.constData());
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (w.used && w.deviceId == deviceId) {
            WriteLog(0, "[VIDEO]Finded device(%s), and win is used!!!", id.constData());
            freeWin(i);
            break;
        }
    }
    recvUpdate();
    WriteLog(0, "[VIDEO]Close device(%s) finished!!!", id.constData());
}

// ---------------------------------------------------------------------------
// Snapshots

void QVideoOnly::CapturePicWinFromMul(int winHandle)
{
    int index = -1;
    WinState w;
    {
        QMutexLocker lock(&m_tableMutex);
        for (int i = 0; i < kWinCount; ++i) {
            if (m_table[i].used && m_table[i].winHandle == winHandle) {
                index = i;
                w = m_table[i];
                break;
            }
        }
    }
    if (index < 0)
        return;
    WriteLog(0, "[VIDEO]Finded the capture win(%d), device(%s)!!!", winHandle,
             text8(w.deviceId).constData());
    selectIndex(index);
    emit CapturePicWinToVWin(w.deviceId, w.channel, winHandle);
}

QTipWidget *QVideoOnly::tipOfWindow(int index) const
{
    return index >= 0 && index < kWinCount ? m_tips[index].data() : nullptr;
}

void QVideoOnly::showSnapshotTip(int winHandle, const QString &title, const QString &text,
                                 const QString &imageFile)
{
    const int index = indexOfHandle(winHandle);
    if (index < 0)
        return;
    delete m_tips[index].data();
    auto *tip = new QTipWidget;
    tip->setAttribute(Qt::WA_DeleteOnClose);
    m_tips[index] = tip;
    if (imageFile.isEmpty())
        tip->showResult(title, text);
    else
        tip->showPicture(title, text, imageFile);
}

QList<QLabel *> QVideoOnly::frameLabels() const
{
    return {m_frame.begin(), m_frame.end()};
}

// ---------------------------------------------------------------------------
// Recording control

void QVideoOnly::setRecorderFactory(RecorderFactory factory)
{
    m_recording->setFactory(std::move(factory));
}

bool QVideoOnly::isRecording(const QString &deviceId) const
{
    return m_recording->isRecording(deviceId);
}

bool QVideoOnly::isRecordStarting(const QString &deviceId) const
{
    return m_recording->isStarting(deviceId);
}

bool QVideoOnly::isAlarmRecording(const QString &deviceId) const
{
    return m_recording->isAlarmRecording(deviceId);
}

bool QVideoOnly::isRecordWaiting(const QString &deviceId) const
{
    return m_recording->isWaiting(deviceId);
}

bool QVideoOnly::beginToRecord(const QString &deviceId, int alarmType)
{
    VARNO_ASSERT_UI_THREAD();
    const QByteArray id = text8(deviceId);
    if (!m_recording->knows(deviceId)) {
        WriteLog(2, "%s(%d):Hash has not contained device(%s)!!!", "QVideoOnly::beginToRecord", __LINE__,
                 id.constData());
        return false;
    }
    WriteLog(0, "[RECORD]Begin device(%s) recording!!!", id.constData());
    // Stream descriptions, the stream address and the stream itself come on
    // the controller's job thread; RecvRecordStarted tells the result.
    if (!m_recording->start(deviceId, alarmType)) {
        WriteLog(2, "%s(%d):No recorder for device(%s)!!!", "QVideoOnly::beginToRecord", __LINE__,
                 id.constData());
        return false;
    }
    // Meanwhile the buttons wait for the camera and take no second press.
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (!w.used || w.deviceId != deviceId)
            continue;
        QVideoHand *hand = m_wins[i]->hand();
        if (alarmType != 0)
            hand->RecvAlarmRecord();
        else
            hand->RecvNormalRecord();
        hand->RecvRecordWaiting(true);
        hand->recordButton()->setEnabled(false);
    }
    return true;
}

void QVideoOnly::RecvRecordStarted(QString deviceId, int alarmType, bool ok)
{
    VARNO_ASSERT_UI_THREAD();
    const QByteArray id = text8(deviceId);
    if (ok) {
        emit sendRecordCount(1);
        WriteLog(0, "[RECORD]Begin device(%s) recording finished!!!", id.constData());
    }
    const bool waiting = ok && isRecordWaiting(deviceId);
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (!w.used || w.deviceId != deviceId)
            continue;
        QVideoHand *hand = m_wins[i]->hand();
        hand->recordButton()->setEnabled(true);
        if (!ok)
            hand->RecvResetRecord();
        else if (alarmType != 0 || isAlarmRecording(deviceId))
            hand->RecvAlarmRecord();
        else
            hand->RecvNormalRecord();
        if (ok)
            hand->RecvRecordWaiting(waiting);
    }
}

void QVideoOnly::RecordVideoFromMul(int winHandle, bool record)
{
    WriteLog(0, "[RECORD]Request control recording, (%d, %d)!!!", winHandle, record ? 1 : 0);
    const int index = indexOfHandle(winHandle);
    if (index < 0)
        return;
    const WinState w = winState(index);
    if (!w.used)
        return;
    const QByteArray id = text8(w.deviceId);
    WriteLog(0, "[RECORD]Finded device(%s) from winHash!!!", id.constData());
    selectIndex(index);
    QVideoHand *hand = m_wins[index]->hand();
    const bool known = m_recording->knows(w.deviceId);
    const bool recording = isRecording(w.deviceId);
    if (!known) {
        WriteLog(3, "[RECORD]Hash has not contained device(%s)!!!", id.constData());
        hand->RecvResetRecord();
        return;
    }
    if (record) {
        if (!recording && !isRecordStarting(w.deviceId) && !beginToRecord(w.deviceId, 0))
            hand->RecvResetRecord();
    } else if (recording || isRecordStarting(w.deviceId)) {
        emit SendStopRecord(w.deviceId);
    } else {
        hand->RecvResetRecord();
    }
    WriteLog(0, "[RECORD]Control recording finished, device(%s)!!!", id.constData());
}

void QVideoOnly::RecvStopRecord(QString deviceId)
{
    VARNO_ASSERT_UI_THREAD();
    const QByteArray id = text8(deviceId);
    WriteLog(0, "[RECORD]Request to stop record, device(%s)!!!", id.constData());
    if (!m_recording->knows(deviceId)) {
        WriteLog(3, "%s(%d):Hash has not contained device(%s)!!!", "QVideoOnly::RecvStopRecord", __LINE__,
                 id.constData());
        return;
    }
    // The recorder leaves the controller's table at once (a second stop
    // request, the recorder's own failure report racing a user's stop, finds
    // nothing to stop and counts nothing) and stops on its job thread.
    bool wasRecording = false;
    if (!m_recording->stop(deviceId, &wasRecording)) {
        WriteLog(3, "%s(%d):Record handle is invalid, device(%s)!!!", "QVideoOnly::RecvStopRecord", __LINE__,
                 id.constData());
        return;
    }
    WriteLog(0, "[RECORD]Request stop recording, handle(%d)!!!", 0);
    if (wasRecording)
        emit sendRecordCount(-1);
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (w.used && w.deviceId == deviceId) {
            WriteLog(0, "[RECORD]Finded device(%s) from winHash!!!", id.constData());
            m_wins[i]->hand()->recordButton()->setEnabled(true);
            m_wins[i]->hand()->RecvResetRecord();
        }
    }
    WriteLog(0, "[RECORD]Stop device(%s) record finished!!!", id.constData());
}

void QVideoOnly::recvRecord(const QString &deviceId, const QString &filePath, int code,
                            LiveRecorder *recorder)
{
    m_recording->report(deviceId, filePath, code, recorder);
}

void QVideoOnly::RecvRecordReport(QString deviceId, int code, QString path)
{
    VARNO_ASSERT_UI_THREAD();
    if (code == kRecordFileCreated || code == kRecordDiskGone) {
        emit SendRecordFault(code, path); // the recording goes on
        return;
    }
    emit SendStopRecord(deviceId);
    if (code == kRecordNoSavePath)
        emit SendDiskIsFull();
    else
        emit SendRecordFault(code, path);
}

void QVideoOnly::RecvRecordWaiting(QString deviceId, bool waiting)
{
    VARNO_ASSERT_UI_THREAD();
    // The state now: a later report may be on its way already.
    const bool shown = isRecordWaiting(deviceId);
    for (int i = 0; i < kWinCount; ++i) {
        const WinState w = winState(i);
        if (w.used && w.deviceId == deviceId)
            m_wins[i]->hand()->RecvRecordWaiting(shown);
    }
    WriteLog(waiting ? 2 : 0, "%s(%d):Device(%s) record %s!!!", "QVideoOnly::RecvRecordWaiting", __LINE__,
             text8(deviceId).constData(), waiting ? "waits for the camera" : "goes on");
    emit sendRecordStream(deviceId, waiting);
}

void QVideoOnly::RecvDiskIsFull()
{
    RecvRecordFault(kRecordNoSavePath, QString());
}

void QVideoOnly::RecvRecordFault(int code, QString path)
{
    if (code == kRecordFileCreated) {
        m_faultsShown.clear();
        return;
    }
    if (code == kRecordAlarmLimit)
        return; // an alarm recording reached its length: no fault
    // The folder: the report names the file, or the folder when no file was made.
    const QString folder = path.endsWith(QLatin1String(".mkv")) ? QFileInfo(path).path() : path;
    if (m_faultsShown.contains(QString::number(code) + QLatin1Char(':') + folder))
        return;
    m_faultsShown.insert(QString::number(code) + QLatin1Char(':') + folder);
    QString text;
    switch (code) {
    case kRecordNoSavePath:
        text = tr("Disk space is full, can't cover!!!");
        break;
    case kRecordCoverFailed:
        text = tr("The oldest recordings in %1 were overwritten, but the disk is still full: another program "
                  "fills it. Recording stopped.")
                   .arg(folder);
        break;
    case kRecordDiskGone:
        text = tr("The record disk of %1 went away. Recording goes on on the next disk.").arg(folder);
        break;
    case kRecordNoDiskLeft:
        text = tr("The record disk of %1 went away and no other record disk is left. Recording stopped.")
                   .arg(folder);
        break;
    case kRecordNotWritable:
        text = tr("The record folder %1 cannot be written (read-only or no permission). Recording stopped.")
                   .arg(folder);
        break;
    case kRecordWriteFailed:
        text = tr("The recording file %1 could not be written. Recording stopped.").arg(path);
        break;
    default:
        text = tr("A recording file could not be created in %1 (error %2). Recording stopped.")
                   .arg(folder)
                   .arg(code);
        break;
    }
    varno::ui::InfoBox(window(), tr("Recording"), text);
}

void QVideoOnly::RecordAlarmStream(const QString &deviceId, int alarmKind)
{
    const QByteArray id = text8(deviceId);
    const bool known = m_recording->knows(deviceId);
    const bool recording = isRecording(deviceId);
    const bool alarm = isAlarmRecording(deviceId);
    if (!known) {
        WriteLog(3, "%s(%d):Hash has not contained device(%s)!!!", "QVideoOnly::RecordAlarmStream",
                 __LINE__, id.constData());
        return;
    }
    int fileType = 199;
    switch (alarmKind) {
    case 1:
        fileType = 2;
        break;
    case 2:
        fileType = 3;
        break;
    case 3:
        fileType = 1;
        break;
    default:
        break;
    }
    int index = -1;
    for (int i = 0; i < kWinCount && index < 0; ++i) {
        const WinState w = winState(i);
        if (w.used && w.deviceId == deviceId)
            index = i;
    }
    const bool starting = isRecordStarting(deviceId);
    if (fileType == 199) {
        if ((recording && alarm) || (starting && m_recording->isAlarm(deviceId)))
            emit SendStopRecord(deviceId);
        return;
    }
    if (recording || starting) {
        // A recording on its way takes the type when its recorder is there.
        const int ret = m_recording->setAlarmType(deviceId, fileType);
        if (ret == 0 && index >= 0)
            m_wins[index]->hand()->RecvAlarmRecord();
        return;
    }
    // The buttons wait while it starts (beginToRecord), then show the alarm
    // look or the reset look (RecvRecordStarted).
    if (!beginToRecord(deviceId, fileType) && index >= 0)
        m_wins[index]->hand()->RecvResetRecord();
}

void QVideoOnly::feedLiveFrame(const QString &key, const char *data, int size, int type,
                               uint64_t timeStampMs)
{
    if (!data || size <= 0)
        return;
    m_recording->pushLiveFrame(streamKey(key), type != 0, data, size, timeStampMs);
}

// ---------------------------------------------------------------------------

void QVideoOnly::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void QVideoOnly::retranslate()
{
    m_closeAction->setText(tr("Close"));
    m_closeAllAction->setText(tr("Closed all"));
    m_snapAction->setText(tr("Snapshot"));
    m_recordAction->setText(tr("Record"));
    m_hdAction->setText(tr("Hight definition"));
    m_sdAction->setText(tr("Standard definition"));
    m_autoStreamAction->setText(tr("Choose stream by window size"));
    m_aspectAction->setText(tr("Keep aspect ratio"));
}
