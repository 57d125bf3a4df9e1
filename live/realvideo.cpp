#include "live/realvideo.h"

#include "common/logfile.h"
#include "common/metatypes.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "common/ui/tablestyle.h"
#include "common/uithread.h"
#include "live/clivestream.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qvideoonly.h"

#include <QCoreApplication>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTimer>

#include <cstring>

using namespace varno::live;

namespace {

constexpr int kAlarmTableHeight = 160;
constexpr int kTableButtonHeight = 14;

QString fieldString(const char *field, size_t size)
{
    return QString::fromUtf8(field, static_cast<qsizetype>(::strnlen(field, size)));
}

template <size_t N>
QString fieldString(const char (&field)[N])
{
    return fieldString(field, N);
}

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

// The grid as the stream controller sees it.
class realvideo::Windows final : public LiveWindows
{
public:
    explicit Windows(QVideoOnly *grid) : m_grid(grid) {}

    int takeWindow(const QString &key, const QString &name, int *index) override
    {
        return m_grid->GetVideoWidget(index, key, name, 0);
    }
    void showConnecting(const QString &key, int index, int32_t winHandle) override
    {
        m_grid->OpenVideoWin(index);
        if (m_grid->isAlarmRecording(key))
            if (qmultivideo *w = m_grid->videoWin(index))
                w->hand()->RecvAlarmRecord();
        m_grid->SetVideoPaint(winHandle, true);
    }
    void selectWindow(int32_t winHandle) override { m_grid->SelectVideoWin(winHandle); }
    void freeWindow(const QString &key) override { m_grid->RecvCloseVideoFromReal(key); }
    void setWaitingLook(int32_t winHandle, bool on) override { m_grid->SetVideoPaint(winHandle, on); }
    void feedRecorder(const QString &key, const char *data, int size, int type, uint64_t timeStampMs) override
    {
        m_grid->feedLiveFrame(key, data, size, type, timeStampMs);
    }
    bool isRecording(const QString &key) const override
    {
        return m_grid->isRecording(key) || m_grid->isRecordStarting(key);
    }

private:
    QVideoOnly *m_grid;
};

realvideo::realvideo(QWidget *parent, std::shared_ptr<MonitorClock> clock)
    : QWidget(parent)
{
    varno::registerMetaTypes();

    m_alarmTable = new QTableWidget(0, 4, this);
    m_alarmTable->setObjectName(QStringLiteral("alarmTable"));
    m_alarmTable->setHorizontalHeaderLabels({tr("No."), tr("Time"), tr("Alarm type"), tr("Camera")});
    // The dark panels of the window around it.
    m_alarmTable->setStyleSheet(QString::fromLatin1(varno::ui::kTableStyle));
    const int widths[4] = {80, 200, 160, 250};
    for (int c = 0; c < 4; ++c)
        m_alarmTable->setColumnWidth(c, widths[c]);
    m_alarmTable->horizontalHeader()->setStretchLastSection(true);
    m_alarmTable->horizontalHeader()->setFixedHeight(30);
    m_alarmTable->verticalHeader()->setDefaultSectionSize(18);
    m_alarmTable->verticalHeader()->hide();
    m_alarmTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_alarmTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_alarmTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_alarmTable->hide();

    m_showBtn = new QPushButton(this);
    m_showBtn->setObjectName(QStringLiteral("showTabBtn"));
    m_showBtn->setToolTip(tr("Show"));
    m_showBtn->setText(QStringLiteral("\u25B2"));
    m_hideBtn = new QPushButton(this);
    m_hideBtn->setObjectName(QStringLiteral("hideTabBtn"));
    m_hideBtn->setToolTip(tr("Hide"));
    m_hideBtn->setText(QStringLiteral("\u25BC"));
    m_hideBtn->hide();

    m_tipLabel = new QLabel(this);
    m_tipLabel->setObjectName(QStringLiteral("tipLabel"));
    // The tip's text comes from the translation files; without one loaded
    // the English text stands in for the key.
    QString quit = tr("quit_trip");
    if (quit == QLatin1String("quit_trip"))
        quit = QStringLiteral("Press Esc to exit full screen");
    m_tipLabel->setText(quit);
    QFont f = m_tipLabel->font();
    f.setPixelSize(20);
    m_tipLabel->setFont(f);
    m_tipLabel->setAlignment(Qt::AlignCenter);
    m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:white; background-color:rgba(0,0,0,160);}"));
    m_tipLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tipLabel->hide();
    m_tipTimer = new QTimer(this);

    m_videoOnly = new QVideoOnly(4, this);
    m_videoOnly->setObjectName(QStringLiteral("videoOnly"));

    // Alarms come on the event library's threads.
    m_events = std::make_unique<CameraEvents>();
    connect(m_events.get(), &CameraEvents::alarm, this, &realvideo::sendAlarmInfor, Qt::DirectConnection);

    m_windows = std::make_unique<Windows>(m_videoOnly);
    m_ctl = std::make_unique<LiveController>(m_windows.get(), std::move(clock));
    // The controller's signals come from its threads too: queued to the page.
    connect(m_ctl.get(), &LiveController::closeWindow, this, &realvideo::timeOutClose, Qt::QueuedConnection);
    connect(m_ctl.get(), &LiveController::closeWindow, this, &realvideo::sendCloseVideoToVOnly, Qt::QueuedConnection);
    connect(m_ctl.get(), &LiveController::stopRecord, this, &realvideo::sendStopRecord, Qt::QueuedConnection);
    connect(m_ctl.get(), &LiveController::devicePropertyChanged, this, &realvideo::sendDevProperty);
    connect(m_ctl.get(), &LiveController::reconnectingChanged, this, &realvideo::onReconnecting,
            Qt::QueuedConnection);
    // On this thread already, and in order with the table's changes.
    connect(m_ctl.get(), &LiveController::streamStarted, this, &realvideo::onStreamStarted);

    connect(m_videoOnly, &QVideoOnly::SendVideoWinNum, this, &realvideo::RecvVideoWinNum);
    connect(m_videoOnly, &QVideoOnly::CloseVideoWinToVWin, this, &realvideo::CloseVideoWinFromVOnly);
    connect(this, &realvideo::timeOutClose, this, &realvideo::CloseVideoWinFromVOnly);
    connect(m_videoOnly, &QVideoOnly::CapturePicWinToVWin, this, &realvideo::CapturePicWinFromVOnly);
    connect(this, &realvideo::sendUpdate, m_videoOnly, &QVideoOnly::recvUpdate);
    connect(m_alarmTable, &QTableWidget::doubleClicked, this, &realvideo::StopAlarmRecord);
    connect(m_videoOnly, &QVideoOnly::sendRecordCount, this, &realvideo::recvRecordCount);
    connect(m_videoOnly, &QVideoOnly::sendRecordStream, this, &realvideo::sendRecordStream);
    connect(m_hideBtn, &QPushButton::clicked, this, &realvideo::hideTabBtn_clicked);
    connect(m_showBtn, &QPushButton::clicked, this, &realvideo::showTabBtn_clicked);
    connect(this, &realvideo::sendCloseVideoToVOnly, m_videoOnly, &QVideoOnly::RecvCloseVideoFromReal);
    connect(this, &realvideo::sendAlarmInfor, this, &realvideo::recvAlarmInfo);
    connect(this, &realvideo::sendStopRecord, m_videoOnly, &QVideoOnly::RecvStopRecord);
    connect(m_videoOnly, &QVideoOnly::SendChangeStream, this, &realvideo::RecvChangeStream);
    // The choice by window size: the grid keeps the user's setting and the
    // windows' choices by hand, the controller follows the windows' sizes.
    m_ctl->setAutoStream(m_videoOnly->autoStream());
    connect(m_videoOnly, &QVideoOnly::autoStreamChanged, m_ctl.get(), &LiveController::setAutoStream);
    connect(m_videoOnly, &QVideoOnly::SendStreamByWindowSize, m_ctl.get(), &LiveController::clearManualStream);
    connect(m_tipTimer, &QTimer::timeout, this, &realvideo::timeOutStay);
    m_fade = 1.0;
    layoutPage();
}

realvideo::~realvideo()
{
    m_tipTimer->stop();
    delete m_tipTimer;
    m_tipTimer = nullptr;
    // Joins the monitor and the openers and closes every stream while the
    // grid is still there.
    m_ctl.reset();
    // Ends the alarms and the subscriptions (its worker joined).
    m_events.reset();
}
// ---------------------------------------------------------------------------
// Layout and the page's own controls

void realvideo::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPage();
}

void realvideo::layoutPage()
{
    const int w = width();
    const int h = height();
    if (m_fullScreen) {
        m_videoOnly->setGeometry(0, 0, w, h);
        m_tipLabel->setGeometry(0, h / 2 - 20, w, 40);
        m_tipLabel->raise();
        return;
    }
    const int tableH = m_tableShown ? std::min(kAlarmTableHeight, h / 3) : 0;
    const int gridH = std::max(0, h - tableH - kTableButtonHeight);
    m_videoOnly->setGeometry(0, 0, w, gridH);
    const int bx = (w - 40) / 2;
    m_showBtn->setGeometry(bx, gridH, 40, kTableButtonHeight);
    m_hideBtn->setGeometry(bx, gridH, 40, kTableButtonHeight);
    m_alarmTable->setGeometry(0, gridH + kTableButtonHeight, w, tableH);
}

void realvideo::hideTabBtn_clicked()
{
    m_tableShown = false;
    m_alarmTable->hide();
    m_hideBtn->hide();
    m_showBtn->show();
    layoutPage();
}

void realvideo::showTabBtn_clicked()
{
    m_tableShown = true;
    m_alarmTable->show();
    m_showBtn->hide();
    m_hideBtn->show();
    layoutPage();
}

void realvideo::setFullScreen(bool on)
{
    m_fullScreen = on;
    if (on) {
        m_alarmTable->hide();
        m_showBtn->hide();
        m_hideBtn->hide();
        m_tipLabel->show();
        m_fade = 1.0;
        m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:rgba(255,255,255,255); background-color:rgba(0,0,0,160);}"));
        m_tipTimer->start(300);
    } else {
        m_tipLabel->hide();
        m_tipTimer->stop();
        m_tableShown = false;
        m_showBtn->show();
    }
    layoutPage();
}

void realvideo::timeOutStay()
{
    m_fade -= 0.1;
    if (m_fade <= 1e-9) { // ten steps from 1.0, whatever the rounding
        m_tipTimer->stop();
        m_tipLabel->hide();
        return;
    }
    const int a = int(m_fade * 255);
    m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:rgba(255,255,255,%1); background-color:rgba(0,0,0,%2);}")
                                  .arg(a)
                                  .arg(int(m_fade * 160)));
}

void realvideo::btnCount4Clicked() { m_videoOnly->ShowVideoCount(4); }
void realvideo::btnCount8Clicked() { m_videoOnly->ShowVideoCount(8); }
void realvideo::btnCount16Clicked() { m_videoOnly->ShowVideoCount(16); }
void realvideo::btnCount25Clicked() { m_videoOnly->ShowVideoCount(25); }
void realvideo::btnPagePrevClicked() { m_videoOnly->PageBack(); }
void realvideo::btnPageNextClicked() { m_videoOnly->PageForward(); }

void realvideo::RecvCapPathFromConfig(QString path)
{
    m_capPath = path;
}

void realvideo::recvRecordCount(int count)
{
    emit sendRecordCount(count);
}

void realvideo::recvRecordAlarmType(int type)
{
    m_recordAlarmType = type;
}

// ---------------------------------------------------------------------------
// Streams: the controller does the work

QStringList realvideo::subscriptions() const
{
    return m_events->subscriptions();
}

int realvideo::StartStream(DeviceInfo_s dev, bool selectIfOpen)
{
    m_restarting.remove(fieldString(dev.devId));
    return m_ctl->StartStream(dev, selectIfOpen);
}

int realvideo::StartStream(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen)
{
    m_restarting.remove(fieldString(dev.devId));
    return m_ctl->StartStream(dev, access, selectIfOpen);
}

void realvideo::CloseVideoWinFromVOnly(QString key)
{
    VARNO_ASSERT_UI_THREAD();
    m_restarting.remove(key);
    const bool had = m_ctl->streamInfo(key, nullptr);
    m_ctl->closeStream(key);
    if (had)
        emit sendUpdate();
    // The grid cleared the window's look when it freed it.
    if (m_reconnecting.remove(key))
        emit sendLiveReconnecting(key, false);
}

void realvideo::onReconnecting(const QString &key, int32_t winHandle, bool on)
{
    VARNO_ASSERT_UI_THREAD();
    // Queued from the monitor: the window may have been closed, or given to
    // another camera, meanwhile.
    LiveWinInfo w{};
    if (!m_ctl->windowInfo(key, &w) || w.winHandle != winHandle || m_ctl->isReconnecting(key) != on)
        return;
    m_videoOnly->setReconnecting(winHandle, on);
    if (on ? !m_reconnecting.contains(key) : m_reconnecting.contains(key)) {
        if (on)
            m_reconnecting.insert(key);
        else
            m_reconnecting.remove(key);
        emit sendLiveReconnecting(key, on);
    }
}

void realvideo::RecvChangeStream(QString key, int type)
{
    m_ctl->changeStream(key, type);
}

void realvideo::RecvVideoWinPause(bool pause)
{
    m_ctl->setPaused(pause);
}

void realvideo::setMute(bool mute)
{
    m_ctl->setMute(mute);
}

void realvideo::RecvVideoWinNum(QString key)
{
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request control device(%s) audio!!!", id.constData());
    m_ctl->setAudioDevice(key);
    WriteLog(0, "[PREVIEW]Control device(%s) audio finished!!!", id.constData());
}

void realvideo::recvDevStateRequest(QString key)
{
    emit sendDevStateReslut(m_ctl->windowUsed(key));
}

void realvideo::recvOnLineState(STATE_E state, DvrListInfo_s dev)
{
    m_ctl->setOnline(fieldString(dev.dev.devId), state == STATE_ONLINE);
}

void realvideo::setPlay(int code, CLiveStream *stream)
{
    m_ctl->decoderFailed(code, stream);
}

void realvideo::onStreamStarted(const QString &key, int result)
{
    emit streamStarted(key, result);
    if (!m_restarting.remove(key) || result == 0)
        return;
    WriteLog(2, "%s(%d):Start device(%s) stream failed, ret(%d)!!!", "realvideo::RestartStream", __LINE__,
             text8(key).constData(), result);
    varno::ui::InfoBox(this, tr("Client"), tr("Preview(%1) failed !").arg(key));
}

// ---------------------------------------------------------------------------
// Snapshot

void realvideo::CapturePicWinFromVOnly(QString key, int channel, int winHandle)
{
    VARNO_ASSERT_UI_THREAD();
    captureWhenReady(key, channel, winHandle, QDeadlineTimer(1000));
}

// The snapshot waits up to a second for a picture, without holding the
// user-interface thread: it looks again every 5 ms from the event loop. The
// decoder is looked up each time, so a window closed meanwhile ends it.
void realvideo::captureWhenReady(const QString &key, int channel, int winHandle, QDeadlineTimer deadline)
{
    CLiveStream *live = m_ctl->decoderOf(key, winHandle);
    if (!live)
        return;
    if (!live->hasPicture() && !deadline.hasExpired()) {
        QTimer::singleShot(5, this, [this, key, channel, winHandle, deadline] {
            captureWhenReady(key, channel, winHandle, deadline);
        });
        return;
    }
    QString title;
    QString text;
    live->SetSnapshotHook([&title, &text](const QString &t, const QString &m) {
        title = t;
        text = m;
    });
    const int ret = live->CapturePicture(m_capPath, key, channel, 0);
    live->SetSnapshotHook(nullptr);
    if (!title.isEmpty())
        m_videoOnly->showSnapshotTip(winHandle, title, text, ret == 0 ? live->lastSnapshotFile() : QString());
}


// ---------------------------------------------------------------------------
// Events, camera messages and the password restart

void realvideo::setDevInfo(DvrListInfo_s dev)
{
    const QString key = fieldString(dev.dev.devId);
    // The password the registry holds now (changed in the camera or typed
    // anew) is the one every later reopen of this camera uses.
    m_ctl->changePassword(key, dev.dev.password);
    // The camera's events, subscribed off this thread.
    m_events->subscribe(key, fieldString(dev.config.eventAddr));
    m_ctl->renameCamera(key, fieldString(dev.dev.devName));
    if (!key.isEmpty())
        m_names.insert(key, fieldString(dev.dev.devName));
    m_videoOnly->setDevInfo(dev);
}

void realvideo::recvP2pMessage(P2pMessage_S msg)
{
    const QString camera = fieldString(msg.devId);
    const QString key = streamKeyFromCameraId(camera);
    if (key.isEmpty())
        return;
    if (msg.type == P2P_MSG_STREAM_BREAK) {
        WriteLog(0, "[PREVIEW]Stop device(%s) preview!!!", text8(key).constData());
        m_ctl->streamInterrupted(key);
    } else if (msg.type == P2P_MSG_STREAM_PASSWORD) {
        RestartStream(key);
    }
}

void realvideo::RestartStream(const QString &key)
{
    const QByteArray id = text8(key);
    DeviceInfo_s dev{};
    const bool known = m_ctl->lastDevice(key, &dev);
    // Only a camera this page asked for a stream is asked about: a notice
    // for any other camera is not this page's to answer.
    if (!known || !dev.p2pFlag) {
        WriteLog(3, "%s(%d):Device(%s) is not known!!!", "realvideo::RestartStream", __LINE__, id.constData());
        return;
    }
    // The boxes below run their own event loops: a second notice for the
    // same camera meanwhile would stack a second pair of boxes on the first.
    if (m_askingPassword.contains(key)) {
        WriteLog(3, "%s(%d):Device(%s) password is being asked already!!!", "realvideo::RestartStream",
                 __LINE__, id.constData());
        return;
    }
    m_askingPassword.insert(key);
    const auto asked = qScopeGuard([this, key] { m_askingPassword.remove(key); });
    WriteLog(2, "%s(%d):Password error, device(%s)!!!", "realvideo::RestartStream", __LINE__, id.constData());
    varno::ui::InfoBox(this, tr("Client"), tr("Password is error, please enter again!"));
    if (m_ctl->windowUsed(key)) {
        emit timeOutClose(key);
        emit sendCloseVideoToVOnly(key);
    }
    varno::ui::PromptRequest request;
    request.kind = varno::ui::PromptKind::Password;
    request.title = tr("Client");
    request.text = fieldString(dev.devName);
    request.parent = this;
    const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
    const QByteArray password = answer.button == QMessageBox::Ok ? answer.text.toUtf8().left(63) : QByteArray();
    if (password.isEmpty()) {
        WriteLog(3, "%s(%d):Password is null!!!", "realvideo::RestartStream", __LINE__);
        return;
    }
    varno::setText(dev.password, password);
    emit sendDevProperty(dev);
    // The open's result comes later (onStreamStarted); a page without a
    // free window answers at once.
    m_restarting.insert(key);
    const int ret = m_ctl->StartStream(dev, false);
    if (ret != 0) {
        m_restarting.remove(key);
        WriteLog(2, "%s(%d):Start device(%s) stream failed, ret(%d)!!!", "realvideo::RestartStream", __LINE__,
                 id.constData(), ret);
        varno::ui::InfoBox(this, tr("Client"), tr("Preview(%1) failed !").arg(key));
    }
    WriteLog(0, "[PREVIEW]Restart device(%s) preview finished!!!", id.constData());
}

// ---------------------------------------------------------------------------
// Alarms

void realvideo::recvAlarmInfo(EVENT_alarm_info info)
{
    for (int r = 0; r < m_alarmTable->rowCount(); ++r) {
        if (QTableWidgetItem *item = m_alarmTable->item(r, 0))
            item->setText(QString::number(item->text().toInt() + 1));
    }
    m_alarmTable->insertRow(0);
    QString typeName;
    switch (info.alarmType) {
    case EVENT_ALARM_VIDEO_BLOCK:
        typeName = tr("Video block alarm");
        break;
    case EVENT_ALARM_IO:
        typeName = tr("IO Alarm");
        break;
    case EVENT_ALARM_MOTION:
        typeName = tr("Motion Detection alarm");
        break;
    default:
        typeName = tr("Disarm");
        break;
    }
    const QString source = fieldString(info.source);
    const QString uuid = source.mid(9);
    // The camera's name; its ID when no camera of that ID is listed.
    const QString name = m_names.value(uuid);
    const QString cells[4] = {QStringLiteral("1"), fieldString(info.time), typeName, name.isEmpty() ? uuid : name};
    for (int c = 0; c < 4; ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(Qt::AlignCenter);
        m_alarmTable->setItem(0, c, item);
    }
    m_alarmTable->item(0, 3)->setData(Qt::UserRole, uuid);
    m_alarmTable->item(0, 3)->setToolTip(uuid);
    if (m_recordAlarmType == 1 || (m_recordAlarmType != 0 && m_recordAlarmType == info.alarmType))
        m_videoOnly->RecordAlarmStream(uuid, info.alarmType);
}

void realvideo::StopAlarmRecord(QModelIndex index)
{
    if (!index.isValid()) {
        WriteLog(3, "%s(%d):Index is invalid!!!", "realvideo::StopAlarmRecord", __LINE__);
        return;
    }
    const QTableWidgetItem *item = m_alarmTable->item(index.row(), 3);
    if (!item)
        return;
    const QString key = item->data(Qt::UserRole).toString();
    LiveWinInfo win{};
    LiveStreamInfo rec{};
    if (!m_ctl->windowInfo(key, &win) || win.used != 1 || !m_ctl->streamInfo(key, &rec) || rec.onvifFlag != 3)
        return;
    m_videoOnly->SelectVideoWin(win.winHandle);
}
