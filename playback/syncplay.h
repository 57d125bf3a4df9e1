#pragma once

#include "common/mediarecords.h"
#include "playback/timelinemodel.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTimer;

namespace varno::playback {

// The time source of synced playback in milliseconds. The program uses the
// steady clock; tests set the time themselves.
class SyncClock
{
public:
    virtual ~SyncClock() = default;
    virtual int64_t nowMs() const = 0;
    static SyncClock *system();
};

// Plays up to four cameras on one wall clock. It keeps the shared position
// (a wall-clock second of the timeline, in milliseconds) and tells the
// playback grid, slot by slot, which file to show from which second, when
// to seek inside it and when a camera has nothing at that second. Pause,
// seek, speed and frame step act on every slot at once. Needs no widget;
// called on the user-interface thread only.
class SyncPlayback : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncPlayback)

public:
    static constexpr int kMaxCameras = 4;
    // How far a window may run ahead of or behind the clock before it is
    // put back in step.
    static constexpr int kDriftSeconds = 2;
    // Interval of the timer that moves the slots on.
    static constexpr int kTickMs = 200;

    // What a slot shows.
    struct Slot
    {
        QString camera;
        QString key;                 // the file playing; empty: "no recording"
        TimelineSource source = TimelineSource::Local;
        int64_t fileStart = 0;       // wall second of the file's start
        int64_t fileEnd = 0;
        uint32_t frameRate = 0;
        MEDIA_FILE_S file{};
    };

    // model must outlive this object; clock null: the steady clock.
    explicit SyncPlayback(const TimelineModel *model, SyncClock *clock = nullptr, QObject *parent = nullptr);
    ~SyncPlayback() override;

    // One to four cameras; false (nothing changed) for none or more.
    bool setCameras(const QStringList &cameras);
    QStringList cameras() const;
    // Starts every slot at the wall second (running, not paused).
    void start(int64_t wallSecond);
    // Ends synced play: the slots are emptied (closeSlot for each playing).
    void stop();
    bool running() const { return m_running; }

    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Moves every slot to the wall time (ms).
    void seek(int64_t wallMs);
    // A factor of 1/8 ... 8; others are refused (false).
    bool setSpeed(float factor);
    float speed() const { return m_speed; }
    // One frame forward (paused only; false while running): the clock moves
    // on by one frame of the fastest slot, each window shows its next picture.
    bool stepFrame();

    int64_t positionMs() const;
    Slot slot(int index) const { return m_slots.value(index); }
    int slotCount() const { return int(m_slots.size()); }

    // Re-reads the clock and moves slots into the next file or a gap. Run by
    // the timer; tests call it after moving their clock.
    void tick();
    // A window's progress (second inside its file): one that drifted more
    // than kDriftSeconds from the clock is sought back.
    void reportProgress(int slot, int second);

signals:
    // Start the file in the slot's window at the offset (seconds).
    void playFile(int slot, QString key, int source, MEDIA_FILE_S file, int offsetSeconds);
    // Seek in the file the slot plays.
    void seekFile(int slot, int offsetSeconds);
    // The slot's camera has no recording at the clock's second.
    void noRecording(int slot);
    // Stop and free the slot's window.
    void closeSlot(int slot);
    void pausedChanged(bool paused);
    void speedChanged(float factor);
    // One picture forward in every playing window.
    void stepped();
    void positionChanged(qint64 wallMs);

private:
    // Brings every slot to the clock's second; seekAll: slots that stay in
    // their file are sought as well.
    void settle(bool seekAll);
    void anchor(int64_t positionMs);
    uint32_t fastestFrameRate() const;

    const TimelineModel *m_model;
    SyncClock *m_clock;
    QList<Slot> m_slots;
    QTimer *m_timer = nullptr;
    bool m_running = false;
    bool m_paused = false;
    float m_speed = 1.0f;
    int64_t m_anchorPos = 0;    // position (ms) at m_anchorClock
    int64_t m_anchorClock = 0;
    int64_t m_lastEmitted = -1;
    bool m_announce = false;    // the next settle reports empty slots too
};

} // namespace varno::playback
