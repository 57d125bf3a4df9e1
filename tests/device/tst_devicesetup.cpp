// The device dialogs' controller without widgets, against the real store, a
// private broker and the camera simulator: a cancel while a lookup nobody
// answers runs, and what outlives it. Adds by camera ID (found and unknown)
// are tst_qadddevice's, the pending password check tst_qmanualdial's.
#include "device/devicesetup.h"
#include "tests/device/devicefixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <cstring>

using namespace devicetest;
using varno::device::AddResult;
using varno::device::DeviceSetup;

namespace {

varno::device::AddRequest p2pRequest(const char *id)
{
    varno::device::AddRequest request;
    varno::setText(request.info.dev.devId, id);
    varno::setText(request.info.dev.ipAddr, "127.0.0.7");
    request.password = "583";
    return request;
}

} // namespace

class TestDeviceSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<AddResult>();
        const QString failed = m_rig.start(nullptr, 1);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
    }

    void cleanupTestCase()
    {
        SDK_DVRMGR_UnInit();
        m_rig.stop();
    }

    void cancelDropsTheResult()
    {
        // Nobody answers the lookup of this camera: the library gives up after
        // its time-out, long after the cancel.
        DeviceSetup setup;
        QSignalSpy added(&setup, &DeviceSetup::cameraAdded);
        QSignalSpy sent(&setup, &DeviceSetup::checkSent);
        const size_t before = stored().size();
        setup.addCamera(p2pRequest("Q000001"));
        varno::device::PendingCheck check;
        std::memset(&check, 0, sizeof(check));
        varno::setText(check.devId, "B765432");
        setup.checkPassword(check); // queued behind the lookup
        QCOMPARE(setup.jobsInFlight(), 2);
        setup.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(setup.jobsInFlight(), 0, 15000);
        QCOMPARE(added.count(), 0);
        QCOMPARE(sent.count(), 0);
        QVERIFY(setup.pending().isEmpty()); // the queued check asked nothing
        QCOMPARE(stored().size(), before);
    }

    void rewriteOutlivesTheDialog()
    {
        // A rewrite queued behind a lookup nobody answers is still stored when
        // the dialog goes meanwhile.
        std::vector<DeviceInfo_s> before = stored();
        QList<DvrListInfo_s> list;
        for (const DeviceInfo_s &d : before) {
            DvrListInfo_s entry{};
            entry.dev = d;
            list.append(entry);
        }
        list.append(listed("C100200", "Yard", "pw9999", "VRNC-100200-ABCDE"));
        {
            DeviceSetup setup;
            setup.addCamera(p2pRequest("Q000002"));
            setup.rewriteList(list, "TestDeviceSetup", __LINE__);
        }
        const std::vector<DeviceInfo_s> after = stored();
        QCOMPARE(after.size(), before.size() + 1);
        QCOMPARE(QByteArray(after.back().devId), QByteArray("C100200"));
    }

    void checkedCameraOutlivesTheCancel()
    {
        // A manually added camera (its password checked, the user told it is
        // added) queued behind a lookup nobody answers: closing the dialog
        // still hands it over (the window's registry stores it).
        DeviceSetup setup;
        setup.setWritesStore(false);
        QSignalSpy handed(&setup, &DeviceSetup::cameraStored);
        setup.addCamera(p2pRequest("Q000003"));
        setup.storeCamera(listed("C100200", "Yard", "pw9999", "VRNC-100200-ABCDE"), {});
        setup.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(handed.count(), 1, 15000);
        QCOMPARE(handed[0][1].toInt(), 0);
        QVERIFY(handed[0][2].toBool()); // reported as after the close
        QCOMPARE(QByteArray(handed[0][0].value<DvrListInfo_s>().dev.devId), QByteArray("C100200"));
    }

private:
    P2pRig m_rig;
};

QTEST_GUILESS_MAIN(TestDeviceSetup)
#include "tst_devicesetup.moc"
