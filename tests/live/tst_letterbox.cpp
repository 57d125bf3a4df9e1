// Pictures of the live windows keep their shape: letter-boxed in the
// window's background by default, stretched after the menu's check mark is
// taken off, and the choice kept per user across new grids.
#include "live/liveviewsettings.h"
#include "live/qmultivideo.h"
#include "live/qvideoonly.h"
#include "live/qvideoplay.h"
#include "live/videosurface.h"
#include "platform/av/videosink.h"
#include "tests/support/media/testmedia.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QtTest>

#include <memory>

using namespace varno;

namespace {

// A grid of four windows whose first video area is 160 x 120 (4:3).
std::unique_ptr<QVideoOnly> makeGrid(const QString &user)
{
    auto grid = std::make_unique<QVideoOnly>(4);
    if (!user.isEmpty())
        grid->setUserName(user);
    grid->resize(2 * 160 + 3 * QVideoOnly::kGap - 1, 2 * (120 + qmultivideo::kPlayTop) + 3 * QVideoOnly::kGap - 1);
    grid->show();
    return grid;
}

live::VideoSurface *firstSurface(const QVideoOnly &grid)
{
    return grid.videoWin(0)->play()->surface();
}

// Shows a 16:9 picture in the first window and waits for its paint; an
// empty picture when it was not shown.
test::Yuv420 showWidePicture(QVideoOnly &grid, int index)
{
    live::VideoSurface *surface = firstSurface(grid);
    const test::Yuv420 p = test::testPicture(320, 180, index);
    auto sink = av::findVideoSink(surface->nativeHandle());
    const uint64_t before = surface->newPicturesPainted();
    if (!sink || sink->present(p.y.data(), p.width, p.u.data(), p.width / 2, p.v.data(), p.width / 2,
                               p.width, p.height) != 0)
        return {};
    grid.SetVideoPaint(surface->nativeHandle(), false);
    if (!QTest::qWaitFor([&] { return surface->newPicturesPainted() > before; }, 5000))
        return {};
    return p;
}

bool sameColour(QRgb a, const QColor &b)
{
    return QColor(a) == b;
}

} // namespace

class TestLetterbox : public QObject
{
    Q_OBJECT

private slots:
    void fitRectBoundaries()
    {
        const QRect area(10, 20, 160, 120);
        QCOMPARE(av::fitRect(QSize(320, 180), area), QRect(10, 35, 160, 90)); // bars top and bottom
        QCOMPARE(av::fitRect(QSize(100, 200), area), QRect(60, 20, 60, 120)); // bars left and right
        QCOMPARE(av::fitRect(QSize(640, 480), area), area);                   // same shape: all of it
        // Extreme shapes keep at least one pixel and never leave the area.
        QCOMPARE(av::fitRect(QSize(100000, 2), area), QRect(10, 79, 160, 1));
        QCOMPARE(av::fitRect(QSize(2, 100000), area), QRect(89, 20, 1, 120));
        // Nothing known about the source, or no area: the area as it is.
        QCOMPARE(av::fitRect(QSize(), area), area);
        QCOMPARE(av::fitRect(QSize(320, 180), QRect()), QRect());
    }

    void letterBoxedByDefaultAndStretchedWhenUnchecked()
    {
        auto grid = makeGrid(QStringLiteral("anna"));
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        live::VideoSurface *surface = firstSurface(*grid);
        QCOMPARE(surface->size(), QSize(160, 120));
        QVERIFY(grid->keepAspect());
        QVERIFY(grid->aspectAction()->isCheckable());
        QVERIFY(grid->aspectAction()->isChecked());
        QVERIFY(grid->contextMenu()->actions().contains(grid->aspectAction()));
        QCOMPARE(grid->aspectAction()->text(), QStringLiteral("Keep aspect ratio"));
        // The window's background, as it shows before any picture.
        const QColor background(surface->grab().toImage().pixel(2, 2));

        const test::Yuv420 p = showWidePicture(*grid, 0);
        QVERIFY(!p.y.empty());
        // Only the picture's own rectangle is scaled: 160 x 90 in 160 x 120.
        QCOMPARE(surface->currentImage().size(), QSize(160, 90) * surface->devicePixelRatioF());
        QCOMPARE(surface->pictureRect(), QRectF(0, 15, 160, 90));
        QImage shot = surface->grab().toImage();
        for (int x : {0, 80, 159}) {
            for (int y : {0, 14, 105, 119})
                QVERIFY2(sameColour(shot.pixel(x, y), background), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
        const QImage ref = test::referenceRgb(p).scaled(160, 90, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double boxed = test::psnr(shot.copy(0, 15, 160, 90), ref);
        QVERIFY2(boxed > 22, qPrintable(QString::number(boxed)));

        // One click stretches the picture over the whole window.
        grid->aspectAction()->trigger();
        QVERIFY(!grid->keepAspect());
        QVERIFY(!grid->aspectAction()->isChecked());
        QVERIFY(!surface->keepAspect());
        QCOMPARE(surface->pictureRect(), QRectF(0, 0, 160, 120));
        QVERIFY(!showWidePicture(*grid, 0).y.empty());
        QCOMPARE(surface->currentImage().size(), QSize(160, 120) * surface->devicePixelRatioF());
        shot = surface->grab().toImage();
        const QImage stretched = test::referenceRgb(p).scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double full = test::psnr(shot, stretched);
        QVERIFY2(full > 22, qPrintable(QString::number(full)));

        // And back: every window of the grid follows.
        grid->aspectAction()->trigger();
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            QVERIFY(grid->videoWin(i)->play()->surface()->keepAspect());
        QVERIFY(!showWidePicture(*grid, 1).y.empty());
        QCOMPARE(surface->currentImage().size(), QSize(160, 90) * surface->devicePixelRatioF());
        QVERIFY(sameColour(surface->grab().toImage().pixel(80, 2), background));
    }

    void theChoiceIsKeptPerUser()
    {
        QFile::remove(live::LiveViewSettings::filePath());
        {
            auto grid = makeGrid(QStringLiteral("anna"));
            QVERIFY(grid->aspectAction()->isChecked());
            grid->aspectAction()->trigger(); // anna stretches
            QVERIFY(!grid->keepAspect());
        }
        QVERIFY(QFile::exists(live::LiveViewSettings::filePath()));
        {
            // A new grid: nobody logged in yet, then anna.
            auto grid = makeGrid(QString());
            QVERIFY(grid->keepAspect());
            grid->setUserName(QStringLiteral("anna"));
            QVERIFY(!grid->keepAspect());
            QVERIFY(!grid->aspectAction()->isChecked());
            QVERIFY(!firstSurface(*grid)->keepAspect());
            // Another user has a choice of their own: the default.
            grid->setUserName(QStringLiteral("ben"));
            QVERIFY(grid->keepAspect());
            QVERIFY(grid->aspectAction()->isChecked());
            QVERIFY(firstSurface(*grid)->keepAspect());
        }
        {
            auto grid = makeGrid(QStringLiteral("ben"));
            QVERIFY(grid->keepAspect());
            auto other = makeGrid(QStringLiteral("anna"));
            QVERIFY(!other->keepAspect());
            other->aspectAction()->trigger(); // anna letter-boxes again
        }
        QVERIFY(live::LiveViewSettings::keepAspect(QStringLiteral("anna")));
        QVERIFY(live::LiveViewSettings::keepAspect(QStringLiteral("ben")));
        // Before a login nothing is stored.
        auto grid = makeGrid(QString());
        grid->aspectAction()->trigger();
        QVERIFY(!grid->keepAspect());
        QVERIFY(live::LiveViewSettings::keepAspect(QString()));
    }
};

QTEST_MAIN(TestLetterbox)
#include "tst_letterbox.moc"
