#pragma once

#include <QWidget>

class QLabel;
class QSlider;

// The progress bar under a playback window: a slider in seconds with the
// current and the total time ("%02d:%02d") beside it. Pressing and
// releasing the handle ask the engine to hold and to restart; moving it
// asks for a seek.
class QVideoSlide : public QWidget
{
    Q_OBJECT

public:
    explicit QVideoSlide(QWidget *parent = nullptr);

    void setRange(int max);
    void setValue(int value);
    int value() const;
    int maximum() const;
    QSlider *slider() const { return m_slider; }
    QString currentText() const;
    QString totalText() const;

signals:
    void SendValueToMul(int value);
    void SendRange(int max);
    void SendCurValue(int value);
    void SendSeekToMul(bool bSeek);

public slots:
    void SliderPress();
    void SliderMoved(int value);
    void SliderRelease();
    void RecvRange(int max);
    void RecvCurValue(int value);

private:
    QSlider *m_slider = nullptr;
    QLabel *m_current = nullptr;
    QLabel *m_total = nullptr;
};
