#include "platform/userstore/user_local.h"
#include "platform/userstore/userfile.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace varno::userstore;

namespace {

// A zero-filled 32-byte buffer as the callers pass it.
struct Field
{
    char bytes[32];
    explicit Field(const char *text)
    {
        std::memset(bytes, 0, sizeof(bytes));
        std::strncpy(bytes, text, sizeof(bytes) - 1);
    }
    operator const char *() const { return bytes; }
};

int login(const char *user, const char *password)
{
    return User_local_login(Field(user), Field(password));
}

int chpass(const char *user, const char *oldPassword, const char *newPassword)
{
    return User_local_chpass(Field(user), Field(oldPassword), Field(newPassword));
}

QString storePath()
{
    return varno::test::installDir() + QLatin1Char('/') + QLatin1String(kFileName);
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

QStringList asideFiles()
{
    return QDir(varno::test::installDir())
        .entryList({QLatin1String(kFileName) + QStringLiteral(".corrupt-*")}, QDir::Files | QDir::Dirs);
}

int fileMode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

QJsonObject storeObject()
{
    return QJsonDocument::fromJson(readAll(storePath())).object();
}

} // namespace

class TestUserStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hashPrimitives();
    void callsBeforeInitFail();
    void defaultAccountCreated();
    void loginPaths();
    void chpassPaths();
    void chpassKeepsOldPasswordWhenStoreUnwritable();
    void badStoreFilesSetAside_data();
    void badStoreFilesSetAside();
    void emptyStoreGetsDefaultAccount();
    void weakHashRenewedAtLogin();
    void concurrentLogins();
    void concurrentChpassOneWins();
};

void TestUserStore::init()
{
    User_local_UnInit();
    QDir(varno::test::installDir()).removeRecursively();
    QVERIFY(QDir().mkpath(varno::test::installDir()));
}

void TestUserStore::cleanup()
{
    User_local_UnInit();
}

void TestUserStore::hashPrimitives()
{
    // PBKDF2-HMAC-SHA256 vectors of RFC 7914, section 11.
    QCOMPARE(deriveHash("password", "salt", 1).toHex(),
             QByteArray("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"));
    QCOMPARE(deriveHash("password", "salt", 2).toHex(),
             QByteArray("ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"));

    QVERIFY(equalConstantTime("abc", "abc"));
    QVERIFY(!equalConstantTime("abc", "abd"));
    QVERIFY(!equalConstantTime("abc", "ab"));
    QVERIFY(!equalConstantTime(QByteArray("a\0c", 3), QByteArray("a\0d", 3)));

    const QByteArray a = newSalt();
    const QByteArray b = newSalt();
    QCOMPARE(a.size(), kSaltSize);
    QVERIFY(a != b);
}

void TestUserStore::callsBeforeInitFail()
{
    int count = 77;
    char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
    QCOMPARE(User_local_getusrinfo(&count, info), int(USER_LOCAL_ERR_NOT_INIT));
    QCOMPARE(count, 0);
    QCOMPARE(login("admin", "admin"), int(USER_LOCAL_ERR_NOT_INIT));
    QCOMPARE(chpass("admin", "admin", "other"), int(USER_LOCAL_ERR_NOT_INIT));
    QCOMPARE(User_local_UnInit(), 0);
    QVERIFY(!QFile::exists(storePath()));

    // Init twice is harmless, so is UnInit twice; after UnInit calls fail again.
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "admin"), 0);
    QCOMPARE(User_local_UnInit(), 0);
    QCOMPARE(User_local_UnInit(), 0);
    QCOMPARE(login("admin", "admin"), int(USER_LOCAL_ERR_NOT_INIT));
    QCOMPARE(User_local_getusrinfo(nullptr, info), int(USER_LOCAL_ERR_PARAM));
}

void TestUserStore::defaultAccountCreated()
{
    QVERIFY(!QFile::exists(storePath()));
    QCOMPARE(User_local_Init(), 0);
    QVERIFY(QFile::exists(storePath()));
    QCOMPARE(fileMode(storePath()), 0600);
    QVERIFY(!QFile::exists(storePath() + QStringLiteral(".tmp")));

    int count = 0;
    char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
    std::memset(info, 0x5a, sizeof(info));
    QCOMPARE(User_local_getusrinfo(&count, info), 0);
    QCOMPARE(count, 1);
    QCOMPARE(QByteArray(info), QByteArray(USER_LOCAL_DEFAULT_NAME));
    for (int i = int(std::strlen(USER_LOCAL_DEFAULT_NAME)); i < USER_LOCAL_INFO_SIZE; ++i)
        QCOMPARE(info[i], '\0');
    QCOMPARE(login(USER_LOCAL_DEFAULT_NAME, USER_LOCAL_DEFAULT_PASSWORD), 0);

    const QJsonArray users = storeObject().value(QStringLiteral("users")).toArray();
    QCOMPARE(users.size(), 1);
    const QJsonObject admin = users.at(0).toObject();
    QCOMPARE(admin.value(QStringLiteral("name")).toString(), QStringLiteral("admin"));
    QVERIFY(admin.value(QStringLiteral("iterations")).toInt() >= 100000);
    const QString firstSalt = admin.value(QStringLiteral("salt")).toString();

    // A fresh store gets a fresh salt: the same password hashes differently.
    QCOMPARE(User_local_UnInit(), 0);
    QVERIFY(QFile::remove(storePath()));
    QCOMPARE(User_local_Init(), 0);
    const QJsonObject again = storeObject().value(QStringLiteral("users")).toArray().at(0).toObject();
    QVERIFY(again.value(QStringLiteral("salt")).toString() != firstSalt);
    QVERIFY(again.value(QStringLiteral("hash")) != admin.value(QStringLiteral("hash")));
}

void TestUserStore::loginPaths()
{
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "admin"), 0);
    QCOMPARE(login("admin", "Admin"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(login("admin", "admin1"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(login("admin", "admi"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(login("admin", ""), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(login("Admin", "admin"), int(USER_LOCAL_NO_USER));
    QCOMPARE(login("nobody", "admin"), int(USER_LOCAL_NO_USER));
    QCOMPARE(login("", "admin"), int(USER_LOCAL_NO_USER));
    QCOMPARE(User_local_login(nullptr, Field("admin")), int(USER_LOCAL_ERR_PARAM));
    QCOMPARE(User_local_login(Field("admin"), nullptr), int(USER_LOCAL_ERR_PARAM));

    // Buffers without a terminator are read up to their 32 bytes, never beyond.
    struct { char field[32]; char guard[8]; } name, pass;
    std::memset(&name, 'a', sizeof(name));
    std::memset(&pass, 'a', sizeof(pass));
    QCOMPARE(User_local_login(name.field, Field("admin")), int(USER_LOCAL_NO_USER));
    QCOMPARE(User_local_login(Field("admin"), pass.field), int(USER_LOCAL_BAD_PASSWORD));
    // Bytes behind the terminator do not count.
    char padded[32];
    std::memset(padded, 'x', sizeof(padded));
    std::memcpy(padded, "admin", 6);
    QCOMPARE(User_local_login(padded, padded), 0);
}

void TestUserStore::chpassPaths()
{
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(chpass("admin", "wrong", "Secret1234xyz"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(chpass("nobody", "admin", "Secret1234xyz"), int(USER_LOCAL_NO_USER));
    QCOMPARE(chpass("admin", "admin", ""), int(USER_LOCAL_ERR_PARAM));
    char longNew[32];
    std::memset(longNew, 'n', sizeof(longNew));
    QCOMPARE(User_local_chpass(Field("admin"), Field("admin"), longNew), int(USER_LOCAL_ERR_PARAM));
    QCOMPARE(User_local_chpass(Field("admin"), nullptr, Field("x")), int(USER_LOCAL_ERR_PARAM));
    // None of the refusals changed anything.
    QCOMPARE(login("admin", "admin"), 0);

    QCOMPARE(chpass("admin", "admin", "Secret1234xyz"), 0);
    QCOMPARE(login("admin", "Secret1234xyz"), 0);
    QCOMPARE(login("admin", "admin"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(fileMode(storePath()), 0600);

    // The password is nowhere in the file, not even encoded.
    const QByteArray file = readAll(storePath());
    QVERIFY(!file.isEmpty());
    QVERIFY(!file.contains("Secret1234xyz"));
    QVERIFY(!file.contains(QByteArray("Secret1234xyz").toBase64()));
    QVERIFY(!file.contains(QByteArray("Secret1234xyz").toHex()));

    // The change survives a restart; the longest password (31 bytes) works.
    QCOMPARE(User_local_UnInit(), 0);
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "Secret1234xyz"), 0);
    const char *longest = "0123456789abcdefghijABCDEFGHIJ9";
    QCOMPARE(int(std::strlen(longest)), 31);
    QCOMPARE(chpass("admin", "Secret1234xyz", longest), 0);
    QCOMPARE(login("admin", longest), 0);
    QCOMPARE(login("admin", "0123456789abcdefghijABCDEFGHIJ"), int(USER_LOCAL_BAD_PASSWORD));
}

void TestUserStore::chpassKeepsOldPasswordWhenStoreUnwritable()
{
    QCOMPARE(User_local_Init(), 0);
    const QByteArray before = readAll(storePath());
    // A folder where the temporary file must go makes every write fail, even
    // for root.
    QVERIFY(QDir().mkpath(storePath() + QStringLiteral(".tmp")));
    QCOMPARE(chpass("admin", "admin", "newpass"), int(USER_LOCAL_ERR_STORE));
    QCOMPARE(login("admin", "admin"), 0);
    QCOMPARE(login("admin", "newpass"), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(readAll(storePath()), before);
    QVERIFY(QDir(storePath() + QStringLiteral(".tmp")).removeRecursively());
    QCOMPARE(chpass("admin", "admin", "newpass"), 0);
    QCOMPARE(login("admin", "newpass"), 0);
}

void TestUserStore::badStoreFilesSetAside_data()
{
    QTest::addColumn<QByteArray>("content");

    QByteArray garbage(3000, Qt::Uninitialized);
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 131 + 7) & 0xff);
    QTest::newRow("garbage") << garbage;
    QTest::newRow("short") << QByteArray("{\"format\":\"varno-us");
    QTest::newRow("nul bytes") << QByteArray(100, '\0');
    // Larger than any store of ours, though well-formed.
    QByteArray huge = "{\"format\":\"varno-userstore\",\"version\":1,\"users\":[],\"pad\":\""
                      + QByteArray(70 * 1024, 'p') + "\"}";
    QTest::newRow("oversized") << huge;
    QTest::newRow("other json") << QByteArray("[1,2,3]");
    QTest::newRow("wrong version")
        << QByteArray("{\"format\":\"varno-userstore\",\"version\":7,\"users\":[]}");

    auto store = [](const QJsonObject &user) {
        QJsonObject root;
        root.insert(QStringLiteral("format"), QStringLiteral("varno-userstore"));
        root.insert(QStringLiteral("version"), 1);
        root.insert(QStringLiteral("users"), QJsonArray{user});
        return QJsonDocument(root).toJson();
    };
    QJsonObject good;
    good.insert(QStringLiteral("name"), QStringLiteral("admin"));
    good.insert(QStringLiteral("kdf"), QStringLiteral("pbkdf2-sha256"));
    good.insert(QStringLiteral("iterations"), 100000);
    good.insert(QStringLiteral("salt"), QString::fromLatin1(QByteArray(16, 's').toBase64()));
    good.insert(QStringLiteral("hash"), QString::fromLatin1(QByteArray(32, 'h').toBase64()));

    QJsonObject bad = good;
    bad.insert(QStringLiteral("hash"), QString::fromLatin1(QByteArray(31, 'h').toBase64()));
    QTest::newRow("short hash") << store(bad);
    bad = good;
    bad.insert(QStringLiteral("salt"), QStringLiteral("***"));
    QTest::newRow("bad base64") << store(bad);
    bad = good;
    bad.insert(QStringLiteral("iterations"), 2147483647.0);
    QTest::newRow("endless iterations") << store(bad);
    bad = good;
    bad.insert(QStringLiteral("iterations"), 1);
    QTest::newRow("weak iterations") << store(bad);
    bad = good;
    bad.insert(QStringLiteral("name"), QString(40, QLatin1Char('n')));
    QTest::newRow("long name") << store(bad);
    bad = good;
    bad.insert(QStringLiteral("kdf"), QStringLiteral("md5"));
    QTest::newRow("other kdf") << store(bad);
}

void TestUserStore::badStoreFilesSetAside()
{
    QFETCH(QByteArray, content);
    writeAll(storePath(), content);

    QCOMPARE(User_local_Init(), 0);
    // The damaged file is kept aside byte for byte, a fresh store with the
    // default account replaces it.
    const QStringList aside = asideFiles();
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(varno::test::installDir() + QLatin1Char('/') + aside.first()), content);
    QCOMPARE(fileMode(storePath()), 0600);
    QList<UserRecord> users;
    QCOMPARE(readStore(storePath().toStdString(), &users), ReadResult::Ok);
    QCOMPARE(users.size(), 1);
    QCOMPARE(users.first().name, QByteArray("admin"));
    QCOMPARE(users.first().iterations, kIterations);
    int count = 0;
    char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
    QCOMPARE(User_local_getusrinfo(&count, info), 0);
    QCOMPARE(count, 1);
    if (QByteArray(QTest::currentDataTag()) != "garbage")
        return;

    // (Once:) the default account works, and a second damaged store the
    // same second does not overwrite the first one set aside.
    QCOMPARE(login("admin", "admin"), 0);
    QCOMPARE(User_local_UnInit(), 0);
    writeAll(storePath(), "again");
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(asideFiles().size(), 2);
}

void TestUserStore::emptyStoreGetsDefaultAccount()
{
    // An empty file and a store without users are not damage: the default
    // account is added and nothing is set aside.
    writeAll(storePath(), QByteArray());
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "admin"), 0);
    QVERIFY(asideFiles().isEmpty());
    QCOMPARE(User_local_UnInit(), 0);

    writeAll(storePath(), serialise({}));
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "admin"), 0);
    QVERIFY(asideFiles().isEmpty());

    // A folder in place of the store is set aside too.
    QCOMPARE(User_local_UnInit(), 0);
    QVERIFY(QFile::remove(storePath()));
    QVERIFY(QDir().mkpath(storePath()));
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", "admin"), 0);
    QCOMPARE(asideFiles().size(), 1);
}

void TestUserStore::weakHashRenewedAtLogin()
{
    UserRecord weak;
    weak.name = "admin";
    weak.iterations = kMinIterations;
    weak.salt = newSalt();
    weak.hash = deriveHash("oldstyle", weak.salt, weak.iterations);
    UserRecord other = makeRecord("operator2", "pw2");
    writeAll(storePath(), serialise({weak, other}));

    QCOMPARE(User_local_Init(), 0);
    int count = 0;
    char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
    QCOMPARE(User_local_getusrinfo(&count, info), 0);
    QCOMPARE(count, 2);
    QCOMPARE(QByteArray(info), QByteArray("admin"));
    QCOMPARE(QByteArray(info + USER_LOCAL_INFO_SIZE), QByteArray("operator2"));

    // A wrong password renews nothing.
    QCOMPARE(login("admin", "wrong"), int(USER_LOCAL_BAD_PASSWORD));
    QList<UserRecord> users;
    QCOMPARE(readStore(storePath().toStdString(), &users), ReadResult::Ok);
    QCOMPARE(users.at(0).iterations, kMinIterations);

    QCOMPARE(login("admin", "oldstyle"), 0);
    QCOMPARE(readStore(storePath().toStdString(), &users), ReadResult::Ok);
    QCOMPARE(users.size(), 2);
    QCOMPARE(users.at(0).iterations, kIterations);
    QVERIFY(users.at(0).salt != weak.salt);
    QCOMPARE(users.at(1).hash, other.hash);
    QCOMPARE(login("admin", "oldstyle"), 0);
    QCOMPARE(login("operator2", "pw2"), 0);
}

void TestUserStore::concurrentLogins()
{
    QCOMPARE(User_local_Init(), 0);
    constexpr int kThreads = 4;
    constexpr int kRounds = 2;
    std::atomic<int> wrongResults{0};
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrongResults, &calls] {
            for (int r = 0; r < kRounds; ++r) {
                const bool right = (t + r) % 2 == 0;
                const int rc = login("admin", right ? "admin" : "nimda");
                if (rc != (right ? 0 : int(USER_LOCAL_BAD_PASSWORD)))
                    ++wrongResults;
                if (login("ghost", "admin") != USER_LOCAL_NO_USER)
                    ++wrongResults;
                int count = 0;
                char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
                if (User_local_getusrinfo(&count, info) != 0 || count != 1
                    || std::strcmp(info, "admin") != 0) {
                    ++wrongResults;
                }
                calls += 3;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    QCOMPARE(calls.load(), kThreads * kRounds * 3);
    QCOMPARE(wrongResults.load(), 0);
}

void TestUserStore::concurrentChpassOneWins()
{
    QCOMPARE(User_local_Init(), 0);
    // Two operators change the same password at once from the same old one:
    // exactly one change wins and the store holds the winner's password.
    std::atomic<int> results[2] = {0, 0};
    std::thread a([&] { results[0] = chpass("admin", "admin", "first1"); });
    std::thread b([&] { results[1] = chpass("admin", "admin", "second2"); });
    a.join();
    b.join();
    const int ra = results[0];
    const int rb = results[1];
    QVERIFY2((ra == 0) != (rb == 0), qPrintable(QStringLiteral("%1 %2").arg(ra).arg(rb)));
    const int loser = ra == 0 ? rb : ra;
    QVERIFY(loser == USER_LOCAL_ERR_CONFLICT || loser == USER_LOCAL_BAD_PASSWORD);
    const char *winner = ra == 0 ? "first1" : "second2";
    const char *other = ra == 0 ? "second2" : "first1";
    QCOMPARE(login("admin", winner), 0);
    QCOMPARE(login("admin", other), int(USER_LOCAL_BAD_PASSWORD));
    QCOMPARE(User_local_UnInit(), 0);
    QCOMPARE(User_local_Init(), 0);
    QCOMPARE(login("admin", winner), 0);
}

QTEST_GUILESS_MAIN(TestUserStore)
#include "tst_userstore.moc"
