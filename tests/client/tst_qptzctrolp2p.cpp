// The pan/tilt pad with P2P cameras through the relay: shown only for the
// camera with a head (asked once, the answer remembered), and one move at
// the slider's velocity on press, one stop on release.
#include "client/qptzctrol.h"

#include "common/ptzrecords.h"
#include "tests/device/devicefixture.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

namespace {

devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_PTZ_CAPS_RSP, P2P_MSG_PTZ_RESULT, P2P_MSG_PTZ_PRESET_LIST};
    return relay;
}

} // namespace

class TestQPtzCtrolP2p : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void padOnlyForTheCameraWithAHead_data();
    void padOnlyForTheCameraWithAHead();
    void pressAndReleaseAtTheSlidersSpeed();

private:
    devicetest::P2pRig m_rig;
};

void TestQPtzCtrolP2p::initTestCase()
{
    QStringList cams = varno::test::simGateAndYard(QSize(160, 90), QSize(160, 90), 10, 100, 80);
    cams[0].replace(QStringLiteral("{ \"kind\""), QStringLiteral("{ \"ptz\": true, \"kind\""));
    const QByteArray config = varno::test::simConfig(
        m_rig.broker.port(), varno::test::tempRoot() + QStringLiteral("/camera-storage"), cams);
    const QString failed = m_rig.start(&hub(), 0, config);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
}

void TestQPtzCtrolP2p::cleanupTestCase()
{
    hub().setDialog(nullptr);
    m_rig.stop();
}

void TestQPtzCtrolP2p::padOnlyForTheCameraWithAHead_data()
{
    QTest::addColumn<QByteArray>("devId");
    QTest::addColumn<QByteArray>("p2pId");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("ptz");
    QTest::newRow("Gate, with a head") << QByteArray("B765432") << QByteArray("VRNB-765432-KXPQT")
                                       << QByteArray("abc123") << true;
    QTest::newRow("Yard, without") << QByteArray("C100200") << QByteArray("VRNC-100200-ABCDE")
                                   << QByteArray("pw9999") << false;
}

void TestQPtzCtrolP2p::padOnlyForTheCameraWithAHead()
{
    QFETCH(QByteArray, devId);
    QFETCH(QByteArray, p2pId);
    QFETCH(QByteArray, password);
    QFETCH(bool, ptz);
    QPtzCtrol pad;
    hub().setDialog(pad.controller());
    QSignalSpy remembered(&pad, &QPtzCtrol::sendPtzCapability);
    const DvrListInfo_s rec = devicetest::listed(devId.constData(), "Mast", password.constData(), p2pId.constData());
    pad.selectCamera(&rec);
    QTRY_COMPARE_WITH_TIMEOUT(remembered.size(), 1, 15000);
    QCOMPARE(remembered[0][0].toString(), QString::fromLatin1(devId));
    QCOMPARE(remembered[0][1].toBool(), ptz);
    // The capability and, for the camera with a head, its presets.
    QTRY_COMPARE_WITH_TIMEOUT(pad.controller()->done(), ptz ? 2 : 1, 15000);
    QCOMPARE(!pad.isHidden(), ptz);
    hub().setDialog(nullptr);
}

void TestQPtzCtrolP2p::pressAndReleaseAtTheSlidersSpeed()
{
    QPtzCtrol pad;
    hub().setDialog(pad.controller());
    DvrListInfo_s rec = devicetest::listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT");
    rec.dev.ptzCaps = 2;
    pad.selectCamera(&rec);
    QVERIFY(!pad.isHidden());
    const QString before = m_rig.sim.command(QStringLiteral("B765432 ptz"));
    QVERIFY2(before.section(QLatin1Char(' '), 4, 5) == QStringLiteral("moves=0 stops=0"), qPrintable(before));
    pad.speedSlider()->setValue(2);
    QPushButton *up = pad.frame()->button(0);
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mouseRelease(up, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(pad.controller()->done(), 3, 15000); // presets, move, stop
    const QString after = m_rig.sim.command(QStringLiteral("B765432 ptz"));
    QVERIFY2(after.contains(QStringLiteral("moves=1 stops=1 last=0,400,0")), qPrintable(after));
    QVERIFY2(after.endsWith(QStringLiteral("moving=0")), qPrintable(after));
    QVERIFY(pad.tipLine()->text().isEmpty());
    hub().setDialog(nullptr);
}

QTEST_MAIN(TestQPtzCtrolP2p)
#include "tst_qptzctrolp2p.moc"
