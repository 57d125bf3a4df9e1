#pragma once

#include <QWidget>

class QVideoHandPb;
class QVideoSlide;
namespace varno::live {
class VideoSurface;
}

// One playback window: the toolbar above, the video surface, the progress
// bar below. Every request of its controls leaves with the window's ID
// (the video surface's native handle).
class qmultivideopb : public QWidget
{
    Q_OBJECT

public:
    explicit qmultivideopb(QWidget *parent = nullptr);

    int winId() const;
    QVideoHandPb *hand() const { return m_hand; }
    QVideoSlide *slide() const { return m_slide; }
    varno::live::VideoSurface *video() const { return m_video; }
    void setTitle(const QString &name);
    void setCurrent(bool current);
    bool isCurrent() const { return m_current; }

signals:
    void SendValueToVideo(int winId, int value);
    void SendCloseToVideo(int winId);
    void SendPauseToVideo(int winId, bool pause);
    void SendSpeedToVideo(int winId, float speed);
    void SendSnapToVideo(int winId);
    void SendSeekToVideo(int winId, bool bSeek);
    void SendStepToVideo(int winId);
    void clickedWin(int winId);
    void doubleClickedWin(int winId);

public slots:
    void RecvValueFromSlide(int value);
    void RecvSeekFromSlide(bool bSeek);
    void RecvCloseFromHand();
    void RecvPauseFromHand(bool pause);
    void RecvSpeedFromHand(float speed);
    void RecvSnapFromHand();
    void RecvStepFromHand();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QVideoHandPb *m_hand = nullptr;
    varno::live::VideoSurface *m_video = nullptr;
    QVideoSlide *m_slide = nullptr;
    bool m_current = false;
};
