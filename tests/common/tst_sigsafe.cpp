#include "common/sigsafe.h"

#include <QtTest>

#include <QDateTime>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <ctime>
#include <random>

using varno::sigsafe::LineBuffer;

class TestSigSafe : public QObject
{
    Q_OBJECT

private slots:
    void civilTimeMatchesGmtime();
    void localNowMatchesLocaltime();
    void numbersMatchPrintf();
    void bufferCutsAndStaysTerminated();
    void makePathCreatesParents();
};

void TestSigSafe::civilTimeMatchesGmtime()
{
    // Edges (epoch, leap days, centuries, 2038) and random instants.
    std::vector<long long> instants = {0,          -1,         86399,      86400,      951782400 /* 2000-02-29 */,
                                       951868800,  4107542399, 2147483647, 2147483648, 1582934400 /* 2020-02-29 */,
                                       -86400 * 366LL, 253402300799 /* 9999-12-31 23:59:59 */};
    std::mt19937_64 rng(20190225);
    std::uniform_int_distribution<long long> dist(-2208988800LL, 4102444800LL); // 1900..2100
    for (int i = 0; i < 20000; ++i)
        instants.push_back(dist(rng));
    for (long long s : instants) {
        const time_t t = static_cast<time_t>(s);
        struct tm ref {};
        QVERIFY(::gmtime_r(&t, &ref));
        const varno::sigsafe::LocalTime got = varno::sigsafe::civilTime(s);
        QCOMPARE(got.year, ref.tm_year + 1900);
        QCOMPARE(got.month, ref.tm_mon + 1);
        QCOMPARE(got.day, ref.tm_mday);
        QCOMPARE(got.hour, ref.tm_hour);
        QCOMPARE(got.minute, ref.tm_min);
        QCOMPARE(got.second, ref.tm_sec);
    }
}

void TestSigSafe::localNowMatchesLocaltime()
{
    // A zone far from UTC with a half-hour offset shows a missing offset.
    qputenv("TZ", "Asia/Kolkata");
    ::tzset();
    varno::sigsafe::refreshUtcOffset();
    char storage[32];
    LineBuffer line(storage, sizeof(storage));
    const QDateTime before = QDateTime::currentDateTime();
    line.time(varno::sigsafe::localNow());
    const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(line.data()), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(stamp.isValid(), line.data());
    QVERIFY2(qAbs(stamp.secsTo(before)) <= 1, line.data());
    qunsetenv("TZ");
    ::tzset();
    varno::sigsafe::refreshUtcOffset();
}

void TestSigSafe::numbersMatchPrintf()
{
    const long long decimals[] = {0, 1, -1, 9, 10, -10, 123456789, LLONG_MAX, LLONG_MIN, INT_MIN};
    for (long long v : decimals) {
        char storage[64];
        LineBuffer line(storage, sizeof(storage));
        line.dec(v);
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%lld", v);
        QCOMPARE(QByteArray(line.data()), QByteArray(expected));
    }
    const unsigned long long hexes[] = {0, 1, 0xf, 0x10, 0xc0000005, 0xC00000FD, 0x80000003, ULLONG_MAX};
    for (unsigned long long v : hexes) {
        char storage[64];
        LineBuffer line(storage, sizeof(storage));
        line.hexAlt(v).add(' ').hex(v, 16);
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%#llx %016llx", v, v);
        QCOMPARE(QByteArray(line.data()), QByteArray(expected));
    }
    char storage[64];
    LineBuffer line(storage, sizeof(storage));
    line.pad(7, 2).add('|').pad(2019, 4).add('|').pad(5, 4).add('|').pad(123, 2);
    QCOMPARE(QByteArray(line.data()), QByteArray("07|2019|0005|123"));
}

void TestSigSafe::bufferCutsAndStaysTerminated()
{
    char storage[9];
    std::memset(storage, 'x', sizeof(storage));
    {
        LineBuffer line(storage, 8); // the ninth byte is a guard
        line.add("abcdef").dec(123456);
        QCOMPARE(QByteArray(line.data()), QByteArray("abcdef1"));
        QCOMPARE(line.size(), size_t(7));
        QVERIFY(line.truncated());
        QCOMPARE(storage[8], 'x');
        line.clear();
        QCOMPARE(line.size(), size_t(0));
        QVERIFY(!line.truncated());
        line.add(static_cast<const char *>(nullptr));
        QCOMPARE(QByteArray(line.data()), QByteArray("(null)"));
    }
    LineBuffer empty(storage, 0); // no room at all: nothing is touched
    empty.add("abc");
    QCOMPARE(storage[0], '(');
}

void TestSigSafe::makePathCreatesParents()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray deep = (dir.path() + QStringLiteral("/a/b/c")).toLocal8Bit();
    QVERIFY(varno::sigsafe::makePath(deep.constData()));
    QVERIFY(QFileInfo(QString::fromLocal8Bit(deep)).isDir());
    QVERIFY(varno::sigsafe::makePath(deep.constData())); // already there
    // A file in the way.
    QFile file(dir.path() + QStringLiteral("/file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!varno::sigsafe::makePath((dir.path() + QStringLiteral("/file/sub")).toLocal8Bit().constData()));
    QVERIFY(!varno::sigsafe::makePath(""));
    QVERIFY(!varno::sigsafe::makePath(QByteArray(5000, 'a').constData()));
}

QTEST_GUILESS_MAIN(TestSigSafe)
#include "tst_sigsafe.moc"
