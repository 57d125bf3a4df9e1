// The download controller without a dialog, against the camera simulator:
// a stop while the file flows, a camera that does not answer (the window's
// event loop keeps running meanwhile), and the controller destroyed while a
// start waits for the camera. Whole files through the controller:
// tst_qdownload.

#include "common/textfield.h"
#include "playback/cfiledownload.h"
#include "playback/downloadcontroller.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace pbtest;
using varno::playback::DownloadController;
using varno::playback::DownloadRequest;
using varno::playback::DownloadState;

namespace {

DownloadRequest request(const char *camera, const char *file, const QString &target)
{
    DownloadRequest r;
    r.row = 2;
    r.peerId = camera;
    r.password = "abc123";
    varno::setText(r.file.fileName, file);
    r.target = target;
    r.size = uint32_t(QFileInfo(varno::test::tempRoot() + QStringLiteral("/camera-storage/B765432/") + QLatin1String(file)).size());
    return r;
}

} // namespace

class tst_DownloadController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<DownloadOutcome>("DownloadOutcome");
        CFileDownload::setTimeoutMs(1500);
        QVERIFY2(m_rig.start(2, 4), qPrintable(m_rig.error));
        m_folder = varno::test::tempRoot() + QStringLiteral("/downloads");
        QVERIFY(QDir().mkpath(m_folder));
    }
    void cleanupTestCase() { m_rig.stop(); }

    // A camera that does not answer: the start waits up to the library's
    // time-out on the controller's thread while the event loop turns.
    void slowCameraNeverHoldsTheLoop()
    {
        DownloadController ctl;
        QSignalSpy started(&ctl, &DownloadController::started);
        LoopProbe probe;
        QVERIFY(ctl.start(request("VRNX-000000-NOONE", "190225_08.10.00.h264", m_folder + QStringLiteral("/none.mp4"))));
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 30000);
        QVERIFY(started.first().at(1).toInt() != 0);
        QVERIFY2(probe.ticks >= 20, qPrintable(QString::number(probe.ticks)));
        QVERIFY(!ctl.busy());
    }

    // Cancellation paths: a stop while the file flows keeps what arrived (a
    // second start is refused meanwhile); a stop and a destruction while the
    // start waits for a camera that does not answer.
    void cancel_data()
    {
        QTest::addColumn<QByteArray>("camera");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("stop while flowing") << QByteArray("VRNB-765432-KXPQT") << false;
        QTest::newRow("stop while starting") << QByteArray("VRNX-000000-NOONE") << false;
        QTest::newRow("destroy while starting") << QByteArray("VRNX-000000-NOONE") << true;
    }
    void cancel()
    {
        QFETCH(QByteArray, camera);
        QFETCH(bool, destroy);
        const bool flowing = camera.startsWith("VRNB");
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download %1").arg(flowing ? 20000 : 0)).left(2),
                 QStringLiteral("OK"));
        // Only the stop ends the transfer.
        CFileDownload::setTimeoutMs(600000);
        auto ctl = std::make_unique<DownloadController>();
        QSignalSpy started(ctl.get(), &DownloadController::started);
        QSignalSpy ended(ctl.get(), &DownloadController::ended);
        QSignalSpy progress(ctl.get(), &DownloadController::progress);
        const QString target = m_folder + QStringLiteral("/cancel-%1.mp4").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        const DownloadRequest r = request(camera.constData(), "190225_08.10.00.h264", target);
        QVERIFY(ctl->start(r));
        QVERIFY(!ctl->start(r));
        if (flowing) {
            // The camera sends 20000 of 111968 bytes (17 %), then nothing.
            QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(1).toInt() >= 17, 30000);
            QCOMPARE(started.count(), 1);
            QCOMPARE(started.first().at(0).toInt(), 2);   // the request's row
            QCOMPARE(started.first().at(1).toInt(), 0);
        }
        if (destroy) {
            QVERIFY(!ctl->shutdown().has_value());   // the start did not get through
            ctl.reset();
        } else {
            ctl->stop();
            QVERIFY(ctl->busy());
            QTRY_VERIFY_WITH_TIMEOUT(!ctl->busy(), 30000);
            if (flowing) {
                QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
                const DownloadOutcome out = ended.first().at(1).value<DownloadOutcome>();
                QCOMPARE(int(out.state), int(DownloadState::Stopped));
                QCOMPARE(out.kept, 20000u);
            } else {
                // Cancelled before the start was made, or the start failed.
                QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 30000);
                QVERIFY(started.first().at(1).toInt() != 0);
                QCOMPARE(ended.count(), 0);
            }
        }
        QVERIFY(!QFileInfo::exists(target));
        CFileDownload::setTimeoutMs(1500);
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 0")).left(2), QStringLiteral("OK"));
    }

private:
    CameraRig m_rig;
    QString m_folder;
};

QTEST_MAIN(tst_DownloadController)
#include "tst_downloadcontroller.moc"
