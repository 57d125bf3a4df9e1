#pragma once

#include "common/devicerecords.h"
#include "live/ptzcontroller.h"

#include <QLabel>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>

class QComboBox;
class QPushButton;
class QSlider;
class realvideo;

// The pan/tilt pad: four direction buttons over a background image. A
// button moves the camera while it is held (pressed: one move, released or
// left: one stop).
class QPtzFrame : public QWidget
{
    Q_OBJECT

public:
    explicit QPtzFrame(QWidget *parent = nullptr);

    QPushButton *button(int direction) const;   // 0 up, 1 right, 2 down, 3 left

signals:
    // pan and tilt in -1, 0, 1 (right and up positive); both 0: stop.
    void sendDirection(int pan, int tilt);

public slots:
    void UpButton_clicked();
    void RightButton_clicked();
    void DownButton_clicked();
    void LeftButton_clicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *makeButton(const QString &name, const QString &tip, const QString &image);
    void press(int pan, int tilt);
    void release();

    QPushButton *m_buttons[4] = {};
    bool m_held = false;
};

// The container of the pan/tilt pad beside the live page: the pad, zoom
// buttons, a speed slider, the camera's presets and one line for failures.
// It steers the camera of the selected live window when that camera can
// pan, tilt or zoom (asked once per camera, remembered with its record) and
// hides otherwise. Arrow keys and +/- steer it while the window grid has
// the focus. Commands go through a varno::live::PtzController: nothing here
// waits on the network.
class QPtzCtrol : public QLabel
{
    Q_OBJECT

public:
    // The camera record of a device ID; false when it is not in the list.
    using Lookup = std::function<bool(const QString &devId, DvrListInfo_s *out)>;

    explicit QPtzCtrol(QWidget *parent = nullptr);

    // Follows the page's selected window and its keys.
    void attach(realvideo *page, Lookup lookup);
    // The camera to steer (nullptr: none). An unknown capability is asked
    // for; the pad shows when the camera has PTZ.
    void selectCamera(const DvrListInfo_s *dev);

    QPtzFrame *frame() const { return m_frame; }
    varno::live::PtzController *controller() const { return m_ctl; }
    QSlider *speedSlider() const { return m_speed; }
    QComboBox *presetBox() const { return m_presets; }
    QPushButton *zoomInButton() const { return m_zoomIn; }
    QPushButton *zoomOutButton() const { return m_zoomOut; }
    QPushButton *gotoButton() const { return m_goto; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *removeButton() const { return m_remove; }
    QLabel *tipLine() const { return m_tip; }
    QString cameraId() const { return m_ctl->camera().devId; }
    // Velocity of the slider's step (0.2 .. 1).
    double speed() const;

signals:
    // The camera's capability as the camera answered (for its record).
    void sendPtzCapability(QString devId, bool ptz);
    // An operation-log entry.
    void sendOperation(QString content);

public slots:
    void updateFromPage();
    void stopMoving();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void onDirection(int pan, int tilt);
    void onZoom(int zoom);
    void onKey(int key, bool down);
    void onCapability(const QString &devId, bool ptz, bool answered);
    void onPresets(const QString &devId, const QStringList &tokens, const QStringList &names);
    void onFailed(const QString &devId, const QString &text);
    void savePreset();
    void removePreset();

    QPtzFrame *m_frame;
    varno::live::PtzController *m_ctl;
    QPushButton *m_zoomIn = nullptr;
    QPushButton *m_zoomOut = nullptr;
    QSlider *m_speed = nullptr;
    QComboBox *m_presets = nullptr;
    QPushButton *m_goto = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_remove = nullptr;
    QLabel *m_tip = nullptr;
    QPointer<realvideo> m_page;        // deleted before the pad at the window's end
    QPointer<QWidget> m_keyTarget;
    Lookup m_lookup;
    QSet<QString> m_asking;        // cameras whose capability is being asked
    QSet<int> m_keys;              // steering keys held
    int m_zoom = 0;                // zoom held: -1 out, 1 in
};
