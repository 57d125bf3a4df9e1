#include "playback/syncplay.h"

#include "common/uithread.h"

#include <QTimer>

#include <chrono>

namespace varno::playback {

namespace {

class SteadyClock final : public SyncClock
{
public:
    int64_t nowMs() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace

SyncClock *SyncClock::system()
{
    static SteadyClock clock;
    return &clock;
}

SyncPlayback::SyncPlayback(const TimelineModel *model, SyncClock *clock, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_clock(clock ? clock : SyncClock::system())
{
    m_timer = new QTimer(this);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &SyncPlayback::tick);
}

SyncPlayback::~SyncPlayback() = default;

bool SyncPlayback::setCameras(const QStringList &cameras)
{
    VARNO_ASSERT_UI_THREAD();
    if (cameras.isEmpty() || cameras.size() > kMaxCameras)
        return false;
    if (m_running)
        stop();
    m_slots.clear();
    for (const QString &c : cameras) {
        Slot s;
        s.camera = c;
        m_slots.append(s);
    }
    return true;
}

QStringList SyncPlayback::cameras() const
{
    QStringList out;
    for (const Slot &s : m_slots)
        out.append(s.camera);
    return out;
}

void SyncPlayback::anchor(int64_t positionMs)
{
    m_anchorPos = positionMs;
    m_anchorClock = m_clock->nowMs();
}

int64_t SyncPlayback::positionMs() const
{
    if (!m_running || m_paused)
        return m_anchorPos;
    const int64_t elapsed = m_clock->nowMs() - m_anchorClock;
    return m_anchorPos + int64_t(double(elapsed) * double(m_speed));
}

void SyncPlayback::start(int64_t wallSecond)
{
    VARNO_ASSERT_UI_THREAD();
    for (Slot &s : m_slots) {
        s.key.clear();
        s.fileStart = s.fileEnd = 0;
    }
    m_running = true;
    m_paused = false;
    m_lastEmitted = -1;
    m_announce = true;
    anchor(wallSecond * 1000);
    emit pausedChanged(false);
    settle(false);
    m_timer->start();
}

void SyncPlayback::stop()
{
    VARNO_ASSERT_UI_THREAD();
    m_timer->stop();
    m_running = false;
    for (int i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].key.isEmpty())
            continue;
        m_slots[i].key.clear();
        emit closeSlot(i);
    }
}

void SyncPlayback::setPaused(bool paused)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_running || paused == m_paused)
        return;
    anchor(positionMs());
    m_paused = paused;
    emit pausedChanged(paused);
}

void SyncPlayback::seek(int64_t wallMs)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_running)
        return;
    anchor(wallMs);
    settle(true);
}

bool SyncPlayback::setSpeed(float factor)
{
    VARNO_ASSERT_UI_THREAD();
    if (!(factor >= 0.125f && factor <= 8.0f))
        return false;
    anchor(positionMs());
    m_speed = factor;
    emit speedChanged(factor);
    return true;
}

uint32_t SyncPlayback::fastestFrameRate() const
{
    uint32_t rate = 0;
    for (const Slot &s : m_slots) {
        if (!s.key.isEmpty())
            rate = std::max(rate, s.frameRate);
    }
    return rate == 0 ? 25 : rate;
}

bool SyncPlayback::stepFrame()
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_running || !m_paused)
        return false;
    anchor(m_anchorPos + std::max<int64_t>(1, 1000 / fastestFrameRate()));
    emit stepped();
    // A step over a file's end moves that slot on.
    settle(false);
    return true;
}

void SyncPlayback::tick()
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_running)
        return;
    settle(false);
}

void SyncPlayback::reportProgress(int slot, int second)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_running || slot < 0 || slot >= m_slots.size() || m_slots[slot].key.isEmpty())
        return;
    const Slot &s = m_slots[slot];
    const int64_t expected = positionMs() / 1000 - s.fileStart;
    if (expected < 0 || s.fileStart + expected >= s.fileEnd)
        return;
    if (second - expected > kDriftSeconds || expected - second > kDriftSeconds)
        emit seekFile(slot, int(expected));
}

void SyncPlayback::settle(bool seekAll)
{
    const int64_t pos = positionMs();
    const int64_t second = pos >= 0 ? pos / 1000 : (pos - 999) / 1000;
    for (int i = 0; i < m_slots.size(); ++i) {
        Slot &s = m_slots[i];
        const std::optional<TimelineHit> hit = m_model->fileAt(s.camera, second);
        if (!hit) {
            if (!s.key.isEmpty() || seekAll || m_announce) {
                if (!s.key.isEmpty())
                    emit closeSlot(i);
                s.key.clear();
                s.fileStart = s.fileEnd = 0;
                emit noRecording(i);
            }
            continue;
        }
        const TimelineFile &f = *hit->file;
        if (s.key == f.key && s.source == f.source) {
            s.fileEnd = f.end;
            if (seekAll)
                emit seekFile(i, hit->offset);
            continue;
        }
        s.key = f.key;
        s.source = f.source;
        s.fileStart = f.start;
        s.fileEnd = f.end;
        s.frameRate = f.file.frameRate;
        s.file = f.file;
        emit playFile(i, f.key, int(f.source), f.file, hit->offset);
    }
    m_announce = false;
    if (pos != m_lastEmitted) {
        m_lastEmitted = pos;
        emit positionChanged(pos);
    }
}

} // namespace varno::playback
