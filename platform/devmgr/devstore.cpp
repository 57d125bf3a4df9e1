// The store half of the device manager library: the camera list and the
// operation log in one SQLite file in the installation directory.

#include "platform/devmgr/devstore.h"
#include "platform/devmgr/sdk_dvrmgr.h"

#include "common/installdir.h"
#include "common/logfile.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace varno::devmgr;

namespace {

enum Stmt {
    kCountDev,
    kInsertDev,
    kSelectDev,
    kDeleteDev,
    kInsertLog,
    kPruneLog,
    kSelectLog,
    kStmtCount
};

const char *const kStmtSql[kStmtCount] = {
    "SELECT count(*) FROM device",
    "INSERT INTO device(pos, record) VALUES((SELECT ifnull(max(pos), 0) + 1 FROM device), ?1)",
    "SELECT record FROM device ORDER BY pos LIMIT ?1",
    "DELETE FROM device",
    "INSERT INTO oplog(entry) VALUES(?1)",
    "DELETE FROM oplog WHERE seq <= ?1",
    "SELECT entry FROM (SELECT seq, entry FROM oplog ORDER BY seq DESC LIMIT ?1) ORDER BY seq",
};

const char *const kSchema =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE device("
    " pos INTEGER PRIMARY KEY,"
    " record BLOB NOT NULL CHECK(typeof(record) = 'blob' AND length(record) = 492));"
    "CREATE TABLE oplog("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " entry BLOB NOT NULL CHECK(typeof(entry) = 'blob' AND length(entry) = 308));"
    "PRAGMA user_version = 1;"
    "COMMIT;";

static_assert(sizeof(DeviceInfo_s) == 492);
static_assert(sizeof(LogInfo_s) == 308);

struct State
{
    std::mutex mutex;
    std::condition_variable rewriteEnded;
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt[kStmtCount] = {};
    std::string dir;
    std::string path;
    bool rewriteOpen = false;
    bool rewriteFailed = false; // SQLite dropped the transaction on an error
    std::thread::id rewriteOwner;
};

State &state()
{
    static State *s = new State; // never destroyed: callers may run during exit
    return *s;
}

bool isCorruption(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// The mutex, taken once no other thread's rewrite is open (or after the
// wait gave up, when ok is false).
struct Access
{
    explicit Access(State &s)
        : lock(s.mutex)
    {
        const auto self = std::this_thread::get_id();
        ok = s.rewriteEnded.wait_for(lock, std::chrono::milliseconds(kRewriteWaitMs), [&] {
            return !s.rewriteOpen || s.rewriteOwner == self;
        });
    }
    std::unique_lock<std::mutex> lock;
    bool ok = false;
};

bool inOwnRewrite(const State &s)
{
    return s.rewriteOpen && s.rewriteOwner == std::this_thread::get_id();
}

// Resets a prepared statement when the call is done with it.
class StmtUse
{
public:
    StmtUse(State &s, Stmt which)
        : m_stmt(s.stmt[which])
    {
    }
    ~StmtUse()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    sqlite3_stmt *get() const { return m_stmt; }
    StmtUse(const StmtUse &) = delete;
    StmtUse &operator=(const StmtUse &) = delete;

private:
    sqlite3_stmt *m_stmt;
};

int execSql(sqlite3 *db, const char *sql, const char *caller, int line)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        WriteLog(2, "%s(%d):SQL(%.40s) failed, ret(%d), %s!!!", caller, line, sql, rc,
                 error ? error : sqlite3_errstr(rc));
    }
    sqlite3_free(error);
    return rc;
}

// First column of the first row of sql as text (empty when no row).
int queryText(sqlite3 *db, const char *sql, std::string *out)
{
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    out->clear();
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        if (text)
            *out = text;
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
}

int queryInt(sqlite3 *db, const char *sql, long long *out)
{
    std::string text;
    const int rc = queryText(db, sql, &text);
    if (rc == SQLITE_OK)
        *out = text.empty() ? 0 : std::strtoll(text.c_str(), nullptr, 10);
    return rc;
}

void closeDb(State &s)
{
    for (auto &stmt : s.stmt) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    if (s.db) {
        const int rc = sqlite3_close_v2(s.db);
        if (rc != SQLITE_OK)
            WriteLog(2, "%s(%d):Close device store failed, ret(%d)!!!", "closeDb", __LINE__, rc);
        s.db = nullptr;
    }
}

enum class OpenResult { Ok, Corrupt, Failed };

OpenResult failedWith(int rc, const char *what, int line)
{
    WriteLog(2, "%s(%d):%s failed, ret(%d), %s!!!", "DevStore::open", line, what, rc,
             sqlite3_errstr(rc));
    return isCorruption(rc) ? OpenResult::Corrupt : OpenResult::Failed;
}

OpenResult openDb(State &s)
{
    // SQLite would create the file with mode 0644, and its -wal and -shm
    // files take the mode of the database file: create it 0600 first.
    struct stat st {};
    if (::lstat(s.path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            WriteLog(2, "%s(%d):Device store(%s) is not a regular file!!!", "DevStore::open",
                     __LINE__, s.path.c_str());
            return OpenResult::Corrupt;
        }
        for (const char *suffix : {"", "-wal", "-shm"}) {
            const std::string p = s.path + suffix;
            if (::chmod(p.c_str(), 0600) != 0 && errno != ENOENT) {
                WriteLog(3, "%s(%d):Set mode of(%s) failed, errno(%d)!!!", "DevStore::open",
                         __LINE__, p.c_str(), errno);
            }
        }
    } else if (errno == ENOENT) {
        const int fd = ::open(s.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            WriteLog(2, "%s(%d):Create device store(%s) failed, errno(%d)!!!", "DevStore::open",
                     __LINE__, s.path.c_str(), errno);
            return OpenResult::Failed;
        }
        ::fchmod(fd, 0600);
        ::close(fd);
    } else {
        WriteLog(2, "%s(%d):Stat device store(%s) failed, errno(%d)!!!", "DevStore::open",
                 __LINE__, s.path.c_str(), errno);
        return OpenResult::Failed;
    }

    int rc = sqlite3_open_v2(s.path.c_str(), &s.db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc != SQLITE_OK)
        return failedWith(rc, "Open device store", __LINE__);
    sqlite3_extended_result_codes(s.db, 1);
    sqlite3_busy_timeout(s.db, kBusyTimeoutMs);

    std::string check;
    rc = queryText(s.db, "PRAGMA quick_check", &check);
    if (rc != SQLITE_OK)
        return failedWith(rc, "Check device store", __LINE__);
    if (check != "ok") {
        const std::string first = check.substr(0, check.find('\n'));
        WriteLog(2, "%s(%d):Device store check failed, %s!!!", "DevStore::open", __LINE__,
                 first.c_str());
        return OpenResult::Corrupt;
    }

    // Whether the file is ours is decided before anything is written to it.
    long long version = 0;
    rc = queryInt(s.db, "PRAGMA user_version", &version);
    if (rc != SQLITE_OK)
        return failedWith(rc, "Read store version", __LINE__);
    long long objects = 0;
    rc = queryInt(s.db, "SELECT count(*) FROM sqlite_master", &objects);
    if (rc != SQLITE_OK)
        return failedWith(rc, "Read store schema", __LINE__);
    if (version == 0 && objects != 0) {
        WriteLog(2, "%s(%d):Device store holds foreign tables!!!", "DevStore::open", __LINE__);
        return OpenResult::Corrupt;
    }
    if (version != 0 && version != kSchemaVersion) {
        WriteLog(2, "%s(%d):Device store version(%lld) unknown!!!", "DevStore::open", __LINE__,
                 version);
        return OpenResult::Corrupt;
    }

    std::string mode;
    rc = queryText(s.db, "PRAGMA journal_mode = WAL", &mode);
    if (rc != SQLITE_OK)
        return failedWith(rc, "Set WAL mode", __LINE__);
    if (mode != "wal") {
        WriteLog(2, "%s(%d):Device store refused WAL mode, mode(%s)!!!", "DevStore::open",
                 __LINE__, mode.c_str());
        return OpenResult::Failed;
    }
    rc = execSql(s.db, "PRAGMA synchronous = FULL", "DevStore::open", __LINE__);
    if (rc != SQLITE_OK)
        return isCorruption(rc) ? OpenResult::Corrupt : OpenResult::Failed;

    if (version == 0) {
        rc = execSql(s.db, kSchema, "DevStore::open", __LINE__);
        if (rc != SQLITE_OK) {
            if (!sqlite3_get_autocommit(s.db))
                sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
            return isCorruption(rc) ? OpenResult::Corrupt : OpenResult::Failed;
        }
    }

    for (int i = 0; i < kStmtCount; ++i) {
        rc = sqlite3_prepare_v3(s.db, kStmtSql[i], -1, SQLITE_PREPARE_PERSISTENT, &s.stmt[i],
                                nullptr);
        if (rc != SQLITE_OK) {
            // Our version number over tables of another shape.
            WriteLog(2, "%s(%d):Device store schema wrong, ret(%d), %s!!!", "DevStore::open",
                     __LINE__, rc, sqlite3_errmsg(s.db));
            return (rc & 0xff) == SQLITE_ERROR || isCorruption(rc) ? OpenResult::Corrupt
                                                                    : OpenResult::Failed;
        }
    }
    return OpenResult::Ok;
}

// Renames the store (and its -wal file) to <file>.corrupt-<time>[-n] and
// removes its -shm file. Returns the new name, empty on failure.
std::string setAside(const std::string &path)
{
    char stamp[32];
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    ::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    const std::string base = path + ".corrupt-" + stamp;
    for (int i = 0; i < 1000; ++i) {
        const std::string target = i == 0 ? base : base + "-" + std::to_string(i);
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0 || ::lstat((target + "-wal").c_str(), &st) == 0)
            continue;
        if (::rename(path.c_str(), target.c_str()) != 0)
            return {};
        // A write-ahead log belongs to its database: never let it be
        // replayed into the fresh one.
        if (::rename((path + "-wal").c_str(), (target + "-wal").c_str()) != 0 && errno != ENOENT)
            ::unlink((path + "-wal").c_str());
        ::unlink((path + "-shm").c_str());
        return target;
    }
    return {};
}

void endRewrite(State &s)
{
    s.rewriteOpen = false;
    s.rewriteFailed = false;
    s.rewriteOwner = std::thread::id();
    s.rewriteEnded.notify_all();
}

// Called after a failed statement inside the caller's open rewrite. A failed
// write spoils the rewrite: committing the rest would store a list with a
// camera missing. A failed read spoils it only when SQLite dropped the
// transaction, since the rest would then be written outside any transaction.
void noteRewriteError(State &s, bool write)
{
    if (!inOwnRewrite(s) || s.rewriteFailed)
        return;
    if (write || sqlite3_get_autocommit(s.db)) {
        s.rewriteFailed = true;
        WriteLog(2, "%s(%d):Rewrite of the device list failed, it will be rolled back!!!",
                 "DevStore::rewrite", __LINE__);
    }
}

// Opens a transaction of its own unless the caller's rewrite is open.
// Returns SQLITE_OK, and in *own whether a transaction was begun here.
int beginOwn(State &s, bool *own)
{
    *own = false;
    if (inOwnRewrite(s))
        return SQLITE_OK;
    const int rc = execSql(s.db, "BEGIN IMMEDIATE", "DevStore::begin", __LINE__);
    *own = rc == SQLITE_OK;
    return rc;
}

int finishOwn(State &s, bool own, bool commit)
{
    if (!own)
        return SQLITE_OK;
    if (commit) {
        const int rc = execSql(s.db, "COMMIT", "DevStore::commit", __LINE__);
        if (rc == SQLITE_OK)
            return rc;
        if (!sqlite3_get_autocommit(s.db))
            sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
    }
    if (!sqlite3_get_autocommit(s.db))
        sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return SQLITE_OK;
}

int countDevices(State &s, long long *count)
{
    StmtUse q(s, kCountDev);
    const int rc = sqlite3_step(q.get());
    if (rc != SQLITE_ROW)
        return rc;
    *count = sqlite3_column_int64(q.get(), 0);
    return SQLITE_OK;
}

void closeLocked(State &s)
{
    if (s.rewriteOpen) {
        WriteLog(3, "%s(%d):Unfinished rewrite of the device list rolled back!!!",
                 "SDK_DVRMGR_UnInit", __LINE__);
        if (s.db && !sqlite3_get_autocommit(s.db))
            sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
        endRewrite(s);
    }
    closeDb(s);
    s.dir.clear();
}

} // namespace

extern "C" {

int SDK_DVRMGR_Init(const char *installDir)
{
    if (!installDir || !installDir[0])
        return DVRMGR_ERR_PARAM;
    std::string dir = installDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();

    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (s.db) {
        if (s.dir == dir)
            return 0;
        closeLocked(s);
    }
    if (!varno::makePath(dir)) {
        WriteLog(2, "%s(%d):Create folder(%s) failed, errno(%d)!!!", __func__, __LINE__,
                 dir.c_str(), errno);
        return DVRMGR_ERR_STORE;
    }
    s.path = dir + "/" + kStoreFileName;

    OpenResult result = openDb(s);
    if (result == OpenResult::Corrupt) {
        closeDb(s);
        const std::string aside = setAside(s.path);
        if (aside.empty()) {
            WriteLog(2, "%s(%d):Device store(%s) is corrupt and cannot be set aside, errno(%d)!!!",
                     __func__, __LINE__, s.path.c_str(), errno);
            return DVRMGR_ERR_STORE;
        }
        WriteLog(2, "%s(%d):Device store(%s) is corrupt, set aside as(%s)!!!", __func__, __LINE__,
                 s.path.c_str(), aside.c_str());
        result = openDb(s);
    }
    if (result != OpenResult::Ok) {
        closeDb(s);
        WriteLog(2, "%s(%d):Open device store(%s) failed!!!", __func__, __LINE__, s.path.c_str());
        return DVRMGR_ERR_STORE;
    }
    s.dir = dir;

    long long count = 0;
    countDevices(s, &count);
    WriteLog(0, "[DEVICE]Device store(%s) ready, device count(%lld)!!!", s.path.c_str(), count);
    return 0;
}

int SDK_DVRMGR_UnInit()
{
    State &s = state();
    // Waits for another thread's rewrite to end; one that never ends is
    // rolled back when the wait gives up.
    Access access(s);
    closeLocked(s);
    return 0;
}

int SDK_DVRMGR_GetDevInfo(DeviceInfo_s *records, int *count)
{
    if (!records || !count)
        return DVRMGR_ERR_PARAM;
    *count = 0;
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;

    StmtUse q(s, kSelectDev);
    sqlite3_bind_int(q.get(), 1, kMaxDevices + 1);
    int n = 0;
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        if (n == kMaxDevices) {
            WriteLog(3, "%s(%d):Device store holds more than %d devices, the rest ignored!!!",
                     __func__, __LINE__, kMaxDevices);
            rc = SQLITE_DONE;
            break;
        }
        const int bytes = sqlite3_column_bytes(q.get(), 0);
        const void *blob = sqlite3_column_blob(q.get(), 0);
        if (bytes != static_cast<int>(sizeof(DeviceInfo_s)) || !blob) {
            WriteLog(3, "%s(%d):Device record of %d bytes skipped!!!", __func__, __LINE__, bytes);
            continue;
        }
        std::memcpy(&records[n], blob, sizeof(DeviceInfo_s));
        ++n;
    }
    if (rc != SQLITE_DONE) {
        WriteLog(2, "%s(%d):Read device list failed, ret(%d), %s!!!", __func__, __LINE__, rc,
                 sqlite3_errstr(rc));
        *count = 0;
        noteRewriteError(s, false);
        return DVRMGR_ERR_STORE;
    }
    *count = n;
    return 0;
}

int SDK_DVRMGR_DelDevAll()
{
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (inOwnRewrite(s) && s.rewriteFailed)
        return DVRMGR_ERR_STORE;

    StmtUse q(s, kDeleteDev);
    const int rc = sqlite3_step(q.get());
    if (rc != SQLITE_DONE) {
        WriteLog(2, "%s(%d):Delete device list failed, ret(%d), %s!!!", __func__, __LINE__, rc,
                 sqlite3_errstr(rc));
        noteRewriteError(s, true);
        return DVRMGR_ERR_STORE;
    }
    return 0;
}

int SDK_DVRMGR_AddDevice(DeviceInfo_s info)
{
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (inOwnRewrite(s) && s.rewriteFailed)
        return DVRMGR_ERR_STORE;

    bool own = false;
    int rc = beginOwn(s, &own);
    if (rc != SQLITE_OK)
        return DVRMGR_ERR_STORE;

    long long count = 0;
    rc = countDevices(s, &count);
    if (rc == SQLITE_OK && count >= kMaxDevices) {
        finishOwn(s, own, false);
        char id[sizeof(info.devId) + 1] = {};
        std::memcpy(id, info.devId, sizeof(info.devId));
        WriteLog(3, "%s(%d):Device list is full(%d), device(%s) refused!!!", __func__, __LINE__,
                 kMaxDevices, id);
        return DVRMGR_ERR_FULL;
    }
    if (rc == SQLITE_OK) {
        StmtUse q(s, kInsertDev);
        sqlite3_bind_blob(q.get(), 1, &info, sizeof(info), SQLITE_TRANSIENT);
        rc = sqlite3_step(q.get());
        if (rc == SQLITE_DONE)
            rc = SQLITE_OK;
    }
    if (rc == SQLITE_OK)
        rc = finishOwn(s, own, true);
    if (rc != SQLITE_OK) {
        WriteLog(2, "%s(%d):Add device failed, ret(%d), %s!!!", __func__, __LINE__, rc,
                 sqlite3_errstr(rc));
        finishOwn(s, own, false);
        noteRewriteError(s, true);
        return DVRMGR_ERR_STORE;
    }
    return 0;
}

int SDK_DVRMGR_BeginRewrite()
{
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (s.rewriteOpen) {
        WriteLog(3, "%s(%d):Rewrite already open!!!", __func__, __LINE__);
        return DVRMGR_ERR_TRANSACTION;
    }
    if (execSql(s.db, "BEGIN IMMEDIATE", __func__, __LINE__) != SQLITE_OK)
        return DVRMGR_ERR_STORE;
    s.rewriteOpen = true;
    s.rewriteFailed = false;
    s.rewriteOwner = std::this_thread::get_id();
    return 0;
}

int SDK_DVRMGR_CommitRewrite()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (!inOwnRewrite(s))
        return DVRMGR_ERR_TRANSACTION;
    int result = 0;
    if (s.rewriteFailed) {
        result = DVRMGR_ERR_STORE;
    } else if (execSql(s.db, "COMMIT", __func__, __LINE__) != SQLITE_OK) {
        result = DVRMGR_ERR_STORE;
    }
    if (result != 0) {
        if (!sqlite3_get_autocommit(s.db))
            sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
        WriteLog(2, "%s(%d):Rewrite of the device list failed, the old list is kept!!!", __func__,
                 __LINE__);
    }
    endRewrite(s);
    return result;
}

int SDK_DVRMGR_RollbackRewrite()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (!inOwnRewrite(s))
        return DVRMGR_ERR_TRANSACTION;
    if (!sqlite3_get_autocommit(s.db))
        execSql(s.db, "ROLLBACK", __func__, __LINE__);
    endRewrite(s);
    return 0;
}

int SDK_DVRMGR_WriteLog(LogInfo_s info)
{
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;
    if (inOwnRewrite(s) && s.rewriteFailed)
        return DVRMGR_ERR_STORE;

    bool own = false;
    int rc = beginOwn(s, &own);
    if (rc != SQLITE_OK)
        return DVRMGR_ERR_STORE;
    {
        StmtUse q(s, kInsertLog);
        sqlite3_bind_blob(q.get(), 1, &info, sizeof(info), SQLITE_TRANSIENT);
        rc = sqlite3_step(q.get());
    }
    if (rc == SQLITE_DONE) {
        const long long seq = sqlite3_last_insert_rowid(s.db);
        StmtUse q(s, kPruneLog);
        sqlite3_bind_int64(q.get(), 1, seq - kKeptLogEntries);
        rc = sqlite3_step(q.get());
    }
    rc = rc == SQLITE_DONE ? finishOwn(s, own, true) : rc;
    if (rc != SQLITE_OK) {
        WriteLog(2, "%s(%d):Write operation log failed, ret(%d), %s!!!", __func__, __LINE__, rc,
                 sqlite3_errstr(rc));
        finishOwn(s, own, false);
        noteRewriteError(s, true);
        return DVRMGR_ERR_STORE;
    }
    return 0;
}

int SDK_DVRMGR_ReadLog(LogInfo_s *entries, int *count)
{
    if (!entries || !count)
        return DVRMGR_ERR_PARAM;
    *count = 0;
    State &s = state();
    Access access(s);
    if (!access.ok)
        return DVRMGR_ERR_TRANSACTION;
    if (!s.db)
        return DVRMGR_ERR_NOT_INIT;

    StmtUse q(s, kSelectLog);
    sqlite3_bind_int(q.get(), 1, kMaxLogEntries);
    int n = 0;
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW && n < kMaxLogEntries) {
        const int bytes = sqlite3_column_bytes(q.get(), 0);
        const void *blob = sqlite3_column_blob(q.get(), 0);
        if (bytes != static_cast<int>(sizeof(LogInfo_s)) || !blob)
            continue;
        std::memcpy(&entries[n], blob, sizeof(LogInfo_s));
        ++n;
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        WriteLog(2, "%s(%d):Read operation log failed, ret(%d), %s!!!", __func__, __LINE__, rc,
                 sqlite3_errstr(rc));
        *count = n;
        noteRewriteError(s, false);
        return DVRMGR_ERR_STORE;
    }
    *count = n;
    return 0;
}

} // extern "C"
