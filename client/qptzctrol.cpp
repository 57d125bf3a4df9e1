#include "client/qptzctrol.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "resources/resourcepath.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kPadSize = 150;
constexpr int kButton = 40;
constexpr int kSpeedSteps = 5;

// Capability byte of a camera record (DeviceInfo_s::ptzCaps).
constexpr char kCapsUnknown = 0;
constexpr char kCapsNone = 1;
constexpr char kCapsPtz = 2;

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
    m_buttons[0] = up;
    m_buttons[1] = right;
    m_buttons[2] = down;
    m_buttons[3] = left;

    // The move runs from press to release; a click is both.
    static constexpr int kPan[4] = {0, 1, 0, -1};
    static constexpr int kTilt[4] = {1, 0, -1, 0};
    for (int i = 0; i < 4; ++i) {
        connect(m_buttons[i], &QPushButton::pressed, this, [this, i] { press(kPan[i], kTilt[i]); });
        connect(m_buttons[i], &QPushButton::released, this, &QPtzFrame::release);
        m_buttons[i]->installEventFilter(this);
    }
    connect(up, &QPushButton::clicked, this, &QPtzFrame::UpButton_clicked);
    connect(right, &QPushButton::clicked, this, &QPtzFrame::RightButton_clicked);
    connect(down, &QPushButton::clicked, this, &QPtzFrame::DownButton_clicked);
    connect(left, &QPushButton::clicked, this, &QPtzFrame::LeftButton_clicked);
}

QPushButton *QPtzFrame::button(int direction) const
{
    return direction >= 0 && direction < 4 ? m_buttons[direction] : nullptr;
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

void QPtzFrame::press(int pan, int tilt)
{
    m_held = true;
    emit sendDirection(pan, tilt);
}

void QPtzFrame::release()
{
    if (!m_held)
        return;
    m_held = false;
    emit sendDirection(0, 0);
}

bool QPtzFrame::eventFilter(QObject *watched, QEvent *event)
{
    // The pointer left the held button: the camera stops even when the
    // button is let go elsewhere.
    if (event->type() == QEvent::Leave && m_held) {
        if (auto *b = qobject_cast<QPushButton *>(watched); b && b->isDown())
            b->setDown(false);
        release();
    }
    return QWidget::eventFilter(watched, event);
}

// The move itself ran from press to release (sendDirection).
void QPtzFrame::UpButton_clicked() {}
void QPtzFrame::RightButton_clicked() {}
void QPtzFrame::DownButton_clicked() {}
void QPtzFrame::LeftButton_clicked() {}

QPtzCtrol::QPtzCtrol(QWidget *parent)
    : QLabel(parent)
    , m_frame(new QPtzFrame(this))
    , m_ctl(new varno::live::PtzController(this))
{
    setObjectName(QStringLiteral("QPtzCtrol"));
    setStyleSheet(QStringLiteral("QLabel{background-color:rgb(43, 47, 51);}"));
    const QString textStyle = QStringLiteral("color:white;");
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 4, 8);
    layout->setSpacing(4);
    layout->addWidget(m_frame, 0, Qt::AlignHCenter);

    auto *zoomRow = new QHBoxLayout;
    m_zoomOut = new QPushButton(QStringLiteral("\u2212"), this);
    m_zoomOut->setObjectName(QStringLiteral("btnZoomOut"));
    m_zoomOut->setToolTip(tr("Zoom out"));
    m_zoomIn = new QPushButton(QStringLiteral("+"), this);
    m_zoomIn->setObjectName(QStringLiteral("btnZoomIn"));
    m_zoomIn->setToolTip(tr("Zoom in"));
    for (QPushButton *b : {m_zoomOut, m_zoomIn}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(kButton, 26);
        zoomRow->addWidget(b);
    }
    layout->addLayout(zoomRow);

    auto *speedRow = new QHBoxLayout;
    auto *speedLabel = new QLabel(tr("Speed"), this);
    speedLabel->setStyleSheet(textStyle);
    m_speed = new QSlider(Qt::Horizontal, this);
    m_speed->setObjectName(QStringLiteral("sliderSpeed"));
    m_speed->setRange(1, kSpeedSteps);
    m_speed->setValue(3);
    m_speed->setPageStep(1);
    m_speed->setTickPosition(QSlider::TicksBelow);
    m_speed->setFocusPolicy(Qt::NoFocus);
    m_speed->setToolTip(tr("Speed"));
    speedRow->addWidget(speedLabel);
    speedRow->addWidget(m_speed, 1);
    layout->addLayout(speedRow);

    m_presets = new QComboBox(this);
    m_presets->setObjectName(QStringLiteral("comboPresets"));
    m_presets->setToolTip(tr("Presets"));
    m_presets->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_presets);
    auto *presetRow = new QHBoxLayout;
    m_goto = new QPushButton(tr("Go to"), this);
    m_goto->setObjectName(QStringLiteral("btnPresetGoto"));
    m_save = new QPushButton(tr("Save"), this);
    m_save->setObjectName(QStringLiteral("btnPresetSave"));
    m_remove = new QPushButton(tr("Remove"), this);
    m_remove->setObjectName(QStringLiteral("btnPresetRemove"));
    for (QPushButton *b : {m_goto, m_save, m_remove}) {
        b->setFocusPolicy(Qt::NoFocus);
        presetRow->addWidget(b);
    }
    layout->addLayout(presetRow);

    m_tip = new QLabel(this);
    m_tip->setObjectName(QStringLiteral("labelPtzTip"));
    m_tip->setStyleSheet(QStringLiteral("color:rgb(255, 170, 60);"));
    m_tip->setWordWrap(true);
    m_tip->setMinimumHeight(2 * m_tip->fontMetrics().lineSpacing());
    m_tip->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_tip);
    // A label's own size hint knows only its text: the layout's counts.
    setMinimumHeight(layout->sizeHint().height());

    connect(m_frame, &QPtzFrame::sendDirection, this, &QPtzCtrol::onDirection);
    connect(m_zoomIn, &QPushButton::pressed, this, [this] { onZoom(1); });
    connect(m_zoomOut, &QPushButton::pressed, this, [this] { onZoom(-1); });
    connect(m_zoomIn, &QPushButton::released, this, [this] { onZoom(0); });
    connect(m_zoomOut, &QPushButton::released, this, [this] { onZoom(0); });
    connect(m_goto, &QPushButton::clicked, this, [this] {
        const QString token = m_presets->currentData().toString();
        if (!token.isEmpty())
            m_ctl->gotoPreset(token);
    });
    connect(m_save, &QPushButton::clicked, this, &QPtzCtrol::savePreset);
    connect(m_remove, &QPushButton::clicked, this, &QPtzCtrol::removePreset);
    connect(m_ctl, &varno::live::PtzController::capabilityKnown, this, &QPtzCtrol::onCapability);
    connect(m_ctl, &varno::live::PtzController::presetsLoaded, this, &QPtzCtrol::onPresets);
    connect(m_ctl, &varno::live::PtzController::commandFailed, this, &QPtzCtrol::onFailed);
    connect(m_ctl, &varno::live::PtzController::presetChanged, this,
            [this](const QString &devId, const QString &name, bool added) {
                emit sendOperation(QStringLiteral("Device:%1 Preset %2 %3").arg(devId, name,
                                                                                  added ? QStringLiteral("saved")
                                                                                        : QStringLiteral("removed")));
                if (devId == cameraId())
                    m_ctl->refreshPresets();
            });
    hide();
}

double QPtzCtrol::speed() const
{
    return static_cast<double>(m_speed->value()) / kSpeedSteps;
}

void QPtzCtrol::attach(realvideo *page, Lookup lookup)
{
    m_page = page;
    m_lookup = std::move(lookup);
    QVideoOnly *grid = page->videoOnly();
    // A click into a live window gives the grid the keyboard.
    grid->setFocusPolicy(Qt::ClickFocus);
    grid->installEventFilter(this);
    m_keyTarget = grid;
    connect(grid, &QVideoOnly::SendVideoWinNum, this, &QPtzCtrol::updateFromPage, Qt::QueuedConnection);
    connect(grid, &QVideoOnly::CloseVideoWinToVWin, this, [this](const QString &devId) {
        if (devId == cameraId())
            selectCamera(nullptr);
        QMetaObject::invokeMethod(this, &QPtzCtrol::updateFromPage, Qt::QueuedConnection);
    });
    connect(page, &realvideo::streamStarted, this, &QPtzCtrol::updateFromPage, Qt::QueuedConnection);
}

void QPtzCtrol::updateFromPage()
{
    if (!m_page)
        return;
    const QVideoOnly *grid = m_page->videoOnly();
    const WinState w = grid->winState(grid->current());
    DvrListInfo_s rec;
    if (!w.used || w.deviceId.isEmpty() || !m_lookup || !m_lookup(w.deviceId, &rec)) {
        selectCamera(nullptr);
        return;
    }
    selectCamera(&rec);
}

void QPtzCtrol::selectCamera(const DvrListInfo_s *dev)
{
    if (!dev) {
        stopMoving();
        m_ctl->setCamera({});
        m_presets->clear();
        m_tip->clear();
        hide();
        return;
    }
    varno::live::PtzCamera cam;
    cam.devId = varno::fieldText(dev->dev.devId);
    cam.name = varno::fieldText(dev->dev.devName);
    cam.p2p = dev->dev.p2pFlag == 1;
    cam.serviceAddr = varno::fieldText(dev->dev.serviceAddr);
    cam.profileToken = varno::fieldText(dev->config.mainToken);
    cam.p2pId = varno::fieldText(dev->dev.p2pId);
    cam.password = varno::fieldText(dev->dev.password);
    const bool other = cam.devId != cameraId();
    if (other) {
        stopMoving();
        m_presets->clear();
        m_tip->clear();
    }
    m_ctl->setCamera(cam);
    if (dev->dev.ptzCaps == kCapsPtz) {
        if (other || isHidden())
            m_ctl->refreshPresets();
        show();
        return;
    }
    hide();
    if (dev->dev.ptzCaps == kCapsUnknown && !m_asking.contains(cam.devId)) {
        m_asking.insert(cam.devId);
        m_ctl->probe(cam);
    }
}

void QPtzCtrol::stopMoving()
{
    m_keys.clear();
    m_zoom = 0;
    m_ctl->stop();
}

void QPtzCtrol::onDirection(int pan, int tilt)
{
    if (pan == 0 && tilt == 0 && m_zoom == 0) {
        m_ctl->stop();
        return;
    }
    const double v = speed();
    m_ctl->move(pan * v, tilt * v, m_zoom * v);
}

void QPtzCtrol::onZoom(int zoom)
{
    m_zoom = zoom;
    if (zoom == 0)
        m_ctl->stop();
    else
        m_ctl->move(0, 0, zoom * speed());
}

void QPtzCtrol::onKey(int key, bool down)
{
    if (down)
        m_keys.insert(key);
    else
        m_keys.remove(key);
    const int pan = (m_keys.contains(Qt::Key_Right) ? 1 : 0) - (m_keys.contains(Qt::Key_Left) ? 1 : 0);
    const int tilt = (m_keys.contains(Qt::Key_Up) ? 1 : 0) - (m_keys.contains(Qt::Key_Down) ? 1 : 0);
    const int zoom = (m_keys.contains(Qt::Key_Plus) ? 1 : 0) - (m_keys.contains(Qt::Key_Minus) ? 1 : 0);
    if (pan == 0 && tilt == 0 && zoom == 0) {
        m_ctl->stop();
        return;
    }
    const double v = speed();
    m_ctl->move(pan * v, tilt * v, zoom * v);
}

bool QPtzCtrol::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_keyTarget) {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto *k = static_cast<QKeyEvent *>(event);
            int key = k->key();
            if (key == Qt::Key_Equal)
                key = Qt::Key_Plus;
            if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Left && key != Qt::Key_Right &&
                key != Qt::Key_Plus && key != Qt::Key_Minus)
                break;
            if (isHidden() || !m_ctl->camera().isValid())
                break;
            if (!k->isAutoRepeat())
                onKey(key, event->type() == QEvent::KeyPress);
            return true;
        }
        case QEvent::FocusOut:
            if (!m_keys.isEmpty()) {
                m_keys.clear();
                m_ctl->stop();
            }
            break;
        default:
            break;
        }
    }
    return QLabel::eventFilter(watched, event);
}

void QPtzCtrol::changeEvent(QEvent *event)
{
    // The window lost the focus: nothing keeps moving without the user.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        stopMoving();
    QLabel::changeEvent(event);
}

void QPtzCtrol::onCapability(const QString &devId, bool ptz, bool answered)
{
    m_asking.remove(devId);
    if (answered)
        emit sendPtzCapability(devId, ptz);
    if (devId != cameraId())
        return;
    if (ptz) {
        show();
        m_ctl->refreshPresets();
    } else {
        hide();
    }
}

void QPtzCtrol::onPresets(const QString &devId, const QStringList &tokens, const QStringList &names)
{
    if (devId != cameraId())
        return;
    const QString current = m_presets->currentData().toString();
    m_presets->clear();
    for (int i = 0; i < tokens.size() && i < names.size(); ++i)
        m_presets->addItem(names[i].isEmpty() ? tokens[i] : names[i], tokens[i]);
    const int again = m_presets->findData(current);
    if (again >= 0)
        m_presets->setCurrentIndex(again);
}

void QPtzCtrol::onFailed(const QString &devId, const QString &text)
{
    if (devId != cameraId())
        return;
    m_tip->setText(text);
    m_tip->setToolTip(text);
}

void QPtzCtrol::savePreset()
{
    if (!m_ctl->camera().isValid())
        return;
    varno::ui::PromptRequest request;
    request.kind = varno::ui::PromptKind::Text;
    request.title = tr("Save preset");
    request.text = tr("Name of the new preset:");
    request.parent = this;
    const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
    if (answer.button != QMessageBox::Ok || answer.text.trimmed().isEmpty())
        return;
    m_ctl->setPreset(answer.text);
}

void QPtzCtrol::removePreset()
{
    const QString token = m_presets->currentData().toString();
    if (token.isEmpty())
        return;
    const QString name = m_presets->currentText();
    if (varno::ui::InfoBox(this, tr("Remove preset"), tr("Remove the preset \"%1\"?").arg(name), true) !=
        QMessageBox::Yes)
        return;
    m_ctl->removePreset(token, name);
}
