// The tip pop-up as the user sees it: slides up into the bottom-right
// corner, stays, fades out, and holds while the mouse is over it. The
// phases are driven by calling the timer slots directly, so nothing depends
// on the machine's speed; one run with the real timers checks that the
// timers drive the same phases.
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
    void slidesStaysFadesAndCloses()
    {
        QTipWidget tip;
        QCOMPARE(tip.phase(), QTipWidget::Phase::Hidden);
        tip.showResult(QStringLiteral("Capture"), QStringLiteral("Failed to save image!"));
        QVERIFY(tip.isVisible());
        // It comes up from below the screen at its right edge and ends in the
        // bottom-right corner, never moving down on the way.
        QCOMPARE(tip.currentY(), area().bottom() + 1);
        int lastY = tip.currentY();
        while (tip.phase() == QTipWidget::Phase::Moving && lastY > area().top()) {
            tip.timeOutMove();
            QVERIFY(tip.currentY() <= lastY);
            lastY = tip.currentY();
        }
        QCOMPARE(tip.phase(), QTipWidget::Phase::Staying);
        QCOMPARE(tip.geometry().bottomRight(), area().bottomRight());
        QCOMPARE(tip.opacity(), 1.0);

        // It stays where it is, fully opaque, then fades out and is gone.
        run(tip, QTipWidget::Phase::Staying, &QTipWidget::timeOutStay);
        QCOMPARE(tip.phase(), QTipWidget::Phase::Fading);
        tip.timeOutMove(); // stray ticks of an earlier phase change nothing
        QCOMPARE(tip.geometry().bottomRight(), area().bottomRight());
        double lastOpacity = tip.opacity();
        while (tip.isVisible() && lastOpacity > 0) {
            tip.timeOutClose();
            QVERIFY(tip.opacity() < lastOpacity || !tip.isVisible());
            lastOpacity = tip.opacity();
        }
        QVERIFY(!tip.isVisible());
        QCOMPARE(tip.phase(), QTipWidget::Phase::Closed);
    }

    void hoverHoldsTheFade()
    {
        QTipWidget tip;
        tip.showResult(QStringLiteral("Capture"), QStringLiteral("x"));
        run(tip, QTipWidget::Phase::Moving, &QTipWidget::timeOutMove);
        run(tip, QTipWidget::Phase::Staying, &QTipWidget::timeOutStay);
        for (int i = 0; i < 4; ++i)
            tip.timeOutClose();
        QVERIFY(tip.opacity() < 1.0);

        // The mouse over it: opaque again and it stays, however long.
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), tip.mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(&tip, &enter);
        QCOMPARE(tip.opacity(), 1.0);
        for (int i = 0; i < 100; ++i)
            tip.timeOutClose();
        QVERIFY(tip.isVisible());
        QCOMPARE(tip.opacity(), 1.0);

        // The mouse gone: it fades out after all.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&tip, &leave);
        run(tip, QTipWidget::Phase::Fading, &QTipWidget::timeOutClose);
        QVERIFY(!tip.isVisible());
    }

    void pictureAndLongText()
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

    void closeButtonAndRestart()
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

    void realTimersReachTheEnd()
    {
        QTipWidget tip;
        tip.showResult(QStringLiteral("Capture"), QStringLiteral("Failed to save image!"));
        QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Staying, 60000);
        QCOMPARE(tip.pos(), tip.targetPos());
        QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Fading, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(tip.phase(), QTipWidget::Phase::Closed, 60000);
        QVERIFY(!tip.isVisible());
    }

private:
    static QRect area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    // Runs the slot of one phase's timer until the phase ends (bounded).
    static void run(QTipWidget &tip, QTipWidget::Phase phase, void (QTipWidget::*tick)())
    {
        for (int i = 0; tip.phase() == phase && i < 10000; ++i)
            (tip.*tick)();
    }
};

QTEST_MAIN(TestQTipWidget)
#include "tst_qtipwidget.moc"
