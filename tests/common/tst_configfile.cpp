// Configuration files: what is refused before it is opened, and settings
// files that are set aside before they are written again.
#include "common/configfile.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

class TestConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void refusedAndSetAside_data();
    void refusedAndSetAside();
};

void TestConfigFile::refusedAndSetAside_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("state");
    QTest::newRow("missing") << 0 << int(varno::ConfigFileState::Missing);
    QTest::newRow("small file") << 1 << int(varno::ConfigFileState::Usable);
    QTest::newRow("exactly the limit") << 2 << int(varno::ConfigFileState::Usable);
    QTest::newRow("one byte over") << 3 << int(varno::ConfigFileState::Refused);
    QTest::newRow("a folder") << 4 << int(varno::ConfigFileState::Refused);
    QTest::newRow("a fifo") << 5 << int(varno::ConfigFileState::Refused);
}

void TestConfigFile::refusedAndSetAside()
{
    QFETCH(int, kind);
    QFETCH(int, state);
    const QString dir = varno::test::tempRoot() + QStringLiteral("/conf-%1").arg(kind);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/live.conf");
    const std::string p = QFile::encodeName(path).toStdString();
    QFile f(path);
    if (kind >= 1 && kind <= 3) {
        QVERIFY(f.open(QIODevice::WriteOnly));
        const qint64 size = kind == 1 ? 10 : varno::kMaxConfigFileBytes + (kind == 3 ? 1 : 0);
        QVERIFY(f.resize(size));
        f.close();
    } else if (kind == 4) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == 5) {
        QCOMPARE(::mkfifo(p.c_str(), 0600), 0);
    }
    QCOMPARE(int(varno::checkConfigFile(p, "live.conf")), state);
    QVERIFY(varno::prepareSettingsFile(p, "live.conf"));
    const QStringList aside = QDir(dir).entryList({QStringLiteral("live.conf.corrupt-*")},
                                                  QDir::AllEntries | QDir::System);
    // A refused file is kept beside; the name is free for a fresh file.
    QCOMPARE(aside.size(), state == int(varno::ConfigFileState::Refused) ? 1 : 0);
    QCOMPARE(QFileInfo::exists(path), state == int(varno::ConfigFileState::Usable));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
