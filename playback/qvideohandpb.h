#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The toolbar above a playback window: slower, play/pause, stop, faster,
// single step, snapshot and close, the speed label and the file name.
class QVideoHandPb : public QWidget
{
    Q_OBJECT

public:
    explicit QVideoHandPb(QWidget *parent = nullptr);

    // Shows the controls of a playing file (view true) or hides them and
    // puts play, speed and label back (view false). Speed buttons and the
    // step button are offered when the engine supports them; the step
    // button is enabled while paused.
    void setView(bool view, bool speedControl = false);
    void setFileName(const QString &name);
    // Shows the play button (paused, or the file ended) or the pause
    // button, without asking the engine for anything.
    void setPaused(bool paused);

    bool isPaused() const { return m_paused; }
    int speedLevel() const { return m_level; }
    float speedFactor() const;
    QString speedText() const;
    QString fileName() const;
    QPushButton *button(const char *objectName) const;

signals:
    void SendCloseToMul();
    void SendPauseToMul(bool pause);
    void SendSpeedToMul(float speed);
    void SendSnapToMul();
    void SendStepToMul();

public slots:
    void PlayVideo();
    void StopVideo();
    void CloseVideo();
    void SlowVideo();
    void FastVideo();
    void SnapVideo();
    void StepVideo();

private:
    void showSpeed();
    void updateStep();

    QPushButton *m_slow = nullptr;
    QPushButton *m_play = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_fast = nullptr;
    QPushButton *m_step = nullptr;
    QPushButton *m_snap = nullptr;
    QPushButton *m_close = nullptr;
    QLabel *m_speedLabel = nullptr;
    QLabel *m_nameLabel = nullptr;
    bool m_paused = false;
    int m_level = 0;
    bool m_view = false;
    bool m_speedControl = false;
};
