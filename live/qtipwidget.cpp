#include "live/qtipwidget.h"

#include "ui_qtipwidget.h"

#include "resources/resourcepath.h"

#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace {

// The screen area the pop-up belongs to: the monitor under the cursor,
// without panels and docks.
QRect availableArea()
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// A path has no blanks to break at: let it break after each separator so
// that a long file name wraps instead of running out of the pop-up.
QString breakable(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        out += c;
        if (c == QLatin1Char('/') || c == QLatin1Char('-') || c == QLatin1Char(':'))
            out += QChar(0x200B);
    }
    return out;
}

} // namespace

QTipWidget::QTipWidget(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_ui(std::make_unique<Ui::QTipWidget>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_ui->closeButton->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/Sys_Close.png"))));
    m_ui->pictureLabel->hide();
    setFixedWidth(kWidth);

    m_moveTimer = new QTimer(this);
    m_stayTimer = new QTimer(this);
    m_closeTimer = new QTimer(this);
    connect(m_moveTimer, &QTimer::timeout, this, &QTipWidget::timeOutMove);
    connect(m_stayTimer, &QTimer::timeout, this, &QTipWidget::timeOutStay);
    connect(m_closeTimer, &QTimer::timeout, this, &QTipWidget::timeOutClose);
}

QTipWidget::~QTipWidget() = default;

bool QTipWidget::hasPicture() const
{
    const QPixmap pixmap = m_ui->pictureLabel->pixmap();
    return m_ui->pictureLabel->isVisibleTo(this) && !pixmap.isNull();
}

void QTipWidget::showResult(const QString &title, const QString &text)
{
    m_ui->pictureLabel->clear();
    m_ui->pictureLabel->hide();
    start(title, text);
}

void QTipWidget::showPicture(const QString &title, const QString &text, const QString &imageFile)
{
    QImageReader reader(imageFile);
    // Only a thumbnail is shown: read the picture at about that size.
    const QSize full = reader.size();
    const QSize box = m_ui->pictureLabel->maximumSize();
    if (full.isValid())
        reader.setScaledSize(full.scaled(box * 2, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) {
        m_ui->pictureLabel->clear();
        m_ui->pictureLabel->hide();
    } else {
        m_ui->pictureLabel->setPixmap(QPixmap::fromImage(image));
        m_ui->pictureLabel->show();
    }
    start(title, text);
}

void QTipWidget::start(const QString &title, const QString &text)
{
    m_title = title;
    m_message = text;
    m_ui->titleLabel->setText(title);
    m_ui->messageLabel->setText(breakable(text));
    adjustSize();
    const int h = qMax(heightForWidth(kWidth), sizeHint().height());
    resize(kWidth, h);

    const QRect area = availableArea();
    m_target = QPoint(area.right() - width() + 1, area.bottom() - height() + 1);
    m_currentY = area.bottom() + 1;
    m_stayCount = 0;
    m_opacity = 1.0;
    setWindowOpacity(m_opacity);
    m_moveTimer->stop();
    m_stayTimer->stop();
    m_closeTimer->stop();
    move(m_target.x(), m_currentY);
    show();
    m_phase = Phase::Moving;
    m_moveTimer->start(kMoveInterval);
}

void QTipWidget::timeOutMove()
{
    if (m_phase != Phase::Moving)
        return;
    if (m_currentY > m_target.y())
        --m_currentY;
    move(m_target.x(), m_currentY);
    if (m_currentY <= m_target.y()) {
        m_moveTimer->stop();
        m_phase = Phase::Staying;
        m_stayTimer->start(kStayInterval);
    }
}

void QTipWidget::timeOutStay()
{
    if (m_phase != Phase::Staying)
        return;
    if (++m_stayCount >= kStayTicks) {
        m_stayTimer->stop();
        m_phase = Phase::Fading;
        m_closeTimer->start(kCloseInterval);
    }
}

void QTipWidget::timeOutClose()
{
    if (m_phase != Phase::Fading)
        return;
    if (m_hovered) {
        m_opacity = 1.0;
    } else {
        // Counted in tenths so that ten steps reach exactly 0 (0.1 is not
        // exact in binary and ten subtractions would stay just above it).
        m_opacity = qRound(m_opacity * 10.0 - 1.0) / 10.0;
    }
    setWindowOpacity(qMax(m_opacity, 0.0));
    if (m_opacity <= 0.0) {
        m_closeTimer->stop();
        close();
    }
}

void QTipWidget::on_closeButton_clicked()
{
    close();
}

void QTipWidget::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    if (m_phase == Phase::Fading) {
        m_opacity = 1.0;
        setWindowOpacity(m_opacity);
    }
    QWidget::enterEvent(event);
}

void QTipWidget::leaveEvent(QEvent *event)
{
    m_hovered = false;
    QWidget::leaveEvent(event);
}

void QTipWidget::closeEvent(QCloseEvent *event)
{
    m_moveTimer->stop();
    m_stayTimer->stop();
    m_closeTimer->stop();
    m_phase = Phase::Closed;
    QWidget::closeEvent(event);
}
