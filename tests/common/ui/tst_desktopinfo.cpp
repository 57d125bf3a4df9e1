#include "common/ui/desktopinfo.h"

#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QCursor>
#include <QtTest>

// Runs on an offscreen display with two monitors side by side:
// 0: 800x600 at (0,0), 1: 1024x768 at (800,0).

class TestDesktopInfo : public QObject
{
    Q_OBJECT

private slots:
    void pickRule()
    {
        const std::vector<QRect> rects{QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)};
        struct Case { int x, y, previous, expected; };
        const Case cases[] = {
            {0, 0, 1, 0}, {799, 300, 1, 0}, {10, 599, 1, 0}, // the first monitor's edges belong to it
            {800, 0, 0, 1}, {1823, 767, 0, 1},               // and the second's
            {100, 650, 1, 1}, {100, 650, 0, 0},              // below the first: the choice stays
            {-5, 10, 1, 1}, {1824, 10, 0, 0},                // left and right of all
            {-5, -5, 7, 0}, {-5, -5, -3, 0},                 // a stale index falls back to 0
        };
        for (const Case &c : cases)
            QCOMPARE(CDesktopInfo::pickMonitor(rects, QPoint(c.x, c.y), c.previous), c.expected);
        QCOMPARE(CDesktopInfo::pickMonitor({}, QPoint(0, 0), 0), -1);
    }

    void twoMonitorsFollowTheCursor()
    {
        CDesktopInfo *info = CDesktopInfo::instance();
        QCOMPARE(info, CDesktopInfo::instance());
        QCursor::setPos(QPoint(1000, 100));
        QCOMPARE(info->currentMonitorRect(), QRect(800, 0, 1024, 768));
        QCOMPARE(info->currentIndex(), 1);
        QCOMPARE(info->monitorCount(), 2);
        QCursor::setPos(QPoint(100, 700)); // outside every monitor
        QCOMPARE(info->currentMonitorRect(), QRect(800, 0, 1024, 768));
        QCursor::setPos(QPoint(799, 599));
        QCOMPARE(info->currentMonitorRect(), QRect(0, 0, 800, 600));
        QCOMPARE(info->currentIndex(), 0);

        const QByteArray text = varno::test::logText();
        QVERIFY(text.contains("[DESKTOP]Monitor num(2)!!!\r\n"));
        QVERIFY(text.contains("[DESKTOP]Monitor(0), rect(0,0,800,600)!!!\r\n"));
        QVERIFY(text.contains("[DESKTOP]Monitor(1), rect(800,0,1024,768)!!!\r\n"));
    }
};

int main(int argc, char *argv[])
{
    // Two monitors from the offscreen platform's own configuration file.
    const QString config = varno::test::tempRoot() + QStringLiteral("/screens.json");
    if (!varno::test::writeFile(config, R"({"screens":[
        {"name":"left","x":0,"y":0,"width":800,"height":600,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1},
        {"name":"right","x":800,"y":0,"width":1024,"height":768,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}
    ]})"))
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    TestDesktopInfo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopinfo.moc"
