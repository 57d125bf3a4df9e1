#pragma once

#include "playback/syncplay.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;
class qvideoonlypb;

namespace varno::playback {

// The page's synced playback: a grid of four windows driven by one
// SyncPlayback, with the shared controls above it (pause, next frame,
// slower, faster, the clock's time) and "Close" back to the single window.
// A window whose camera recorded nothing at the clock's second says so.
class SyncPlayer : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncPlayer)

public:
    // model must outlive the player; clock null: the steady clock.
    explicit SyncPlayer(const TimelineModel *model, SyncClock *clock = nullptr, QWidget *parent = nullptr);
    ~SyncPlayer() override;

    // Starts the cameras (up to four; their names shown) at the wall second;
    // false for none or more than four.
    bool start(const QStringList &cameras, int64_t wallSecond, const QHash<QString, QString> &names);
    void stop();

    SyncPlayback *sync() const { return m_sync; }
    qvideoonlypb *grid() const { return m_grid; }
    // The caption of a window: its camera, and "no recording" when it has
    // nothing at the clock's second.
    QString captionText(int slot) const;
    bool captionVisible(int slot) const;
    QPushButton *pauseButton() const { return m_pause; }
    QPushButton *stepButton() const { return m_step; }
    QPushButton *slowerButton() const { return m_slower; }
    QPushButton *fasterButton() const { return m_faster; }
    QPushButton *closeButton() const { return m_close; }
    QLabel *timeLabel() const { return m_time; }
    QLabel *speedLabel() const { return m_speedLabel; }

signals:
    void positionChanged(qint64 wallMs);
    void closed();

private:
    void playFile(int slot, const QString &key, int source, const MEDIA_FILE_S &file, int offset);
    void showNoRecording(int slot);
    void applyPause(bool paused);
    void changeSpeed(int delta);
    void showTime(qint64 wallMs);
    int winIdOf(int slot) const;

    SyncPlayback *m_sync = nullptr;
    qvideoonlypb *m_grid = nullptr;
    QList<QLabel *> m_captions;
    QHash<QString, QString> m_names;
    QPushButton *m_pause = nullptr;
    QPushButton *m_step = nullptr;
    QPushButton *m_slower = nullptr;
    QPushButton *m_faster = nullptr;
    QPushButton *m_close = nullptr;
    QLabel *m_time = nullptr;
    QLabel *m_speedLabel = nullptr;
    int m_level = 0;   // speed level -3 ... 3
};

} // namespace varno::playback
