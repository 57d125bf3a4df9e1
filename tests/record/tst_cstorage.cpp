// The storage manager over fake disks: the first start, the order of the
// record disks, the limits, switching, the overwrite pass with its edge
// cases, recorders and a search while a pass rewrites the filelist, and
// "storage.db" and mount tables that are short, long, inconsistent or
// garbage; the record folder's size figure across every kind of change.
#include "tests/record/storagefixture.h"
#include "record/recordfault.h"
#include "tests/support/filecaps.h"
#include "tests/support/files.h"
#include "tests/support/media/testmedia.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/statvfs.h>

#include <atomic>
#include <sys/mount.h>
#include <sys/stat.h>
#include <set>
#include <thread>

using namespace storagetest;

namespace {

// What a walk of the folder finds: the regular files directly in it.
quint64 walkedBytes(const QString &folder)
{
    quint64 bytes = 0;
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks))
        bytes += quint64(fi.size());
    return bytes;
}

const std::vector<varno::test::EncodedFrame> &pictures()
{
    static const std::vector<varno::test::EncodedFrame> p
        = varno::test::encodeStream({.width = 160, .height = 120, .frames = 50});
    return p;
}

// A recording file of the library in folder, left open; file receives its path.
RECORD_HANDLE createRecording(const QString &folder, const char *devId, QString *file = nullptr)
{
    RECORD_INFO_S info{};
    varno::setText(info.devId, devId);
    info.version = RECORD_INFO_VERSION;
    info.videoCodec = MEDIA_VIDEO_H264;
    info.frameRate = 25;
    info.width = 160;
    info.height = 120;
    char path[RECORD_LOCAL_PATH_SIZE] = {};
    varno::setText(path, sizeof path, folder.toUtf8());
    RECORD_HANDLE h = 0;
    if (Record_local_MediaFileCreat(&info, path, &h, nullptr) != 0)
        return 0;
    if (file)
        *file = QString::fromUtf8(path);
    return h;
}

bool writePictures(RECORD_HANDLE h, size_t from, size_t to)
{
    for (size_t i = from; i < to && i < pictures().size(); ++i)
        if (Record_local_MediaFileWrite(h, 0, pictures()[i].data.data(), uint32_t(pictures()[i].data.size())) != 0)
            return false;
    return true;
}

} // namespace

class TestCStorage : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWithoutStorageDb()
    {
        Disks d;
        d.add(QStringLiteral("~/"), 500 * kGiB);
        const QString data = d.add(QStringLiteral("/data/"), 100 * kGiB);
        d.add(QStringLiteral("/usb/"), 8 * kGiB, kDiskRemovable);
        auto s = d.storage();
        QVERIFY(QFileInfo::exists(s->storageFile()));
        QCOMPARE(QFileInfo(s->storageFile()).size(), 0);
        const QList<DiskInfo_s> disks = s->getDiskList();
        QStringList paths; // the removable disk is listed too, as such
        for (const DiskInfo_s &disk : disks)
            paths << varno::fieldText(disk.path);
        QCOMPARE(paths, (QStringList{"~/", "/data/", "/usb/"}));
        QCOMPARE(std::tuple(disks[2].type, disks[0].totalG, s->getCapturePath(), s->getStorageConfig().count()),
                 std::tuple(kDiskRemovable, 500.0f, data + QStringLiteral("/Varno/Capture"), 0));
        QVERIFY(s->getRecordDiskList().isEmpty());
        int ret = 0;
        QVERIFY(savePath(*s, &ret).isEmpty());
        QCOMPARE(ret, -1);

        // With the system disk alone the snapshots go there.
        Disks only;
        const QString home = only.add(QStringLiteral("~/"), 500 * kGiB);
        QCOMPARE(only.storage()->getCapturePath(), home + QStringLiteral("/Varno/Capture"));
    }

    void systemDiskIsFilledLast()
    {
        Disks d;
        const QString home = d.add(QStringLiteral("~/"), 10 * kGiB);
        const QString data = d.add(QStringLiteral("/d/"), 10 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("~/", 1, 20), disk("/d/", 1, 20)}));
        const QList<RecordDisk_s> list = s->getRecordDiskList();
        QCOMPARE(list.size(), 2);
        QCOMPARE(varno::fieldText(list[0].name), QStringLiteral("/d/"));
        QCOMPARE(varno::fieldText(list[1].name), QStringLiteral("~/"));
        QCOMPARE(list[0].limitG, 2.0f);
        QVERIFY(QFileInfo(home + QStringLiteral("/Varno/Record")).isDir());
        QCOMPARE(savePath(*s), data + QStringLiteral("/Varno/Record"));
    }

    void percentOfTheDiskLimitsTheFolder()
    {
        // 20 % of 500 GB: room while the folder holds less than 100 GB minus
        // 220 MB for the one recording in progress.
        Disks d;
        d.add(QStringLiteral("/a/"), 500 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 20)}, 0));
        s->addRecordCount(1);
        const QString folder = s->recordFolder(QStringLiteral("/a/"));
        addRecording(folder, QStringLiteral("one.mkv"), 100 * kGiB - 221 * kMiB);
        QCOMPARE(savePath(*s), folder);
        {
            // Grown by a writer (a size change without an open and close is
            // only seen at the manager's hourly walk).
            QFile grow(folder + QStringLiteral("/one.mkv"));
            QVERIFY(grow.open(QIODevice::ReadWrite));
            QVERIFY(grow.resize(qint64(100 * kGiB - 220 * kMiB)));
        }
        int ret = 0;
        QVERIFY(savePath(*s, &ret).isEmpty());
        QCOMPARE(ret, -1);
        QVERIFY(varno::test::logText().contains("Current disk(0) is full, can't cover!!!"));
    }

    void recordingsInProgressReserveSpace()
    {
        // Two recordings in progress need 440 MB free on the disk.
        Disks d;
        const QString dir = d.add(QStringLiteral("/a/"), 10 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 100)}, 0));
        s->addRecordCount(2);
        QDir().mkpath(dir + QStringLiteral("/other"));
        QFile blob(dir + QStringLiteral("/other/blob"));
        QVERIFY(blob.open(QIODevice::WriteOnly));
        blob.resize(qint64(10 * kGiB - 441 * kMiB));
        QVERIFY(!savePath(*s).isEmpty());
        blob.resize(qint64(10 * kGiB - 439 * kMiB));
        QVERIFY(savePath(*s).isEmpty());
        s->addRecordCount(-1);
        QVERIFY(!savePath(*s).isEmpty());
        s->addRecordCount(-3); // never below zero
        QCOMPARE(s->recordCount(), 0);
        s->addRecordCount(2);
        QCOMPARE(s->recordCount(), 2);
    }

    void switchesToTheNextDiskWithRoom()
    {
        // Each disk tried is measured on its own: a full first disk does not
        // make an empty second one look full.
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        d.add(QStringLiteral("/b/"), 1 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 50), disk("/b/", 1, 50)}, 1));
        addRecording(s->recordFolder(QStringLiteral("/a/")), QStringLiteral("a1.mkv"), 600 * kMiB);
        QCOMPARE(savePath(*s), s->recordFolder(QStringLiteral("/b/")));
        QCOMPARE(s->currentDisk(), 1);
        QVERIFY(!s->allDisksFull());
        QCOMPARE(listed(s->recordFolder(QStringLiteral("/a/"))).size(), 1); // nothing overwritten
    }

    void coverAcrossTwoDisks()
    {
        Disks d;
        const QString diskA = d.add(QStringLiteral("/a/"), 1 * kGiB);
        d.add(QStringLiteral("/b/"), 1 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 50), disk("/b/", 1, 50)}, 1));
        const QString a = s->recordFolder(QStringLiteral("/a/"));
        const QString b = s->recordFolder(QStringLiteral("/b/"));
        for (int i = 0; i < 12; ++i) {
            addRecording(a, QStringLiteral("a%1.mkv").arg(i, 2, 10, QLatin1Char('0')), 50 * kMiB);
            addRecording(b, QStringLiteral("b%1.mkv").arg(i, 2, 10, QLatin1Char('0')), 50 * kMiB);
        }
        // Every disk full: disk 0 loses its ten oldest files.
        QCOMPARE(savePath(*s), a);
        QVERIFY(s->allDisksFull());
        QVERIFY(varno::test::logText().contains("Current disk(0) is full, cover!!!"));
        QCOMPARE(listed(a), (QStringList{QStringLiteral("a10.mkv"), QStringLiteral("a11.mkv")}));
        QVERIFY(!QFileInfo::exists(a + QStringLiteral("/a00.mkv")));
        QVERIFY(QFileInfo::exists(a + QStringLiteral("/a10.mkv")));
        QCOMPARE(listed(b).size(), 12);
        // It stays on disk 0 while that has room.
        QCOMPARE(savePath(*s), a);
        QCOMPARE(listed(a).size(), 2);
        // Disk 0 full again: on to disk 1, whose oldest files go.
        for (int i = 12; i < 21; ++i)
            addRecording(a, QStringLiteral("a%1.mkv").arg(i), 50 * kMiB);
        QCOMPARE(savePath(*s), b);
        QCOMPARE(s->currentDisk(), 1);
        QCOMPARE(listed(b), (QStringList{QStringLiteral("b10.mkv"), QStringLiteral("b11.mkv")}));
        QCOMPARE(listed(a).size(), 11);
        // Both full again, and another program fills disk 0: overwriting there
        // frees too little, so disk 1 is overwritten and recording goes on there.
        QFile foreign(diskA + QStringLiteral("/other.bin"));
        QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.resize(qint64(kGiB)));
        for (int i = 21; i < 31; ++i)
            addRecording(b, QStringLiteral("b%1.mkv").arg(i), 50 * kMiB);
        QCOMPARE(savePath(*s), b);
        QCOMPARE(s->currentDisk(), 1);
        QVERIFY(varno::test::logText().contains("Cover on disk(0) did not free enough space"));
        QCOMPARE(listed(b).size(), 2);
    }

    void coverDropsWholeShortListButFilesBeingWritten()
    {
        // Fewer than ten closed records: the pass drops them all; the file
        // being written stays with its record.
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 1)}, 1));
        const QString a = s->recordFolder(QStringLiteral("/a/"));
        QVERIFY(Record_local_InitSdk() == 0);
        QString path;
        const RECORD_HANDLE h = createRecording(a, "OPEN001", &path);
        QVERIFY(h > 0);
        for (int i = 0; i < 3; ++i)
            addRecording(a, QStringLiteral("r%1.mkv").arg(i), 10 * kMiB);
        QCOMPARE(savePath(*s), a);
        QCOMPARE(listed(a), QStringList{QFileInfo(path).fileName()});
        QCOMPARE(QDir(a).entryList(QDir::Files), (QStringList{QStringLiteral("filelist"), QFileInfo(path).fileName()}));
        Record_local_MediaFileClose(h);
        Record_local_UnInitSdk();
    }

    void noCoverReturnsMinusOneEachTime()
    {
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        d.add(QStringLiteral("/b/"), 1 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 10), disk("/b/", 1, 10)}, 0));
        const QString a = s->recordFolder(QStringLiteral("/a/"));
        const QString b = s->recordFolder(QStringLiteral("/b/"));
        addRecording(a, QStringLiteral("a.mkv"), 200 * kMiB);
        addRecording(b, QStringLiteral("b.mkv"), 200 * kMiB);
        const int before = int(varno::test::logText().count("is full, can't cover!!!"));
        for (int i = 0; i < 3; ++i) {
            int ret = 0;
            QVERIFY(savePath(*s, &ret).isEmpty());
            QCOMPARE(ret, -1);
            QCOMPARE(s->currentDisk(), 0);
        }
        QCOMPARE(int(varno::test::logText().count("is full, can't cover!!!")), before + 3);
        QCOMPARE(listed(a).size(), 1);
        // Room again on disk 1: found by the search from disk 0.
        QFile::remove(b + QStringLiteral("/b.mkv"));
        QCOMPARE(savePath(*s), b);
    }

    // Configured disks no longer listed, or never there: the configuration
    // is kept, there is no record disk, -1. (A record disk whose folder
    // vanished: vanishedRecordDiskIsSkipped.)
    void unlistedDisksKeepTheConfiguration()
    {
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        d.source->setGone(QStringLiteral("/a/"), true);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 50), disk("/gone/", 1, 20)}, 0));
        QVERIFY(varno::test::logText().contains("Can't find disk(/gone/)!!!"));
        QVERIFY(s->getRecordDiskList().isEmpty());
        QCOMPARE(s->getStorageConfig().count(), 2);
        int ret = 0;
        savePath(*s, &ret);
        QCOMPARE(ret, -1);
    }

    // Recorders of three cameras create, write and close files through the
    // recording file library, somebody else adds and deletes files, and a
    // search queries the folder while overwrite passes (of any recording not
    // being written) rewrite the same filelist: every record left is whole,
    // the list holds exactly the recordings left, and the folder's figure,
    // asked for by every pass, equals a walk without walking again.
    void recordersWhileCoverRewrites()
    {
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        auto s = d.storage();
        s->setCoverThresholdBytes(0);
        s->setCoverFloorSeconds(-3600);
        QVERIFY(save(*s, {disk("/a/", 1, 0)}, 1)); // always full
        const QString a = s->recordFolder(QStringLiteral("/a/"));
        QCOMPARE(s->recordFolderBytes(QStringLiteral("/a/")), walkedBytes(a));
        QCOMPARE(Record_local_InitSdk(), 0);
        constexpr int kFiles = 40;
        std::atomic<int> running{4};
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (const char *devId : {"RACE001", "RACE002", "RACE003"}) {
            threads.emplace_back([&, devId] {
                for (int i = 0; i < kFiles; ++i) {
                    const RECORD_HANDLE h = createRecording(a, devId);
                    if (h <= 0 || !writePictures(h, 0, size_t(10 + i % 15)) || Record_local_MediaFileClose(h) != 0)
                        ++failures;
                }
                --running;
            });
        }
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                const QString name = a + QStringLiteral("/EXT%1.bin").arg(i);
                if (!varno::test::writeFile(name, QByteArray((i + 1) * 4096, 'x')))
                    ++failures;
                if (i % 3 == 0)
                    QFile::remove(name);
            }
            --running;
        });
        threads.emplace_back([&] {
            MEDIA_QUERY_S q{};
            varno::setText(q.dir, a);
            q.endTime = varno::recfile::mediaTime(QDateTime::currentDateTime().addYears(1));
            while (running > 0) {
                MEDIA_LIST_S list{};
                if (Record_local_MediaFileQuery(q, &list) != 0)
                    ++failures;
                for (int i = 0; i < list.count; ++i)
                    if (std::strncmp(list.files[i].devId, "RACE00", 6) != 0)
                        ++failures;
            }
        });
        int passes = 0;
        while (running > 0 || passes < 10) {
            QVERIFY(!savePath(*s).isEmpty());
            ++passes;
        }
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(failures.load(), 0);
        std::vector<MEDIA_FILE_S> records;
        {
            RecordFilelistLocker lock;
            varno::recfile::readFilelist(a.toStdString(), records);
        }
        QCOMPARE(QFileInfo(a + QStringLiteral("/filelist")).size(), qint64(records.size() * sizeof(MEDIA_FILE_S)));
        std::set<QString> inList;
        for (const MEDIA_FILE_S &r : records) {
            QCOMPARE(r.state, uint32_t(MEDIA_FILE_STATE_CLOSED));
            QVERIFY(r.frameCount >= 10 && r.frameCount < 25);
            inList.insert(varno::fieldText(r.fileName));
        }
        const QStringList files = QDir(a).entryList({QStringLiteral("*.mkv")}, QDir::Files);
        QCOMPARE(inList, std::set<QString>(files.begin(), files.end()));
        QCOMPARE(int(inList.size()), int(records.size()));
        QVERIFY(int(records.size()) < 3 * kFiles); // passes removed files while the recorders ran
        QCOMPARE(s->recordFolderBytes(QStringLiteral("/a/")), walkedBytes(a));
        QCOMPARE(s->folderWalks(), 1);
        Record_local_UnInitSdk();
    }

    void saveWritesTheFileAndFolders()
    {
        Disks d;
        const QString a = d.add(QStringLiteral("/a/"), 1 * kGiB);
        auto s = d.storage();
        std::vector<StorageDisk_s> disks{disk("/a/", 1, 35)};
        StorageInfo_s info{};
        varno::setText(info.recordDir, "Cams/Rec");
        info.cover = 1;
        info.count = 1;
        info.disks = disks.data();
        const QString cap = d.base + QStringLiteral("\\snap");
        QVERIFY(s->SaveStorageConfig(cap, &info, 2));
        QVERIFY(QFileInfo(a + QStringLiteral("/Cams/Rec")).isDir());
        QCOMPARE(s->getCapturePath(), d.base + QStringLiteral("/snap"));
        QVERIFY(QFileInfo(d.base + QStringLiteral("/snap")).isDir());
        QCOMPARE(s->getRecordAlarmType(), 2);
        QCOMPARE(QFileInfo(s->storageFile()).size(), 312);
        // A second manager reads back what was saved.
        auto again = d.storage();
        const StorageConfig c = again->getStorageConfig();
        QCOMPARE(std::tuple(c.recordDir, c.cover, c.count(), c.disks[0].percent, again->getRecordAlarmType()),
                 std::tuple(QByteArray("Cams/Rec"), 1u, 1, int16_t(35), 2));
        QCOMPARE(again->getCapturePath(), d.base + QStringLiteral("/snap"));
        // A record folder that would leave the drive root is refused.
        varno::setText(info.recordDir, "../../etc");
        QVERIFY(!s->SaveStorageConfig(cap, &info));
        QCOMPARE(s->getStorageConfig().recordDir, QByteArray("Cams/Rec"));
    }

    void storageDbBadInput_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<bool>("setAside"); // damaged: kept beside, settings reset
        StorageFileContents c;
        c.capturePath = "/snap";
        c.recordDir = "Varno/Record";
        c.cover = 1;
        c.disks = {disk("/a/", 1, 20)};
        const QByteArray good = buildStorageDb(c);
        QTest::newRow("good") << good << true << false;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("head only") << good.left(300) << false << false;
        QTest::newRow("311 bytes") << good.left(311) << false << true;
        QByteArray wrongCount = good;
        wrongCount[296] = 3;
        QTest::newRow("count disagrees") << wrongCount << false << true;
        QTest::newRow("extra bytes") << good + QByteArray(12, 0) << false << true;
        c.disks = QVector<StorageDisk_s>(kMaxStorageDisks + 1, disk("/a/", 1, 20));
        QTest::newRow("oversized") << buildStorageDb(c) << false << true;
        QByteArray garbage(312, 0);
        QRandomGenerator gen(7);
        for (char &ch : garbage)
            ch = char(gen.bounded(256));
        QTest::newRow("garbage") << garbage << false << true;
        StorageFileContents escape;
        escape.recordDir = "../x";
        escape.disks = {disk("/a/", 1, 20)};
        QTest::newRow("escaping folder") << buildStorageDb(escape) << false << true;
        QByteArray unterminated = good;
        std::memset(unterminated.data() + 4, 'p', 256);
        std::memset(unterminated.data() + 300, 'n', 12);
        unterminated[308] = 1;
        unterminated[310] = char(200);
        QTest::newRow("unterminated fields") << unterminated << true << false;
    }

    void storageDbBadInput()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, loads);
        QFETCH(bool, setAside);
        StorageFileContents parsed;
        QCOMPARE(parseStorageDb(image, &parsed), loads);
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        const QString path = d.appDir + QStringLiteral("/storage.db");
        QVERIFY(varno::test::writeFile(path, image));
        auto s = d.storage();
        QCOMPARE(s->getStorageConfig().count() > 0, loads);
        const QString aside = s->takeResetNotice();
        QCOMPARE(!aside.isEmpty(), setAside);
        QVERIFY(s->takeResetNotice().isEmpty()); // told once
        if (setAside) {
            // The damaged bytes are kept whole beside; the save writes a fresh file.
            QVERIFY(aside.startsWith(path + QStringLiteral(".corrupt-")));
            QCOMPARE(varno::test::readFile(aside), image);
            QVERIFY(save(*s, {disk("/a/", 1, 20)}));
            QVERIFY(parseStorageDb(varno::test::readFile(path), &parsed));
            QCOMPARE(QFileInfo(aside).size(), qint64(image.size())); // the save left it alone
        } else {
            QCOMPARE(QDir(d.appDir).entryList(QDir::Files).size(), 1);
        }
        if (loads) {
            for (const StorageDisk_s &disk : s->getStorageConfig().disks) {
                QVERIFY(varno::textLength(disk.name) < kDiskRootSize);
                QVERIFY(disk.percent >= 0 && disk.percent <= 100);
            }
            QVERIFY(s->getCapturePath().size() <= 255);
        }
    }

    void storageDbThatIsNoFile_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("directory") << 0;
        QTest::newRow("fifo") << 1; // a reader would block on it
        QTest::newRow("good but unreadable") << 2;
    }

    void storageDbThatIsNoFile()
    {
        QFETCH(int, kind);
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        const QString path = d.appDir + QStringLiteral("/storage.db");
        StorageFileContents c;
        c.recordDir = "Kept";
        c.disks = {disk("/a/", 1, 30)};
        const QByteArray good = buildStorageDb(c);
        if (kind == 0) {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == 1) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else {
            QVERIFY(varno::test::writeFile(path, good));
            QVERIFY(QFile::setPermissions(path, {}));
        }
        std::unique_ptr<CStorage> s;
        {
            varno::test::WithoutFileCapabilities unreadable;
            s = d.storage();
        }
        const QString aside = s->takeResetNotice();
        QVERIFY(aside.startsWith(path + QStringLiteral(".corrupt-")));
        QCOMPARE(QFileInfo(aside).isDir(), kind == 0);
        QVERIFY(save(*s, {disk("/a/", 1, 20)}));
        QVERIFY(QFileInfo(path).isFile());
        if (kind == 2) {
            QVERIFY(QFile::setPermissions(aside, QFile::ReadOwner));
            QCOMPARE(varno::test::readFile(aside), good);
        }
    }

    void mountTable()
    {
        const QString home = freshDir(QStringLiteral("home"));
        const QByteArray table = "/dev/sda1 / ext4 rw,relatime 0 0\n"
                                 "proc /proc proc rw 0 0\n"
                                 "/dev/sdb1 /mnt/a-very-long-mount ext4 rw 0 0\n"
                                 "/dev/loop0 /snap squashfs ro 0 0\n"
                                 "garbage\n"
                                 "/dev/sdc1 /srv ext4 ro 0 0\n"
                                 "/dev/sdd1 /boot ext4 rw 0 0\n";
        const QList<varno::record::DiskEntry> disks = varno::record::SystemDiskSource::fromMountTable(table, home);
        QVERIFY(!disks.isEmpty());
        QCOMPARE(disks[0].root, QStringLiteral("~/"));
        QCOMPARE(disks[0].dir, home);
        for (const auto &e : disks) {
            QVERIFY(e.root.toUtf8().size() < int(kDiskRootSize));
            QVERIFY(e.root != QLatin1String("/srv/") && e.root != QLatin1String("/snap/"));
            QVERIFY(e.root != QLatin1String("/") && e.root != QLatin1String("/boot/"));
        }
        // Long mount points (a desktop's /media/<user>/<label>) get a short
        // root of their own, stable across starts (below /media itself: the
        // test's folders lie below /tmp, which never takes recordings).
        const QString base = QStringLiteral("/media/varno-test-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
        const QString point = base + QStringLiteral("/alice/USB STICK");
        QDir().mkpath(point);
        const auto cleanup = qScopeGuard([&] { QDir(base).removeRecursively(); });
        if (::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, "size=1m") == 0) {
            const auto listed = varno::record::SystemDiskSource::fromMountTable(
                "/dev/sdz1 " + QFile::encodeName(point).replace(" ", "\\040") + " vfat rw 0 0\n", home);
            ::umount2(QFile::encodeName(point).constData(), MNT_DETACH);
            QCOMPARE(listed.size(), 2);
            QCOMPARE(listed[1].dir, point);
            QCOMPARE(listed[1].root, varno::record::SystemDiskSource::aliasRoot(point + QStringLiteral("/")));
            QVERIFY(listed[1].root.startsWith(QLatin1Char('@')) && listed[1].root.toUtf8().size() == 7);
        }
        // The machine's own list always has the system disk first.
        varno::record::SystemDiskSource system;
        const auto own = system.disks();
        QCOMPARE(own.first().root, QStringLiteral("~/"));
        quint64 freeBytes = 0, totalBytes = 0;
        QVERIFY(system.space(QStringLiteral("~/"), &freeBytes, &totalBytes));
        QVERIFY(totalBytes >= freeBytes && totalBytes > 0);
        // Free space is what a user may write, not the blocks kept for root.
        struct statvfs st {};
        st.f_frsize = 4096;
        st.f_bfree = 500;
        st.f_bavail = 200;
        varno::record::SystemDiskSource::spaceOf(st, &freeBytes, &totalBytes);
        QCOMPARE(freeBytes, quint64(200 * 4096));
    }

    void vanishedRecordDiskIsSkipped()
    {
        // A disk whose folder vanished, or that was unmounted (its empty mount
        // point on the parent file system shows through), takes no recording.
        Disks d;
        const QString a = d.add(QStringLiteral("/a/"), 1 * kGiB);
        const QString b = d.add(QStringLiteral("/b/"), 1 * kGiB);
        const bool mounted = ::mount("tmpfs", QFile::encodeName(b).constData(), "tmpfs", 0, "size=4m") == 0;
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 50), disk("/b/", 1, 50)}));
        QCOMPARE(savePath(*s), a + QStringLiteral("/Varno/Record"));
        QVERIFY(QDir().rename(a, a + QStringLiteral("-away")));
        QCOMPARE(savePath(*s), b + QStringLiteral("/Varno/Record"));
        QVERIFY(varno::test::logText().contains("Record disk(/a/) at(" + QFile::encodeName(a) + ") went away!!!"));
        if (mounted)
            QCOMPARE(::umount2(QFile::encodeName(b).constData(), MNT_DETACH), 0);
        else
            QVERIFY(QDir().rename(b, b + QStringLiteral("-away")));
        // Every record disk gone: said so, no overwrite pass, no folder made.
        int ret = 0;
        QCOMPARE(savePath(*s, &ret), QString());
        QCOMPARE(ret, int(CStorage::kSavePathDiskGone));
        QCOMPARE(s->coverPasses(), 0);
        for (const QString &gone : {a, b})
            QVERIFY(!QFileInfo::exists(gone + QStringLiteral("/Varno/Record")));
        QVERIFY(QDir().rename(a + QStringLiteral("-away"), a)); // plugged in again
        QCOMPARE(savePath(*s), a + QStringLiteral("/Varno/Record"));
        if (!mounted)
            QSKIP("mounting is not allowed here: the unmounted disk was a vanished folder");
    }

    void coverKeepsTheLastHour()
    {
        // Another program fills the disk: the pass removes the old recordings
        // only, keeps the last hour and says that the disk stays full.
        Disks d;
        const QString a = d.add(QStringLiteral("/a/"), 100 * kMiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 100)}));
        const QString folder = a + QStringLiteral("/Varno/Record");
        const MEDIA_TIME_S recent = varno::recfile::mediaTime(QDateTime::currentDateTime().addSecs(-600));
        for (int i = 0; i < 3; ++i)
            addRecording(folder, QStringLiteral("old%1.mkv").arg(i), 1 * kMiB);
        for (int i = 0; i < 3; ++i)
            addRecording(folder, QStringLiteral("new%1.mkv").arg(i), 1 * kMiB, true, recent);
        QFile foreign(a + QStringLiteral("/other.bin"));
        QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.resize(qint64(100 * kMiB)));
        int ret = 0;
        QCOMPARE(savePath(*s, &ret), QString());
        QCOMPARE(ret, int(CStorage::kSavePathCoverFailed));
        QCOMPARE(listed(folder), QStringList({"new0.mkv", "new1.mkv", "new2.mkv"}));
        for (int i = 0; i < 3; ++i)
            QVERIFY(QFile::exists(folder + QStringLiteral("/new%1.mkv").arg(i)));
        QVERIFY(varno::test::logText().contains("did not free enough space, something else fills the disk!!!"));
        // Once the foreign file is gone, recording goes on there.
        QVERIFY(foreign.remove());
        QCOMPARE(savePath(*s), folder);
    }

    void folderFaults()
    {
        using varno::record::FolderFault;
        const QString ok = freshDir(QStringLiteral("fault-ok"));
        const std::string okPath = QFile::encodeName(ok).toStdString();
        const dev_t dev = varno::record::folderDevice(okPath);
        QCOMPARE(varno::record::diagnoseFolder(okPath, dev), FolderFault::None);
        QCOMPARE(varno::record::diagnoseFolder(okPath + "/missing", dev), FolderFault::Gone);
        QCOMPARE(varno::record::diagnoseFolder(okPath, dev + 1), FolderFault::Gone);
        QVERIFY(QFile::setPermissions(ok, QFile::ReadOwner | QFile::ExeOwner));
        {
            varno::test::WithoutFileCapabilities asUser;
            QCOMPARE(varno::record::diagnoseFolder(okPath, dev), FolderFault::NotWritable);
        }
        QVERIFY(QFile::setPermissions(ok, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // Full and read-only file systems need a mount of their own.
        const QString small = freshDir(QStringLiteral("fault-tmpfs"));
        const QByteArray mp = QFile::encodeName(small);
        if (::mount("tmpfs", mp.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("mounting is not allowed here");
        QFile fill(small + QStringLiteral("/fill"));
        QVERIFY(fill.open(QIODevice::WriteOnly));
        const QByteArray block(64 * 1024, 'x');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
        fill.close();
        const dev_t tmpDev = varno::record::folderDevice(mp.toStdString());
        QCOMPARE(varno::record::diagnoseFolder(mp.toStdString(), tmpDev), FolderFault::Full);
        QCOMPARE(::mount(nullptr, mp.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        QCOMPARE(varno::record::diagnoseFolder(mp.toStdString(), tmpDev), FolderFault::NotWritable);
        QCOMPARE(::umount2(mp.constData(), MNT_DETACH), 0);
        QCOMPARE(varno::record::diagnoseFolder(mp.toStdString(), tmpDev), FolderFault::Gone);
    }

    // The folder is walked once; files created, growing and closed by the
    // recording file library, a file the library drops at close, an overwrite
    // pass, files deleted or added by somebody else and the folder vanishing
    // all keep the figure equal to a fresh walk.
    void folderFigureFollowsEveryChange()
    {
        QVERIFY(pictures().size() == 50);
        Disks d;
        d.add(QStringLiteral("/a/"), 1 * kGiB);
        auto s = d.storage();
        QVERIFY(save(*s, {disk("/a/", 1, 100)}));
        const QString root = QStringLiteral("/a/");
        const QString folder = s->recordFolder(root);
        for (int i = 1; i <= 12; ++i)
            addRecording(folder, QStringLiteral("OLD%1.mkv").arg(i, 2, 10, QLatin1Char('0')), 1 * kMiB);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        const int walks = s->folderWalks();
        QCOMPARE(walks, 1);

        const RECORD_HANDLE h = createRecording(folder, "CAMFIG1");
        QVERIFY(h > 0);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        QVERIFY(writePictures(h, 0, 30));
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder)); // still growing
        QVERIFY(writePictures(h, 30, 50));
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        const RECORD_HANDLE empty = createRecording(folder, "CAMFIG2");
        QVERIFY(empty > 0);
        QCOMPARE(Record_local_MediaFileClose(empty), 0); // nothing decodable: file and record go
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        QCOMPARE(listed(folder).size(), 13);

        // 1 % of 1 GiB is below the 12 MiB held: the pass drops the ten oldest.
        QVERIFY(save(*s, {disk("/a/", 1, 1)}));
        s->setCoverThresholdBytes(0);
        QCOMPARE(savePath(*s), folder);
        QCOMPARE(s->coverPasses(), 1);
        QCOMPARE(listed(folder).size(), 3);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));

        QVERIFY(QFile::remove(folder + QStringLiteral("/OLD11.mkv")));
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        QDir().mkpath(folder + QStringLiteral("/sub"));
        addRecording(folder + QStringLiteral("/sub"), QStringLiteral("deep.mkv"), 2 * kMiB); // not counted
        QVERIFY(QFile::rename(folder + QStringLiteral("/OLD12.mkv"), folder + QStringLiteral("/sub/OLD12.mkv")));
        QFile::link(folder + QStringLiteral("/sub/deep.mkv"), folder + QStringLiteral("/link.mkv")); // not counted
        addRecording(folder, QStringLiteral("COPIED.mkv"), 3 * kMiB);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        QVERIFY(walkedBytes(folder) > 3 * kMiB);
        QCOMPARE(s->folderWalks(), walks); // all of it without walking again

        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(s->recordFolderBytes(root), quint64(0));
        QVERIFY(QDir().mkpath(folder));
        addRecording(folder, QStringLiteral("NEW.mkv"), 2 * kMiB);
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
        QCOMPARE(s->recordFolderBytes(root), walkedBytes(folder));
    }
};

QTEST_GUILESS_MAIN(TestCStorage)
#include "tst_cstorage.moc"
