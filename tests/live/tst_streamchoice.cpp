// The stream a live window shows by its size: the sub stream below about
// 60 % of the main picture in either direction, the main stream above, the
// current one kept in between; one stream only (or a "sub" stream that is
// not smaller) always gives the main stream.
#include "live/streamchoice.h"

#include <QtTest>

using varno::live::StreamChoice;

class TestStreamChoice : public QObject
{
    Q_OBJECT

private slots:
    void pick_data();
    void pick();
    void dragAcrossTheLineSwitchesOnceEachWay();
};

void TestStreamChoice::pick_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("mainSize");
    QTest::addColumn<QSize>("subSize");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("expected");

    const QSize fullHd(1920, 1080), sub(640, 360);
    // A 4 x 4 wall on a 1920 x 1080 screen: 474 x 244 windows.
    QTest::newRow("wall of 16, main shown") << QSize(474, 244) << fullHd << sub << 0 << 1;
    QTest::newRow("wall of 16, sub shown") << QSize(474, 244) << fullHd << sub << 1 << 1;
    // Maximised on that screen.
    QTest::newRow("maximised, sub shown") << QSize(1912, 1000) << fullHd << sub << 1 << 0;
    // A wall of 4 on a 3840 x 2160 screen, and on a 1920 x 1080 one.
    QTest::newRow("wall of 4, large screen") << QSize(1900, 1040) << fullHd << sub << 1 << 0;
    QTest::newRow("wall of 4, 1080p screen") << QSize(950, 520) << fullHd << sub << 0 << 1;
    // Either direction decides: wide but low windows take the sub stream.
    QTest::newRow("wide and low") << QSize(1900, 500) << fullHd << sub << 0 << 1;
    QTest::newRow("narrow and high") << QSize(900, 1080) << fullHd << sub << 0 << 1;
    // The band between the thresholds keeps what is shown.
    QTest::newRow("band, main kept") << QSize(1152, 648) << fullHd << sub << 0 << 0;
    QTest::newRow("band, sub kept") << QSize(1152, 648) << fullHd << sub << 1 << 1;
    QTest::newRow("just below 55 %") << QSize(1055, 593) << fullHd << sub << 0 << 1;
    QTest::newRow("at 55 %") << QSize(1056, 594) << fullHd << sub << 0 << 0;
    QTest::newRow("just below 65 %") << QSize(1247, 701) << fullHd << sub << 1 << 1;
    QTest::newRow("at 65 %") << QSize(1248, 702) << fullHd << sub << 1 << 0;
    // One stream, or a second that is not smaller: the main stream.
    QTest::newRow("one stream, small window") << QSize(200, 100) << fullHd << QSize() << 1 << 0;
    QTest::newRow("second not smaller") << QSize(200, 100) << QSize(640, 360) << QSize(1280, 720) << 0 << 0;
    QTest::newRow("second as large") << QSize(200, 100) << sub << sub << 1 << 0;
    // Nothing known yet, or the window is not shown: no change.
    QTest::newRow("sizes unknown, sub") << QSize(1900, 1000) << QSize() << QSize() << 1 << 1;
    QTest::newRow("sizes unknown, main") << QSize(200, 100) << QSize() << sub << 0 << 0;
    QTest::newRow("hidden, main") << QSize() << fullHd << sub << 0 << 0;
    QTest::newRow("hidden, sub") << QSize(0, 0) << fullHd << sub << 1 << 1;
    // Anything but 1 counts as the main stream.
    QTest::newRow("odd current value") << QSize(1152, 648) << fullHd << sub << 7 << 0;
}

void TestStreamChoice::pick()
{
    QFETCH(QSize, area);
    QFETCH(QSize, mainSize);
    QFETCH(QSize, subSize);
    QFETCH(int, current);
    QFETCH(int, expected);
    QCOMPARE(StreamChoice::pick(area, mainSize, subSize, current), expected);
}

// A resize drag from a small window to a large one and back, one pixel of
// width (and the height of a 16:9 picture) at a time: exactly one switch
// each way, at the two thresholds.
void TestStreamChoice::dragAcrossTheLineSwitchesOnceEachWay()
{
    const QSize main(1280, 720), sub(640, 360);
    int shown = 1;
    int switches = 0;
    int up = -1;
    for (int w = 400; w <= 1280; ++w) {
        const int next = StreamChoice::pick(QSize(w, w * 9 / 16), main, sub, shown);
        if (next != shown) {
            ++switches;
            up = w;
        }
        shown = next;
    }
    QCOMPARE(switches, 1);
    QCOMPARE(shown, 0);
    QCOMPARE(up, 832); // 65 % of 1280
    int down = -1;
    for (int w = 1280; w >= 400; --w) {
        const int next = StreamChoice::pick(QSize(w, w * 9 / 16), main, sub, shown);
        if (next != shown) {
            ++switches;
            down = w;
        }
        shown = next;
    }
    QCOMPARE(switches, 2);
    QCOMPARE(shown, 1);
    QCOMPARE(down, 703); // below 55 % of 1280 (704)
}

QTEST_APPLESS_MAIN(TestStreamChoice)
#include "tst_streamchoice.moc"
