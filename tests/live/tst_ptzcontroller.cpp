// PtzController against the simulator's cameras. ONVIF: the capability,
// coalescing behind a slow camera, presets, failures (one move and one stop
// per press, and the event loop running while the camera is slow: the pad's
// tst_qptzctrol). P2P through the relay: the readers of the camera's answers
// (short, foreign and malformed answers refused), the capability, presets, a
// camera that does not answer (moves through a camera written from the
// protocol document: tst_pycampeer; the pad: tst_qptzctrol).
#include "live/ptzcontroller.h"

#include "common/ptzrecords.h"
#include "platform/onvif/onvifptz.h"
#include "tests/device/devicefixture.h"
#include "tools/camsim/onvifcamera.h"

#include <QSignalSpy>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstring>
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

const char *const kGate = "VRNB-765432-KXPQT";   // with a head
const char *const kYard = "VRNC-100200-ABCDE";   // without

devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_PTZ_CAPS_RSP, P2P_MSG_PTZ_RESULT, P2P_MSG_PTZ_PRESET_LIST};
    return relay;
}

PtzCamera camera(const char *p2pId, const char *password)
{
    PtzCamera c;
    c.devId = QString::fromLatin1(p2pId).mid(3, 1) + QString::fromLatin1(p2pId).mid(5, 6);
    c.name = QStringLiteral("Mast");
    c.p2p = true;
    c.p2pId = QString::fromLatin1(p2pId);
    c.password = QString::fromLatin1(password);
    return c;
}

QByteArray bytes(const void *p, size_t n)
{
    return QByteArray(static_cast<const char *>(p), qsizetype(n));
}

QByteArray presetList(int32_t nonce, int32_t count, const QList<int32_t> &numbers, bool nameNul = true)
{
    PTZ_PRESET_LIST_S head{nonce, PTZ_RESULT_OK, count};
    QByteArray out = bytes(&head, sizeof head);
    for (int32_t n : numbers) {
        PTZ_PRESET_ITEM_S item{};
        item.preset = n;
        std::memset(item.name, 'p', nameNul ? 10 : sizeof item.name);
        out += bytes(&item, sizeof item);
    }
    return out;
}

} // namespace

class TestPtzController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStringList cams = varno::test::simGateAndYard(QSize(160, 90), QSize(160, 90), 10, 100, 80);
        cams[0].replace(QStringLiteral("{ \"kind\""), QStringLiteral("{ \"ptz\": true, \"kind\""));
        QVERIFY(cams[0].contains(QStringLiteral("\"ptz\": true")));
        const QByteArray config = varno::test::simConfig(
            m_rig.broker.port(), varno::test::tempRoot() + QStringLiteral("/camera-storage"), cams);
        const QString failed = m_rig.start(&hub(), 0, config);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        hub().setDialog(nullptr);
        m_rig.stop();
    }

    void numbersIgnoreTheLocale_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("fraction") << 0.25 << "0.25";
        QTest::newRow("negative") << -0.6 << "-0.6";
        QTest::newRow("rounded") << 0.12345 << "0.123";
        QTest::newRow("not a number") << std::nan("") << "0";
    }

    void numbersIgnoreTheLocale()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // a decimal comma where it exists
        QCOMPARE(QString::fromStdString(onvif::PtzClient::number(value)), text);
        std::setlocale(LC_NUMERIC, "C");
    }

    void capability_data()
    {
        QTest::addColumn<bool>("ptz");
        QTest::addColumn<bool>("reachable");
        QTest::newRow("PTZ camera") << true << true;
        QTest::newRow("fixed camera") << false << true;
        QTest::newRow("camera gone") << true << false;
    }

    void capability()
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

    void movesCoalesceBehindASlowCamera()
    {
        auto cam = startCamera("slow-camera", true);
        QVERIFY(cam);
        PtzController ctl;
        ctl.setCamera(target(*cam));
        ctl.probe(target(*cam)); // the service is known before the camera slows down
        QTRY_COMPARE_WITH_TIMEOUT(ctl.done(), 1, 15000);
        cam->setReplyDelayMs(3000);
        const int before = cam->requestCount();
        QVERIFY(!ctl.stop()); // nothing moves: nothing to stop
        ctl.move(0.4, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(cam->requestCount() > before, 15000);
        // The camera holds the first move for 3 s: a held key's changes wait
        // behind it and collapse into the last one.
        QCOMPARE(cam->ptzState().moves, 0);
        ctl.move(0.6, 0, 0);
        ctl.move(0.8, 0, 0);
        ctl.move(1.0, 0, 0);
        QCOMPARE(ctl.queued(), 1);
        QVERIFY(ctl.stop());
        QVERIFY(!ctl.stop());
        QCOMPARE(ctl.queued(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(cam->ptzState().stops, 1, 20000);
        const COnvifCamera::PtzState s = cam->ptzState();
        QCOMPARE(s.moves, 2);
        QCOMPARE(s.lastPan, 1.0);
        QCOMPARE(s.panSpeed, 0.0);
        QCOMPARE(s.tiltSpeed, 0.0);
    }

    void presetsRoundTrip()
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

    void failuresGiveOneLine_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ptz");
        QTest::addColumn<QString>("cause");
        QTest::newRow("wrong password") << "wrong" << true << "refuses the password";
        QTest::newRow("no PTZ service") << "secret" << false << "refuses the command";
    }

    void failuresGiveOneLine()
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

    void p2pAnswersRefused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("taken");
        const int32_t n = 77;
        PTZ_CAPS_RSP_S caps{n, PTZ_RESULT_OK, PTZ_CAP_PAN_TILT, 8, {0, 0}};
        PTZ_CAPS_RSP_S otherCaps = caps;
        otherCaps.nonce = 78;
        PTZ_RESULT_S result{n, P2P_MSG_PTZ_MOVE, PTZ_RESULT_OK, 0};
        PTZ_RESULT_S otherType = result;
        otherType.request = P2P_MSG_PTZ_STOP;
        QTest::newRow("capability") << 161 << bytes(&caps, sizeof caps) << true;
        QTest::newRow("capability, short") << 161 << bytes(&caps, sizeof caps - 1) << false;
        QTest::newRow("capability, other nonce") << 161 << bytes(&otherCaps, sizeof otherCaps) << false;
        QTest::newRow("result") << 163 << bytes(&result, sizeof result) << true;
        QTest::newRow("result, short") << 163 << bytes(&result, 12) << false;
        QTest::newRow("result of another request") << 163 << bytes(&otherType, sizeof otherType) << false;
        QTest::newRow("list") << 166 << presetList(n, 2, {1, 255}) << true;
        QTest::newRow("list, bytes after the entries") << 166 << presetList(n, 1, {3, 4}) << true;
        QTest::newRow("list, head short") << 166 << presetList(n, 0, {}).left(11) << false;
        QTest::newRow("list, count beyond the data") << 166 << presetList(n, 3, {1, 2}) << false;
        QTest::newRow("list, last entry cut") << 166 << presetList(n, 2, {1, 2}).chopped(1) << false;
        QTest::newRow("list, negative count") << 166 << presetList(n, -1, {}) << false;
        QTest::newRow("list, huge count") << 166 << presetList(n, 0x7fffffff, {1}) << false;
        QTest::newRow("list, number 256") << 166 << presetList(n, 1, {256}) << false;
        QTest::newRow("list, number 0") << 166 << presetList(n, 1, {0}) << false;
        QTest::newRow("list, number twice") << 166 << presetList(n, 2, {5, 5}) << false;
        QTest::newRow("list, other nonce") << 166 << presetList(n + 1, 1, {1}) << false;
        QTest::newRow("list, name without NUL") << 166 << presetList(n, 1, {9}, false) << true;
    }

    void p2pAnswersRefused()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, answer);
        QFETCH(bool, taken);
        // A buffer of exactly the answer's size, so that a read beyond it shows under the sanitizers.
        std::vector<char> data(answer.begin(), answer.end());
        const char *p = data.empty() ? nullptr : data.data();
        const char *why = nullptr;
        bool ok = false;
        if (type == 161) {
            PTZ_CAPS_RSP_S out{};
            ok = varno::ptz::readCaps(p, data.size(), 77, &out, &why);
            if (ok)
                QCOMPARE(out.caps, uint32_t(PTZ_CAP_PAN_TILT));
        } else if (type == 163) {
            PTZ_RESULT_S out{};
            ok = varno::ptz::readResult(p, data.size(), 77, P2P_MSG_PTZ_MOVE, &out, &why);
        } else {
            int32_t result = -1;
            std::vector<varno::ptz::Preset> list;
            ok = varno::ptz::readPresetList(p, data.size(), 77, &result, &list, &why);
            if (ok) {
                QCOMPARE(result, int32_t(PTZ_RESULT_OK));
                for (const auto &preset : list)
                    QVERIFY(preset.name.size() <= 63 && !preset.name.empty());
                if (QByteArray(QTest::currentDataTag()).contains("without NUL"))
                    QCOMPARE(list.at(0).name, std::string(63, 'p'));
            }
        }
        QCOMPARE(ok, taken);
        QCOMPARE(why == nullptr, taken); // a refusal names its reason
    }

    void velocityUnits()
    {
        const double in[] = {0.4, -1.0, 3.0, -1e300, std::nan(""), HUGE_VAL};
        const int32_t out[] = {400, -1000, 1000, -1000, 0, 0};
        for (size_t i = 0; i < std::size(in); ++i)
            QCOMPARE(varno::ptz::velocityUnits(in[i]), out[i]);
    }

    void p2pCapability_data()
    {
        QTest::addColumn<QByteArray>("p2pId");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("ptz");
        QTest::addColumn<bool>("answered");
        QTest::newRow("camera with a head") << QByteArray(kGate) << QByteArray("abc123") << true << true;
        QTest::newRow("camera without") << QByteArray(kYard) << QByteArray("pw9999") << false << true;
        QTest::newRow("wrong password: not remembered") << QByteArray(kGate) << QByteArray("nope") << false << false;
    }

    void p2pCapability()
    {
        QFETCH(QByteArray, p2pId);
        QFETCH(QByteArray, password);
        QFETCH(bool, ptz);
        QFETCH(bool, answered);
        PtzController ctl;
        hub().setDialog(&ctl);
        QSignalSpy known(&ctl, &PtzController::capabilityKnown);
        const PtzCamera c = camera(p2pId.constData(), password.constData());
        ctl.probe(c);
        QTRY_COMPARE_WITH_TIMEOUT(known.size(), 1, 15000);
        QCOMPARE(known[0][0].toString(), c.devId);
        QCOMPARE(known[0][1].toBool(), ptz);
        QCOMPARE(known[0][2].toBool(), answered);
        hub().setDialog(nullptr);
    }

    void p2pPresetsRoundTrip()
    {
        PtzController ctl;
        hub().setDialog(&ctl);
        QSignalSpy loaded(&ctl, &PtzController::presetsLoaded);
        QSignalSpy changed(&ctl, &PtzController::presetChanged);
        QSignalSpy failed(&ctl, &PtzController::commandFailed);
        ctl.setCamera(camera(kGate, "abc123"));
        const QString name = QStringLiteral("Tor Süd");
        ctl.setPreset(name);
        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 1, 15000);
        const QString saved = head().section(QLatin1Char(' '), 1, 3); // pan, tilt, zoom of the preset
        QCOMPARE(changed[0][1].toString(), name);
        QCOMPARE(changed[0][2].toBool(), true);
        ctl.refreshPresets();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
        const QStringList tokens = loaded[0][1].toStringList();
        QCOMPARE(loaded[0][2].toStringList(), QStringList{name});
        // Away from the preset, then back to it.
        ctl.move(1.0, 0.0, 0.0);
        QTRY_VERIFY_WITH_TIMEOUT(!head().contains(saved), 15000);
        ctl.stop();
        ctl.gotoPreset(tokens[0]);
        ctl.gotoPreset(QStringLiteral("200"));   // none of that number: one line
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 15000);
        QVERIFY2(head().contains(saved), qPrintable(saved));
        ctl.removePreset(tokens[0], name);
        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 2, 15000);
        QCOMPARE(changed[1][2].toBool(), false);
        ctl.refreshPresets();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, 15000);
        QVERIFY(loaded[1][1].toStringList().isEmpty());
        QCOMPARE(failed.size(), 1);
        QVERIFY(head().contains(QStringLiteral("presets=0")));
        hub().setDialog(nullptr);
    }

    void silentCameraGivesOneLine()
    {
        PtzController ctl;
        hub().setDialog(&ctl);
        QSignalSpy failed(&ctl, &PtzController::commandFailed);
        QSignalSpy known(&ctl, &PtzController::capabilityKnown);
        QVERIFY(m_rig.sim.command(QStringLiteral("B765432 drop-replies 2")).startsWith(QStringLiteral("OK")));
        ctl.setCamera(camera(kGate, "abc123"));
        ctl.probe(ctl.camera());
        ctl.move(0.2, 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 3 * PtzController::kP2pAnswerMs);
        QCOMPARE(known.size(), 1);
        QCOMPARE(known[0][2].toBool(), false);   // not remembered
        QCOMPARE(failed[0][1].toString(), QStringLiteral("Pan/tilt/zoom of Mast failed: the camera does not answer"));
        // The camera moved all the same (only its answer was lost): the stop reaches it.
        QVERIFY(ctl.stop());
        QTRY_COMPARE_WITH_TIMEOUT(ctl.done(), 3, 15000);
        QVERIFY(head().endsWith(QStringLiteral("moving=0")));
        QCOMPARE(failed.size(), 1);
        hub().setDialog(nullptr);
    }

private:
    QString head(const char *p2pId = kGate)
    {
        // The simulator's commands name a camera by its device ID.
        return m_rig.sim.command(camera(p2pId, "").devId + QStringLiteral(" ptz"));
    }

    devicetest::P2pRig m_rig;
};

QTEST_GUILESS_MAIN(TestPtzController)
#include "tst_ptzcontroller.moc"
