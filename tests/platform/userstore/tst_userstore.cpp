#include "platform/userstore/user_local.h"
#include "platform/userstore/userfile.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
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
    char bytes[32] = {};
    explicit Field(const char *text) { std::strncpy(bytes, text, sizeof(bytes) - 1); }
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

using varno::test::readFile;
using varno::test::writeFile;

QStringList asideFiles()
{
    return QDir(varno::test::installDir())
        .entryList({QLatin1String(kFileName) + QStringLiteral(".corrupt-*")}, QDir::Files | QDir::Dirs);
}

int fileMode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QList<UserRecord> storedUsers()
{
    QList<UserRecord> users;
    return readStore(storePath().toStdString(), &users) == ReadResult::Ok ? users : QList<UserRecord>();
}

} // namespace

class TestUserStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        User_local_UnInit();
        QDir(varno::test::installDir()).removeRecursively();
        QVERIFY(QDir().mkpath(varno::test::installDir()));
    }

    void cleanup() { User_local_UnInit(); }

    void hashPrimitives()
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
        QCOMPARE(newSalt().size(), kSaltSize);
        QVERIFY(newSalt() != newSalt());
    }

    void initAndDefaultAccount()
    {
        int count = 77;
        char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
        QCOMPARE(User_local_getusrinfo(&count, info), int(USER_LOCAL_ERR_NOT_INIT));
        QCOMPARE(count, 0);
        QCOMPARE(login("admin", "admin"), int(USER_LOCAL_ERR_NOT_INIT));
        QCOMPARE(chpass("admin", "admin", "other"), int(USER_LOCAL_ERR_NOT_INIT));
        QCOMPARE(User_local_UnInit(), 0);
        QVERIFY(!QFile::exists(storePath()));

        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(fileMode(storePath()), 0600);
        QVERIFY(!QFile::exists(storePath() + QStringLiteral(".tmp")));
        std::memset(info, 0x5a, sizeof(info));
        QCOMPARE(User_local_getusrinfo(&count, info), 0);
        QCOMPARE(count, 1);
        QCOMPARE(QByteArray(info), QByteArray(USER_LOCAL_DEFAULT_NAME));
        QCOMPARE(QByteArray(info + 5, 27), QByteArray(27, '\0'));
        QCOMPARE(User_local_getusrinfo(nullptr, info), int(USER_LOCAL_ERR_PARAM));
        QCOMPARE(login(USER_LOCAL_DEFAULT_NAME, USER_LOCAL_DEFAULT_PASSWORD), 0);
        const QList<UserRecord> first = storedUsers();
        QCOMPARE(first.size(), 1);
        QVERIFY(first.at(0).iterations >= 100000);

        // After UnInit (twice) calls fail again; a new store gets a new salt.
        QCOMPARE(User_local_UnInit(), 0);
        QCOMPARE(User_local_UnInit(), 0);
        QCOMPARE(login("admin", "admin"), int(USER_LOCAL_ERR_NOT_INIT));
        QVERIFY(QFile::remove(storePath()));
        QCOMPARE(User_local_Init(), 0);
        QVERIFY(storedUsers().at(0).salt != first.at(0).salt);
        QVERIFY(storedUsers().at(0).hash != first.at(0).hash);
    }

    void loginPaths()
    {
        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(login("admin", "Admin"), int(USER_LOCAL_BAD_PASSWORD));
        QCOMPARE(login("admin", "admin1"), int(USER_LOCAL_BAD_PASSWORD));
        QCOMPARE(login("admin", ""), int(USER_LOCAL_BAD_PASSWORD));
        QCOMPARE(login("Admin", "admin"), int(USER_LOCAL_NO_USER));
        QCOMPARE(login("", "admin"), int(USER_LOCAL_NO_USER));
        QCOMPARE(User_local_login(nullptr, Field("admin")), int(USER_LOCAL_ERR_PARAM));
        QCOMPARE(User_local_login(Field("admin"), nullptr), int(USER_LOCAL_ERR_PARAM));

        // Buffers without a terminator are read up to their 32 bytes, never
        // beyond; bytes behind a terminator do not count.
        struct { char field[32]; char guard[8]; } name, pass;
        std::memset(&name, 'a', sizeof(name));
        std::memset(&pass, 'a', sizeof(pass));
        QCOMPARE(User_local_login(name.field, Field("admin")), int(USER_LOCAL_NO_USER));
        QCOMPARE(User_local_login(Field("admin"), pass.field), int(USER_LOCAL_BAD_PASSWORD));
        char padded[32];
        std::memset(padded, 'x', sizeof(padded));
        std::memcpy(padded, "admin", 6);
        QCOMPARE(User_local_login(padded, padded), 0);
    }

    void chpassPaths()
    {
        QCOMPARE(User_local_Init(), 0);
        char tooLong[32];
        std::memset(tooLong, 'n', sizeof(tooLong));
        QCOMPARE(chpass("admin", "wrong", "Secret1234xyz"), int(USER_LOCAL_BAD_PASSWORD));
        QCOMPARE(chpass("nobody", "admin", "Secret1234xyz"), int(USER_LOCAL_NO_USER));
        QCOMPARE(chpass("admin", "admin", ""), int(USER_LOCAL_ERR_PARAM));
        QCOMPARE(User_local_chpass(Field("admin"), Field("admin"), tooLong), int(USER_LOCAL_ERR_PARAM));
        QCOMPARE(User_local_chpass(Field("admin"), nullptr, Field("x")), int(USER_LOCAL_ERR_PARAM));

        // A store that cannot be written (a folder where the temporary file
        // goes stops even root) keeps the old password everywhere.
        const QByteArray before = readFile(storePath());
        QVERIFY(QDir().mkpath(storePath() + QStringLiteral(".tmp")));
        QCOMPARE(chpass("admin", "admin", "Secret1234xyz"), int(USER_LOCAL_ERR_STORE));
        QCOMPARE(readFile(storePath()), before);
        QVERIFY(QDir(storePath() + QStringLiteral(".tmp")).removeRecursively());
        QCOMPARE(login("admin", "admin"), 0);

        QCOMPARE(chpass("admin", "admin", "Secret1234xyz"), 0);
        QCOMPARE(login("admin", "admin"), int(USER_LOCAL_BAD_PASSWORD));
        QCOMPARE(fileMode(storePath()), 0600);
        const QByteArray file = readFile(storePath());
        QVERIFY(!file.isEmpty());
        for (const QByteArray &form : {QByteArray("Secret1234xyz"), QByteArray("Secret1234xyz").toBase64(),
                                       QByteArray("Secret1234xyz").toHex()}) {
            QVERIFY(!file.contains(form));
        }

        // Survives a restart; the longest password (31 bytes) works exactly.
        QCOMPARE(User_local_UnInit(), 0);
        QCOMPARE(User_local_Init(), 0);
        const char *longest = "0123456789abcdefghijABCDEFGHIJ9";
        QCOMPARE(chpass("admin", "Secret1234xyz", longest), 0);
        QCOMPARE(login("admin", longest), 0);
        QCOMPARE(login("admin", "0123456789abcdefghijABCDEFGHIJ"), int(USER_LOCAL_BAD_PASSWORD));
    }

    void badStoreFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("setAside");

        QByteArray garbage(3000, Qt::Uninitialized);
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 131 + 7) & 0xff);
        const QByteArray head = "{\"format\":\"varno-userstore\",\"version\":";
        auto withUser = [&head](const char *field, const QByteArray &value) {
            QJsonObject u{{QStringLiteral("name"), QStringLiteral("admin")},
                          {QStringLiteral("kdf"), QStringLiteral("pbkdf2-sha256")},
                          {QStringLiteral("iterations"), 100000},
                          {QStringLiteral("salt"), QString::fromLatin1(QByteArray(16, 's').toBase64())},
                          {QStringLiteral("hash"), QString::fromLatin1(QByteArray(32, 'h').toBase64())}};
            u.insert(QLatin1String(field), QJsonDocument::fromJson("[" + value + "]").array().at(0));
            return head + "1,\"users\":[" + QJsonDocument(u).toJson(QJsonDocument::Compact) + "]}";
        };
        QTest::newRow("garbage") << garbage << true;
        QTest::newRow("short") << QByteArray(head.left(20)) << true;
        QTest::newRow("nul bytes") << QByteArray(100, '\0') << true;
        QTest::newRow("oversized") << head + "1,\"users\":[],\"pad\":\"" + QByteArray(70000, 'p') + "\"}" << true;
        QTest::newRow("wrong version") << head + "7,\"users\":[]}" << true;
        QTest::newRow("short hash") << withUser("hash", "\"" + QByteArray(31, 'h').toBase64() + "\"") << true;
        QTest::newRow("bad base64") << withUser("salt", "\"***\"") << true;
        QTest::newRow("endless iterations") << withUser("iterations", "2147483647") << true;
        QTest::newRow("long name") << withUser("name", "\"" + QByteArray(40, 'n') + "\"") << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("no users") << head + "1,\"users\":[]}" << false;
    }

    void badStoreFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, setAside);
        QVERIFY(writeFile(storePath(), content));

        QCOMPARE(User_local_Init(), 0);
        // A damaged file is kept aside byte for byte; an empty one is simply
        // filled. Either way the default account is there.
        const QStringList aside = asideFiles();
        QCOMPARE(aside.size(), setAside ? 1 : 0);
        if (setAside)
            QCOMPARE(readFile(varno::test::installDir() + QLatin1Char('/') + aside.first()), content);
        QCOMPARE(fileMode(storePath()), 0600);
        const QList<UserRecord> users = storedUsers();
        QCOMPARE(users.size(), 1);
        QCOMPARE(users.first().name, QByteArray("admin"));
        if (QByteArray(QTest::currentDataTag()) != "garbage")
            return;

        // (Once:) the account works; a second damaged store in the same second,
        // and a folder in place of the store, are set aside without overwriting.
        QCOMPARE(login("admin", "admin"), 0);
        QCOMPARE(User_local_UnInit(), 0);
        QVERIFY(writeFile(storePath(), "again"));
        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(User_local_UnInit(), 0);
        QVERIFY(QFile::remove(storePath()) && QDir().mkpath(storePath()));
        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(asideFiles().size(), 3);
    }

    void storeWrittenByAnotherRelease()
    {
        // A valid store with a lower work factor and a second user is used as it is.
        UserRecord weak{"admin", kMinIterations, newSalt(), {}};
        weak.hash = deriveHash("oldstyle", weak.salt, weak.iterations);
        QVERIFY(writeFile(storePath(), serialise({weak, makeRecord("operator2", "pw2")})));
        QCOMPARE(User_local_Init(), 0);
        int count = 0;
        char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
        QCOMPARE(User_local_getusrinfo(&count, info), 0);
        QCOMPARE(count, 2);
        QCOMPARE(QByteArray(info + USER_LOCAL_INFO_SIZE), QByteArray("operator2"));
        QCOMPARE(login("admin", "oldstyle"), 0);
        QCOMPARE(login("operator2", "oldstyle"), int(USER_LOCAL_BAD_PASSWORD));
        QVERIFY(asideFiles().isEmpty());
    }

    void threads()
    {
        QCOMPARE(User_local_Init(), 0);
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t, &wrong] {
                for (int r = 0; r < 2; ++r) {
                    const bool right = (t + r) % 2 == 0;
                    if (login("admin", right ? "admin" : "nimda") != (right ? 0 : USER_LOCAL_BAD_PASSWORD))
                        ++wrong;
                    int count = 0;
                    char info[USER_LOCAL_INFO_SIZE * USER_LOCAL_MAX_USERS];
                    if (login("ghost", "admin") != USER_LOCAL_NO_USER
                        || User_local_getusrinfo(&count, info) != 0 || count != 1) {
                        ++wrong;
                    }
                }
            });
        }
        for (auto &th : threads)
            th.join();
        QCOMPARE(wrong.load(), 0);

        // Two changes of the same password from the same old one at once:
        // exactly one wins, and the store holds the winner's password.
        std::atomic<int> rc[2] = {1, 1};
        std::thread a([&] { rc[0] = chpass("admin", "admin", "first1"); });
        std::thread b([&] { rc[1] = chpass("admin", "admin", "second2"); });
        a.join();
        b.join();
        QVERIFY2((rc[0] == 0) != (rc[1] == 0), qPrintable(QStringLiteral("%1 %2").arg(rc[0].load()).arg(rc[1].load())));
        const int loser = rc[0] == 0 ? rc[1] : rc[0];
        QVERIFY(loser == USER_LOCAL_ERR_CONFLICT || loser == USER_LOCAL_BAD_PASSWORD);
        QCOMPARE(User_local_UnInit(), 0);
        QCOMPARE(User_local_Init(), 0);
        QCOMPARE(login("admin", rc[0] == 0 ? "first1" : "second2"), 0);
        QCOMPARE(login("admin", rc[0] == 0 ? "second2" : "first1"), int(USER_LOCAL_BAD_PASSWORD));
    }
};

QTEST_GUILESS_MAIN(TestUserStore)
#include "tst_userstore.moc"
