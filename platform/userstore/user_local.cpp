#include "platform/userstore/user_local.h"

#include "common/installdir.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/userstore/userfile.h"

#include <cstring>
#include <mutex>
#include <sys/stat.h>

using namespace varno::userstore;

namespace {

// The store in memory. One mutex guards it; password hashing runs outside
// the lock so that logins from several threads do not queue behind each
// other for the full hashing time.
struct State
{
    std::mutex mutex;
    bool ready = false;
    unsigned generation = 0; // changes at every Init and UnInit
    std::string path;
    QList<UserRecord> users;
};

State &state()
{
    static State *s = new State; // never destroyed: callers may run during exit
    return *s;
}

// A 32-byte name or password buffer that may lack its terminator.
QByteArray fieldBytes(const char *field)
{
    return QByteArray(field, static_cast<qsizetype>(varno::textLength(field, 32)));
}

void wipe(QByteArray &secret)
{
    if (!secret.isEmpty())
        std::memset(secret.data(), 0, static_cast<size_t>(secret.size()));
    secret.clear();
}

qsizetype findUser(const QList<UserRecord> &users, const QByteArray &name)
{
    for (qsizetype i = 0; i < users.size(); ++i) {
        if (users.at(i).name == name)
            return i;
    }
    return -1;
}

// Writes the store; the caller holds the mutex.
bool saveLocked(State &s, const QList<UserRecord> &users)
{
    if (!writeAtomic(s.path, serialise(users))) {
        WriteLog(2, "%s(%d):Write user store(%s) failed, errno(%d)!!!", "User_local::save",
                 __LINE__, s.path.c_str(), errno);
        return false;
    }
    return true;
}

} // namespace

extern "C" {

int User_local_Init()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (s.ready)
        return 0;

    const std::string &dir = varno::installDir();
    if (!varno::makePath(dir)) {
        WriteLog(2, "%s(%d):Create folder(%s) failed, errno(%d)!!!", "User_local_Init", __LINE__,
                 dir.c_str(), errno);
        return USER_LOCAL_ERR_STORE;
    }
    s.path = dir + "/" + kFileName;

    QList<UserRecord> users;
    switch (readStore(s.path, &users)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Missing:
        break;
    case ReadResult::Unreadable:
        // Never fall back to the default account when a store exists that
        // may hold a changed password.
        WriteLog(2, "%s(%d):Read user store(%s) failed, errno(%d)!!!", "User_local_Init",
                 __LINE__, s.path.c_str(), errno);
        return USER_LOCAL_ERR_STORE;
    case ReadResult::Corrupt: {
        const std::string aside = setAside(s.path);
        if (aside.empty()) {
            WriteLog(2, "%s(%d):User store(%s) is corrupt and cannot be set aside, errno(%d)!!!",
                     "User_local_Init", __LINE__, s.path.c_str(), errno);
            return USER_LOCAL_ERR_STORE;
        }
        WriteLog(2, "%s(%d):User store(%s) is corrupt, set aside as(%s)!!!", "User_local_Init",
                 __LINE__, s.path.c_str(), aside.c_str());
        users.clear();
        break;
    }
    }

    if (users.isEmpty()) {
        users.append(makeRecord(USER_LOCAL_DEFAULT_NAME, USER_LOCAL_DEFAULT_PASSWORD));
        WriteLog(0, "[USER]Created default user(%s)!!!", USER_LOCAL_DEFAULT_NAME);
        // A store that cannot be written still lets the operator log in with
        // the default account; the next successful write creates the file.
        saveLocked(s, users);
    } else if (::chmod(s.path.c_str(), 0600) != 0) {
        WriteLog(3, "%s(%d):Set mode of user store(%s) failed, errno(%d)!!!", "User_local_Init",
                 __LINE__, s.path.c_str(), errno);
    }

    s.users = users;
    s.ready = true;
    ++s.generation;
    WriteLog(0, "[USER]User store ready, user count(%d)!!!", static_cast<int>(users.size()));
    return 0;
}

int User_local_UnInit()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!s.ready)
        return 0;
    s.ready = false;
    ++s.generation;
    s.users.clear();
    return 0;
}

int User_local_getusrinfo(int *count, char *info)
{
    if (!count || !info)
        return USER_LOCAL_ERR_PARAM;
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!s.ready) {
        *count = 0;
        return USER_LOCAL_ERR_NOT_INIT;
    }
    const int n = static_cast<int>(qMin<qsizetype>(s.users.size(), USER_LOCAL_MAX_USERS));
    for (int i = 0; i < n; ++i)
        varno::setText(info + i * USER_LOCAL_INFO_SIZE, USER_LOCAL_INFO_SIZE, s.users.at(i).name);
    *count = n;
    return 0;
}

int User_local_login(const char user[32], const char password[32])
{
    if (!user || !password)
        return USER_LOCAL_ERR_PARAM;
    const QByteArray name = fieldBytes(user);
    QByteArray secret = fieldBytes(password);

    State &s = state();
    UserRecord record;
    {
        std::lock_guard lock(s.mutex);
        if (!s.ready) {
            wipe(secret);
            return USER_LOCAL_ERR_NOT_INIT;
        }
        const qsizetype i = findUser(s.users, name);
        if (i < 0) {
            wipe(secret);
            return USER_LOCAL_NO_USER;
        }
        record = s.users.at(i);
    }

    const bool match = equalConstantTime(deriveHash(secret, record.salt, record.iterations),
                                         record.hash);
    wipe(secret);
    return match ? 0 : USER_LOCAL_BAD_PASSWORD;
}

int User_local_chpass(const char user[32], const char oldPassword[32], const char newPassword[32])
{
    if (!user || !oldPassword || !newPassword)
        return USER_LOCAL_ERR_PARAM;
    const size_t newLength = varno::textLength(newPassword, 32);
    if (newLength == 0 || newLength > 31)
        return USER_LOCAL_ERR_PARAM;

    const QByteArray name = fieldBytes(user);
    QByteArray oldSecret = fieldBytes(oldPassword);
    QByteArray newSecret = fieldBytes(newPassword);

    State &s = state();
    UserRecord record;
    unsigned generation = 0;
    {
        std::lock_guard lock(s.mutex);
        if (!s.ready) {
            wipe(oldSecret);
            wipe(newSecret);
            return USER_LOCAL_ERR_NOT_INIT;
        }
        const qsizetype i = findUser(s.users, name);
        if (i < 0) {
            wipe(oldSecret);
            wipe(newSecret);
            return USER_LOCAL_NO_USER;
        }
        record = s.users.at(i);
        generation = s.generation;
    }

    const bool match = equalConstantTime(deriveHash(oldSecret, record.salt, record.iterations),
                                         record.hash);
    wipe(oldSecret);
    if (!match) {
        wipe(newSecret);
        return USER_LOCAL_BAD_PASSWORD;
    }
    const UserRecord renewed = makeRecord(name, newSecret);
    wipe(newSecret);

    std::lock_guard lock(s.mutex);
    if (!s.ready || s.generation != generation)
        return USER_LOCAL_ERR_NOT_INIT;
    const qsizetype i = findUser(s.users, name);
    if (i < 0)
        return USER_LOCAL_NO_USER;
    if (s.users.at(i).hash != record.hash || s.users.at(i).salt != record.salt) {
        // Another change of the same password won the race; the old
        // password given here may no longer be the current one.
        return USER_LOCAL_ERR_CONFLICT;
    }
    QList<UserRecord> users = s.users;
    users[i] = renewed;
    if (!saveLocked(s, users))
        return USER_LOCAL_ERR_STORE;
    s.users = users;
    WriteLog(0, "[USER]Password of user(%s) changed!!!", name.constData());
    return 0;
}

} // extern "C"
