#include "playback/syncplayer.h"

#include "common/logfile.h"
#include "common/uithread.h"
#include "live/videosurface.h"
#include "playback/qmediaplay.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoonlypb.h"
#include "playback/recordsearch.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeZone>
#include <QVBoxLayout>

namespace varno::playback {

SyncPlayer::SyncPlayer(const TimelineModel *model, SyncClock *clock, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("syncPlayer"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("varno--playback--SyncPlayer#syncPlayer { background-color: rgb(30, 34, 40); }"
                                 "QLabel { color: rgb(220, 224, 230); }"));
    m_sync = new SyncPlayback(model, clock, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *bar = new QHBoxLayout;
    const auto button = [this](const QString &text, const QString &name) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    m_pause = button(tr("Pause"), QStringLiteral("syncPause"));
    m_step = button(tr("Next frame"), QStringLiteral("syncStep"));
    m_slower = button(tr("Slower"), QStringLiteral("syncSlower"));
    m_faster = button(tr("Faster"), QStringLiteral("syncFaster"));
    m_close = button(tr("Close"), QStringLiteral("syncClose"));
    m_speedLabel = new QLabel(speedText(0), this);
    m_speedLabel->setObjectName(QStringLiteral("syncSpeed"));
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("syncTime"));
    bar->addWidget(m_pause);
    bar->addWidget(m_step);
    bar->addWidget(m_slower);
    bar->addWidget(m_speedLabel);
    bar->addWidget(m_faster);
    bar->addWidget(m_time, 1, Qt::AlignCenter);
    bar->addWidget(m_close);
    layout->addLayout(bar);
    m_grid = new qvideoonlypb(this, SyncPlayback::kMaxCameras);
    m_grid->setObjectName(QStringLiteral("syncGrid"));
    layout->addWidget(m_grid, 1);
    for (int i = 0; i < m_grid->windowCount(); ++i) {
        // The caption lies on the picture's area, which is empty while
        // the camera has nothing to show.
        auto *caption = new QLabel(m_grid->window(i)->video());
        caption->setObjectName(QStringLiteral("syncCaption%1").arg(i));
        caption->setAlignment(Qt::AlignCenter);
        caption->setAttribute(Qt::WA_TransparentForMouseEvents);
        caption->setStyleSheet(QStringLiteral("color: rgb(220, 224, 230); background: transparent;"));
        auto *center = new QVBoxLayout(m_grid->window(i)->video());
        center->addWidget(caption, 0, Qt::AlignCenter);
        caption->hide();
        m_captions.append(caption);
        // A window's own play button pauses and resumes them all.
        connect(m_grid->window(i)->hand(), &QVideoHandPb::SendPauseToMul, m_sync, &SyncPlayback::setPaused);
    }
    m_step->setEnabled(false);

    connect(m_sync, &SyncPlayback::playFile, this, &SyncPlayer::playFile);
    connect(m_sync, &SyncPlayback::seekFile, this, [this](int slot, int offset) {
        const SyncPlayback::Slot s = m_sync->slot(slot);
        if (!s.key.isEmpty())
            playFile(slot, s.key, int(s.source), s.file, offset);
    });
    connect(m_sync, &SyncPlayback::closeSlot, this, [this](int slot) {
        if (const int winId = winIdOf(slot))
            m_grid->RecvCloseFromMul(winId);
    });
    connect(m_sync, &SyncPlayback::noRecording, this, &SyncPlayer::showNoRecording);
    connect(m_sync, &SyncPlayback::pausedChanged, this, &SyncPlayer::applyPause);
    connect(m_sync, &SyncPlayback::speedChanged, this, [this](float factor) {
        for (int i = 0; i < m_sync->slotCount(); ++i)
            if (!m_sync->slot(i).key.isEmpty())
                m_grid->RecvSpeedFromMul(winIdOf(i), factor);
    });
    connect(m_sync, &SyncPlayback::stepped, this, [this] {
        for (int i = 0; i < m_sync->slotCount(); ++i)
            if (!m_sync->slot(i).key.isEmpty())
                m_grid->RecvStepFromMul(winIdOf(i));
    });
    connect(m_sync, &SyncPlayback::positionChanged, this, &SyncPlayer::showTime);
    connect(m_sync, &SyncPlayback::positionChanged, this, &SyncPlayer::positionChanged);
    // The windows' progress keeps them in step with the clock.
    connect(m_grid, &qvideoonlypb::SendValue, this, [this](int index, int second) {
        if (m_sync->slot(index).key.isEmpty())
            return;
        // A file started after a change of speed takes the clock's.
        if (qmediaplay *e = m_grid->engineOf(index); e && e->speedSupported() && e->speed() != m_sync->speed())
            m_grid->RecvSpeedFromMul(winIdOf(index), m_sync->speed());
        if (m_sync->slot(index).source == TimelineSource::Local)
            m_sync->reportProgress(index, second);
    });

    connect(m_pause, &QPushButton::clicked, this, [this] { m_sync->setPaused(!m_sync->paused()); });
    connect(m_step, &QPushButton::clicked, m_sync, &SyncPlayback::stepFrame);
    connect(m_slower, &QPushButton::clicked, this, [this] { changeSpeed(-1); });
    connect(m_faster, &QPushButton::clicked, this, [this] { changeSpeed(1); });
    connect(m_close, &QPushButton::clicked, this, [this] {
        stop();
        emit closed();
    });
}

SyncPlayer::~SyncPlayer() = default;

int SyncPlayer::winIdOf(int slot) const
{
    qmultivideopb *win = m_grid->window(slot);
    return win ? win->winId() : 0;
}

bool SyncPlayer::start(const QStringList &cameras, int64_t wallSecond, const QHash<QString, QString> &names)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_sync->setCameras(cameras))
        return false;
    m_names = names;
    for (int i = 0; i < m_captions.size(); ++i) {
        m_captions[i]->hide();
        if (i >= cameras.size())
            m_grid->RecvCloseFromMul(winIdOf(i));
    }
    m_level = 0;
    m_sync->setSpeed(1.0f);
    m_speedLabel->setText(speedText(0));
    WriteLog(0, "[PLAYBACK]Start synced play of %d cameras!!!", int(cameras.size()));
    m_sync->start(wallSecond);
    return true;
}

void SyncPlayer::stop()
{
    m_sync->stop();
    for (QLabel *c : std::as_const(m_captions))
        c->hide();
}

QString SyncPlayer::captionText(int slot) const
{
    return m_captions.value(slot) ? m_captions[slot]->text() : QString();
}

bool SyncPlayer::captionVisible(int slot) const
{
    return m_captions.value(slot) && !m_captions[slot]->isHidden();
}

void SyncPlayer::playFile(int slot, const QString &key, int source, const MEDIA_FILE_S &file, int offset)
{
    if (QLabel *c = m_captions.value(slot))
        c->hide();
    m_grid->playFileAt(key, source, file, offset, slot, m_sync->paused());
    if (qmultivideopb *win = m_grid->window(slot))
        win->setTitle(m_names.value(m_sync->slot(slot).camera, m_sync->slot(slot).camera) + QStringLiteral(" - ")
                      + key);
}

void SyncPlayer::showNoRecording(int slot)
{
    QLabel *c = m_captions.value(slot);
    if (!c)
        return;
    const QString camera = m_sync->slot(slot).camera;
    c->setText(m_names.value(camera, camera) + QLatin1Char('\n') + tr("no recording"));
    c->show();
}

void SyncPlayer::applyPause(bool paused)
{
    for (int i = 0; i < m_sync->slotCount(); ++i) {
        const SyncPlayback::Slot s = m_sync->slot(i);
        if (s.key.isEmpty())
            continue;
        if (m_grid->entry(i).opening) {
            // Still starting: it takes the state (and the second) once started.
            playFile(i, s.key, int(s.source), s.file, int(m_sync->positionMs() / 1000 - s.fileStart));
            continue;
        }
        m_grid->RecvPauseFromMul(winIdOf(i), paused);
        m_grid->window(i)->hand()->setPaused(paused);
    }
    m_pause->setText(paused ? tr("Play") : tr("Pause"));
    m_step->setEnabled(paused);
}

void SyncPlayer::changeSpeed(int delta)
{
    const int level = std::clamp(m_level + delta, -3, 3);
    if (level == m_level)
        return;
    if (m_sync->setSpeed(speedFactor(level))) {
        m_level = level;
        m_speedLabel->setText(speedText(level));
    }
}

void SyncPlayer::showTime(qint64 wallMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(wallMs, QTimeZone::utc());
    m_time->setText(t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

} // namespace varno::playback
