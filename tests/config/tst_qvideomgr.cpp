// The storage page over fake disks: its defaults on a first start and the
// save made at construction, a saved configuration shown again, the linked
// spin box and slider, the folder name cut, unticking every disk, the
// alarm recording choice, the snapshot folder chooser and the messages.
#include "common/ui/promptscript.h"
#include "config/qvideomgr.h"
#include "tests/record/storagefixture.h"
#include "tests/support/files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace storagetest;

namespace {

template <class T>
T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class TestQVideoMgr : public QObject
{
    Q_OBJECT

private slots:
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
        QCOMPARE(varno::fieldText(s->getRecordDiskList().last().name), QStringLiteral("~/"));
        QVERIFY(varno::test::logText().contains("Save storage, count(2), cover(1), path(Varno/Record)!!!"));
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
};

QTEST_MAIN(TestQVideoMgr)
#include "tst_qvideomgr.moc"
