#include "playback/qvideoonlypb.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "common/ui/infobox.h"
#include "live/liveviewsettings.h"
#include "live/videosurface.h"
#include "live/qtipwidget.h"
#include "playback/qdevicefileplay.h"
#include "playback/qlocalfileplay.h"
#include "playback/playbackcontroller.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoslide.h"
#include "playback/recordsearch.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QGridLayout>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {

constexpr int kWatchdogMs = 80;

} // namespace

qvideoonlypb::qvideoonlypb(QWidget *parent, int count)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videoOnlyPb"));
    if (count < 1)
        count = 1;
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(2);
    int columns = 1;
    while (columns * columns < count)
        ++columns;
    for (int i = 0; i < count; ++i) {
        auto *win = new qmultivideopb(this);
        m_windows.append(win);
        m_grid->addWidget(win, i / columns, i % columns);
        PlayEntry e;
        e.index = uint32_t(i);
        m_entries.insert(win->winId(), e);
        connect(win, &qmultivideopb::SendValueToVideo, this, &qvideoonlypb::RecvValueFromMul);
        connect(win, &qmultivideopb::SendCloseToVideo, this, &qvideoonlypb::RecvCloseFromMul);
        connect(win, &qmultivideopb::SendPauseToVideo, this, &qvideoonlypb::RecvPauseFromMul);
        connect(win, &qmultivideopb::SendSpeedToVideo, this, &qvideoonlypb::RecvSpeedFromMul);
        connect(win, &qmultivideopb::SendSnapToVideo, this, &qvideoonlypb::RecvSnapFromMul);
        connect(win, &qmultivideopb::SendSeekToVideo, this, &qvideoonlypb::RecvSeekFromMul);
        connect(win, &qmultivideopb::SendStepToVideo, this, &qvideoonlypb::RecvStepFromMul);
        connect(win, &qmultivideopb::clickedWin, this, [this](int winId) { selectWindow(indexOfWin(winId)); });
        connect(win, &qmultivideopb::doubleClickedWin, this, &qvideoonlypb::toggleZoom);
    }
    selectWindow(0);
    connect(this, &qvideoonlypb::SendValue, this, &qvideoonlypb::RecvValue);
    connect(this, &qvideoonlypb::SendPlayView, this, &qvideoonlypb::RecvPlayView);
    connect(this, &qvideoonlypb::SendUpdate, this, &qvideoonlypb::RecvUpdate);
    connect(this, &qvideoonlypb::SendMsgbox, this, &qvideoonlypb::RecvMsgbox);
    connect(this, &qvideoonlypb::SendRangeToWin, this, &qvideoonlypb::RecvRangeToWin);
    connect(this, &qvideoonlypb::SendPlayEnded, this, &qvideoonlypb::RecvPlayEnded);

    m_player = new varno::playback::PlaybackController(this);
    connect(m_player, &varno::playback::PlaybackController::started, this, &qvideoonlypb::engineStarted);

    // The live grid's menu style and its "Keep aspect ratio" choice.
    m_menu = new QMenu(this);
    m_menu->setStyleSheet(QStringLiteral("QMenu {background-color:gray; border:1px solid black; color:white;}"
                                         "QMenu::item:selected{background-color:blue;}"));
    m_aspectAction = m_menu->addAction(tr("Keep aspect ratio"));
    m_aspectAction->setCheckable(true);
    connect(m_aspectAction, &QAction::triggered, this, &qvideoonlypb::setKeepAspect);
    applyKeepAspect(varno::live::LiveViewSettings::playbackKeepAspect(m_user));

    m_watchdog = new QTimer(this);
    m_watchdog->setInterval(kWatchdogMs);
    connect(m_watchdog, &QTimer::timeout, this, &qvideoonlypb::watchdogPass);
    m_watchdog->start();
}

qvideoonlypb::~qvideoonlypb()
{
    m_watchdog->stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (PlayEntry &e : m_entries) {
            e.engine = nullptr;
            e.inUse = false;
        }
    }
    // Outside the lock: an engine's thread may be waiting for it in the
    // callback. The controller stops and deletes every engine (a start in
    // progress first ends) and joins its thread while this grid still lives.
    m_player->shutdown();
}

void qvideoonlypb::setUserName(const QString &user)
{
    m_user = user;
    applyKeepAspect(varno::live::LiveViewSettings::playbackKeepAspect(m_user));
}

void qvideoonlypb::setKeepAspect(bool on)
{
    applyKeepAspect(on);
    varno::live::LiveViewSettings::setPlaybackKeepAspect(m_user, on);
}

void qvideoonlypb::applyKeepAspect(bool on)
{
    m_keepAspect = on;
    m_aspectAction->setChecked(on);
    for (qmultivideopb *win : std::as_const(m_windows))
        win->video()->setKeepAspect(on);
}

void qvideoonlypb::contextMenuEvent(QContextMenuEvent *event)
{
    m_menu->popup(event->globalPos());
}

int qvideoonlypb::indexOfWin(int winId) const
{
    for (int i = 0; i < m_windows.size(); ++i)
        if (m_windows[i]->winId() == winId)
            return i;
    return -1;
}

qvideoonlypb::PlayEntry qvideoonlypb::entry(int index) const
{
    if (index < 0 || index >= m_windows.size())
        return {};
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.value(m_windows[index]->winId());
}

qmediaplay *qvideoonlypb::engineOf(int index) const
{
    return entry(index).engine;
}

bool qvideoonlypb::anyPlaying() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const PlayEntry &e : m_entries)
        if (e.engine && e.inUse)
            return true;
    return false;
}

void qvideoonlypb::setDevInfo(const DvrListInfo_s &info)
{
    const QString id = varno::fieldText(info.dev.devId);
    const QByteArray idText = id.toUtf8();
    Stream s;
    s.p2pFlag = info.dev.p2pFlag;
    std::memcpy(s.p2pId, info.dev.p2pId, sizeof(s.p2pId) - 1);
    std::memcpy(s.password, info.dev.password, sizeof(s.password) - 1);
    bool present = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        present = m_streams.contains(id);
        m_streams.insert(id, s);
    }
    if (present)
        WriteLog(0, "[PLAYBACK]Update device(%s) to streamHash!!!", idText.constData());
    else
        WriteLog(0, "[PLAYBACK]Insert device(%s) to streamHash!!!", idText.constData());
}

void qvideoonlypb::removeDevInfo(const QString &devId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.remove(devId);
}

void qvideoonlypb::setCapPath(const QString &path)
{
    m_capPath = path;
}

QString qvideoonlypb::capPath() const
{
    return m_capPath;
}

void qvideoonlypb::selectWindow(int index)
{
    if (index < 0 || index >= m_windows.size())
        return;
    m_current = index;
    for (int i = 0; i < m_windows.size(); ++i)
        m_windows[i]->setCurrent(i == index);
    if (m_zoom)
        for (int i = 0; i < m_windows.size(); ++i)
            m_windows[i]->setVisible(i == index);
}

void qvideoonlypb::toggleZoom(int winId)
{
    const int index = indexOfWin(winId);
    if (index < 0)
        return;
    m_zoom = !m_zoom;
    m_current = index;
    for (int i = 0; i < m_windows.size(); ++i)
        m_windows[i]->setVisible(!m_zoom || i == index);
    selectWindow(index);
}

int qvideoonlypb::playFile(const QString &filename, int videosrc, const MEDIA_FILE_S &mediafile)
{
    return playFileAt(filename, videosrc, mediafile, 0);
}

int qvideoonlypb::playFileAt(const QString &filename, int videosrc, const MEDIA_FILE_S &mediafile, int startSecond,
                             int window, bool paused)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QByteArray nameText = filename.toUtf8();
    WriteLog(0, "[PLAYBACK]Request play file(%s)!!!", nameText.constData());
    if (window >= m_windows.size())
        return -1;

    int playingWin = 0;
    int firstUsedWin = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
            if (it->inUse && it->fileName == filename)
                playingWin = it.key();
            if (it->engine && it->inUse && firstUsedWin == 0)
                firstUsedWin = it.key();
        }
    }
    if (playingWin != 0 && window >= 0) {
        // The file plays already: in its own window it only moves to the
        // second asked for; a window of its own is not taken twice.
        if (playingWin == m_windows[window]->winId()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                PlayEntry &e = m_entries[playingWin];
                if (e.opening) {
                    e.startSecond = std::max(0, startSecond);
                    e.startPaused = paused;
                    return 0;
                }
            }
            seekWindow(playingWin, startSecond);
            return 0;
        }
        RecvCloseFromMul(playingWin);
        playingWin = 0;
    }
    if (playingWin != 0) {
        if (startSecond > 0) {
            selectWindow(indexOfWin(playingWin));
            seekWindow(playingWin, startSecond);
            return 0;
        }
        const int index = indexOfWin(playingWin);
        selectWindow(index);
        if (replayEnded(playingWin)) {
            m_windows[index]->hand()->setPaused(false);
            WriteLog(0, "[PLAYBACK]Play file(%s) again, index(%d)!!!", nameText.constData(), index);
            return 0;
        }
        WriteLog(3, "[PLAYBACK]The file(%s) is playing, index(%d)!!!", nameText.constData(), index);
        return 0;
    }

    const QString devId = varno::fieldText(mediafile.devId);
    Stream stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.constFind(devId);
        if (it != m_streams.cend())
            stream = *it;
        else
            WriteLog(3, "%s(%d):Hash has not contained device(%s)!!!", "qvideoonlypb::playFile", __LINE__,
                     devId.toUtf8().constData());
    }
    // The camera streams one of its files at a time to us.
    if (window < 0 && videosrc == 1 && stream.p2pFlag && firstUsedWin != 0)
        RecvCloseFromMul(firstUsedWin);

    // The lowest free window, else the last one.
    int chosen = window;
    if (chosen >= 0 && entry(chosen).inUse)
        RecvCloseFromMul(m_windows[chosen]->winId());
    if (chosen < 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < m_windows.size(); ++i)
            if (!m_entries.value(m_windows[i]->winId()).inUse) {
                chosen = i;
                break;
            }
    }
    if (chosen < 0) {
        chosen = m_windows.size() - 1;
        RecvCloseFromMul(m_windows[chosen]->winId());
    }
    qmultivideopb *win = m_windows[chosen];
    const int winId = win->winId();
    qmediaplay *old = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        PlayEntry &e = m_entries[winId];
        old = e.engine;
        e.engine = nullptr;
    }
    if (old)
        m_player->retire(old);

    std::unique_ptr<qmediaplay> owned;
    if (videosrc == 0) {
        owned = std::make_unique<qlocalfileplay>();
    } else {
        PlayCamera_S camera;
        std::memset(&camera, 0, sizeof(camera));
        camera.connected = 1;
        std::memcpy(camera.p2pId, stream.p2pId, sizeof(camera.p2pId) - 1);
        std::memcpy(camera.password, stream.password, sizeof(camera.password) - 1);
        owned = std::make_unique<qdevicefileplay>(camera);
    }
    qmediaplay *engine = owned.get();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        PlayEntry &e = m_entries[winId];
        e.engine = engine;
        e.inUse = true;
        e.fileName = filename;
        e.progressSeen = false;
        e.state = 1;
        e.ended = false;
        e.lastCount = 0;
        e.lastLength = -1;
        e.opening = true;
        e.startSecond = std::max(0, startSecond);
        e.startPaused = paused;
        std::memcpy(e.devId, mediafile.devId, sizeof(e.devId));
        e.devId[sizeof(e.devId) - 1] = 0;
        std::memcpy(e.p2pId, stream.p2pId, sizeof(e.p2pId));
        e.p2pId[sizeof(e.p2pId) - 1] = 0;
        e.channel = mediafile.channel;
    }
    win->setTitle(filename);
    win->video()->setPainting(false);
    selectWindow(chosen);

    const varno::playback::DecoderSettings ds = varno::playback::decoderSettings(mediafile);
    AV_DECODER_PARAM_S params{ds.audioCode, ds.channels, ds.bits, ds.sampleRate};
    // The callback is set first: the first progress notice may come at once.
    engine->SetCallback(&qvideoonlypb::engineCallback, this);
    varno::playback::PlayStart start;
    start.fileName = mediafile.fileName;
    start.videoCodec = ds.videoCodec;
    start.params = params;
    start.frameRate = mediafile.frameRate;
    start.window = winId;
    const quint64 ticket = m_player->start(std::move(owned), start);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries[winId].ticket = ticket;
    }
    return 0;
}

void qvideoonlypb::engineStarted(quint64 ticket, int result)
{
    VARNO_ASSERT_UI_THREAD();
    int winId = 0;
    qmediaplay *engine = nullptr;
    QString filename;
    int startSecond = 0;
    bool startPaused = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            if (it->opening && it->ticket == ticket) {
                winId = it.key();
                engine = it->engine;
                filename = it->fileName;
                startSecond = it->startSecond;
                startPaused = it->startPaused;
                it->opening = false;
                if (result != 0) {
                    it->engine = nullptr;
                    it->inUse = false;
                    it->fileName.clear();
                    it->progressSeen = false;
                }
                break;
            }
    }
    // Closed or replaced while it started: already retired.
    if (winId == 0 || !engine)
        return;
    const QByteArray nameText = filename.toUtf8();
    if (result != 0) {
        m_player->retire(engine);
        const int index = indexOfWin(winId);
        if (index >= 0) {
            m_windows[index]->video()->setPainting(true);
            m_windows[index]->setTitle(QString());
        }
        WriteLog(2, "%s(%d):Play file(%s) failed!!!", "qvideoonlypb::playFile", __LINE__, nameText.constData());
        return;
    }
    if (m_suspended)
        engine->SetSuspend(true);
    if (startSecond > 0)
        seekWindow(winId, startSecond);
    if (startPaused) {
        engine->SetPause(true);
        if (const int index = indexOfWin(winId); index >= 0)
            m_windows[index]->hand()->setPaused(true);
    }
    WriteLog(0, "[PLAYBACK]Play file(%s) success!!!", nameText.constData());
}

int qvideoonlypb::engineCallback(int length, int position, int code, qmediaplay *engine, void *user)
{
    auto *self = static_cast<qvideoonlypb *>(user);
    if (!self)
        return 0;
    int winId = 0;
    int index = -1;
    bool first = false;
    bool rangeChanged = false;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        for (auto it = self->m_entries.begin(); it != self->m_entries.end(); ++it) {
            if (it->engine == engine && engine) {
                winId = it.key();
                index = int(it->index);
                if (code == varno::playback::kPlayProgress) {
                    first = !it->progressSeen;
                    it->progressSeen = true;
                    rangeChanged = it->lastLength != length;
                    it->lastLength = length;
                }
                break;
            }
        }
    }
    if (winId == 0) {
        WriteLog(3, "[PLAYBACK]Has not finded the play handle!!!");
        return 0;
    }
    if (code == varno::playback::kPlayProgress) {
        if (first)
            self->callbackViewChange(winId, true);
        if (rangeChanged)
            emit self->SendRangeToWin(index, length);
        emit self->SendValue(index, position);
        return 0;
    }
    if (code == varno::playback::kPlayEnded) {
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            auto it = self->m_entries.find(winId);
            if (it != self->m_entries.end() && it->engine == engine)
                it->ended = true;
        }
        emit self->SendValue(index, position);
        emit self->SendPlayEnded(index);
        return 0;
    }
    WriteLog(3, "[PLAYBACK]Status is not playing!!!");
    self->callbackViewChange(winId, false);
    return 0;
}

void qvideoonlypb::callbackViewChange(int winId, bool view)
{
    WriteLog(0, "[PLAYBACK]Request callback reset win(%d)!!!", winId);
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(winId);
        if (it == m_entries.end()) {
            WriteLog(2, "[PLAYBACK]Hash has not contained win(%d)!!!", winId);
            return;
        }
        index = int(it->index);
        if (!view) {
            if (it->engine)
                it->engine->StopPlay(false);
            it->inUse = false;
            it->progressSeen = false;
            it->fileName.clear();
        }
    }
    if (!view)
        emit SendUpdate();
    emit SendPlayView(index, view);
    WriteLog(0, "[PLAYBACK]Reset win(%d) finish, index(%d)!!!", winId, index);
}

void qvideoonlypb::RecvValue(int index, int count)
{
    if (index >= 0 && index < m_windows.size())
        m_windows[index]->slide()->setValue(count);
}

void qvideoonlypb::RecvRangeToWin(int index, int length)
{
    if (index >= 0 && index < m_windows.size())
        m_windows[index]->slide()->setRange(length);
}

void qvideoonlypb::RecvPlayView(int index, bool view)
{
    if (index < 0 || index >= m_windows.size())
        return;
    qmultivideopb *win = m_windows[index];
    selectWindow(index);
    bool speed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const PlayEntry e = m_entries.value(win->winId());
        speed = view && e.engine && e.inUse && e.engine->speedSupported();
        if (view && !(e.engine && e.inUse))
            view = false;   // reset meanwhile
    }
    win->hand()->setView(view, speed);
    win->slide()->setVisible(view);
    if (!view) {
        win->slide()->setRange(0);
        win->slide()->setValue(0);
        win->setTitle(QString());
    }
    win->video()->setPainting(!view);
}

void qvideoonlypb::RecvPlayEnded(int index)
{
    if (index < 0 || index >= m_windows.size())
        return;
    qmultivideopb *win = m_windows[index];
    qmediaplay *engine = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.constFind(win->winId());
        // Played again or closed meanwhile.
        if (it == m_entries.cend() || !it->engine || !it->inUse || it->opening || !it->ended)
            return;
        engine = it->engine;
    }
    // Engines leave the entries on this thread only: the pointer stays valid here.
    engine->SetPause(true);
    win->hand()->setPaused(true);
    WriteLog(0, "[PLAYBACK]The file(%s) ended, index(%d)!!!", win->hand()->fileName().toUtf8().constData(), index);
}

bool qvideoonlypb::replayEnded(int winId)
{
    qmediaplay *engine = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(winId);
        if (it == m_entries.end() || !it->engine || !it->inUse || it->opening || !it->ended)
            return false;
        it->ended = false;
        engine = it->engine;
    }
    engine->SeekTo(0);
    engine->SetPause(false);
    return true;
}

qmediaplay *qvideoonlypb::usableEngine(int winId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.constFind(winId);
    if (it == m_entries.cend() || !it->engine || !it->inUse || it->opening)
        return nullptr;
    return it->engine;
}

qmediaplay *qvideoonlypb::engineToSeek(int winId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(winId);
    if (it == m_entries.end() || !it->engine || !it->inUse || it->opening)
        return nullptr;
    // A seek in an ended file: play goes on from there.
    it->ended = false;
    return it->engine;
}

void qvideoonlypb::RecvValueFromMul(int winId, int value)
{
    if (qmediaplay *engine = engineToSeek(winId))
        engine->SeekTo(value);
}

void qvideoonlypb::seekWindow(int winId, int second)
{
    qmediaplay *engine = engineToSeek(winId);
    if (!engine)
        return;
    // As the slider does: a camera file is asked for again from the second
    // when the hold ends, a local file seeks at once.
    engine->SetSeekHold(true);
    engine->SeekTo(second);
    engine->SetSeekHold(false);
}

void qvideoonlypb::RecvPauseFromMul(int winId, bool pause)
{
    if (!pause && replayEnded(winId))
        return;
    if (qmediaplay *e = usableEngine(winId))
        e->SetPause(pause);
}

void qvideoonlypb::RecvSeekFromMul(int winId, bool bSeek)
{
    if (qmediaplay *e = usableEngine(winId))
        e->SetSeekHold(bSeek);
}

void qvideoonlypb::RecvSpeedFromMul(int winId, float speed)
{
    if (qmediaplay *e = usableEngine(winId))
        e->SetSpeed(speed);
}

void qvideoonlypb::RecvStepFromMul(int winId)
{
    if (qmediaplay *e = usableEngine(winId))
        e->StepFrame();
}

void qvideoonlypb::RecvPauseFromClient(bool pause)
{
    m_suspended = pause;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (PlayEntry &e : m_entries)
        if (e.engine && e.inUse && !e.opening)   // an opening one takes it when started
            e.engine->SetSuspend(pause);
}

void qvideoonlypb::RecvCloseFromMul(int winId)
{
    WriteLog(0, "[PLAYBACK]Request reset win(%d)!!!", winId);
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.constFind(winId);
        if (it == m_entries.cend()) {
            WriteLog(0, "[PLAYBACK]Hash has not contained win(%d)!!!", winId);
            return;
        }
        index = int(it->index);
    }
    ResetPlayHash(winId);
    emit SendUpdate();
    RecvPlayView(index, false);
    WriteLog(0, "[PLAYBACK]Reset win(%d) finish, index(%d)!!!", winId, index);
}

void qvideoonlypb::ResetPlayHash(int winId)
{
    WriteLog(0, "[PLAYBACK]Request reset play win(%d)!!!", winId);
    qmediaplay *engine = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(winId);
        if (it == m_entries.end()) {
            WriteLog(2, "%s(%d):[PLAYBACK]Hash has not contained win(%d)!!!", "qvideoonlypb::ResetPlayHash",
                     __LINE__, winId);
            return;
        }
        engine = it->engine;
        it->engine = nullptr;
        it->inUse = false;
        it->progressSeen = false;
        it->fileName.clear();
        it->state = 0;
        it->ended = false;
        it->opening = false;
    }
    if (engine)
        m_player->retire(engine);
    WriteLog(0, "[PLAYBACK]Reset play win(%d) finished!!!", winId);
}

void qvideoonlypb::RecvUpdate()
{
    update();
}

void qvideoonlypb::RecvMsgbox(QString strTitle, QString strMsg)
{
    varno::ui::InfoBox(this, strTitle, strMsg);
}

void qvideoonlypb::watchdogPass()
{
    struct Seen
    {
        int winId;
        qmediaplay *engine;
        uint32_t state;
        uint32_t lastCount;
    };
    QList<Seen> seen;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            if (it->engine && it->inUse && !it->opening)
                seen.append({it.key(), it->engine, it->state, it->lastCount});
    }
    // Engines leave the entries on this thread only (their controller
    // deletes them later): the pointers stay valid through this pass.
    for (const Seen &s : seen) {
        const uint32_t count = uint32_t(s.engine->GetFrameCount());
        uint32_t state = s.state;
        const int index = indexOfWin(s.winId);
        if (state == 1) {
            if (count != 0) {
                state = 2;
                if (index >= 0)
                    m_windows[index]->video()->setPainting(false);
            }
        } else if (state == 2) {
            if (count == s.lastCount)
                state = 3;
            else
                s.engine->SetShowLastFrame(false);
        } else if (state == 3) {
            if (count == s.lastCount)
                s.engine->SetShowLastFrame(true);
            else
                state = 2;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(s.winId);
        if (it != m_entries.end() && it->engine == s.engine) {
            it->state = state;
            it->lastCount = count;
        }
    }
}

void qvideoonlypb::recvPlayLength(const char *peerId, int seconds)
{
    if (!peerId)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (PlayEntry &e : m_entries)
        if (e.engine && e.inUse && std::strncmp(e.p2pId, peerId, sizeof(e.p2pId) - 1) == 0)
            e.engine->SetLength(seconds);
}

void qvideoonlypb::RecvSnapFromMul(int winId)
{
    WriteLog(0, "[PLAYBACK]Request snap win(%d)!!!", winId);
    PlayEntry e;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.constFind(winId);
        if (it == m_entries.cend() || !it->engine || !it->inUse || it->opening)
            return;
        e = *it;
    }
    QDir dir(m_capPath);
    if (!dir.exists()) {
        WriteLog(3, "%s(%d):Create snap dir(%s)!!!", "qvideoonlypb::RecvSnapFromMul", __LINE__,
                 m_capPath.toUtf8().constData());
        QDir().mkpath(m_capPath);
    }
    const QString path = m_capPath + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")) + QLatin1Char('-')
        + varno::fieldText(e.devId) + QLatin1Char('-') + QString::number(e.channel) + QStringLiteral(".bmp");
    const QByteArray pathText = path.toUtf8();
    const int ret = e.engine->CapPicture(pathText.constData());
    if (ret == 0) {
        if (!m_tip)
            m_tip = new QTipWidget(this);
        m_tip->showPicture(tr("Snapshot"), tr("Snapshot saved to:") + path, path);
        WriteLog(0, "[PLAYBACK]Snap file(%s) success!!!", pathText.constData());
        emit snapshotTaken(path, 0);
    } else {
        WriteLog(2, "%s(%d):Snap file(%s) failed, ret(%d)!!!", "qvideoonlypb::RecvSnapFromMul", __LINE__,
                 pathText.constData(), ret);
        varno::ui::InfoBox(this, tr("Snapshot"), tr("Failed to capture image,errorno:%1").arg(ret));
        emit snapshotTaken(QString(), ret);
    }
}
