#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;

namespace varno::live {
class VideoSurface;
}

// The video area of one live window. The decoder of the window's stream
// draws into the surface behind nativeHandle(); while no camera is shown a
// small centred label says so. "Painting on" shows the surface's idle
// background (the window waits for its first picture), "off" the pictures.
class QVideoPlay : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLabelWidth = 80;
    static constexpr int kLabelHeight = 20;

    explicit QVideoPlay(QWidget *parent = nullptr);
    ~QVideoPlay() override;

    int32_t nativeHandle() const;

    void setPainting(bool on);
    bool painting() const;
    void setLabelShown(bool shown);
    bool labelShown() const;
    // Text shown on the idle background while the window waits for video.
    void setWaitingText(const QString &text);
    // The stream is reconnecting: the last picture stays, dimmed, with a text.
    void setReconnecting(bool on);
    bool reconnecting() const { return m_reconnecting; }

    varno::live::VideoSurface *surface() const { return m_surface; }
    QLabel *label() const { return m_label; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void placeLabel();
    void retranslate();

    varno::live::VideoSurface *m_surface = nullptr;
    QLabel *m_label = nullptr;
    bool m_labelShown = true;
    bool m_reconnecting = false;
};
