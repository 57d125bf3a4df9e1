// The tip pop-up: slides up into the bottom-right corner, stays, fades, and
// holds while the mouse is over it. The phases are driven by calling the
// timer slots directly, so nothing depends on the machine's speed; one run
// with the real timers checks that the timers drive the same phases.
#include "live/qtipwidget.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestQTipWidget : public QObject
{
    Q_OBJECT

private slots:
    void slidesStaysFadesAndCloses();
    void hoverHoldsTheFade();
    void pictureAndLongText();
    void closeButtonAndRestart();
    void realTimersReachTheEnd();

private:
    static QRect area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

void TestQTipWidget::slidesStaysFadesAndCloses()
{
    QTipWidget tip;
    QCOMPARE(tip.phase(), QTipWidget::Phase::Hidden);
    tip.showResult(QStringLiteral("Capture"), QStringLiteral("Failed to save image!"));
    QVERIFY(tip.isVisible());
    QCOMPARE(tip.phase(), QTipWidget::Phase::Moving);
    QVERIFY(tip.moveTimer()->isActive());
    // Starts just below the available area, at its right edge.
    QCOMPARE(tip.currentY(), area().bottom() + 1);
    QCOMPARE(tip.targetPos(), QPoint(area().right() - tip.width() + 1, area().bottom() - tip.height() + 1));

    // One pixel per tick until flush with the bottom.
    int ticks = 0;
    while (tip.phase() == QTipWidget::Phase::Moving && ticks < 10000) {
        const int y = tip.currentY();
        tip.timeOutMove();
        QCOMPARE(tip.currentY(), y - 1);
        ++ticks;
    }
    QCOMPARE(ticks, tip.height());
    QCOMPARE(tip.pos(), tip.targetPos());
    QCOMPARE(tip.phase(), QTipWidget::Phase::Staying);
    QVERIFY(!tip.moveTimer()->isActive());
    QVERIFY(tip.stayTimer()->isActive());

    tip.timeOutStay();
    tip.timeOutStay();
    QCOMPARE(tip.phase(), QTipWidget::Phase::Staying);
    tip.timeOutStay();
    QCOMPARE(tip.phase(), QTipWidget::Phase::Fading);
    QVERIFY(!tip.stayTimer()->isActive());
    QVERIFY(tip.closeTimer()->isActive());
    tip.timeOutMove(); // stray ticks of an earlier phase change nothing
    QCOMPARE(tip.pos(), tip.targetPos());

    // Ten steps of 0.1: still there after nine, gone after the tenth.
    for (int i = 0; i < 9; ++i)
        tip.timeOutClose();
    QVERIFY(tip.isVisible());
    QVERIFY(qAbs(tip.opacity() - 0.1) < 1e-9);
    tip.timeOutClose();
    QVERIFY(!tip.isVisible());
    QCOMPARE(tip.phase(), QTipWidget::Phase::Closed);
    QVERIFY(!tip.closeTimer()->isActive());
}

void TestQTipWidget::hoverHoldsTheFade()
{
    QTipWidget tip;
    tip.showResult(QStringLiteral("Capture"), QStringLiteral("x"));
    while (tip.phase() == QTipWidget::Phase::Moving)
        tip.timeOutMove();
    for (int i = 0; i < 3; ++i)
        tip.timeOutStay();
    for (int i = 0; i < 4; ++i)
        tip.timeOutClose();
    QVERIFY(tip.opacity() < 0.7);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), tip.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&tip, &enter);
    QVERIFY(tip.hovered());
    QCOMPARE(tip.opacity(), 1.0);
    for (int i = 0; i < 30; ++i)
        tip.timeOutClose();
    QVERIFY(tip.isVisible());
    QCOMPARE(tip.opacity(), 1.0);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&tip, &leave);
    QVERIFY(!tip.hovered());
    for (int i = 0; i < 9; ++i)
        tip.timeOutClose();
    QVERIFY(tip.isVisible());
    tip.timeOutClose();
    QCOMPARE(tip.phase(), QTipWidget::Phase::Closed);
}

void TestQTipWidget::pictureAndLongText()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(
        QStringLiteral("a-very-long-folder-name-for-snapshots/cam-0123456789abcdef-20240101-120000-1.bmp"));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QImage image(320, 180, QImage::Format_RGB888);
    image.fill(QColor(40, 120, 200));
    QVERIFY(image.save(file, "BMP"));

    QTipWidget tip;
    const QString text = QStringLiteral("Snapshot OK.It is saved to:") + file;
    tip.showPicture(QStringLiteral("Capture"), text, file);
    QVERIFY(tip.hasPicture());
    QCOMPARE(tip.message(), text);
    // The long path wraps: the pop-up grows instead of cutting it.
    QCOMPARE(tip.width(), QTipWidget::kWidth);
    QVERIFY(tip.height() >= tip.sizeHint().height());
    QVERIFY(tip.height() <= area().height());

    QTipWidget missing;
    missing.showPicture(QStringLiteral("Capture"), QStringLiteral("x"), dir.filePath(QStringLiteral("none.bmp")));
    QVERIFY(!missing.hasPicture());
    QVERIFY(missing.isVisible());
}

void TestQTipWidget::closeButtonAndRestart()
{
    QTipWidget tip;
    tip.showResult(QStringLiteral("Capture"), QStringLiteral("one"));
    tip.timeOutMove();
    tip.on_closeButton_clicked();
    QCOMPARE(tip.phase(), QTipWidget::Phase::Closed);
    QVERIFY(!tip.moveTimer()->isActive());
    QVERIFY(!tip.isVisible());

    // Shown again it starts over from below the screen at full opacity.
    tip.showResult(QStringLiteral("Capture"), QStringLiteral("two"));
    QCOMPARE(tip.phase(), QTipWidget::Phase::Moving);
    QCOMPARE(tip.currentY(), area().bottom() + 1);
    QCOMPARE(tip.opacity(), 1.0);
    QCOMPARE(tip.message(), QStringLiteral("two"));
}

void TestQTipWidget::realTimersReachTheEnd()
{
    QTipWidget tip;
    tip.showResult(QStringLiteral("Capture"), QStringLiteral("Failed to save image!"));
    QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Staying, 60000);
    QCOMPARE(tip.pos(), tip.targetPos());
    QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Fading, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Closed, 60000);
    QVERIFY(!tip.isVisible());
}

QTEST_MAIN(TestQTipWidget)
#include "tst_qtipwidget.moc"
