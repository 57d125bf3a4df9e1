#include "playback/timelinewidget.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimeZone>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace varno::playback {

namespace {

const QColor kBackground(30, 34, 40);
const QColor kTrack(48, 53, 60);
const QColor kText(220, 224, 230);
const QColor kGrid(80, 86, 94);
const QColor kLocal(70, 150, 220);
const QColor kAlarm(235, 130, 40);
const QColor kCamera(90, 180, 110);
const QColor kPicked(0, 160, 230);
const QColor kPlayhead(250, 250, 250);

// "hh:mm" of a wall second.
QString clockText(int64_t second, bool withSeconds = false)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(second, QTimeZone::utc());
    return t.time().toString(withSeconds ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm"));
}

// A tick step that gives about one label per 70 pixels.
int64_t tickStep(int64_t length, double width)
{
    static const int64_t steps[] = {60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600};
    const double wanted = double(length) * 70.0 / std::max(1.0, width);
    for (int64_t s : steps)
        if (double(s) >= wanted)
            return s;
    return 21600;
}

} // namespace

void TimelineWindow::setDay(const QDate &day)
{
    if (!day.isValid())
        return;
    const int64_t offset = m_from - TimelineModel::dayStart(m_day);
    m_day = day;
    m_from = TimelineModel::dayStart(day) + offset;
}

bool TimelineWindow::zoom(double factor, int64_t anchor)
{
    const int64_t length = std::clamp<int64_t>(int64_t(std::llround(double(m_length) * factor)), kMinLength, kMaxLength);
    if (length == m_length)
        return false;
    const int64_t dayFrom = TimelineModel::dayStart(m_day);
    // An anchor outside the part shown lands in the middle.
    const double at = anchor >= m_from && anchor <= to() ? double(anchor - m_from) / double(m_length) : 0.5;
    int64_t from = anchor - int64_t(std::llround(at * double(length)));
    from = std::clamp<int64_t>(from, dayFrom, dayFrom + kMaxLength - length);
    m_from = from;
    m_length = length;
    return true;
}

void TimelineWindow::showAround(int64_t center, int64_t length)
{
    length = std::clamp<int64_t>(length, kMinLength, kMaxLength);
    const int64_t dayFrom = TimelineModel::dayStart(m_day);
    m_from = std::clamp<int64_t>(center - length / 2, dayFrom, dayFrom + kMaxLength - length);
    m_length = length;
}

int64_t TimelineWindow::secondAt(double x, double width) const
{
    if (width <= 0)
        return m_from;
    const double at = std::clamp(x / width, 0.0, 1.0);
    return std::min(to() - 1, m_from + int64_t(std::floor(at * double(m_length))));
}

double TimelineWindow::xOf(int64_t second, double width) const
{
    return double(second - m_from) * width / double(m_length);
}

TimelineView::TimelineView(const TimelineModel *model, TimelineWindow *window, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_window(window)
{
    setObjectName(QStringLiteral("timelineView"));
    setMouseTracking(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QStringList TimelineView::cameras() const
{
    return m_model->cameras();
}

QStringList TimelineView::picked() const
{
    return m_picked;
}

void TimelineView::setPicked(const QStringList &cameras)
{
    m_picked = cameras;
    update();
    emit pickedChanged(m_picked);
}

void TimelineView::setPlayhead(int64_t second)
{
    if (second == m_playhead)
        return;
    m_playhead = second;
    update();
}

void TimelineView::refresh()
{
    // Cameras that left the results are no longer picked.
    const QStringList all = cameras();
    QStringList kept;
    for (const QString &c : std::as_const(m_picked))
        if (all.contains(c))
            kept.append(c);
    if (kept != m_picked)
        setPicked(kept);
    updateGeometry();
    update();
}

QSize TimelineView::sizeHint() const
{
    return {360, kAxisHeight + int(std::max<qsizetype>(1, cameras().size())) * kRowHeight + 2};
}

QSize TimelineView::minimumSizeHint() const
{
    return {200, sizeHint().height()};
}

double TimelineView::trackWidth() const
{
    return std::max(1, width() - kLabelWidth - 4);
}

QPoint TimelineView::pointOf(const QString &camera, int64_t second) const
{
    const int row = cameras().indexOf(camera);
    // The first whole pixel at or after the second's start.
    const double x = kLabelWidth + std::ceil(m_window->xOf(second, trackWidth()));
    return {int(x), kAxisHeight + std::max(0, row) * kRowHeight + kRowHeight / 2};
}

QPoint TimelineView::labelOf(const QString &camera) const
{
    const int row = cameras().indexOf(camera);
    return {kLabelWidth / 2, kAxisHeight + std::max(0, row) * kRowHeight + kRowHeight / 2};
}

void TimelineView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const double w = trackWidth();
    const int64_t from = m_window->from();
    const int64_t to = m_window->to();
    const QStringList rows = cameras();

    // The axis: a tick with its time every step.
    p.setPen(kText);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.85));
    p.setFont(small);
    const int64_t step = tickStep(m_window->length(), w);
    const int64_t first = ((from + step - 1) / step) * step;
    const int bottom = kAxisHeight + int(rows.size()) * kRowHeight;
    for (int64_t t = first; t <= to; t += step) {
        const double x = kLabelWidth + m_window->xOf(t, w);
        p.setPen(kGrid);
        p.drawLine(QPointF(x, kAxisHeight - 3), QPointF(x, bottom));
        p.setPen(kText);
        const QString label = t == TimelineModel::dayStart(m_window->day()) + TimelineModel::kDaySeconds
            ? QStringLiteral("24:00")
            : clockText(t);
        p.drawText(QRectF(x - 30, 0, 60, kAxisHeight - 3), Qt::AlignCenter, label);
    }

    for (int r = 0; r < rows.size(); ++r) {
        const QString &camera = rows[r];
        const int y = kAxisHeight + r * kRowHeight;
        const QRectF track(kLabelWidth, y + 2, w, kRowHeight - 4);
        p.fillRect(track, kTrack);
        const bool isPicked = m_picked.contains(camera);
        p.setPen(isPicked ? kPicked : kText);
        QFont f = small;
        f.setBold(isPicked);
        p.setFont(f);
        p.drawText(QRectF(4, y, kLabelWidth - 8, kRowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(nameOf(camera), Qt::ElideRight, kLabelWidth - 8));
        for (const TimelineSpan &s : m_model->spans(camera, from, to)) {
            const double x0 = kLabelWidth + m_window->xOf(s.start, w);
            // At least a pixel, so that a short alarm stays visible at 24 h.
            const double x1 = std::max(x0 + 1.0, kLabelWidth + m_window->xOf(s.end, w));
            QRectF box(x0, track.top(), x1 - x0, track.height());
            if (s.source == TimelineSource::Camera)
                box = QRectF(x0, track.center().y() + 1, x1 - x0, track.height() / 2 - 1);
            p.fillRect(box, s.source == TimelineSource::Camera ? kCamera : (s.alarm() ? kAlarm : kLocal));
        }
    }
    if (m_playhead >= from && m_playhead < to) {
        const double x = kLabelWidth + m_window->xOf(m_playhead, w);
        p.setPen(QPen(kPlayhead, 1));
        p.drawLine(QPointF(x, kAxisHeight), QPointF(x, bottom));
    }
}

void TimelineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPointF pos = event->position();
    const QStringList rows = cameras();
    const int row = int(std::floor((pos.y() - kAxisHeight) / kRowHeight));
    if (pos.y() < kAxisHeight || row < 0 || row >= rows.size())
        return;
    const QString camera = rows[row];
    if (pos.x() < kLabelWidth) {
        // The name picks the camera for synced play (up to four).
        QStringList picked = m_picked;
        if (picked.contains(camera))
            picked.removeAll(camera);
        else if (picked.size() < 4)
            picked.append(camera);
        setPicked(picked);
        return;
    }
    emit clicked(camera, m_window->secondAt(pos.x() - kLabelWidth, trackWidth()));
}

void TimelineView::wheelEvent(QWheelEvent *event)
{
    m_wheel += event->angleDelta().y();
    const int notches = m_wheel / 120;
    if (notches == 0)
        return;
    m_wheel -= notches * 120;
    const int64_t anchor = m_window->secondAt(event->position().x() - kLabelWidth, trackWidth());
    if (m_window->zoom(std::pow(0.5, notches), anchor)) {
        update();
        emit zoomed();
    }
    event->accept();
}

TimelineWidget::TimelineWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("timeline"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *bar = new QHBoxLayout;
    bar->setSpacing(2);
    const auto tool = [this](const QString &text, const QString &name, const QString &tip) {
        auto *b = new QToolButton(this);
        b->setText(text);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAutoRaise(false);
        return b;
    };
    m_previous = tool(QStringLiteral("<"), QStringLiteral("timelinePrevDay"), tr("Previous day"));
    m_next = tool(QStringLiteral(">"), QStringLiteral("timelineNextDay"), tr("Next day"));
    m_dayLabel = new QLabel(this);
    m_dayLabel->setObjectName(QStringLiteral("timelineDay"));
    m_zoomOut = tool(QStringLiteral("-"), QStringLiteral("timelineZoomOut"), tr("Zoom out"));
    m_zoomIn = tool(QStringLiteral("+"), QStringLiteral("timelineZoomIn"), tr("Zoom in"));
    m_sync = new QPushButton(tr("Play in step"), this);
    m_sync->setObjectName(QStringLiteral("timelineSync"));
    m_sync->setToolTip(tr("Click camera names to pick up to four cameras, then play them on one clock"));
    bar->addWidget(m_previous);
    bar->addWidget(m_dayLabel);
    bar->addWidget(m_next);
    bar->addStretch(1);
    bar->addWidget(m_zoomOut);
    bar->addWidget(m_zoomIn);
    bar->addWidget(m_sync);
    layout->addLayout(bar);
    m_view = new TimelineView(&m_model, &m_window, this);
    layout->addWidget(m_view);

    const auto zoomBy = [this](double factor) {
        if (m_window.zoom(factor, m_window.from() + m_window.length() / 2)) {
            m_view->update();
            updateControls();
        }
    };
    connect(m_zoomIn, &QToolButton::clicked, this, [zoomBy] { zoomBy(0.5); });
    connect(m_zoomOut, &QToolButton::clicked, this, [zoomBy] { zoomBy(2.0); });
    connect(m_previous, &QToolButton::clicked, this, [this] { setDay(m_window.day().addDays(-1)); });
    connect(m_next, &QToolButton::clicked, this, [this] { setDay(m_window.day().addDays(1)); });
    connect(m_view, &TimelineView::zoomed, this, &TimelineWidget::updateControls);
    connect(m_view, &TimelineView::pickedChanged, this, &TimelineWidget::updateControls);
    connect(m_view, &TimelineView::clicked, this, &TimelineWidget::playRequested);
    connect(m_sync, &QPushButton::clicked, this, [this] {
        const QStringList picked = m_view->picked();
        if (picked.isEmpty())
            return;
        // From the first recorded second of the picked cameras in view.
        std::optional<int64_t> start;
        for (const QString &c : picked)
            if (const std::optional<int64_t> n = m_model.nextRecorded(c, m_window.from()); n && *n < m_window.to())
                start = start ? std::min(*start, *n) : *n;
        emit syncRequested(picked, start.value_or(m_window.from()));
    });
    m_window.setDay(QDate::currentDate());
    updateControls();
}

void TimelineWidget::setDay(const QDate &day)
{
    m_window.setDay(day);
    m_view->update();
    updateControls();
}

void TimelineWidget::showAround(int64_t second, int64_t length)
{
    m_window.setDay(TimelineModel::dateOf(second));
    m_window.showAround(second, length);
    m_view->update();
    updateControls();
}

void TimelineWidget::modelChanged()
{
    const QList<QDate> days = m_model.days();
    if (!days.isEmpty() && !days.contains(m_window.day()))
        m_window.setDay(days.last());
    m_view->refresh();
    updateControls();
}

void TimelineWidget::updateControls()
{
    m_dayLabel->setText(QLocale().toString(m_window.day(), QLocale::ShortFormat));
    m_zoomIn->setEnabled(m_window.length() > TimelineWindow::kMinLength);
    m_zoomOut->setEnabled(m_window.length() < TimelineWindow::kMaxLength);
    m_sync->setEnabled(!m_view->picked().isEmpty());
}

} // namespace varno::playback
