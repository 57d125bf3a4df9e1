// The configuration window with its log page against the real device
// manager store: the order of the log table, entries made afterwards,
// "Remove device:" entries, entries from other threads, the content cut,
// page switching and the relays.
#include "common/loginfo.h"
#include "common/metatypes.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "config/qconfigmgr.h"
#include "config/qlogmgr.h"
#include "config/qusermgr.h"
#include "config/qvideomgr.h"
#include "record/cstorage.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/testenv.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>

namespace {

LogInfo_s entry(const char *time, const char *user, const QString &content)
{
    LogInfo_s e;
    std::memset(&e, 0, sizeof(e));
    varno::setText(e.time, time);
    varno::setText(e.user, user);
    varno::setText(e.content, content);
    return e;
}

std::vector<LogInfo_s> storedLog()
{
    std::vector<LogInfo_s> buffer(kMaxLogEntries);
    int count = 0;
    if (SDK_DVRMGR_ReadLog(buffer.data(), &count) != 0)
        return {};
    buffer.resize(size_t(count));
    return buffer;
}

QTableWidget *table(QConfigMgr &window)
{
    return window.findChild<QLogMgr *>()->findChild<QTableWidget *>("logTable");
}

QString cell(QTableWidget *t, int row, int column)
{
    return t->item(row, column) ? t->item(row, column)->text() : QStringLiteral("<none>");
}

// The texts of a column, top row first.
QStringList column(QTableWidget *t, int column)
{
    QStringList texts;
    for (int row = 0; row < t->rowCount(); ++row)
        texts << cell(t, row, column);
    return texts;
}

} // namespace

class TestQConfigMgr : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { varno::registerMetaTypes(); }
    void init() { QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0); }

    void cleanup()
    {
        SDK_DVRMGR_UnInit();
        QDir(varno::test::installDir()).removeRecursively();
        QDir().mkpath(varno::test::installDir());
    }

    void logPageShowsNewestOnTop()
    {
        QCOMPARE(SDK_DVRMGR_WriteLog(entry("2019-02-25 10:00:01", "admin", "Add device:A000001")), 0);
        QCOMPARE(SDK_DVRMGR_WriteLog(entry("2019-02-25 10:00:02", "admin", "Rename:A000001")), 0);
        QCOMPARE(SDK_DVRMGR_WriteLog(entry("2019-02-25 10:00:03", "bob", "Remove device:A000001")), 0);
        QConfigMgr window;
        QTableWidget *t = table(window);
        // Read off the window's thread.
        QTRY_COMPARE(t->rowCount(), 3);
        QCOMPARE(column(t, 2), (QStringList{"Remove device:A000001", "Rename:A000001", "Add device:A000001"}));
        QCOMPARE(column(t, 1), (QStringList{"bob", "admin", "admin"}));
        QCOMPARE(cell(t, 0, 0), QStringLiteral("2019-02-25 10:00:03"));
        // The content carries its tooltip.
        QCOMPARE(t->item(2, 2)->toolTip(), QStringLiteral("Add device:A000001"));
        QVERIFY(!(t->item(0, 2)->flags() & Qt::ItemIsEditable) || t->editTriggers() == QAbstractItemView::NoEditTriggers);
    }

    void newEntriesAreStoredAndShownAbove()
    {
        QCOMPARE(SDK_DVRMGR_WriteLog(entry("2019-02-25 10:00:01", "admin", "first")), 0);
        QConfigMgr window;
        window.recvLogInfo(entry("2019-02-25 11:00:00", "admin", "Change Password:B765432"));
        window.recvLogInfo(entry("2019-02-25 11:00:01", "admin", "Add device:C111111"));
        QTableWidget *t = table(window);
        // Shown at once; the stored entries, read meanwhile, join below them
        // (each once), and the new ones are stored after that read.
        QCOMPARE(t->rowCount(), 2);
        QTRY_COMPARE(t->rowCount(), 3);
        QCOMPARE(column(t, 2), (QStringList{"Add device:C111111", "Change Password:B765432", "first"}));
        QTRY_COMPARE(int(storedLog().size()), 3);
        QCOMPARE(QByteArray(storedLog()[2].content), QByteArray("Add device:C111111"));
        // Once read, an entry is stored at once.
        window.recvLogInfo(entry("2019-02-25 11:00:02", "admin", "Rename:C111111"));
        QCOMPARE(int(storedLog().size()), 4);

        // A second window reads what the first stored.
        QConfigMgr again;
        QTRY_COMPARE(table(again)->rowCount(), 4);
        QCOMPARE(cell(table(again), 0, 2), QStringLiteral("Rename:C111111"));
    }

    void removeDeviceEntryCarriesTheOperator()
    {
        QConfigMgr window;
        char user[32];
        std::memset(user, 0, sizeof(user));
        std::strcpy(user, "nightshift");
        window.setUserName(user);
        QCOMPARE(window.findChild<QUserMgr *>()->findChild<QLineEdit *>("usrnameLineEdit")->text(),
                 QStringLiteral("nightshift"));
        QSignalSpy spy(&window, &QConfigMgr::sendLogInfo);
        window.recvDelDevInfo(QStringLiteral("B765432"));
        QCOMPARE(spy.count(), 1);
        const auto e = spy[0][0].value<LogInfo_s>();
        QCOMPARE(std::pair(QByteArray(e.content), QByteArray(e.user)),
                 std::pair(QByteArray("Remove device:B765432"), QByteArray("nightshift")));
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(e.time), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(when.isValid());
        QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(column(table(window), 2), QStringList{"Remove device:B765432"});
        QCOMPARE(column(table(window), 1), QStringList{"nightshift"});
        QTRY_COMPARE(int(storedLog().size()), 1);
    }

    void entriesFromAnotherThreadReachThePage()
    {
        QConfigMgr window;
        constexpr int kPerThread = 25;
        std::vector<std::thread> threads;
        for (int n = 0; n < 2; ++n) {
            threads.emplace_back([&window, n]() {
                for (int i = 0; i < kPerThread; ++i)
                    window.recvLogInfo(
                        entry("2019-02-25 12:00:00", "probe", QStringLiteral("Device:T%1-%2 Online").arg(n).arg(i)));
            });
        }
        for (auto &t : threads)
            t.join();
        // Queued to the window's thread: nothing is lost, every entry is stored.
        QTRY_COMPARE(table(window)->rowCount(), 2 * kPerThread);
        QTRY_COMPARE(int(storedLog().size()), 2 * kPerThread);
        for (int row = 0; row < table(window)->rowCount(); ++row)
            QVERIFY(cell(table(window), row, 2).startsWith(QStringLiteral("Device:T")));
    }

    void longContentIsCutAndTooltipShowsIt()
    {
        QConfigMgr window;
        const QString longText = QStringLiteral("Add device:") + QString(300, QLatin1Char('x'));
        const LogInfo_s e = varno::makeLogInfo("admin", longText);
        QCOMPARE(std::strlen(e.content), size_t(255));
        window.recvLogInfo(e);
        QTableWidget *t = table(window);
        QCOMPARE(cell(t, 0, 2), longText.left(255));
        QCOMPARE(t->item(0, 2)->toolTip(), longText.left(255));
        QTRY_COMPARE(int(storedLog().size()), 1);
        QCOMPARE(QByteArray(storedLog().at(0).content), longText.left(255).toLatin1());

        // A content field without its terminator is read to its end only.
        LogInfo_s full;
        std::memset(&full, 'z', sizeof(full));
        varno::setText(full.time, "2019-02-25 13:00:00");
        varno::setText(full.user, "admin");
        window.recvLogInfo(full);
        QCOMPARE(cell(t, 0, 2), QString(256, QLatin1Char('z')));
    }

    void pagesSwitch()
    {
        QConfigMgr window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *userPage = window.findChild<QUserMgr *>();
        auto *logPage = window.findChild<QLogMgr *>();
        auto *videoPage = window.findChild<QWidget *>("videoPage");
        QVERIFY(userPage && logPage && videoPage);
        QVERIFY(userPage->isVisible() && !logPage->isVisible() && !videoPage->isVisible());
        window.findChild<QPushButton *>("logButton")->click();
        QVERIFY(!userPage->isVisible() && logPage->isVisible() && !videoPage->isVisible());
        QVERIFY(window.findChild<QPushButton *>("logButton")->isChecked());
        QVERIFY(!window.findChild<QPushButton *>("userButton")->isChecked());
        window.findChild<QPushButton *>("videoButton")->click();
        QVERIFY(!userPage->isVisible() && !logPage->isVisible() && videoPage->isVisible());
        window.findChild<QPushButton *>("userButton")->click();
        QVERIFY(userPage->isVisible() && !logPage->isVisible() && !videoPage->isVisible());
        // The storage page takes the empty place and the same button.
        auto *storage = new QWidget;
        window.setStoragePage(storage);
        window.findChild<QPushButton *>("videoButton")->click();
        QVERIFY(storage->isVisible() && !userPage->isVisible());
        window.findChild<QPushButton *>("closeButton")->click();
        QVERIFY(!window.isVisible());
    }

    void relays()
    {
        QConfigMgr window;
        QSignalSpy path(&window, &QConfigMgr::sendCapPathToClient);
        QSignalSpy alarm(&window, &QConfigMgr::sendRecordAlarmType);
        window.recvCapPathFromVMgr(QStringLiteral("~/Snapshots/"));
        window.recvRecordAlarmType(1);
        window.recvRecordAlarmType(0);
        QCOMPARE(QList<QVariantList>(path), QList<QVariantList>{{QStringLiteral("~/Snapshots/")}});
        QCOMPARE(QList<QVariantList>(alarm), (QList<QVariantList>{{1}, {0}}));
        // The storage page is the real one; its Save reaches the main window's
        // side through the window, and recordings in progress reach the storage
        // manager.
        auto *page = window.findChild<QVideoMgr *>();
        QVERIFY(page);
        window.findChild<QLineEdit *>("capLineEdit")->setText(varno::test::tempRoot() + QStringLiteral("/snaps"));
        varno::ui::PromptScript script;
        window.findChild<QPushButton *>("btnSave")->click();
        QCOMPARE(path.count(), 2);
        QCOMPARE(path[1][0].toString(), varno::test::tempRoot() + QStringLiteral("/snaps"));
        QCOMPARE(window.getCapturePath(), varno::test::tempRoot() + QStringLiteral("/snaps"));
        QCOMPARE(alarm.count(), 3);
        const int before = CStorage::Instance()->recordCount();
        window.recvRecordCount(1);
        QCOMPARE(CStorage::Instance()->recordCount(), before + 1);
        window.recvRecordCount(-1);
        QCOMPARE(CStorage::Instance()->recordCount(), before);
    }
};

QTEST_MAIN(TestQConfigMgr)
#include "tst_qconfigmgr.moc"
