#include "client/qptzctrol.h"

#include "resources/resourcepath.h"

#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kPadSize = 150;
constexpr int kButton = 40;

} // namespace

QPtzFrame::QPtzFrame(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("QPtzFrame"));
    setFixedSize(kPadSize, kPadSize);
    setStyleSheet(QStringLiteral(
        "QWidget{background-color:rgb(43, 47, 51);}QPushButton{background-color:argb(255, 0, 0, 0);}"));

    auto *back = new QLabel(this);
    back->setObjectName(QStringLiteral("labelBack"));
    back->setGeometry(0, 0, kPadSize, kPadSize);
    back->setScaledContents(true);
    back->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/PTZ_BACK.png"))));

    const int mid = (kPadSize - kButton) / 2;
    QPushButton *up = makeButton(QStringLiteral("btnUp"), tr("Up"), QStringLiteral("./images/PTZ_BTN_U.png"));
    up->move(mid, 4);
    QPushButton *down = makeButton(QStringLiteral("btnDown"), tr("Down"), QStringLiteral("./images/PTZ_BTN_D.png"));
    down->move(mid, kPadSize - kButton - 4);
    QPushButton *right = makeButton(QStringLiteral("btnRight"), tr("Right"), QStringLiteral("./images/PTZ_BTN_R.png"));
    right->move(kPadSize - kButton - 4, mid);
    QPushButton *left = makeButton(QStringLiteral("btnLeft"), tr("Left"), QStringLiteral("./images/PTZ_BTN_L.png"));
    left->move(4, mid);

    connect(up, &QPushButton::clicked, this, &QPtzFrame::UpButton_clicked);
    connect(right, &QPushButton::clicked, this, &QPtzFrame::RightButton_clicked);
    connect(down, &QPushButton::clicked, this, &QPtzFrame::DownButton_clicked);
    connect(left, &QPushButton::clicked, this, &QPtzFrame::LeftButton_clicked);
}

QPushButton *QPtzFrame::makeButton(const QString &name, const QString &tip, const QString &image)
{
    auto *button = new QPushButton(this);
    button->setObjectName(name);
    button->setToolTip(tip);
    button->setFixedSize(kButton, kButton);
    button->setFocusPolicy(Qt::NoFocus);
    // A strip three times as wide as high holds the normal, hover and
    // pressed looks side by side; the normal one is shown.
    const QPixmap strip(varno::resourcePath(image));
    if (!strip.isNull()) {
        const int w = strip.width() >= 3 * strip.height() ? strip.width() / 3 : strip.width();
        const QIcon icon(strip.copy(0, 0, w, strip.height()));
        button->setIcon(icon);
        button->setIconSize(QSize(kButton - 8, kButton - 8));
    }
    button->setFlat(true);
    return button;
}

// Direction commands are not defined for any camera yet: the pad sends
// nothing.
void QPtzFrame::UpButton_clicked() {}
void QPtzFrame::RightButton_clicked() {}
void QPtzFrame::DownButton_clicked() {}
void QPtzFrame::LeftButton_clicked() {}

QPtzCtrol::QPtzCtrol(QWidget *parent)
    : QLabel(parent)
    , m_frame(new QPtzFrame(this))
{
    setObjectName(QStringLiteral("QPtzCtrol"));
    setStyleSheet(QStringLiteral("QLabel{background-color:rgb(43, 47, 51);}"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->addWidget(m_frame, 0, Qt::AlignHCenter);
    setMinimumHeight(m_frame->height() + 16);
    hide();
}
