#include "common/ui/desktopinfo.h"

#include "tests/support/testenv.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QScreen>
#include <QtTest>

// Runs on an offscreen display with two monitors side by side:
// 0: 800x600 at (0,0), 1: 1024x768 at (800,0).
class TestDesktopInfo : public QObject
{
    Q_OBJECT

private slots:
    void pickRule_data();
    void pickRule();
    void noMonitor();
    void twoMonitorsFollowTheCursor();
    void logLines();
};

void TestDesktopInfo::pickRule_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("expected");
    QTest::newRow("first, top-left pixel") << 0 << 0 << 1 << 0;
    QTest::newRow("first, last column") << 799 << 300 << 1 << 0;
    QTest::newRow("first, last row") << 10 << 599 << 1 << 0;
    QTest::newRow("second, first column") << 800 << 0 << 0 << 1;
    QTest::newRow("second, bottom-right pixel") << 1823 << 767 << 0 << 1;
    QTest::newRow("below the first: keep 1") << 100 << 650 << 1 << 1;
    QTest::newRow("below the first: keep 0") << 100 << 650 << 0 << 0;
    QTest::newRow("left of all") << -5 << 10 << 1 << 1;
    QTest::newRow("right of all") << 1824 << 10 << 0 << 0;
    QTest::newRow("stale index falls back to 0") << -5 << -5 << 7 << 0;
    QTest::newRow("negative index falls back to 0") << -5 << -5 << -3 << 0;
}

void TestDesktopInfo::pickRule()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, previous);
    QFETCH(int, expected);
    const std::vector<QRect> rects{QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)};
    QCOMPARE(CDesktopInfo::pickMonitor(rects, QPoint(x, y), previous), expected);
}

void TestDesktopInfo::noMonitor()
{
    QCOMPARE(CDesktopInfo::pickMonitor({}, QPoint(0, 0), 0), -1);
}

void TestDesktopInfo::twoMonitorsFollowTheCursor()
{
    QCOMPARE(QGuiApplication::screens().size(), 2);
    CDesktopInfo *info = CDesktopInfo::instance();
    QCOMPARE(info, CDesktopInfo::instance());

    QCursor::setPos(QPoint(1000, 100));
    QCOMPARE(info->currentMonitorRect(), QRect(800, 0, 1024, 768));
    QCOMPARE(info->currentIndex(), 1);
    QCOMPARE(info->monitorCount(), 2);

    // Outside every monitor (below the smaller one): the choice stays.
    QCursor::setPos(QPoint(100, 700));
    QCOMPARE(info->currentMonitorRect(), QRect(800, 0, 1024, 768));

    QCursor::setPos(QPoint(799, 599));
    QCOMPARE(info->currentMonitorRect(), QRect(0, 0, 800, 600));
    QCOMPARE(info->currentIndex(), 0);
}

void TestDesktopInfo::logLines()
{
    QCursor::setPos(QPoint(5, 5));
    CDesktopInfo::instance()->currentMonitorRect();
    QFile log(varno::test::installDir() + QStringLiteral("/log/Varno.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains("[DESKTOP]Monitor num(2)!!!\r\n"));
    QVERIFY(text.contains("[DESKTOP]Monitor(0), rect(0,0,800,600)!!!\r\n"));
    QVERIFY(text.contains("[DESKTOP]Monitor(1), rect(800,0,1024,768)!!!\r\n"));
}

int main(int argc, char *argv[])
{
    // Two offscreen monitors described by the offscreen platform's own
    // configuration file.
    const QString config = varno::test::tempRoot() + QStringLiteral("/screens.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens":[
        {"name":"left","x":0,"y":0,"width":800,"height":600,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1},
        {"name":"right","x":800,"y":0,"width":1024,"height":768,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}
    ]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    TestDesktopInfo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopinfo.moc"
