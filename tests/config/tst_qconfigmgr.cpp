// The configuration window and its pages. The window with its log page
// against the real device manager store: the order of the log table, entries
// made afterwards, "Remove device:" entries, entries from other threads, the
// content cut, page switching and the relays. The user password page: the
// checks in their order, every answer of the local user store, the
// letters-and-digits fields and the Return key. The storage page over fake
// disks: its defaults on a first start and the save made at construction, a
// saved configuration shown again, the linked spin box and slider, the folder
// name cut, unticking every disk, the alarm recording choice, the snapshot
// folder chooser and the messages.
#include "common/loginfo.h"
#include "common/metatypes.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "config/qconfigmgr.h"
#include "config/qlogmgr.h"
#include "config/qusermgr.h"
#include "config/qvideomgr.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/userstore/user_local.h"
#include "record/cstorage.h"
#include "tests/record/storagefixture.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>

using namespace storagetest;
using varno::ui::PromptScript;

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

int login(const char *user, const char *password)
{
    char u[32] = {};
    char p[32] = {};
    std::strncpy(u, user, sizeof(u) - 1);
    std::strncpy(p, password, sizeof(p) - 1);
    return User_local_login(u, p);
}

template <class T>
T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class TestQConfigMgr : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { varno::registerMetaTypes(); }

    void init()
    {
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
        QCOMPARE(User_local_Init(), 0);
    }

    // Every case starts with an empty log and a fresh user store (with the
    // default account).
    void cleanup()
    {
        User_local_UnInit();
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

    void answers_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("oldPass");
        QTest::addColumn<QString>("newPass");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<bool>("storeOpen");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("passwordAfter");
        const auto row = [](const char *name, const char *user, const char *oldPass, const char *newPass,
                            const char *confirm, const char *message, const char *after = "admin", bool open = true) {
            QTest::newRow(name) << user << oldPass << newPass << confirm << open << message << after;
        };
        // Each of the first rows breaks its own rule and every later one, so
        // that only the order of the checks can pick the message.
        row("no user", "", "", "", "", "User name cannot be empty!");
        row("no old", "admin", "", "", "", "The old password cannot be empty!");
        row("no new", "admin", "admin", "", "", "The new password cannot be empty!");
        row("same as old before confirm", "admin", "admin", "admin", "", "New password can not be same with old password!");
        row("no confirm", "admin", "admin", "abc123", "", "The confirm password cannot be empty!");
        row("confirm differs", "admin", "admin", "abc123", "abc124",
            "The confirm password is not identical as the new password. Please check.");
        // The local user store's answers.
        row("changed", "admin", "admin", "abc123", "abc123", "Change password successfully!", "abc123");
        row("wrong old", "admin", "wrong1", "abc123", "abc123",
            "The orignal password incorrect.Please provide correct password.");
        row("no such user", "ghost", "admin", "abc123", "abc123", "User name does not exist!");
        row("store closed", "admin", "admin", "abc123", "abc123", "Unknown error!", "admin", false);
    }

    void answers()
    {
        QFETCH(QString, user);
        QFETCH(QString, oldPass);
        QFETCH(QString, newPass);
        QFETCH(QString, confirm);
        QFETCH(bool, storeOpen);
        QFETCH(QString, message);
        QFETCH(QString, passwordAfter);
        if (!storeOpen)
            User_local_UnInit();
        PromptScript script;
        QUserMgr page;
        fill(page, user, oldPass, newPass, confirm);
        page.on_changeButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(std::tuple(requests[0].title, requests[0].text, requests[0].kind),
                 std::tuple(QStringLiteral("Change Password"), message, varno::ui::PromptKind::Information));
        if (passwordAfter != QLatin1String("admin")) {
            QCOMPARE(login("admin", passwordAfter.toLatin1().constData()), 0);
        }
        // The fields keep their text after the attempt.
        QCOMPARE(page.findChild<QLineEdit *>("newpassLineEdit")->text(), newPass);
    }

    void fieldsTakeLettersAndDigitsOnly()
    {
        QUserMgr page;
        for (const char *name : {"oldpassLineEdit", "newpassLineEdit", "confirmpassLineEdit"}) {
            auto *edit = page.findChild<QLineEdit *>(name);
            QVERIFY(edit);
            QTest::keyClicks(edit, QStringLiteral("ab#c 1-2_3"));
            QCOMPARE(std::tuple(edit->text(), edit->echoMode(), edit->maxLength()),
                     std::tuple(QStringLiteral("abc123"), QLineEdit::Password, 31));
        }
        auto *name = page.findChild<QLineEdit *>("usrnameLineEdit");
        QVERIFY(name->isReadOnly());
        QCOMPARE(name->maxLength(), 32);
        // A 32-byte name field without a terminator is read to its end only.
        char full[32];
        std::memset(full, 'u', sizeof(full));
        page.setUserName(full);
        QCOMPARE(name->text(), QString(32, QLatin1Char('u')));
    }

    void returnActsAsTheButton()
    {
        PromptScript script;
        QUserMgr page;
        page.show();
        fill(page, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("xyz789"), QStringLiteral("xyz789"));
        auto *confirm = page.findChild<QLineEdit *>("confirmpassLineEdit");
        confirm->setFocus();
        QTest::keyClick(confirm, Qt::Key_Return);
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.take()[0].text, QStringLiteral("Change password successfully!"));
        QTest::keyClick(confirm, Qt::Key_Enter);
        // The second press tries again with the same fields: the old one is now wrong.
        QCOMPARE(script.take()[0].text, QStringLiteral("The orignal password incorrect.Please provide correct password."));
        QCOMPARE(login("admin", "xyz789"), 0);
    }

    void mismatchNoteOnlyAfterTyping()
    {
        QUserMgr page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto *note = page.findChild<QLabel *>(QStringLiteral("confirmpassHint"));
        auto *newPass = page.findChild<QLineEdit *>(QStringLiteral("newpassLineEdit"));
        auto *confirm = page.findChild<QLineEdit *>(QStringLiteral("confirmpassLineEdit"));
        // Nothing typed yet, and only a new password typed: no note.
        QVERIFY(!note->isVisible());
        QTest::keyClicks(newPass, QStringLiteral("abc123"));
        QVERIFY(!note->isVisible());
        // The confirmation on its way differs; once equal the note goes.
        QTest::keyClicks(confirm, QStringLiteral("abc1"));
        QVERIFY(note->isVisible());
        QTest::keyClicks(confirm, QStringLiteral("23"));
        QVERIFY(!note->isVisible());
        // The new password edited afterwards: they differ again.
        QTest::keyClick(newPass, Qt::Key_Backspace);
        QVERIFY(note->isVisible());
        // An emptied confirmation says nothing.
        confirm->selectAll();
        QTest::keyClick(confirm, Qt::Key_Backspace);
        QVERIFY(!note->isVisible());
    }

    void firstStartDefaultsAndSave()
    {
        Disks d;
        const QString home = d.add(QStringLiteral("~/"), 100 * kGiB);
        const QString data = d.add(QStringLiteral("/data/"), 50 * kGiB);
        auto s = d.storage();
        QVideoMgr page(nullptr, s.get());
        QCOMPARE(page.rows().size(), 2);
        for (const auto &row : page.rows())
            QCOMPARE(std::tuple(row.check->isChecked(), row.spin->value(), row.slider->value()), std::tuple(true, 20, 20));
        QCOMPARE(page.rows()[0].check->text(), QStringLiteral("~/"));
        QCOMPARE(page.rows()[1].label->text(), QStringLiteral("(50.00G/50.00G Local disk)"));
        QVERIFY(child<QCheckBox>(page, "coverCheckBox")->isChecked());
        QCOMPARE(child<QLineEdit>(page, "pathLineEdit")->text(), QStringLiteral("Varno/Record"));
        QCOMPARE(child<QLineEdit>(page, "capLineEdit")->text(), data + QStringLiteral("/Varno/Capture"));
        QCOMPARE(child<QComboBox>(page, "alarmComboBox")->currentIndex(), 0);
        // The construction saved: record folders on every disk, storage.db.
        QVERIFY(QFileInfo(home + QStringLiteral("/Varno/Record")).isDir());
        QVERIFY(QFileInfo(data + QStringLiteral("/Varno/Record")).isDir());
        QVERIFY(QFileInfo(data + QStringLiteral("/Varno/Capture")).isDir());
        QCOMPARE(QFileInfo(s->storageFile()).size(), 300 + 2 * 12);
        QCOMPARE(s->getRecordDiskList().size(), 2);
        QVERIFY(varno::test::logText().contains("Save storage, count(2), cover(1), path(Varno/Record)!!!"));
        QCOMPARE(varno::fieldText(s->getRecordDiskList().last().name), QStringLiteral("~/"));
    }

    void savedConfigurationIsShown()
    {
        Disks d;
        d.add(QStringLiteral("~/"), 100 * kGiB);
        d.add(QStringLiteral("/data/"), 50 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/data/", 0, 55), disk("/old/", 1, 10)}, 0, "Cams"));
        QVideoMgr page(nullptr, s.get());
        // "~/" has no record: the default.
        QCOMPARE(std::pair(page.rows()[0].check->isChecked(), page.rows()[0].spin->value()), std::pair(true, 20));
        QCOMPARE(std::pair(page.rows()[1].check->isChecked(), page.rows()[1].spin->value()), std::pair(false, 55));
        QVERIFY(!child<QCheckBox>(page, "coverCheckBox")->isChecked());
        QCOMPARE(child<QLineEdit>(page, "pathLineEdit")->text(), QStringLiteral("Cams"));
        // Every row is saved, ticked or not; disks no longer present go.
        const StorageConfig c = s->getStorageConfig();
        QCOMPARE(std::tuple(c.count(), c.disks[1].selected, c.disks[1].percent), std::tuple(2, uint16_t(0), int16_t(55)));
    }

    void editsReachTheSave()
    {
        Disks d;
        const QString home = d.add(QStringLiteral("~/"), 100 * kGiB);
        d.add(QStringLiteral("/data/"), 50 * kGiB);
        auto s = d.storage();
        QVideoMgr page(nullptr, s.get());
        // The spin box and the slider of a row stay equal.
        const auto row = page.rows()[0];
        row.slider->setValue(73);
        QCOMPARE(row.spin->value(), 73);
        row.spin->setValue(41);
        QCOMPARE(row.slider->value(), 41);
        // The folder name is cut to 31 bytes.
        child<QLineEdit>(page, "pathLineEdit")->setText(QStringLiteral("Recordings/of/the/front/gate/and/yard"));
        varno::ui::PromptScript script;
        child<QPushButton>(page, "btnSave")->click();
        QCOMPARE(s->getStorageConfig().disks[0].percent, int16_t(41));
        QCOMPARE(varno::fieldText(s->getRecordDiskList().last().name), QStringLiteral("~/"));
        QCOMPARE(s->getRecordDiskList().last().limitG, 41.0f);
        QCOMPARE(s->getStorageConfig().recordDir, QByteArray("Recordings/of/the/front/gate/an"));
        QVERIFY(QFileInfo(home + QStringLiteral("/Recordings/of/the/front/gate/an")).isDir());
        // No disk ticked: no record disk at all.
        for (const auto &r : page.rows())
            r.check->setChecked(false);
        child<QPushButton>(page, "btnSave")->click();
        QVERIFY(s->getRecordDiskList().isEmpty());
        int ret = 0;
        savePath(*s, &ret);
        QCOMPARE(ret, -1);
    }

    void alarmRecordingChoice()
    {
        Disks d;
        d.add(QStringLiteral("~/"), 100 * kGiB);
        auto s = d.storage();
        {
            QVideoMgr page(nullptr, s.get());
            QSignalSpy alarm(&page, &QVideoMgr::sendRecordAlarmType);
            QSignalSpy cap(&page, &QVideoMgr::SendCapPathToConfig);
            auto *combo = child<QComboBox>(page, "alarmComboBox");
            QCOMPARE(combo->count(), 4);
            combo->setCurrentIndex(3);
            varno::ui::PromptScript script;
            child<QPushButton>(page, "btnSave")->click();
            QCOMPARE(QList<QVariantList>(alarm), QList<QVariantList>{{3}});
            QCOMPARE(std::pair(cap.size(), s->getRecordAlarmType()), std::pair(qsizetype(1), 3));
        }
        // Kept in storage.db and shown again.
        auto again = d.storage();
        QCOMPARE(again->getRecordAlarmType(), 3);
        QVideoMgr page(nullptr, again.get());
        QCOMPARE(child<QComboBox>(page, "alarmComboBox")->currentIndex(), 3);
    }

    void browseAndMessages()
    {
        Disks d;
        d.add(QStringLiteral("~/"), 100 * kGiB);
        auto s = d.storage();
        QVideoMgr page(nullptr, s.get());
        auto *cap = child<QLineEdit>(page, "capLineEdit");
        const QString before = cap->text();
        varno::ui::PromptScript script;
        QStringList asked;
        QString answer;
        const auto previous = QVideoMgr::setFolderChooser([&](QWidget *, const QString &title, const QString &start) {
            asked << title << start;
            return answer;
        });
        child<QPushButton>(page, "pathButton")->click(); // cancelled
        QCOMPARE(cap->text(), before);
        QVERIFY(varno::test::logText().contains("Has not select any directory!!!"));
        const QString chosen = d.base + QStringLiteral("/pictures");
        answer = chosen;
        child<QPushButton>(page, "pathButton")->click();
        QVideoMgr::setFolderChooser(previous);
        QCOMPARE(cap->text(), chosen);
        QCOMPARE(asked.mid(2), (QStringList{QStringLiteral("Select the folder"), before}));
        QCOMPARE(s->getCapturePath(), before); // only a save takes it
        script.take();
        child<QPushButton>(page, "btnSave")->click();
        QCOMPARE(s->getCapturePath(), chosen);
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(std::pair(script.requests().last().title, script.requests().last().text),
                 std::pair(QStringLiteral("Save"),
                           QStringLiteral("Save storage set successfully. It will take effect from next recording starts.")));
        // The installation directory gone: the save fails and says so; the old
        // configuration stays in use.
        QDir(d.appDir).removeRecursively();
        child<QLineEdit>(page, "pathLineEdit")->setText(QStringLiteral("Other"));
        child<QPushButton>(page, "btnSave")->click();
        QCOMPARE(script.requests().last().text, QStringLiteral("Failed to open the storage configuration file!"));
        QCOMPARE(s->getStorageConfig().recordDir, QByteArray("Varno/Record"));
    }

    void mountedDisksAndAResetStore()
    {
        // A USB disk under /media/<user> is known by a short name; its row shows
        // where it is mounted and saves the short name. A damaged storage.db
        // was set aside: the user hears of it once the event loop runs.
        Disks d;
        d.add(QStringLiteral("~/"), 100 * kGiB);
        const QString usb = d.add(QStringLiteral("@k3f9a/"), 8 * kGiB, kDiskRemovable);
        QVERIFY(varno::test::writeFile(d.appDir + QStringLiteral("/storage.db"), QByteArray(400, '\x7f')));
        auto s = d.storage();
        varno::ui::PromptScript prompts;
        QVideoMgr page(nullptr, s.get());
        QCOMPARE(page.rows().size(), 2);
        QCOMPARE(std::tuple(page.rows()[1].check->text(), page.rows()[1].label->text(), page.rows()[1].spin->value()),
                 std::tuple(usb, QStringLiteral("(8.00G/8.00G Removable disk)"), 0));
        QCOMPARE(varno::fieldText(s->getStorageConfig().disks[1].name), QStringLiteral("@k3f9a/"));
        QTRY_COMPARE(prompts.count(), 1);
        QVERIFY(prompts.requests()[0].text.startsWith(
            QStringLiteral("The storage settings could not be read and were reset to the defaults. The old file was kept as ")
            + d.appDir + QStringLiteral("/storage.db.corrupt-")));
    }

private:
    void fill(QUserMgr &page, const QString &user, const QString &oldPass, const QString &newPass,
              const QString &confirm)
    {
        QByteArray name = user.toUtf8();
        name.resize(32, '\0');
        page.setUserName(name.constData());
        page.findChild<QLineEdit *>("oldpassLineEdit")->setText(oldPass);
        page.findChild<QLineEdit *>("newpassLineEdit")->setText(newPass);
        page.findChild<QLineEdit *>("confirmpassLineEdit")->setText(confirm);
    }
};

QTEST_MAIN(TestQConfigMgr)
#include "tst_qconfigmgr.moc"
