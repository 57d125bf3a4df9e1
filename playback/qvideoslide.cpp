#include "playback/qvideoslide.h"

#include "playback/recordsearch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

QVideoSlide::QVideoSlide(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videoSlide"));
    // Dark like the toolbar above the picture, with light times.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("QVideoSlide#videoSlide { background-color: rgb(77, 82, 86); }"
                                 "QLabel { color: white; }"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    m_current = new QLabel(varno::playback::timeText(0), this);
    m_current->setObjectName(QStringLiteral("curLabel"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("slider"));
    m_slider->setRange(0, 0);
    m_total = new QLabel(varno::playback::timeText(0), this);
    m_total->setObjectName(QStringLiteral("totalLabel"));
    layout->addWidget(m_current);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_total);
    connect(m_slider, &QSlider::sliderPressed, this, &QVideoSlide::SliderPress);
    connect(m_slider, &QSlider::sliderMoved, this, &QVideoSlide::SliderMoved);
    connect(m_slider, &QSlider::sliderReleased, this, &QVideoSlide::SliderRelease);
    connect(this, &QVideoSlide::SendRange, this, &QVideoSlide::RecvRange);
    connect(this, &QVideoSlide::SendCurValue, this, &QVideoSlide::RecvCurValue);
}

void QVideoSlide::setRange(int max)
{
    if (max < 0)
        max = 0;
    m_slider->setRange(0, max);
    emit SendRange(max);
}

void QVideoSlide::setValue(int value)
{
    if (value > m_slider->maximum())
        value = m_slider->maximum();
    if (value < 0)
        value = 0;
    // The handle stays where the user holds it.
    if (value != m_slider->value() && !m_slider->isSliderDown())
        m_slider->setValue(value);
    emit SendCurValue(value);
}

int QVideoSlide::value() const
{
    return m_slider->value();
}

int QVideoSlide::maximum() const
{
    return m_slider->maximum();
}

QString QVideoSlide::currentText() const
{
    return m_current->text();
}

QString QVideoSlide::totalText() const
{
    return m_total->text();
}

void QVideoSlide::SliderPress()
{
    emit SendSeekToMul(true);
}

void QVideoSlide::SliderMoved(int value)
{
    m_current->setText(varno::playback::timeText(value));
    emit SendValueToMul(value);
}

void QVideoSlide::SliderRelease()
{
    emit SendSeekToMul(false);
}

void QVideoSlide::RecvRange(int max)
{
    m_total->setText(varno::playback::timeText(max));
}

void QVideoSlide::RecvCurValue(int value)
{
    m_current->setText(varno::playback::timeText(value));
}
