// The pan/tilt/zoom commands against the simulator's ONVIF camera: the
// capability, one move and one stop per press, coalescing behind a slow
// camera, presets, failures.
#include "live/ptzcontroller.h"

#include "platform/onvif/onvifptz.h"
#include "tools/camsim/onvifcamera.h"

#include <QSignalSpy>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <memory>

using varno::live::PtzCamera;
using varno::live::PtzController;

namespace {

std::unique_ptr<COnvifCamera> startCamera(const std::string &uuid, bool ptz)
{
    COnvifCamera::Settings s;
    s.uuid = uuid;
    s.password = "secret";
    s.ptz = ptz;
    auto cam = std::make_unique<COnvifCamera>(s);
    if (!cam->start(0))
        return nullptr;
    return cam;
}

PtzCamera target(const COnvifCamera &cam, const QString &password = QStringLiteral("secret"))
{
    PtzCamera c;
    c.devId = QString::fromStdString(cam.settings().uuid);
    c.name = QStringLiteral("Dome");
    c.serviceAddr = QString::fromStdString(cam.serviceAddr());
    c.profileToken = QStringLiteral("profile_main");
    c.password = password;
    return c;
}

} // namespace

class TestPtzController : public QObject
{
    Q_OBJECT

private slots:
    void numbersIgnoreTheLocale_data();
    void numbersIgnoreTheLocale();
    void capability_data();
    void capability();
    void pressAndReleaseSendOneMoveAndOneStop_data();
    void pressAndReleaseSendOneMoveAndOneStop();
    void movesCoalesceBehindASlowCamera();
    void presetsRoundTrip();
    void failuresGiveOneLine_data();
    void failuresGiveOneLine();
};

void TestPtzController::numbersIgnoreTheLocale_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("fraction") << 0.25 << "0.25";
    QTest::newRow("negative") << -0.6 << "-0.6";
    QTest::newRow("rounded") << 0.12345 << "0.123";
    QTest::newRow("not a number") << std::nan("") << "0";
}

void TestPtzController::numbersIgnoreTheLocale()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // a decimal comma where it exists
    QCOMPARE(QString::fromStdString(onvif::PtzClient::number(value)), text);
    std::setlocale(LC_NUMERIC, "C");
}

void TestPtzController::capability_data()
{
    QTest::addColumn<bool>("ptz");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("PTZ camera") << true << true;
    QTest::newRow("fixed camera") << false << true;
    QTest::newRow("camera gone") << true << false;
}

void TestPtzController::capability()
{
    QFETCH(bool, ptz);
    QFETCH(bool, reachable);
    auto cam = startCamera("cap-camera", ptz);
    QVERIFY(cam);
    const PtzCamera c = target(*cam);
    if (!reachable)
        cam->stop();
    PtzController ctl;
    QSignalSpy known(&ctl, &PtzController::capabilityKnown);
    ctl.probe(c);
    QTRY_COMPARE_WITH_TIMEOUT(known.size(), 1, 15000);
    QCOMPARE(known[0][0].toString(), c.devId);
    QCOMPARE(known[0][1].toBool(), ptz && reachable);
    QCOMPARE(known[0][2].toBool(), reachable); // only an answer is remembered
}

void TestPtzController::pressAndReleaseSendOneMoveAndOneStop_data()
{
    QTest::addColumn<double>("pan");
    QTest::addColumn<double>("tilt");
    QTest::addColumn<double>("zoom");
    QTest::newRow("right, slow") << 0.2 << 0.0 << 0.0;
    QTest::newRow("up-left, full") << -1.0 << 1.0 << 0.0;
    QTest::newRow("zoom in") << 0.0 << 0.0 << 0.6;
}

void TestPtzController::pressAndReleaseSendOneMoveAndOneStop()
{
    QFETCH(double, pan);
    QFETCH(double, tilt);
    QFETCH(double, zoom);
    auto cam = startCamera("move-camera", true);
    QVERIFY(cam);
    PtzController ctl;
    ctl.setCamera(target(*cam));
    QVERIFY(!ctl.stop()); // nothing moves: nothing to stop
    ctl.move(pan, tilt, zoom);
    QVERIFY(ctl.moving());
    QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().moves, 1, 15000);
    COnvifCamera::PtzState s = cam->ptzState();
    QCOMPARE(s.lastPan, pan);
    QCOMPARE(s.lastTilt, tilt);
    QCOMPARE(s.lastZoom, zoom);
    // The head turns while the move runs.
    QTRY_VERIFY_WITH_TIMEOUT(cam->ptzState().pan * pan > 0 || cam->ptzState().tilt * tilt > 0 ||
                                 cam->ptzState().zoom * zoom > 0,
                             5000);
    QVERIFY(ctl.stop());
    QVERIFY(!ctl.stop());
    QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().stops, 1, 15000);
    QTRY_COMPARE(ctl.done(), 2);
    s = cam->ptzState();
    QCOMPARE(s.moves, 1);
    QCOMPARE(s.panSpeed, 0.0);
    QCOMPARE(s.tiltSpeed, 0.0);
    QCOMPARE(s.zoomSpeed, 0.0);
}

void TestPtzController::movesCoalesceBehindASlowCamera()
{
    auto cam = startCamera("slow-camera", true);
    QVERIFY(cam);
    PtzController ctl;
    ctl.setCamera(target(*cam));
    ctl.probe(target(*cam)); // the service is known before the camera slows down
    QTRY_COMPARE_WITH_TIMEOUT(ctl.done(), 1, 15000);
    cam->setReplyDelayMs(3000);
    const int before = cam->requestCount();
    ctl.move(0.4, 0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(cam->requestCount() > before, 15000);
    // The camera holds the first move for 3 s. The caller's event loop runs
    // meanwhile: a queued call comes through while the reply is outstanding.
    bool ran = false;
    QMetaObject::invokeMethod(&ctl, [&ran] { ran = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(ran);
    QCOMPARE(cam->ptzState().moves, 0);
    // A held key's changes wait behind it and collapse into the last one.
    ctl.move(0.6, 0, 0);
    ctl.move(0.8, 0, 0);
    ctl.move(1.0, 0, 0);
    QCOMPARE(ctl.queued(), 1);
    QVERIFY(ctl.stop());
    QCOMPARE(ctl.queued(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().stops, 1, 20000);
    const COnvifCamera::PtzState s = cam->ptzState();
    QCOMPARE(s.moves, 2);
    QCOMPARE(s.lastPan, 1.0);
    QCOMPARE(s.panSpeed, 0.0);
}

void TestPtzController::presetsRoundTrip()
{
    auto cam = startCamera("preset-camera", true);
    QVERIFY(cam);
    PtzController ctl;
    ctl.setCamera(target(*cam));
    QSignalSpy loaded(&ctl, &PtzController::presetsLoaded);
    QSignalSpy changed(&ctl, &PtzController::presetChanged);
    ctl.refreshPresets();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
    QVERIFY(loaded[0][1].toStringList().isEmpty());

    // Turn right a little, store it as "Gate <1>" (markup in the name).
    ctl.move(1, 0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(cam->ptzState().pan > 0.1, 10000);
    ctl.stop();
    QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().stops, 1, 10000);
    const double stored = cam->ptzState().pan;
    ctl.setPreset(QStringLiteral("Gate <1>"));
    QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 1, 10000);
    QCOMPARE(changed[0][1].toString(), QStringLiteral("Gate <1>"));
    QVERIFY(changed[0][2].toBool());
    ctl.refreshPresets();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, 10000);
    QCOMPARE(loaded[1][2].toStringList(), QStringList{QStringLiteral("Gate <1>")});
    const QString token = loaded[1][1].toStringList().value(0);
    QVERIFY(!token.isEmpty());

    // Elsewhere, then back to the preset.
    ctl.move(-1, 0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(cam->ptzState().pan < stored - 0.1, 10000);
    ctl.stop();
    ctl.gotoPreset(token);
    QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().pan, stored, 10000);

    ctl.removePreset(token, QStringLiteral("Gate <1>"));
    QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 2, 10000);
    QVERIFY(!changed[1][2].toBool());
    QCOMPARE(cam->ptzState().presets, 0);
}

void TestPtzController::failuresGiveOneLine_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("ptz");
    QTest::addColumn<QString>("cause");
    QTest::newRow("wrong password") << "wrong" << true << "refuses the password";
    QTest::newRow("no PTZ service") << "secret" << false << "refuses the command";
}

void TestPtzController::failuresGiveOneLine()
{
    QFETCH(QString, password);
    QFETCH(bool, ptz);
    QFETCH(QString, cause);
    auto cam = startCamera("failing-camera", ptz);
    QVERIFY(cam);
    PtzController ctl;
    QSignalSpy failed(&ctl, &PtzController::commandFailed);
    ctl.setCamera(target(*cam, password));
    ctl.move(0.5, 0, 0);
    ctl.stop();
    // The lines arrive queued after the worker counted its commands done.
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(ctl.done(), 2, 15000); // one line per command, no more
    QVERIFY2(failed[0][1].toString().contains(cause), qPrintable(failed[0][1].toString()));
    QVERIFY(failed[0][1].toString().contains(QStringLiteral("Dome")));
    QCOMPARE(cam->ptzState().moves, 0);
}

QTEST_GUILESS_MAIN(TestPtzController)
#include "tst_ptzcontroller.moc"
