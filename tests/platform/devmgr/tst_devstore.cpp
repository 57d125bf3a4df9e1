#include "platform/devmgr/devstore.h"
#include "platform/devmgr/sdk_dvrmgr.h"

#include "common/installdir.h"
#include "common/textfield.h"
#include "tests/support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using varno::devmgr::kStoreFileName;

namespace {

// Where a rewriting child process stands; shared with the parent through a
// mapped file so that the parent knows where each kill landed.
struct ChildProgress
{
    std::atomic<uint32_t> phase; // 0 idle, 1 inside a rewrite, 2 committing
    std::atomic<uint32_t> added; // cameras added in the current rewrite
    std::atomic<uint64_t> commits;
};

enum Phase : uint32_t { kIdle = 0, kInRewrite = 1, kCommitting = 2 };

// Two camera lists of different lengths and contents; a rewrite turns one
// into the other.
constexpr int kListA = 37;
constexpr int kListB = 53;

DeviceInfo_s makeDevice(char list, int index)
{
    DeviceInfo_s d;
    // Every byte set, so that byte-exactness covers the reserved areas too.
    for (size_t i = 0; i < sizeof(d); ++i)
        reinterpret_cast<unsigned char *>(&d)[i] = static_cast<unsigned char>((i * 7 + index * 13 + list) & 0xff);
    d.reserved0 = index;
    varno::setText(d.devId, QStringLiteral("%1-%2-uuid").arg(QLatin1Char(list)).arg(index));
    varno::setText(d.devName, QStringLiteral("Kamera Küche %1 東京").arg(index));
    varno::setText(d.ipAddr, QStringLiteral("192.168.%1.%2").arg(int(list)).arg(index));
    d.streamType = index % 2;
    return d;
}

std::vector<DeviceInfo_s> makeList(char list)
{
    std::vector<DeviceInfo_s> v;
    const int n = list == 'A' ? kListA : kListB;
    for (int i = 0; i < n; ++i)
        v.push_back(makeDevice(list, i));
    return v;
}

std::vector<DeviceInfo_s> storedList(int *rc = nullptr)
{
    std::vector<DeviceInfo_s> buffer(kMaxDevices);
    int count = -1;
    const int result = SDK_DVRMGR_GetDevInfo(buffer.data(), &count);
    if (rc)
        *rc = result;
    buffer.resize(result == 0 ? size_t(count) : 0);
    return buffer;
}

bool sameList(const std::vector<DeviceInfo_s> &a, const std::vector<DeviceInfo_s> &b)
{
    return a.size() == b.size()
           && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(DeviceInfo_s)) == 0);
}

LogInfo_s makeEntry(int n)
{
    LogInfo_s e;
    std::memset(&e, 0, sizeof(e));
    varno::setText(e.time, QStringLiteral("2024-01-02 03:04:05"));
    varno::setText(e.user, QStringLiteral("admin"));
    varno::setText(e.content, QStringLiteral("Entry %1 Gerät ändern").arg(n));
    return e;
}

int entryNumber(const LogInfo_s &e)
{
    const QString text = varno::fieldText(e.content);
    return text.section(QLatin1Char(' '), 1, 1).toInt();
}

int rewrite(const std::vector<DeviceInfo_s> &list, ChildProgress *progress = nullptr,
            bool framed = true)
{
    if (framed && SDK_DVRMGR_BeginRewrite() != 0)
        return -1;
    if (progress) {
        progress->added = 0;
        progress->phase = kInRewrite;
    }
    int rc = SDK_DVRMGR_DelDevAll();
    for (const DeviceInfo_s &d : list) {
        if (rc == 0)
            rc = SDK_DVRMGR_AddDevice(d);
        if (progress)
            ++progress->added;
    }
    if (progress)
        progress->phase = kCommitting;
    if (framed) {
        const int commit = SDK_DVRMGR_CommitRewrite();
        if (rc == 0)
            rc = commit;
    }
    if (progress) {
        progress->phase = kIdle;
        ++progress->commits;
    }
    return rc;
}

// The child side of the kill test: rewrites the list back and forth until
// it is killed. argv: --rewrite-child <store folder> <progress file> <framed>
int rewriteChild(const char *dir, const char *progressPath, bool framed)
{
    const int fd = ::open(progressPath, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return 2;
    void *map = ::mmap(nullptr, sizeof(ChildProgress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return 2;
    auto *progress = static_cast<ChildProgress *>(map);
    if (SDK_DVRMGR_Init(dir) != 0)
        return 3;
    const std::vector<DeviceInfo_s> a = makeList('A');
    const std::vector<DeviceInfo_s> b = makeList('B');
    bool nextIsA = !sameList(storedList(), a);
    // The parent starts its random wait from here.
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (;;) {
        if (rewrite(nextIsA ? a : b, progress, framed) != 0)
            return 4;
        nextIsA = !nextIsA;
    }
}

QString storePath(const QString &dir)
{
    return dir + QLatin1Char('/') + QLatin1String(kStoreFileName);
}

int fileMode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

// Runs sql on the store file with a connection of the test's own.
QString sqlOnStore(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QString out;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK) {
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
                out = QString::fromUtf8(t ? t : "");
            }
            if (rc != SQLITE_DONE)
                out = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            out = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return out;
}

QStringList asideFiles(const QString &dir)
{
    return QDir(dir).entryList({QLatin1String(kStoreFileName) + QStringLiteral(".corrupt-*")},
                               QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

class TestDevStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void callsBeforeInit();
    void fileModeAndWal();
    void storedOrderByteExact();
    void limitOf300();
    void oversizedStoreReadsAtMost300();
    void rewriteCommitRollback();
    void failedAddSpoilsRewrite();
    void otherThreadsWaitForRewrite();
    void concurrentCalls();
    void readLogCap();
    void logKeepsNewestEntries();
    void damagedStoreSetAside_data();
    void damagedStoreSetAside();
    void emptyFileIsFreshStore();
    void crashSafeRewrite();
    void killDetectorSeesUnframedRewrite();

private:
    struct KillStats
    {
        int kills = 0;
        int inRewrite = 0;
        int foundA = 0;
        int foundB = 0;
        int foundOther = 0;
        QString firstOther;
    };
    KillStats killRewrites(int kills, bool framed);

    QString m_dir;
    int m_case = 0;
};

void TestDevStore::init()
{
    SDK_DVRMGR_UnInit();
    m_dir = varno::test::tempRoot() + QStringLiteral("/devstore-%1").arg(++m_case);
    QDir(m_dir).removeRecursively();
}

void TestDevStore::cleanup()
{
    SDK_DVRMGR_UnInit();
}

void TestDevStore::callsBeforeInit()
{
    std::vector<DeviceInfo_s> records(kMaxDevices);
    std::vector<LogInfo_s> entries(16);
    int count = 99;
    QCOMPARE(SDK_DVRMGR_GetDevInfo(records.data(), &count), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(count, 0);
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 0)), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_DelDevAll(), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(1)), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_ReadLog(entries.data(), &count), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(SDK_DVRMGR_Init(nullptr), int(DVRMGR_ERR_PARAM));
    QCOMPARE(SDK_DVRMGR_Init(""), int(DVRMGR_ERR_PARAM));

    // Init twice is harmless and keeps what is stored; so is UnInit twice.
    const QByteArray dir = QFile::encodeName(m_dir);
    QCOMPARE(SDK_DVRMGR_Init(dir.constData()), 0);
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 1)), 0);
    QCOMPARE(SDK_DVRMGR_Init(dir.constData()), 0);
    QCOMPARE(SDK_DVRMGR_Init((dir + "/").constData()), 0);
    QCOMPARE(storedList().size(), size_t(1));
    QCOMPARE(SDK_DVRMGR_GetDevInfo(nullptr, &count), int(DVRMGR_ERR_PARAM));
    QCOMPARE(SDK_DVRMGR_ReadLog(entries.data(), nullptr), int(DVRMGR_ERR_PARAM));
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), int(DVRMGR_ERR_TRANSACTION));
    QCOMPARE(SDK_DVRMGR_RollbackRewrite(), int(DVRMGR_ERR_TRANSACTION));
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(SDK_DVRMGR_GetDevInfo(records.data(), &count), int(DVRMGR_ERR_NOT_INIT));
    QCOMPARE(SDK_DVRMGR_Init(dir.constData()), 0);
    QCOMPARE(storedList().size(), size_t(1));
}

void TestDevStore::fileModeAndWal()
{
    // The folder need not exist yet.
    const QString dir = m_dir + QStringLiteral("/deeper/folder");
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(dir).constData()), 0);
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 0)), 0);
    QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(0)), 0);
    const QString path = storePath(dir);
    QCOMPARE(fileMode(path), 0600);
    QVERIFY(QFile::exists(path + QStringLiteral("-wal")));
    QCOMPARE(fileMode(path + QStringLiteral("-wal")), 0600);
    QCOMPARE(fileMode(path + QStringLiteral("-shm")), 0600);
    QCOMPARE(sqlOnStore(path, QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);

    // A store left with a wider mode is narrowed at the next start.
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(dir).constData()), 0);
    QCOMPARE(fileMode(path), 0600);
}

void TestDevStore::storedOrderByteExact()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    std::vector<DeviceInfo_s> list;
    // Out of any sort order by ID or name, with raw bytes everywhere.
    for (int i : {5, 1, 9, 3, 7, 0}) {
        DeviceInfo_s d = makeDevice('B', i);
        list.push_back(d);
        QCOMPARE(SDK_DVRMGR_AddDevice(d), 0);
    }
    DeviceInfo_s full;
    std::memset(&full, 0xff, sizeof(full)); // no terminator anywhere
    list.push_back(full);
    QCOMPARE(SDK_DVRMGR_AddDevice(full), 0);
    DeviceInfo_s zero;
    std::memset(&zero, 0, sizeof(zero));
    list.push_back(zero);
    QCOMPARE(SDK_DVRMGR_AddDevice(zero), 0);

    QVERIFY(sameList(storedList(), list));
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const std::vector<DeviceInfo_s> back = storedList();
    QVERIFY(sameList(back, list));
    QCOMPARE(varno::fieldText(back[0].devName), QStringLiteral("Kamera Küche 5 東京"));

    // Operation-log entries come back byte for byte too.
    LogInfo_s raw;
    for (size_t i = 0; i < sizeof(raw); ++i)
        reinterpret_cast<unsigned char *>(&raw)[i] = static_cast<unsigned char>(255 - i % 251);
    QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(1)), 0);
    QCOMPARE(SDK_DVRMGR_WriteLog(raw), 0);
    std::vector<LogInfo_s> entries(kMaxLogEntries);
    int count = 0;
    QCOMPARE(SDK_DVRMGR_ReadLog(entries.data(), &count), 0);
    QCOMPARE(count, 2);
    const LogInfo_s first = makeEntry(1);
    QCOMPARE(std::memcmp(&entries[0], &first, sizeof(LogInfo_s)), 0);
    QCOMPARE(std::memcmp(&entries[1], &raw, sizeof(LogInfo_s)), 0);
    QCOMPARE(varno::fieldText(entries[0].content), QStringLiteral("Entry 1 Gerät ändern"));
}

void TestDevStore::limitOf300()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    std::vector<DeviceInfo_s> list;
    for (int i = 0; i < kMaxDevices; ++i)
        list.push_back(makeDevice('C', i));
    // Filled one by one, each its own transaction, as the add dialog does.
    for (int i = 0; i < 10; ++i)
        QCOMPARE(SDK_DVRMGR_AddDevice(list[size_t(i)]), 0);
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    for (const DeviceInfo_s &d : list)
        QCOMPARE(SDK_DVRMGR_AddDevice(d), 0);
    // The 301st inside the rewrite is refused; the rewrite still commits.
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('D', 300)), int(DVRMGR_ERR_FULL));
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);
    QVERIFY(sameList(storedList(), list));

    // And outside a rewrite; nothing is stored by the refusal.
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('D', 301)), int(DVRMGR_ERR_FULL));
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("SELECT count(*) FROM device")),
             QStringLiteral("300"));
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    QVERIFY(sameList(storedList(), list));

    // Room again after a removal.
    list.pop_back();
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    for (const DeviceInfo_s &d : list)
        QCOMPARE(SDK_DVRMGR_AddDevice(d), 0);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);
    list.push_back(makeDevice('E', 1));
    QCOMPARE(SDK_DVRMGR_AddDevice(list.back()), 0);
    QVERIFY(sameList(storedList(), list));
}

void TestDevStore::oversizedStoreReadsAtMost300()
{
    // A store grown beyond 300 records by another program must not overrun
    // the caller's buffer.
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 0)), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(sqlOnStore(storePath(m_dir),
                        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 "
                                       "FROM n WHERE i < 320) INSERT INTO device(pos, record) "
                                       "SELECT i, zeroblob(492) FROM n")),
             QString());
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("SELECT count(*) FROM device")),
             QStringLiteral("320"));

    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    struct
    {
        DeviceInfo_s records[kMaxDevices];
        unsigned char guard[512];
    } buffer;
    std::memset(buffer.guard, 0x5a, sizeof(buffer.guard));
    int count = 0;
    QCOMPARE(SDK_DVRMGR_GetDevInfo(buffer.records, &count), 0);
    QCOMPARE(count, kMaxDevices);
    for (unsigned char b : buffer.guard)
        QCOMPARE(b, static_cast<unsigned char>(0x5a));
    const DeviceInfo_s first = makeDevice('A', 0);
    QCOMPARE(std::memcmp(&buffer.records[0], &first, sizeof(first)), 0);
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 1)), int(DVRMGR_ERR_FULL));
}

void TestDevStore::rewriteCommitRollback()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const auto a = makeList('A');
    const auto b = makeList('B');
    QCOMPARE(rewrite(a), 0);
    QVERIFY(sameList(storedList(), a));

    // Inside the rewrite its own thread sees the new state.
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), int(DVRMGR_ERR_TRANSACTION));
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    QVERIFY(storedList().empty());
    QCOMPARE(SDK_DVRMGR_AddDevice(b[0]), 0);
    QCOMPARE(SDK_DVRMGR_RollbackRewrite(), 0);
    QVERIFY(sameList(storedList(), a));

    // An unfinished rewrite is lost at UnInit, the old list stays.
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(SDK_DVRMGR_AddDevice(b[size_t(i)]), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    QVERIFY(sameList(storedList(), a));
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), int(DVRMGR_ERR_TRANSACTION));

    QCOMPARE(rewrite(b), 0);
    QVERIFY(sameList(storedList(), b));
    QCOMPARE(rewrite({}), 0); // an emptied list is a legitimate new list
    QVERIFY(storedList().empty());
}

void TestDevStore::failedAddSpoilsRewrite()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const auto a = makeList('A');
    QCOMPARE(rewrite(a), 0);

    // A second connection makes the device table refuse inserts: the
    // rewrite must not commit a list with a camera missing.
    QCOMPARE(sqlOnStore(storePath(m_dir),
                        QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON device WHEN "
                                       "(SELECT count(*) FROM device) = 3 BEGIN "
                                       "SELECT RAISE(ABORT, 'refused'); END")),
             QString());
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    const auto b = makeList('B');
    int failures = 0;
    for (const DeviceInfo_s &d : b) {
        if (SDK_DVRMGR_AddDevice(d) != 0)
            ++failures;
    }
    QVERIFY(failures > 0);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), int(DVRMGR_ERR_STORE));
    QVERIFY(sameList(storedList(), a));
    // The store works on afterwards.
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("DROP TRIGGER refuse")), QString());
    QCOMPARE(rewrite(b), 0);
    QVERIFY(sameList(storedList(), b));
}

void TestDevStore::otherThreadsWaitForRewrite()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const auto a = makeList('A');
    const auto b = makeList('B');
    QCOMPARE(rewrite(a), 0);

    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_DelDevAll(), 0);
    std::atomic<bool> readerDone{false};
    std::vector<DeviceInfo_s> seen;
    int readerRc = -1;
    int foreignCommit = 0;
    std::thread reader([&] {
        // Not the owner: may neither end the rewrite nor see it half done.
        foreignCommit = SDK_DVRMGR_CommitRewrite();
        seen = storedList(&readerRc);
        readerDone = true;
    });
    for (const DeviceInfo_s &d : b) {
        QCOMPARE(SDK_DVRMGR_AddDevice(d), 0);
        if (&d == &b[b.size() / 2])
            QTest::qWait(50); // give the reader every chance to slip in
    }
    QVERIFY(!readerDone);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);
    reader.join();
    QCOMPARE(foreignCommit, int(DVRMGR_ERR_TRANSACTION));
    QCOMPARE(readerRc, 0);
    QVERIFY(sameList(seen, b));
}

void TestDevStore::concurrentCalls()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const auto a = makeList('A');
    const auto b = makeList('B');
    QCOMPARE(rewrite(a), 0);

    constexpr int kWriters = 3;
    constexpr int kEntries = 40;
    std::atomic<int> errors{0};
    std::atomic<int> partialSeen{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([t, &errors] {
            for (int i = 0; i < kEntries; ++i) {
                if (SDK_DVRMGR_WriteLog(makeEntry(t * 1000 + i)) != 0)
                    ++errors;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 6; ++i) {
            if (rewrite(i % 2 ? a : b) != 0)
                ++errors;
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 30; ++i) {
            int rc = 0;
            const auto list = storedList(&rc);
            if (rc != 0)
                ++errors;
            else if (!sameList(list, a) && !sameList(list, b))
                ++partialSeen;
        }
    });
    for (auto &th : threads)
        th.join();
    QCOMPARE(errors.load(), 0);
    QCOMPARE(partialSeen.load(), 0);

    std::vector<LogInfo_s> entries(kMaxLogEntries);
    int count = 0;
    QCOMPARE(SDK_DVRMGR_ReadLog(entries.data(), &count), 0);
    QCOMPARE(count, kWriters * kEntries);
    // Each writer's entries in its own order, every entry intact.
    std::vector<int> next(kWriters, 0);
    for (int i = 0; i < count; ++i) {
        const int n = entryNumber(entries[size_t(i)]);
        const int t = n / 1000;
        QVERIFY(t >= 0 && t < kWriters);
        QCOMPARE(n % 1000, next[size_t(t)]);
        ++next[size_t(t)];
        const LogInfo_s expected = makeEntry(n);
        QCOMPARE(std::memcmp(&entries[size_t(i)], &expected, sizeof(LogInfo_s)), 0);
    }
}

void TestDevStore::readLogCap()
{
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    constexpr int kWritten = kMaxLogEntries + 57;
    // One transaction for speed: a WriteLog inside a rewrite is part of it.
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    for (int i = 0; i < kWritten; ++i)
        QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(i)), 0);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);

    struct LogBuffer
    {
        LogInfo_s entries[kMaxLogEntries];
        unsigned char guard[1024];
    };
    const auto buffer = std::make_unique<LogBuffer>();
    std::memset(buffer->guard, 0x5a, sizeof(buffer->guard));
    int count = 0;
    QCOMPARE(SDK_DVRMGR_ReadLog(buffer->entries, &count), 0);
    QCOMPARE(count, kMaxLogEntries);
    for (unsigned char b : buffer->guard)
        QCOMPARE(b, static_cast<unsigned char>(0x5a));
    // The newest entries, oldest first.
    for (int i = 0; i < count; ++i)
        QCOMPARE(entryNumber(buffer->entries[i]), kWritten - kMaxLogEntries + i);

    // One more entry moves the window by one.
    QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(kWritten)), 0);
    QCOMPARE(SDK_DVRMGR_ReadLog(buffer->entries, &count), 0);
    QCOMPARE(count, kMaxLogEntries);
    QCOMPARE(entryNumber(buffer->entries[0]), kWritten - kMaxLogEntries + 1);
    QCOMPARE(entryNumber(buffer->entries[count - 1]), kWritten);
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("SELECT count(*) FROM oplog")),
             QString::number(kWritten + 1));
}

void TestDevStore::logKeepsNewestEntries()
{
    // The store keeps a bounded number of entries: the oldest go first.
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const int total = int(varno::devmgr::kKeptLogEntries) + 25;
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    for (int i = 0; i < total; ++i)
        QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(i)), 0);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("SELECT count(*) FROM oplog")),
             QString::number(varno::devmgr::kKeptLogEntries));
    QCOMPARE(sqlOnStore(storePath(m_dir), QStringLiteral("SELECT min(seq) FROM oplog")),
             QStringLiteral("26"));
}

void TestDevStore::damagedStoreSetAside_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("garbage") << QStringLiteral("garbage");
    QTest::newRow("header then garbage") << QStringLiteral("header");
    QTest::newRow("short") << QStringLiteral("short");
    QTest::newRow("damaged page") << QStringLiteral("page");
    QTest::newRow("foreign database") << QStringLiteral("foreign");
    QTest::newRow("unknown version") << QStringLiteral("version");
    QTest::newRow("wrong tables") << QStringLiteral("tables");
    QTest::newRow("folder in place") << QStringLiteral("folder");
}

void TestDevStore::damagedStoreSetAside()
{
    QFETCH(QString, kind);
    const QString path = storePath(m_dir);
    QVERIFY(QDir().mkpath(m_dir));

    // A healthy store with data to damage.
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    QCOMPARE(SDK_DVRMGR_BeginRewrite(), 0);
    QCOMPARE(rewrite(makeList('B'), nullptr, false), 0);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(i)), 0);
    QCOMPARE(SDK_DVRMGR_CommitRewrite(), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    const QByteArray healthy = readAll(path);
    QVERIFY(healthy.size() > 8192);

    if (kind == QLatin1String("garbage")) {
        QByteArray g(20000, Qt::Uninitialized);
        for (int i = 0; i < g.size(); ++i)
            g[i] = char((i * 151 + 3) % 251);
        writeAll(path, g);
    } else if (kind == QLatin1String("header")) {
        writeAll(path, healthy.left(16) + QByteArray(8000, 'x'));
    } else if (kind == QLatin1String("short")) {
        writeAll(path, healthy.left(healthy.size() / 3));
    } else if (kind == QLatin1String("page")) {
        QByteArray damaged = healthy;
        // Page size 4096: scribble over the second half of the file's pages
        // past the first one (b-tree pages of both tables).
        for (qsizetype i = 4096 + 8; i < damaged.size(); i += 64)
            damaged[i] = char(0xa5);
        writeAll(path, damaged);
    } else if (kind == QLatin1String("foreign")) {
        QVERIFY(QFile::remove(path));
        QCOMPARE(sqlOnStore(path, QStringLiteral("CREATE TABLE songs(title TEXT)")), QString());
    } else if (kind == QLatin1String("version")) {
        QCOMPARE(sqlOnStore(path, QStringLiteral("PRAGMA user_version = 99")), QString());
    } else if (kind == QLatin1String("tables")) {
        QCOMPARE(sqlOnStore(path, QStringLiteral("DROP TABLE device")), QString());
        QCOMPARE(sqlOnStore(path, QStringLiteral("CREATE TABLE device(x)")), QString());
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
    }
    const QByteArray damaged = readAll(path);

    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const QStringList aside = asideFiles(m_dir);
    QCOMPARE(aside.size(), 1);
    if (kind != QLatin1String("folder"))
        QCOMPARE(readAll(m_dir + QLatin1Char('/') + aside.first()), damaged);
    QVERIFY(aside.first().startsWith(QLatin1String(kStoreFileName) + QStringLiteral(".corrupt-20")));
    // The set-aside is in the program's log with both names.
    const QByteArray log = readAll(QString::fromStdString(varno::installDir())
                                   + QStringLiteral("/log/Varno.log"));
    QVERIFY(log.contains(QFile::encodeName(m_dir + QLatin1Char('/') + aside.first())));

    // A fresh, working store.
    QVERIFY(storedList().empty());
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 3)), 0);
    QCOMPARE(SDK_DVRMGR_WriteLog(makeEntry(3)), 0);
    QCOMPARE(SDK_DVRMGR_UnInit(), 0);
    QCOMPARE(fileMode(path), 0600);
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    const auto back = storedList();
    QCOMPARE(back.size(), size_t(1));
    QCOMPARE(asideFiles(m_dir).size(), 1);
}

void TestDevStore::emptyFileIsFreshStore()
{
    QVERIFY(QDir().mkpath(m_dir));
    writeAll(storePath(m_dir), QByteArray());
    QCOMPARE(SDK_DVRMGR_Init(QFile::encodeName(m_dir).constData()), 0);
    QVERIFY(asideFiles(m_dir).isEmpty());
    QCOMPARE(SDK_DVRMGR_AddDevice(makeDevice('A', 0)), 0);
    QCOMPARE(storedList().size(), size_t(1));
}

TestDevStore::KillStats TestDevStore::killRewrites(int kills, bool framed)
{
    KillStats stats;
    const QByteArray dir = QFile::encodeName(m_dir);
    const auto a = makeList('A');
    const auto b = makeList('B');
    // Start from list A.
    if (SDK_DVRMGR_Init(dir.constData()) != 0 || rewrite(a) != 0 || SDK_DVRMGR_UnInit() != 0)
        return stats;

    const QString progressPath = m_dir + QStringLiteral("/progress");
    {
        QFile f(progressPath);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(sizeof(ChildProgress)))
            return stats;
    }
    const int fd = ::open(QFile::encodeName(progressPath).constData(), O_RDWR | O_CLOEXEC);
    void *map = ::mmap(nullptr, sizeof(ChildProgress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return stats;
    auto *progress = static_cast<ChildProgress *>(map);

    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill delays seeded with %u", seed);
    QRandomGenerator random(seed);
    for (int k = 0; k < kills; ++k) {
        progress->phase = kIdle;
        progress->added = 0;
        progress->commits = 0;
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--rewrite-child"), m_dir, progressPath,
                     framed ? QStringLiteral("1") : QStringLiteral("0")});
        if (!child.waitForStarted(10000))
            return stats;
        // The child's own log lines come first; "ready" follows its start.
        bool ready = false;
        while (!ready) {
            while (!child.canReadLine() && child.state() == QProcess::Running)
                child.waitForReadyRead(100);
            if (!child.canReadLine())
                break;
            ready = child.readLine().trimmed() == "ready";
        }
        if (!ready) {
            qWarning("child ended before its first rewrite: %s",
                     child.readAllStandardError().constData());
            return stats;
        }
        // A random moment within the next few rewrites.
        ::usleep(random.bounded(framed ? 40000u : 60000u));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        ++stats.kills;
        if (progress->phase != kIdle)
            ++stats.inRewrite;

        if (SDK_DVRMGR_Init(dir.constData()) != 0) {
            ++stats.foundOther;
            stats.firstOther = QStringLiteral("store did not open");
            continue;
        }
        const auto list = storedList();
        if (sameList(list, a)) {
            ++stats.foundA;
        } else if (sameList(list, b)) {
            ++stats.foundB;
        } else {
            if (stats.foundOther == 0) {
                stats.firstOther = QStringLiteral("%1 records after kill %2 (phase %3, added %4)")
                                       .arg(list.size()).arg(k).arg(progress->phase.load())
                                       .arg(progress->added.load());
            }
            ++stats.foundOther;
            // Give the next child a whole list to start from.
            rewrite(a);
        }
        SDK_DVRMGR_UnInit();
        if (!asideFiles(m_dir).isEmpty()) {
            ++stats.foundOther;
            stats.firstOther = QStringLiteral("a killed rewrite left a damaged store");
            break;
        }
    }
    ::munmap(map, sizeof(ChildProgress));
    return stats;
}

void TestDevStore::crashSafeRewrite()
{
    // A child rewrites the camera list in a loop and is killed at a random
    // moment, again and again: the store always holds one whole list.
    const KillStats s = killRewrites(60, true);
    qInfo("kills %d, inside a rewrite %d, old/new list A %d B %d, other %d", s.kills, s.inRewrite,
          s.foundA, s.foundB, s.foundOther);
    QCOMPARE(s.kills, 60);
    QVERIFY2(s.foundOther == 0, qPrintable(s.firstOther));
    QCOMPARE(s.foundA + s.foundB, s.kills);
    // The kills did land inside rewrites (not only between them).
    QVERIFY2(s.inRewrite >= s.kills / 4, qPrintable(QString::number(s.inRewrite)));
}

void TestDevStore::killDetectorSeesUnframedRewrite()
{
    // Control: the same kills against a rewrite without the transaction
    // frame do leave partial lists, so the test above can see the fault.
    const KillStats s = killRewrites(12, false);
    qInfo("unframed: kills %d, inside a rewrite %d, whole lists %d, partial %d (%s)", s.kills,
          s.inRewrite, s.foundA + s.foundB, s.foundOther, qPrintable(s.firstOther));
    QCOMPARE(s.kills, 12);
    QVERIFY(s.foundOther > 0);
}

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--rewrite-child") == 0)
        return rewriteChild(argv[2], argv[3], std::strcmp(argv[4], "1") == 0);
    QCoreApplication app(argc, argv);
    TestDevStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devstore.moc"
