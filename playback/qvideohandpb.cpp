#include "playback/qvideohandpb.h"

#include "resources/resourcepath.h"
#include "playback/recordsearch.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const char *image, const QString &tip)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(QIcon(varno::resourcePath(QLatin1String(image))));
    b->setIconSize(QSize(16, 16));
    b->setFixedSize(24, 22);
    b->setFlat(true);
    b->setToolTip(tip);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

QVideoHandPb::QVideoHandPb(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("videoHandPb"));
    // The buttons' pictures are light: the bar is dark, like the live
    // windows' title bars.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("QVideoHandPb#videoHandPb { background-color: rgb(77, 82, 86); }"
                                 "QLabel { color: white; }"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);
    m_nameLabel = new QLabel(this);
    m_nameLabel->setObjectName(QStringLiteral("nameLabel"));
    m_slow = makeButton(this, "btnSlow", "./images/Pb_Slow.png", tr("Fast backward"));
    m_play = makeButton(this, "btnPlay", "./images/Pb_Pause.png", tr("Pause"));
    m_stop = makeButton(this, "btnStop", "./images/Pb_Stop.png", tr("Stop"));
    m_fast = makeButton(this, "btnFast", "./images/Pb_Fast.png", tr("Fast forward"));
    m_step = makeButton(this, "btnStep", "./images/Pb_Step.png", tr("Next frame"));
    m_snap = makeButton(this, "btnSnap", "./images/snapshot.png", tr("Snapshot"));
    m_close = makeButton(this, "btnClose", "./images/win_close.png", tr("Close"));
    m_speedLabel = new QLabel(QStringLiteral("X1"), this);
    m_speedLabel->setObjectName(QStringLiteral("speedLabel"));
    m_speedLabel->setMinimumWidth(34);
    layout->addWidget(m_nameLabel, 1);
    layout->addWidget(m_slow);
    layout->addWidget(m_play);
    layout->addWidget(m_stop);
    layout->addWidget(m_fast);
    layout->addWidget(m_speedLabel);
    layout->addWidget(m_step);
    layout->addWidget(m_snap);
    layout->addWidget(m_close);
    connect(m_slow, &QPushButton::clicked, this, &QVideoHandPb::SlowVideo);
    connect(m_play, &QPushButton::clicked, this, &QVideoHandPb::PlayVideo);
    connect(m_stop, &QPushButton::clicked, this, &QVideoHandPb::StopVideo);
    connect(m_fast, &QPushButton::clicked, this, &QVideoHandPb::FastVideo);
    connect(m_step, &QPushButton::clicked, this, &QVideoHandPb::StepVideo);
    connect(m_snap, &QPushButton::clicked, this, &QVideoHandPb::SnapVideo);
    connect(m_close, &QPushButton::clicked, this, &QVideoHandPb::CloseVideo);
    setView(false);
}

QPushButton *QVideoHandPb::button(const char *objectName) const
{
    return findChild<QPushButton *>(QLatin1String(objectName));
}

void QVideoHandPb::setView(bool view, bool speedControl)
{
    m_view = view;
    m_speedControl = view && speedControl;
    m_play->setVisible(view);
    m_stop->setVisible(view);
    m_snap->setVisible(view);
    m_close->setVisible(view);
    m_nameLabel->setVisible(view);
    m_slow->setVisible(m_speedControl);
    m_fast->setVisible(m_speedControl);
    m_speedLabel->setVisible(m_speedControl);
    if (!view) {
        m_paused = false;
        m_play->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Pb_Pause.png"))));
        m_play->setToolTip(tr("Pause"));
        m_level = 0;
        showSpeed();
    }
    updateStep();
}

void QVideoHandPb::setFileName(const QString &name)
{
    m_nameLabel->setText(name);
    m_nameLabel->setToolTip(name);
}

float QVideoHandPb::speedFactor() const
{
    return varno::playback::speedFactor(m_level);
}

QString QVideoHandPb::speedText() const
{
    return m_speedLabel->text();
}

QString QVideoHandPb::fileName() const
{
    return m_nameLabel->text();
}

void QVideoHandPb::updateStep()
{
    // Shown for every file that can step, only enabled while paused: the
    // buttons keep their places when playing and pausing change.
    m_step->setVisible(m_speedControl);
    m_step->setEnabled(m_speedControl && m_paused);
}

void QVideoHandPb::setPaused(bool paused)
{
    m_paused = paused;
    if (m_paused) {
        m_play->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Pb_Play.png"))));
        m_play->setToolTip(tr("Play"));
    } else {
        m_play->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Pb_Pause.png"))));
        m_play->setToolTip(tr("Pause"));
    }
    updateStep();
}

void QVideoHandPb::PlayVideo()
{
    setPaused(!m_paused);
    emit SendPauseToMul(m_paused);
}

void QVideoHandPb::StopVideo()
{
    emit SendCloseToMul();
}

void QVideoHandPb::CloseVideo()
{
    emit SendCloseToMul();
}

void QVideoHandPb::showSpeed()
{
    m_speedLabel->setText(varno::playback::speedText(m_level));
}

void QVideoHandPb::SlowVideo()
{
    m_level = m_level <= -3 ? 0 : m_level - 1;
    showSpeed();
    emit SendSpeedToMul(speedFactor());
}

void QVideoHandPb::FastVideo()
{
    m_level = m_level >= 3 ? 0 : m_level + 1;
    showSpeed();
    emit SendSpeedToMul(speedFactor());
}

void QVideoHandPb::SnapVideo()
{
    emit SendSnapToMul();
}

void QVideoHandPb::StepVideo()
{
    if (m_paused)
        emit SendStepToMul();
}
