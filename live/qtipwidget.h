#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class QTipWidget;
}
class QTimer;

// The small pop-up that reports a result (a snapshot) at the bottom right of
// the screen: it slides up into view one pixel per move tick, stays three
// stay ticks, then fades in steps of 0.1 per close tick and closes. While the
// mouse is over it the fade is held at full opacity.
class QTipWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMoveInterval = 5;     // ms per pixel
    static constexpr int kStayInterval = 1000;  // ms per stay tick
    static constexpr int kStayTicks = 3;
    static constexpr int kCloseInterval = 200;  // ms per fade step
    static constexpr int kWidth = 360;

    enum class Phase { Hidden, Moving, Staying, Fading, Closed };

    explicit QTipWidget(QWidget *parent = nullptr);
    ~QTipWidget() override;

    void showResult(const QString &title, const QString &text);
    void showPicture(const QString &title, const QString &text, const QString &imageFile);

    Phase phase() const { return m_phase; }
    double opacity() const { return m_opacity; }
    bool hovered() const { return m_hovered; }
    int currentY() const { return m_currentY; }
    QPoint targetPos() const { return m_target; }
    QString title() const { return m_title; }
    QString message() const { return m_message; }
    bool hasPicture() const;
    QTimer *moveTimer() const { return m_moveTimer; }
    QTimer *stayTimer() const { return m_stayTimer; }
    QTimer *closeTimer() const { return m_closeTimer; }

public slots:
    void timeOutMove();
    void timeOutStay();
    void timeOutClose();
    void on_closeButton_clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void start(const QString &title, const QString &text);

    std::unique_ptr<Ui::QTipWidget> m_ui;
    QString m_title;
    QString m_message;
    QPoint m_target;
    int m_currentY = 0;
    int m_stayCount = 0;
    double m_opacity = 1.0;
    bool m_hovered = false;
    Phase m_phase = Phase::Hidden;
    QTimer *m_moveTimer = nullptr;
    QTimer *m_stayTimer = nullptr;
    QTimer *m_closeTimer = nullptr;
};
