#pragma once

#include "playback/timelinemodel.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>

class QLabel;
class QPushButton;
class QToolButton;

namespace varno::playback {

// The part of a day the timeline shows: from `from` for `length` seconds,
// zoomed between a whole day and ten minutes and kept inside the day.
// Needs no widget.
class TimelineWindow
{
public:
    static constexpr int64_t kMinLength = 600;
    static constexpr int64_t kMaxLength = TimelineModel::kDaySeconds;

    void setDay(const QDate &day);
    QDate day() const { return m_day; }
    int64_t from() const { return m_from; }
    int64_t length() const { return m_length; }
    int64_t to() const { return m_from + m_length; }
    // Zoom by factor (< 1 in, > 1 out) keeping `anchor` at its place on the
    // axis (one outside the part shown comes to its middle); false when the
    // length is at its limit already.
    bool zoom(double factor, int64_t anchor);
    // Shows length seconds (within the limits) around center, inside the day.
    void showAround(int64_t center, int64_t length);
    // The second under x of a track width pixels wide, and back.
    int64_t secondAt(double x, double width) const;
    double xOf(int64_t second, double width) const;

private:
    QDate m_day = QDate(2000, 1, 1);
    int64_t m_from = TimelineModel::dayStart(QDate(2000, 1, 1));
    int64_t m_length = kMaxLength;
};

// The drawing: one row per camera with its name on the left, the recorded
// spans (local recordings blue, alarm recordings orange, recordings on the
// camera green in the row's lower half) and the time axis on top. A click
// plays from that second; a click on a camera's name picks it for synced
// play. The wheel zooms around the pointer.
class TimelineView : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimelineView)

public:
    static constexpr int kLabelWidth = 80;
    static constexpr int kAxisHeight = 18;
    static constexpr int kRowHeight = 22;

    explicit TimelineView(const TimelineModel *model, TimelineWindow *window, QWidget *parent = nullptr);

    void setNames(const QHash<QString, QString> &names) { m_names = names; update(); }
    QString nameOf(const QString &camera) const { return m_names.value(camera, camera); }
    QStringList cameras() const;
    QStringList picked() const;
    void setPicked(const QStringList &cameras);
    // The clock of synced play (a wall second), drawn as a line; -1 hides it.
    void setPlayhead(int64_t second);
    int64_t playhead() const { return m_playhead; }
    void refresh();
    // Where a camera's row and a second lie (tests, screenshots).
    QPoint pointOf(const QString &camera, int64_t second) const;
    QPoint labelOf(const QString &camera) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked(QString camera, qint64 second);
    void pickedChanged(QStringList cameras);
    void zoomed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    double trackWidth() const;

    const TimelineModel *m_model;
    TimelineWindow *m_window;
    QHash<QString, QString> m_names;
    QStringList m_picked;
    int64_t m_playhead = -1;
    int m_wheel = 0;
};

// The timeline above the recordings table: the day, zoom buttons, "Play in
// step" for the cameras picked, and the view.
class TimelineWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimelineWidget)

public:
    explicit TimelineWidget(QWidget *parent = nullptr);

    TimelineModel &model() { return m_model; }
    const TimelineModel &model() const { return m_model; }
    TimelineWindow &window() { return m_window; }
    TimelineView *view() const { return m_view; }
    QPushButton *syncButton() const { return m_sync; }
    QToolButton *zoomInButton() const { return m_zoomIn; }
    QToolButton *zoomOutButton() const { return m_zoomOut; }
    QToolButton *previousDayButton() const { return m_previous; }
    QToolButton *nextDayButton() const { return m_next; }

    // After the model changed: the day shown stays when it still holds
    // recordings, else the latest day with recordings.
    void modelChanged();
    void setNames(const QHash<QString, QString> &names) { m_view->setNames(names); }
    void setDay(const QDate &day);
    QDate day() const { return m_window.day(); }
    // Shows the part of the day around a second (its day) at a length.
    void showAround(int64_t second, int64_t length);

signals:
    // Play the camera from that wall second (one window).
    void playRequested(QString camera, qint64 second);
    // Play the cameras in step from the wall second.
    void syncRequested(QStringList cameras, qint64 second);

private:
    void updateControls();

    TimelineModel m_model;
    TimelineWindow m_window;
    TimelineView *m_view = nullptr;
    QLabel *m_dayLabel = nullptr;
    QToolButton *m_previous = nullptr;
    QToolButton *m_next = nullptr;
    QToolButton *m_zoomIn = nullptr;
    QToolButton *m_zoomOut = nullptr;
    QPushButton *m_sync = nullptr;
};

} // namespace varno::playback
