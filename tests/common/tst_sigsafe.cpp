#include "common/sigsafe.h"

#include <QtTest>

#include <QDateTime>

#include <ctime>
#include <random>


class TestSigSafe : public QObject
{
    Q_OBJECT

private slots:
    void civilTimeMatchesGmtime()
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

    void localNowMatchesLocaltime()
    {
        // A zone far from UTC with a half-hour offset shows a missing offset.
        qputenv("TZ", "Asia/Kolkata");
        ::tzset();
        varno::sigsafe::refreshUtcOffset();
        char storage[32];
        varno::sigsafe::LineBuffer line(storage, sizeof(storage));
        const QDateTime before = QDateTime::currentDateTime();
        line.time(varno::sigsafe::localNow());
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(line.data()), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(stamp.isValid(), line.data());
        QVERIFY2(qAbs(stamp.secsTo(before)) <= 1, line.data());
        qunsetenv("TZ");
        ::tzset();
        varno::sigsafe::refreshUtcOffset();
    }
};

QTEST_GUILESS_MAIN(TestSigSafe)
#include "tst_sigsafe.moc"
