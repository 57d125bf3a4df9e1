// The alarm log dialog against a private broker and the camera simulator:
// entries listed once and in time order, the seven-day rule on a clock the
// test drives, the wrong-password prompt, searches refused while one runs,
// a camera that never answers, malformed replies, the camera list, and a
// close while the connect to a camera nobody answers for runs.
#include "alarm/alarmsearchcontroller.h"
#include "alarm/qalarmsearch.h"
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "tests/device/devicefixture.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QDateTimeEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <memory>
#include <thread>

using varno::test::MqttBroker;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

constexpr int kGateAlarms = 20;

devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_ALARM_LIST, P2P_MSG_ALARM_STATUS};
    return relay;
}

// Gate logs an alarm every 5 minutes from two hours ago; Yard has none.
QByteArray simulatorConfig(const MqttBroker &broker)
{
    QStringList cams = varno::test::simGateAndYard(QSize(160, 90), QSize(160, 90), 10, 100, 80);
    const QString alarms = QStringLiteral(R"(, "alarms": { "count": %1, "first": "-7200", "intervalSeconds": 300 } })")
                               .arg(kGateAlarms);
    cams[0].chop(QStringLiteral(" }").size());
    cams[0] += alarms;
    return varno::test::simConfig(broker.port(), varno::test::tempRoot() + QStringLiteral("/camera-storage"), cams);
}

// 129 payload of count entries (the first n present) of the given texts.
QString alarmListHex(int count, const QList<QPair<int, QByteArray>> &entries, int32_t time)
{
    QByteArray b(4, 0);
    std::memcpy(b.data(), &count, 4);
    int seq = 900;
    for (const auto &[type, text] : entries) {
        ALARM_ITEM_S item;
        std::memset(&item, 0, sizeof(item));
        item.type = type;
        item.time = time;
        item.seq = seq++;
        std::strncpy(item.text, text.constData(), sizeof(item.text) - 1);
        b.append(reinterpret_cast<const char *>(&item), sizeof(item));
    }
    return QString::fromLatin1(b.toHex());
}

int logCount(const QByteArray &line)
{
    return int(varno::test::logText().count(line));
}

} // namespace

class TestQAlarmSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString failed = m_rig.start(&hub(), 0, simulatorConfig(m_rig.broker));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void init()
    {
        varno::setP2pHandle(m_rig.handle);
        m_prompts = std::make_unique<PromptScript>();
        m_dialog = std::make_unique<QAlarmSearch>();
        hub().setDialog(m_dialog.get());
        m_dialog->UpdateAlarmDevice(devicetest::listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        m_dialog->UpdateAlarmDevice(devicetest::listed("C100200", "Yard", "pw9999", "VRNC-100200-ABCDE"));
        QTRY_COMPARE(m_dialog->nameList(), QStringList({QStringLiteral("Gate"), QStringLiteral("Yard")}));
    }

    void cleanup()
    {
        hub().setDialog(nullptr);
        m_rig.sim.command(QStringLiteral("all drop-replies 0"));
        m_rig.sim.command(QStringLiteral("all delay-replies 0"));
        m_dialog.reset();
        m_prompts.reset();
    }

    void listedOnceInTimeOrder()
    {
        // The simulator repeats entries across messages and sends the newest
        // first: the table shows each once, oldest first.
        search();
        QVERIFY(m_dialog->isSyncing());
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
        QVERIFY(!m_dialog->isSyncing());
        QVERIFY(boxes().isEmpty());
        QString previous;
        for (int row = 0; row < kGateAlarms; ++row) {
            QCOMPARE(m_dialog->cellText(row, 0), QString::number(row + 1));
            QCOMPARE(m_dialog->cellText(row, 1), QStringLiteral("B765432"));
            const QString time = m_dialog->cellText(row, 2);
            QVERIFY2(QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid(), qPrintable(time));
            QVERIFY2(time > previous, qPrintable(time + QStringLiteral(" after ") + previous));
            previous = time;
        }
        // Types cycle 1, 2, 11, 12, 31, 32, 7 from the oldest entry.
        QCOMPARE(m_dialog->cellText(0, 3), QStringLiteral("External sensor alarm"));
        QCOMPARE(m_dialog->cellText(5, 3), QStringLiteral("Motion detection (fallback)"));
        QCOMPARE(m_dialog->cellText(6, 3), QStringLiteral("Other alarm"));
        QVERIFY(varno::test::logText().contains("[ALARM]Device(B765432) Insert(20) alarm log success!!!"));
    }

    void sevenDaysCountedFromNow()
    {
        const QDateTime now = QDateTime::currentDateTime();
        m_dialog->setClock([now] { return now; });
        // Exactly seven days back from now is refused, however short the range.
        m_dialog->setRange(now.addSecs(-QAlarmSearch::kMaxSearchAgeSecs), now.addSecs(-QAlarmSearch::kMaxSearchAgeSecs + 60));
        search();
        QCOMPARE(boxes(), QStringList({QStringLiteral("Search time can not longer than 7 days!")}));
        QVERIFY(!m_dialog->isSyncing());
        // One second less is accepted.
        m_dialog->setRange(now.addSecs(-QAlarmSearch::kMaxSearchAgeSecs + 1), now);
        search();
        QVERIFY(m_dialog->isSyncing());
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
        // The same range is refused once the clock has moved on a second.
        m_dialog->setClock([now] { return now.addSecs(1); });
        search();
        QCOMPARE(boxes(), QStringList({QStringLiteral("Search time can not longer than 7 days!")}));
        // The range fields start at one day before the clock's now.
        m_dialog->resetRange();
        search();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
    }

    void startAfterEndRefused()
    {
        const QDateTime now = QDateTime::currentDateTime();
        m_dialog->setRange(now, now.addSecs(-1));
        search();
        QCOMPARE(boxes(), QStringList({QStringLiteral("Start time can not later than the end of time!")}));
        QVERIFY(!m_dialog->isSyncing());
    }

    void rangeFromOpeningAndTypedTimes()
    {
        // Built at login, the dialog searches the day up to each opening.
        const QDateTime opened(QDate(2026, 12, 7), QTime(9, 41, 27));
        m_dialog->setClock([opened] { return opened; });
        m_dialog->show();
        auto *end = m_dialog->findChild<QDateTimeEdit *>(QStringLiteral("endDateTimeEdit"));
        QCOMPARE(m_dialog->findChild<QDateTimeEdit *>(QStringLiteral("startDateTimeEdit"))->dateTime(), opened.addDays(-1));
        QCOMPARE(end->dateTime(), opened);
        // A separator typed after a full section does not skip the next one.
        end->setFocus();
        end->setSelectedSection(QDateTimeEdit::YearSection);
        QTest::keyClicks(end, QStringLiteral("2026-11-30 13:00:00"));
        QCOMPARE(end->text(), QStringLiteral("2026-11-30 13:00:00"));
        m_dialog->hide();
    }

    void wrongPasswordPromptsAndAsksAgain()
    {
        m_dialog->UpdateAlarmDevice(devicetest::listed("B765432", "Gate", "stale99", "VRNB-765432-KXPQT"));
        QSignalSpy stored(m_dialog.get(), &QAlarmSearch::sendDevProperty);
        m_prompts->answer(QMessageBox::Ok);
        m_prompts->answer(QMessageBox::Ok, QStringLiteral("abc123"));
        search();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
        QCOMPARE(boxes(), QStringList({QStringLiteral("Camera password is incorrect, please input the correct password"),
                                       QStringLiteral("password:Gate")}));
        // The password given goes to the dialog's list and to the registry.
        QCOMPARE(stored.size(), 1);
        const auto dev = stored.at(0).at(0).value<DeviceInfo_s>();
        QCOMPARE(QByteArray(dev.devId), QByteArray("B765432"));
        QCOMPARE(QByteArray(dev.password), QByteArray("abc123"));
        QCOMPARE(QByteArray(dev.p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(int(dev.p2pFlag), 1);
        AlarmDevInfo entry;
        QVERIFY(m_dialog->deviceEntry(QStringLiteral("B765432"), &entry));
        QCOMPARE(QByteArray(entry.password), QByteArray("abc123"));

        // A cancelled prompt ends the search quietly, with the flag clear.
        m_dialog->UpdateAlarmDevice(devicetest::listed("B765432", "Gate", "stale99", "VRNB-765432-KXPQT"));
        search();
        QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isSyncing() && m_prompts->count() == 2, 10000);
        QCOMPARE(boxes().last(), QStringLiteral("password:Gate"));
        QVERIFY(varno::test::logText().contains("Device(B765432) has not set password!!!"));
    }

    void cameraWithoutAlarms()
    {
        m_dialog->selectDevice(QStringLiteral("Yard"));
        search();
        QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isSyncing(), 10000);
        QCOMPARE(boxes(), QStringList({QStringLiteral("Device has no alarm log !")}));
        QCOMPARE(m_dialog->rowCount(), 0);
    }

    void secondSearchWhileSyncingRefused()
    {
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 delay-replies 1500")), QStringLiteral("OK delay-replies"));
        const int before = logCount("Has been sync!!!");
        search();
        QVERIFY(m_dialog->isSyncing());
        // The button shows the search under way; asked again all the same:
        auto *button = m_dialog->findChild<QPushButton *>(QStringLiteral("searchButton"));
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->toolTip(), QStringLiteral("Searching the alarm log..."));
        m_dialog->on_searchButton_clicked();
        QCOMPARE(logCount("Has been sync!!!"), before + 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
        QVERIFY(boxes().isEmpty());
    }

    void cameraWithoutP2pFlagRefused()
    {
        m_dialog->UpdateAlarmDevice(devicetest::listed("uuid-onvif-1", "Hall", "plain88", ""));
        QTRY_VERIFY(m_dialog->nameList().contains(QStringLiteral("Hall")));
        m_dialog->selectDevice(QStringLiteral("Hall"));
        search();
        QCOMPARE(boxes(), QStringList({QStringLiteral("Failed to query the alarm log on the device video.")}));
        QVERIFY(!m_dialog->isSyncing());
        QVERIFY(varno::test::logText().contains("It's not our device!!!"));
    }

    void silentCameraEndsTheSearch()
    {
        m_dialog->setSyncTimeoutMs(400);
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 drop-replies 1000")), QStringLiteral("OK drop-replies"));
        search();
        QVERIFY(m_dialog->isSyncing());
        QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isSyncing(), 10000);
        QCOMPARE(boxes(), QStringList({QStringLiteral("The device did not answer, please search again.")}));
        QVERIFY(varno::test::logText().contains("Device(VRNB-765432-KXPQT) did not finish the alarm log in 400 ms!!!"));
        // The next search works once the camera answers again.
        m_dialog->setSyncTimeoutMs(QAlarmSearch::kDefaultSyncTimeoutMs);
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 drop-replies 0")), QStringLiteral("OK drop-replies"));
        search();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
    }

    void malformedRepliesDropped()
    {
        search();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
        const int32_t when = int32_t(QDateTime::currentSecsSinceEpoch());
        // A count beyond the payload, a list shorter than its count field and a
        // status shorter than its field are dropped; what follows still counts.
        const QStringList lines = {
            QStringLiteral("B765432 raw 129 ") + alarmListHex(2, {{2, "half"}}, when),
            QStringLiteral("B765432 raw 129 0100"),
            QStringLiteral("B765432 raw 129 ") + alarmListHex(-1, {}, when),
            QStringLiteral("B765432 raw 130 0200"),
            QStringLiteral("B765432 raw 129 ") + alarmListHex(1, {{11, "late entry"}}, when),
            QStringLiteral("B765432 raw 130 02000000"),
        };
        for (const QString &line : lines)
            QCOMPARE(m_rig.sim.command(line), QStringLiteral("OK raw 1"));
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms + 1, 10000);
        QCOMPARE(m_dialog->cellText(kGateAlarms, 3), QStringLiteral("IO Alarm"));
        const QByteArray log = varno::test::logText();
        QVERIFY(log.contains("Alarm list of device(VRNB-765432-KXPQT) dropped, count(2), length(56)!!!"));
        QVERIFY(log.contains("Alarm list of device(VRNB-765432-KXPQT) dropped, count(-1), length(2)!!!"));
        QVERIFY(log.contains("Alarm list of device(VRNB-765432-KXPQT) dropped, count(-1), length(4)!!!"));
        QVERIFY(log.contains("Short alarm status(2) from device(VRNB-765432-KXPQT)!!!"));
    }

    void comboFollowsUpdatesFromAnyThread()
    {
        // Updates from another thread (the probing thread's) reach the combo
        // box through the queued self-connections.
        std::thread prober([this] {
            m_dialog->UpdateAlarmDevice(devicetest::listed("D300400", "Porch", "porch11", "VRND-300400-KXPQT"));
            m_dialog->UpdateAlarmDevice(devicetest::listed("B765432", "Front gate", "abc123", "VRNB-765432-KXPQT"));
        });
        prober.join();
        QTRY_COMPARE(m_dialog->nameList(),
                     QStringList({QStringLiteral("Front gate"), QStringLiteral("Yard"), QStringLiteral("Porch")}));
        // The same record again changes nothing.
        const int same = logCount("[ALARM]Device(D300400) info is same!!!");
        m_dialog->UpdateAlarmDevice(devicetest::listed("D300400", "Porch", "porch11", "VRND-300400-KXPQT"));
        QCOMPARE(logCount("[ALARM]Device(D300400) info is same!!!"), same + 1);
        // A new password alone is taken without touching the list.
        m_dialog->UpdateAlarmDevice(devicetest::listed("D300400", "Porch", "porch22", "VRND-300400-KXPQT"));
        AlarmDevInfo entry;
        QVERIFY(m_dialog->deviceEntry(QStringLiteral("D300400"), &entry));
        QCOMPARE(QByteArray(entry.password), QByteArray("porch22"));
        m_dialog->recvDelDevInfo(QStringLiteral("D300400"));
        m_dialog->recvDelDevInfo(QStringLiteral("D300400"));
        QTRY_COMPARE(m_dialog->nameList(), QStringList({QStringLiteral("Front gate"), QStringLiteral("Yard")}));
        QVERIFY(!m_dialog->deviceEntry(QStringLiteral("D300400"), nullptr));
        QVERIFY(varno::test::logText().contains("Hash has not contained(D300400)!!!"));
        // The renamed camera is still asked by its new name.
        search();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->rowCount(), kGateAlarms, 10000);
    }

    void closeWhileConnecting_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("waits for the connect") << false;
        QTest::newRow("closed meanwhile") << true;
    }

    void closeWhileConnecting()
    {
        // Nobody answers for this camera: the connect waits for the library's
        // time-out, off the window's thread, whose event loop runs all along.
        QFETCH(bool, close);
        m_dialog->UpdateAlarmDevice(devicetest::listed("Z000007", "Ghost", "ghost1", "VRNZ-000007-AAAAA"));
        QTRY_VERIFY(m_dialog->nameList().contains(QStringLiteral("Ghost")));
        m_dialog->selectDevice(QStringLiteral("Ghost"));
        m_dialog->show();
        int ticks = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, this, [&] { ticks += m_dialog->isSyncing() ? 1 : 0; });
        probe.start();
        QSignalSpy failed(m_dialog->controller(), &varno::alarm::AlarmSearchController::searchFailed);
        search();
        QVERIFY(m_dialog->isSyncing());
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 10000);
        if (close) {
            m_dialog->close();
            QVERIFY(!m_dialog->isSyncing());
            QVERIFY(m_dialog->findChild<QPushButton *>(QStringLiteral("searchButton"))->isEnabled());
            // Cancelled: the connect job ends by itself and reports nothing.
            QTRY_VERIFY_WITH_TIMEOUT(m_dialog->controller()->idle(), 15000);
            QVERIFY(varno::test::logText().contains("[ALARM]Search of device(Z000007) cancelled!!!"));
            QCoreApplication::sendPostedEvents();
            QCOMPARE(failed.count(), 0);
            QVERIFY(boxes().isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 15000);
            QVERIFY(!m_dialog->isSyncing());
            QCOMPARE(boxes(), QStringList({QStringLiteral("Failed to query the alarm log on the device video.")}));
        }
    }

private:
    void search() { m_dialog->findChild<QPushButton *>(QStringLiteral("searchButton"))->click(); }
    // Texts of the information boxes shown so far (forgets them).
    QStringList boxes()
    {
        QStringList out;
        for (const auto &r : m_prompts->take())
            out << (r.kind == PromptKind::Password ? QStringLiteral("password:") + r.text : r.text);
        return out;
    }

    devicetest::P2pRig m_rig;
    std::unique_ptr<PromptScript> m_prompts;
    std::unique_ptr<QAlarmSearch> m_dialog;
};

QTEST_MAIN(TestQAlarmSearch)
#include "tst_qalarmsearch.moc"
