// The pan/tilt pad against the simulator's ONVIF camera: shown only for a
// camera with PTZ, one move and one stop per press at the slider's speed,
// stops on leave, focus loss and a closed window, keys, presets, a slow
// camera and failures.
#include "client/qptzctrol.h"

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "tools/camsim/onvifcamera.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include <cstring>
#include <memory>

class TestQPtzCtrol : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        startCamera(true);
    }

    void cleanup()
    {
        m_cam.reset();
    }

    void padOnlyForPtzCameras_data()
    {
        QTest::addColumn<bool>("ptz");
        QTest::addColumn<int>("caps");
        QTest::addColumn<bool>("asked");
        QTest::newRow("PTZ, not asked yet") << true << 0 << true;
        QTest::newRow("fixed, not asked yet") << false << 0 << true;
        QTest::newRow("PTZ, remembered") << true << 2 << false;
        QTest::newRow("fixed, remembered") << false << 1 << false;
    }

    void padOnlyForPtzCameras()
    {
        QFETCH(bool, ptz);
        QFETCH(int, caps);
        QFETCH(bool, asked);
        startCamera(ptz);
        QPtzCtrol pad;
        QSignalSpy remembered(&pad, &QPtzCtrol::sendPtzCapability);
        const DvrListInfo_s rec = record(char(caps));
        pad.selectCamera(&rec);
        if (asked) {
            QTRY_COMPARE_WITH_TIMEOUT(remembered.size(), 1, 15000);
            QCOMPARE(remembered[0][1].toBool(), ptz);
        }
        QTRY_COMPARE_WITH_TIMEOUT(pad.controller()->done(), ptz ? int(asked) + 1 : int(asked), 15000); // + presets
        QCOMPARE(!pad.isHidden(), ptz);
        QCOMPARE(remembered.size(), int(asked));
        if (!asked && !ptz)
            QCOMPARE(m_cam->requestCount(), 0);
        pad.selectCamera(nullptr);
        QVERIFY(pad.isHidden());
    }

    void pressAndReleaseAtTheSlidersSpeed_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("tilt");
        QTest::newRow("up, slowest") << 0 << 1 << 0.0 << 0.2;
        QTest::newRow("right, middle") << 1 << 3 << 0.6 << 0.0;
        QTest::newRow("down, fastest") << 2 << 5 << 0.0 << -1.0;
        QTest::newRow("left, middle") << 3 << 3 << -0.6 << 0.0;
    }

    void pressAndReleaseAtTheSlidersSpeed()
    {
        QFETCH(int, button);
        QFETCH(int, step);
        QFETCH(double, pan);
        QFETCH(double, tilt);
        QPtzCtrol pad;
        const DvrListInfo_s rec = record(2);
        pad.selectCamera(&rec);
        QVERIFY(!pad.isHidden());
        pad.speedSlider()->setValue(step);
        QPushButton *b = pad.frame()->button(button);
        QTest::mousePress(b, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().moves, 1, 15000);
        QCOMPARE(m_cam->ptzState().lastPan, pan);
        QCOMPARE(m_cam->ptzState().lastTilt, tilt);
        QTest::mouseRelease(b, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().stops, 1, 15000);
        QTRY_COMPARE(pad.controller()->done(), 3); // presets, move, stop: nothing more
        QCOMPARE(m_cam->ptzState().moves, 1);
        QCOMPARE(m_cam->ptzState().stops, 1);
    }

    void stopsWithoutTheUser_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("pointer leaves") << "leave";
        QTest::newRow("window loses focus") << "focus";
        QTest::newRow("live window closed") << "close";
    }

    void stopsWithoutTheUser()
    {
        QFETCH(QString, how);
        realvideo page;
        QPtzCtrol pad;
        pad.attach(&page, [this](const QString &, DvrListInfo_s *out) { *out = record(2); return true; });
        const DvrListInfo_s rec = record(2);
        pad.selectCamera(&rec);
        QApplication::setActiveWindow(&pad);
        QPushButton *b = pad.frame()->button(1);
        QTest::mousePress(b, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().moves, 1, 15000);
        if (how == QLatin1String("leave")) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(b, &leave);
            QVERIFY(!b->isDown());
        } else if (how == QLatin1String("focus")) {
            QWidget other;
            other.show();
            QApplication::setActiveWindow(&other);
            QVERIFY(!pad.isActiveWindow());
        } else {
            emit page.videoOnly()->CloseVideoWinToVWin(QStringLiteral("pad-camera"));
            QVERIFY(pad.isHidden());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().stops, 1, 15000);
        QTest::mouseRelease(b, Qt::LeftButton); // let go later: no second stop
        QTRY_COMPARE(pad.controller()->queued(), 0);
        QTRY_COMPARE(m_cam->ptzState().stops, 1);
        QCOMPARE(m_cam->ptzState().panSpeed, 0.0);
    }

    void keysSteerDiagonally()
    {
        realvideo page;
        QPtzCtrol pad;
        pad.attach(&page, [this](const QString &, DvrListInfo_s *out) { *out = record(2); return true; });
        const DvrListInfo_s rec = record(2);
        pad.selectCamera(&rec);
        QWidget *grid = page.videoOnly();
        QTest::keyPress(grid, Qt::Key_Up);
        QTest::keyPress(grid, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(m_cam->ptzState().lastPan == 0.6 && m_cam->ptzState().lastTilt == 0.6, 15000);
        QTest::keyRelease(grid, Qt::Key_Up);
        QTRY_VERIFY_WITH_TIMEOUT(m_cam->ptzState().lastPan == 0.6 && m_cam->ptzState().lastTilt == 0.0, 15000);
        QTest::keyRelease(grid, Qt::Key_Right);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().stops, 1, 15000);
        QTest::keyPress(grid, Qt::Key_Plus);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().lastZoom, 0.6, 15000);
        QEvent focusOut(QEvent::FocusOut);
        QCoreApplication::sendEvent(grid, &focusOut);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().stops, 2, 15000);
    }

    void presetsThroughThePrompt()
    {
        varno::ui::PromptScript script;
        QPtzCtrol pad;
        QSignalSpy ops(&pad, &QPtzCtrol::sendOperation);
        const DvrListInfo_s rec = record(2);
        pad.selectCamera(&rec);
        script.answer(QMessageBox::Cancel);
        pad.saveButton()->click();                     // cancelled: nothing stored
        script.answer(QMessageBox::Ok, QStringLiteral("Porch"));
        pad.saveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(pad.presetBox()->count(), 1, 15000);
        QCOMPARE(pad.presetBox()->currentText(), QStringLiteral("Porch"));
        QCOMPARE(ops.size(), 1);
        QCOMPARE(ops[0][0].toString(), QStringLiteral("Device:pad-camera Preset Porch saved"));
        script.answer(QMessageBox::Yes);
        pad.removeButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(ops.size(), 2, 15000);
        QCOMPARE(ops[1][0].toString(), QStringLiteral("Device:pad-camera Preset Porch removed"));
        QTRY_COMPARE_WITH_TIMEOUT(pad.presetBox()->count(), 0, 15000);
        QCOMPARE(script.count(), 3);
        QCOMPARE(m_cam->ptzState().presets, 0);
    }

    void slowCameraAndFailures()
    {
        varno::ui::PromptScript script;
        QPtzCtrol pad;
        DvrListInfo_s rec = record(2);
        pad.selectCamera(&rec);
        QTRY_COMPARE_WITH_TIMEOUT(pad.controller()->done(), 1, 15000);
        m_cam->setReplyDelayMs(3000);
        const int before = m_cam->requestCount();
        QPushButton *b = pad.frame()->button(0);
        QTest::mousePress(b, Qt::LeftButton);
        QTest::mouseRelease(b, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_cam->requestCount() > before, 15000);
        // The camera holds the move for 3 s; the window's event loop runs on.
        bool ran = false;
        QMetaObject::invokeMethod(&pad, [&ran] { ran = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(ran);
        QCOMPARE(m_cam->ptzState().moves, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_cam->ptzState().stops, 1, 20000);
        m_cam->setReplyDelayMs(0);

        // A refused password: one line in the tip area, no message box.
        rec = record(2, "wrong");
        pad.selectCamera(&rec);
        QTest::mousePress(b, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!pad.tipLine()->text().isEmpty(), 15000);
        QVERIFY(pad.tipLine()->text().contains(QStringLiteral("Dome")));
        QTest::mouseRelease(b, Qt::LeftButton);
        QCOMPARE(script.count(), 0);
    }

private:
    DvrListInfo_s record(char caps, const char *password = "secret") const
    {
        DvrListInfo_s d;
        std::memset(&d, 0, sizeof d);
        varno::setText(d.dev.devId, "pad-camera");
        varno::setText(d.dev.devName, "Dome");
        varno::setText(d.dev.serviceAddr, m_cam->serviceAddr());
        varno::setText(d.dev.password, password);
        varno::setText(d.config.mainToken, "profile_main");
        d.dev.ptzCaps = caps;
        return d;
    }

    void startCamera(bool ptz)
    {
        COnvifCamera::Settings s;
        s.uuid = "pad-camera";
        s.password = "secret";
        s.ptz = ptz;
        m_cam = std::make_unique<COnvifCamera>(s);
        QVERIFY(m_cam->start(0));
    }

    std::unique_ptr<COnvifCamera> m_cam;
};

QTEST_MAIN(TestQPtzCtrol)
#include "tst_qptzctrol.moc"
