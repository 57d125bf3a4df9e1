// The live window grid: window assignment, pages, layouts, maximise, the
// context menu, closing with and without recordings, and the record control
// driven through a recorder that notes what it is asked to do. Pictures keep
// their shape: letter-boxed in the window's background by default, stretched
// after the menu's check mark is taken off, the choice kept per user. The
// tip pop-up as the user sees it: slides up into the bottom-right corner,
// stays, fades out, and holds while the mouse is over it; the phases are
// driven by calling the timer slots directly, so nothing depends on the
// machine's speed, and one run with the real timers checks that the timers
// drive the same phases.
#include "live/qvideoonly.h"

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "live/liveviewsettings.h"
#include "live/videosurface.h"
#include "live/qmultivideo.h"
#include "live/qtipwidget.h"
#include "live/qvideohand.h"
#include "live/qvideoplay.h"
#include "platform/av/videosink.h"
#include "record/camerarecorder.h"
#include "record/recordingcontroller.h"
#include "tests/live/livefixture.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/onviftestconf.h"

#include <QAction>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace varno;
using varno::ui::PromptScript;
using namespace livetest;

namespace {

DvrListInfo_s camera(const char *id, bool p2p, int streamType)
{
    DvrListInfo_s d{};
    varno::setText(d.dev.devId, id);
    varno::setText(d.dev.devName, id);
    d.dev.p2pFlag = p2p ? 1 : 0;
    d.dev.streamType = streamType;
    return d;
}

// The recording controller's jobs (starts, stops) ended and their answers
// reached the grid.
bool settled(QVideoOnly &grid)
{
    return QTest::qWaitFor([&] { return grid.recordingController()->jobCount() == 0; }, 20000);
}

// A window for the camera as the live view opens one: asked for, then opened.
int openCamera(QVideoOnly &grid, const QString &id, int channel = 0)
{
    int index = -1;
    const int handle = grid.GetVideoWidget(&index, id, id, channel);
    if (handle <= 0)
        return handle;
    grid.OpenVideoWin(index);
    return index;
}

// A grid shown at a size where every window has room.
struct Grid : QVideoOnly
{
    explicit Grid(int count = 4, QSize size = QSize(800, 600))
        : QVideoOnly(count)
    {
        resize(size);
        show();
    }
};

QRect shownRect(const QVideoOnly &grid, int index)
{
    return grid.videoWin(index)->geometry();
}

// The context menu as prepared for the current window: each stream and
// record entry with "*" when marked (its check picture shown, "?" when the
// two disagree) and "-" when disabled, e.g. "close auto* hd sd- record".
QString menu(QVideoOnly &grid)
{
    grid.prepareContextMenu();
    QStringList out;
    const QList<QPair<QString, QAction *>> entries{{QStringLiteral("close"), grid.closeAction()},
                                                   {QStringLiteral("auto"), grid.autoStreamAction()},
                                                   {QStringLiteral("hd"), grid.hdAction()},
                                                   {QStringLiteral("sd"), grid.sdAction()},
                                                   {QStringLiteral("record"), grid.recordAction()}};
    for (const auto &[name, action] : entries) {
        const bool marked = action->property("marked").toBool();
        out << name + (marked != action->icon().isNull() ? (marked ? QStringLiteral("*") : QString()) : QStringLiteral("?"))
                   + (action->isEnabled() ? QString() : QStringLiteral("-"));
    }
    return out.join(QLatin1Char(' '));
}

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

QRect area()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Runs the slot of one of the tip's phase timers until the phase ends (bounded).
void run(QTipWidget &tip, QTipWidget::Phase phase, void (QTipWidget::*tick)())
{
    for (int i = 0; tip.phase() == phase && i < 10000; ++i)
        (tip.*tick)();
}

} // namespace

class TestQVideoOnly : public QObject
{
    Q_OBJECT

private slots:
    void fifthStreamLandsOnNextPage()
    {
        Grid grid;
        QCOMPARE(grid.count(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(openCamera(grid, QStringLiteral("cam%1").arg(i)), i);
        QSignalSpy selected(&grid, &QVideoOnly::SendVideoWinNum);
        QCOMPARE(openCamera(grid, QStringLiteral("cam4")), 4);
        QCOMPARE(selected.count(), 1); // sound follows the new window
        QCOMPARE(grid.videoWin(4)->hand()->title(), QStringLiteral("cam4-1"));
        QVERIFY(grid.videoWin(4)->isHidden()); // window 5 is on page 2
        QVERIFY(grid.videoWin(0)->isVisible());

        grid.PageForward();
        QCOMPARE(grid.first(), 4);
        QCOMPARE(grid.last(), 7);
        QVERIFY(grid.videoWin(4)->isVisible());
        QVERIFY(grid.videoWin(0)->isHidden());
        QCOMPARE(grid.current(), 8); // the current window moved by a page too
        grid.PageBack();
        QCOMPARE(grid.first(), 0);
        QCOMPARE(grid.current(), 4);
    }

    void pagingWrapsAndTwentyFiveDoesNothing()
    {
        Grid grid;
        grid.ShowVideoCount(8);
        for (int page = 0; page < 3; ++page)
            grid.PageForward();
        QCOMPARE(grid.first(), 24);
        QCOMPARE(grid.last(), 6); // 24, 0, 1, ... 6: wrapped past window 25
        QVERIFY(grid.videoWin(24)->isVisible());
        QVERIFY(grid.videoWin(6)->isVisible());
        QVERIFY(grid.videoWin(7)->isHidden());
        QVERIFY(grid.videoWin(23)->isHidden());
        grid.PageBack();
        QCOMPARE(grid.first(), 16);

        grid.ShowVideoCount(25);
        const int first = grid.first();
        const int current = grid.current();
        QList<QRect> before;
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            before << shownRect(grid, i);
        grid.PageForward();
        grid.PageBack();
        grid.PageBack();
        QCOMPARE(grid.first(), first);
        QCOMPARE(grid.current(), current);
        for (int i = 0; i < QVideoOnly::kWinCount; ++i) {
            QVERIFY(grid.videoWin(i)->isVisible());
            QCOMPARE(shownRect(grid, i), before[i]);
        }

        grid.ShowVideoCount(5); // not a layout: ignored
        QCOMPARE(grid.count(), 25);
    }

    void getVideoWidgetCases()
    {
        QVideoOnly grid;
        int index = 77;
        QCOMPARE(grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("A"), 25), -3);
        QCOMPARE(grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("A"), -1), -3);
        QCOMPARE(index, 77);
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            QVERIFY(!grid.winState(i).used); // a refused channel took no window

        const int handle = grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("A"), 24);
        QVERIFY(handle > 0);
        QCOMPARE(index, 0);
        QCOMPARE(handle, grid.videoWin(0)->nativeHandle());
        QCOMPARE(grid.winState(0).channel, 24);

        index = -1;
        QCOMPARE(grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("A"), 24), -2);
        QCOMPARE(index, 0);
        // Another channel of the same camera is another window.
        QVERIFY(grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("A"), 0) > 0);
        QCOMPARE(index, 1);

        for (int i = 2; i < QVideoOnly::kWinCount; ++i)
            QVERIFY(grid.GetVideoWidget(&index, QStringLiteral("c%1").arg(i), QString(), 0) > 0);
        QCOMPARE(grid.GetVideoWidget(&index, QStringLiteral("z"), QString(), 0), -1);

        // A window given back (a failed start) is the next one handed out.
        grid.SetWinUsed(7, false);
        grid.SetWinUsed(25, false); // out of range: ignored
        grid.SetWinUsed(-1, false);
        QCOMPARE(grid.GetVideoWidget(&index, QStringLiteral("z"), QString(), 0),
                 grid.videoWin(7)->nativeHandle());
        QCOMPARE(index, 7);
        QCOMPARE(grid.winState(7).deviceId, QStringLiteral("z"));
    }

    void winUsedFromAnotherThread()
    {
        Grid grid(4, QSize(640, 480));
        const int index = openCamera(grid, QStringLiteral("cam"));
        QCOMPARE(index, 0);
        const int handle = grid.winState(0).winHandle;
        QVERIFY(!grid.videoWin(0)->play()->painting()); // opened: video

        // The monitor thread asks for windows and switches painting while the
        // user-interface thread lays out: the widget work arrives queued.
        std::atomic<int> got{0};
        std::thread monitor([&] {
            for (int i = 0; i < 10; ++i) {
                int idx = -1;
                if (grid.GetVideoWidget(&idx, QStringLiteral("t%1").arg(i), QString(), 0) > 0)
                    ++got;
            }
            grid.SetVideoPaint(handle, true);
            grid.SetWinUsed(3, false);
        });
        for (int i = 0; i < 20; ++i) {
            grid.ShowVideoCount(i % 2 ? 16 : 4);
            QCoreApplication::processEvents();
        }
        monitor.join();
        QCOMPARE(got.load(), 10);
        QTRY_VERIFY(grid.videoWin(0)->play()->painting());
        QVERIFY(!grid.winState(3).used);
        int idx = -1;
        QCOMPARE(grid.GetVideoWidget(&idx, QStringLiteral("again"), QString(), 0),
                 grid.videoWin(3)->nativeHandle());
    }

    void layoutGeometry_data()
    {
        // Cells of the grids, worked out by hand for a 4-pixel gap (the odd
        // area loses its spare pixels at the right and bottom); the first
        // window of eight spans three cells and two gaps.
        QTest::addColumn<QSize>("area");
        QTest::addColumn<int>("count");
        QTest::addColumn<QSize>("cell");
        QTest::addColumn<QSize>("first");
        QTest::newRow("1920x1080 by 4") << QSize(1920, 1080) << 4 << QSize(954, 534) << QSize(954, 534);
        QTest::newRow("1920x1080 by 8") << QSize(1920, 1080) << 8 << QSize(475, 265) << QSize(1433, 803);
        QTest::newRow("1920x1080 by 16") << QSize(1920, 1080) << 16 << QSize(475, 265) << QSize(475, 265);
        QTest::newRow("1920x1080 by 25") << QSize(1920, 1080) << 25 << QSize(379, 211) << QSize(379, 211);
        QTest::newRow("801x599 by 4") << QSize(801, 599) << 4 << QSize(395, 294) << QSize(395, 294);
        QTest::newRow("801x599 by 8") << QSize(801, 599) << 8 << QSize(195, 145) << QSize(593, 443);
        QTest::newRow("801x599 by 25") << QSize(801, 599) << 25 << QSize(155, 115) << QSize(155, 115);
        QTest::newRow("1000x700 by 16") << QSize(1000, 700) << 16 << QSize(245, 170) << QSize(245, 170);
    }

    void layoutGeometry()
    {
        QFETCH(QSize, area);
        QFETCH(int, count);
        QFETCH(QSize, cell);
        QFETCH(QSize, first);
        Grid grid(count, area);
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCOMPARE(grid.count(), count);

        const int k = count == 4 ? 2 : count == 25 ? 5 : 4;
        QList<QRect> rects;
        for (int i = 0; i < QVideoOnly::kWinCount; ++i) {
            if (!grid.videoWin(i)->isVisible())
                continue;
            rects << shownRect(grid, i);
            // Title bar on top, video below; the surface keeps even sides (the
            // scaler's fast path) and loses at most one line to that.
            const QVideoPlay *play = grid.videoWin(i)->play();
            QCOMPARE(play->geometry().top(), 20);
            QCOMPARE(play->height(), shownRect(grid, i).height() - 20);
            const QSize s = play->surface()->size();
            QVERIFY(s.width() % 2 == 0 && s.height() % 2 == 0);
            QVERIFY(play->width() - s.width() <= 1 && play->height() - s.height() <= 1);
        }
        QCOMPARE(rects.size(), count);
        for (int i = 0; i < rects.size(); ++i) {
            const QRect r = rects[i];
            // Inside the grid with at least the 4-pixel margin.
            QVERIFY2(r.left() >= 4 && r.top() >= 4, qPrintable(QString::number(i)));
            QVERIFY(r.right() <= area.width() - 1 - 3 && r.bottom() <= area.height() - 1 - 3);
            QCOMPARE(r.size(), i == 0 ? first : cell);
            if (i == 0)
                QCOMPARE(r.topLeft(), QPoint(4, 4));
            for (int j = i + 1; j < rects.size(); ++j) {
                // Neighbours never touch: 4 pixels between them.
                QVERIFY(!r.adjusted(-3, -3, 3, 3).intersects(rects[j]));
            }
        }
        // Rows and columns 4 pixels apart: the second cell starts 4 pixels right of
        // the first in the plain layouts.
        if (count != 8) {
            QCOMPARE(rects[1].left() - rects[0].right() - 1, 4);
            QCOMPARE(rects[k].top() - rects[0].bottom() - 1, 4);
        } else {
            // Right column beside the large cell, bottom row below it.
            QCOMPARE(rects[1].left(), rects[0].right() + 1 + 4);
            QCOMPARE(rects[4].top(), rects[0].bottom() + 1 + 4);
            QCOMPARE(rects[3].top(), rects[4].top() - cell.height() - 4);
            QCOMPARE(rects[7].left(), rects[1].left());
        }
    }

    void blueFrameAroundCurrent()
    {
        Grid grid;
        QTest::mouseClick(grid.videoWin(3)->play(), Qt::LeftButton);
        QCOMPARE(grid.current(), 3);
        const QRect r = shownRect(grid, 3);
        QRect frame;
        for (QLabel *line : grid.frameLabels()) {
            QVERIFY(line->isVisible());
            frame = frame.united(line->geometry());
            QVERIFY(!line->geometry().intersects(r)); // outside the window
        }
        QCOMPARE(frame, r.adjusted(-2, -2, 2, 2));

        grid.PageForward(); // current moves to window 8, which is shown
        QCOMPARE(grid.current(), 7);
        grid.ShowVideoCount(4);
        grid.PageBack(); // first back to 0, current to 3
        grid.PageBack(); // first 21: window 3 no longer on the page
        QCOMPARE(grid.first(), 21);
        QCOMPARE(grid.current(), 24);
        grid.ShowVideoCount(4);
        QVERIFY(grid.videoWin(24)->isVisible());
        for (QLabel *line : grid.frameLabels())
            QVERIFY(line->isVisible());
    }

    void maximiseAndRestore()
    {
        Grid grid(16, QSize(1000, 700));
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        const QRect before = shownRect(grid, 5);

        QTest::mouseDClick(grid.videoWin(5)->play(), Qt::LeftButton);
        QVERIFY(grid.isMaximised());
        QCOMPARE(grid.maximisedIndex(), 5);
        QCOMPARE(grid.current(), 5);
        QCOMPARE(shownRect(grid, 5), QRect(4, 4, 992, 692));
        QVERIFY(grid.videoWin(5)->maximised());
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            QCOMPARE(grid.videoWin(i)->isVisible(), i == 5);

        // Paging while maximised steps to the neighbouring window.
        grid.PageForward();
        QCOMPARE(grid.maximisedIndex(), 6);
        QVERIFY(grid.videoWin(6)->isVisible() && grid.videoWin(5)->isHidden());
        grid.PageBack();
        grid.PageBack();
        QCOMPARE(grid.maximisedIndex(), 4);
        QCOMPARE(grid.first(), 0); // the page itself did not move

        // A camera opened while maximised is shown maximised.
        QCOMPARE(openCamera(grid, QStringLiteral("cam")), 0);
        QCOMPARE(grid.maximisedIndex(), 0);

        QTest::mouseDClick(grid.videoWin(0)->play(), Qt::LeftButton);
        QVERIFY(!grid.isMaximised());
        QCOMPARE(grid.count(), 16);
        QCOMPARE(shownRect(grid, 5), before);
        int shown = 0;
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            shown += grid.videoWin(i)->isVisible() ? 1 : 0;
        QCOMPARE(shown, 16);
        // A right double-click does not maximise.
        QTest::mouseDClick(grid.videoWin(2)->play(), Qt::RightButton);
        QVERIFY(!grid.isMaximised());
    }

    void openedWindowLooks()
    {
        Grid grid;
        qmultivideo *win = grid.videoWin(1);
        QCOMPARE(win->hand()->title(), QStringLiteral("2"));
        QVERIFY(!win->hand()->buttonsShown());
        QVERIFY(win->play()->labelShown());
        QVERIFY(win->play()->painting());

        int index = -1;
        QVERIFY(grid.GetVideoWidget(&index, QStringLiteral("a"), QStringLiteral("Gate"), 0) > 0);
        QVERIFY(grid.GetVideoWidget(&index, QStringLiteral("b"), QStringLiteral("Yard"), 2) > 0);
        QCOMPARE(index, 1);
        grid.OpenVideoWin(1);
        QCOMPARE(win->hand()->title(), QStringLiteral("Yard-3"));
        QVERIFY(win->hand()->buttonsShown());
        QVERIFY(win->hand()->recordButton()->isVisible());
        QVERIFY(!win->play()->labelShown());
        QVERIFY(!win->play()->painting());
        QVERIFY(win->inUse());
        QCOMPARE(grid.current(), 1);

        grid.RecvCloseVideoFromReal(QStringLiteral("b"));
        QCOMPARE(win->hand()->title(), QStringLiteral("2"));
        QVERIFY(!win->hand()->buttonsShown());
        QVERIFY(win->play()->labelShown());
        QVERIFY(win->play()->painting());
        QVERIFY(!win->inUse());
    }

    void contextMenuMarksAndRules()
    {
        Grid grid;
        auto log = installRecorder(grid);
        grid.setDevInfo(camera("p2p", true, 0));
        grid.setDevInfo(camera("onvif", false, 0));
        QSignalSpy change(&grid, &QVideoOnly::SendChangeStream);
        QSignalSpy closed(&grid, &QVideoOnly::CloseVideoWinToVWin);

        // An empty window: nothing acts, "Close" does nothing.
        QCOMPARE(menu(grid), QStringLiteral("close- auto* hd- sd- record-"));
        QVERIFY(!grid.closeAllAction()->isEnabled());
        grid.CloseVideo();
        grid.SelectSdAction();
        QCOMPARE(closed.count(), 0);
        QCOMPARE(change.count(), 0);

        QCOMPARE(openCamera(grid, QStringLiteral("p2p")), 0);
        // Following the window's size (the default): neither HD nor SD marked,
        // both offered. Taken off, the user's choice by hand rules as before.
        QCOMPARE(menu(grid), QStringLiteral("close auto* hd sd record"));
        QCOMPARE(grid.contextMenu()->actions().size(), 9); // seven, a separator, "Keep aspect ratio"
        QSignalSpy autoStream(&grid, &QVideoOnly::autoStreamChanged);
        grid.autoStreamAction()->trigger();
        QCOMPARE(autoStream.count(), 1);
        QCOMPARE(autoStream[0][0].toBool(), false);
        QCOMPARE(menu(grid), QStringLiteral("close auto hd*- sd record")); // already HD
        grid.SelectHdAction(); // refused: the camera is on HD
        QCOMPARE(change.count(), 0);

        grid.sdAction()->trigger();
        QCOMPARE(change.count(), 1);
        QCOMPARE(change[0][0].toString(), QStringLiteral("p2p"));
        QCOMPARE(change[0][1].toInt(), 1);
        QCOMPARE(menu(grid), QStringLiteral("close auto hd sd*- record"));

        // Recording: the mark on "Record"; a switch stops and restarts it.
        grid.recordAction()->trigger();
        QVERIFY(settled(grid));
        QVERIFY(grid.isRecording(QStringLiteral("p2p")));
        QCOMPARE(menu(grid), QStringLiteral("close auto hd sd*- record*"));
        QSignalSpy stop(&grid, &QVideoOnly::SendStopRecord);
        grid.hdAction()->trigger();
        QCOMPARE(stop.count(), 1);
        QCOMPARE(change.count(), 2);
        QCOMPARE(change[1][1].toInt(), 0);
        QVERIFY(settled(grid));
        QVERIFY(grid.isRecording(QStringLiteral("p2p"))); // started again
        QCOMPARE(log->stops.load(), 1);

        // A switch while the start is still on its way: that start ends and the
        // recording begins again, on the new stream.
        grid.recordAction()->trigger(); // off
        QVERIFY(settled(grid));
        QVERIFY(!grid.isRecording(QStringLiteral("p2p")));
        log->hold = true;
        const auto unhold = qScopeGuard([&log] { // also when a check below fails
            log->hold = false;
            log->gate.release(2);
        });
        grid.recordAction()->trigger(); // on; the start waits in the factory
        QVERIFY(grid.isRecordStarting(QStringLiteral("p2p")));
        QVERIFY(!grid.isRecording(QStringLiteral("p2p")));
        menu(grid);
        grid.sdAction()->trigger();
        QCOMPARE(stop.count(), 3);
        QCOMPARE(change.count(), 3);
        log->hold = false;
        log->gate.release(2);
        QVERIFY(settled(grid));
        QVERIFY(grid.isRecording(QStringLiteral("p2p")));
        menu(grid);
        grid.hdAction()->trigger(); // back to HD, recording again once settled
        QCOMPARE(change.count(), 4);
        QVERIFY(settled(grid));
        QVERIFY(grid.isRecording(QStringLiteral("p2p")));

        // On again over a window chosen by hand: its choice is cleared too.
        grid.autoStreamAction()->trigger();
        QVERIFY(grid.autoStream());
        QVERIFY(!grid.hasManualStream(QStringLiteral("p2p")));
        QSignalSpy bySize(&grid, &QVideoOnly::SendStreamByWindowSize);
        menu(grid);
        grid.sdAction()->trigger();
        QVERIFY(grid.hasManualStream(QStringLiteral("p2p")));
        QVERIFY(settled(grid)); // the switch restarted the recording
        grid.autoStreamAction()->trigger();
        QCOMPARE(bySize.count(), 1);
        QVERIFY(grid.autoStream() && !grid.hasManualStream(QStringLiteral("p2p")));
        grid.setAutoStream(false);

        // An ONVIF camera never switches from the menu.
        QCOMPARE(openCamera(grid, QStringLiteral("onvif")), 1);
        QCOMPARE(menu(grid), QStringLiteral("close auto hd*- sd- record"));
        grid.SelectSdAction();
        QCOMPARE(change.count(), 5);

        // A window without a device entry shows no stream mark.
        QCOMPARE(openCamera(grid, QStringLiteral("unknown")), 2);
        QCOMPARE(menu(grid), QStringLiteral("close auto hd- sd- record"));

        // The real menu opens on a right click over a window, for that window.
        QContextMenuEvent event(QContextMenuEvent::Mouse, shownRect(grid, 0).center(),
                                grid.mapToGlobal(shownRect(grid, 0).center()));
        QApplication::sendEvent(&grid, &event);
        QCOMPARE(grid.current(), 0);
        QTRY_VERIFY(grid.contextMenu()->isVisible());
        QVERIFY(grid.recordAction()->property("marked").toBool());
        grid.contextMenu()->hide();
    }

    void closeAsksWhileRecording_data()
    {
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QString>("text");
        QTest::newRow("manual") << false
                                << "A running record will be stopped after closing the client. Are "
                                   "you sure to close it?";
        QTest::newRow("alarm") << true
                               << "The client will run in the background because a alarm video is "
                                  "under recording.Are you sure you want to close?";
    }

    void closeAsksWhileRecording()
    {
        QFETCH(bool, alarm);
        QFETCH(QString, text);
        PromptScript prompts;
        Grid grid;
        auto log = installRecorder(grid);
        grid.setDevInfo(camera("cam", true, 0));
        QCOMPARE(openCamera(grid, QStringLiteral("cam")), 0);
        QSignalSpy closed(&grid, &QVideoOnly::CloseVideoWinToVWin);
        QSignalSpy counts(&grid, &QVideoOnly::sendRecordCount);
        QVideoHand *hand = grid.videoWin(0)->hand();
        if (alarm) {
            grid.RecordAlarmStream(QStringLiteral("cam"), 3);
            QVERIFY(settled(grid));
            QCOMPARE(log->alarmType.load(), 1); // motion: file alarm type 1
            QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Alarm);
        } else {
            QTest::mouseClick(hand->recordButton(), Qt::LeftButton);
            QVERIFY(settled(grid));
            QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Normal);
        }
        QVERIFY(grid.isRecording(QStringLiteral("cam")));
        QCOMPARE(counts.count(), 1);

        // No keeps window and recording.
        prompts.answer(QMessageBox::No);
        QTest::mouseClick(hand->closeButton(), Qt::LeftButton);
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests()[0].kind, varno::ui::PromptKind::Question);
        QCOMPARE(prompts.requests()[0].title, QStringLiteral("Close the video"));
        QCOMPARE(prompts.requests()[0].text, text);
        QVERIFY(grid.winState(0).used);
        QVERIFY(grid.isRecording(QStringLiteral("cam")));
        QCOMPARE(closed.count(), 0);
        QCOMPARE(log->stops.load(), 0);

        // Yes stops the recording and closes.
        prompts.answer(QMessageBox::Yes);
        QTest::mouseClick(hand->closeButton(), Qt::LeftButton);
        QCOMPARE(prompts.count(), 2);
        QVERIFY(!grid.winState(0).used);
        QVERIFY(!grid.isRecording(QStringLiteral("cam")));
        QVERIFY(settled(grid));
        QCOMPARE(log->stops.load(), 1);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(closed[0][0].toString(), QStringLiteral("cam"));
        QCOMPARE(counts.count(), 2);
        QCOMPARE(counts[1][0].toInt(), -1);
        QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Reset);

        // A window that does not record closes without a question.
        QCOMPARE(openCamera(grid, QStringLiteral("cam")), 0);
        grid.CloseVideo();
        QCOMPARE(prompts.count(), 2);
        QCOMPARE(closed.count(), 2);
    }

    void closeAll()
    {
        PromptScript prompts;
        Grid grid;
        auto log = installRecorder(grid);
        for (const char *id : {"a", "b", "c"}) {
            grid.setDevInfo(camera(id, true, 0));
            openCamera(grid, QString::fromLatin1(id));
        }
        openCamera(grid, QStringLiteral("d")); // on page 2, not recording
        QVERIFY(grid.beginToRecord(QStringLiteral("a"), 0));
        QVERIFY(grid.beginToRecord(QStringLiteral("c"), 0));
        QVERIFY(settled(grid));
        QSignalSpy closed(&grid, &QVideoOnly::CloseVideoWinToVWin);
        QSignalSpy counts(&grid, &QVideoOnly::sendRecordCount);

        prompts.answer(QMessageBox::No);
        grid.closeAllAction()->trigger();
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests()[0].text,
                 QStringLiteral("2 running record will be stopped after closing. Are you sure to close it?"));
        QCOMPARE(closed.count(), 0);
        QVERIFY(grid.isRecording(QStringLiteral("a")));

        prompts.answer(QMessageBox::Yes);
        grid.CloseAllVideo();
        QCOMPARE(closed.count(), 4);
        QStringList ids;
        for (const auto &args : closed)
            ids << args[0].toString();
        QCOMPARE(ids, (QStringList{"a", "b", "c", "d"}));
        QCOMPARE(counts.count(), 2);
        QVERIFY(settled(grid));
        QCOMPARE(log->stops.load(), 2);
        for (int i = 0; i < QVideoOnly::kWinCount; ++i)
            QVERIFY(!grid.winState(i).used);

        // Nothing recording, nothing open: no question.
        grid.CloseAllVideo();
        QCOMPARE(prompts.count(), 2);
        QCOMPARE(closed.count(), 4);
    }

    void closeFromLiveViewAsksNothing()
    {
        PromptScript prompts;
        QVideoOnly grid;
        auto log = installRecorder(grid);
        grid.setDevInfo(camera("cam", true, 0));
        openCamera(grid, QStringLiteral("other"));
        QCOMPARE(openCamera(grid, QStringLiteral("cam")), 1);
        QVERIFY(grid.beginToRecord(QStringLiteral("cam"), 0));
        QSignalSpy closed(&grid, &QVideoOnly::CloseVideoWinToVWin);
        QSignalSpy stop(&grid, &QVideoOnly::SendStopRecord);
        grid.RecvCloseVideoFromReal(QStringLiteral("cam"));
        QCOMPARE(prompts.count(), 0);
        QCOMPARE(closed.count(), 0);
        QCOMPARE(stop.count(), 0); // the live view stops the recording itself
        QVERIFY(!grid.winState(1).used);
        QVERIFY(grid.winState(0).used);
        grid.RecvCloseVideoFromReal(QStringLiteral("nobody")); // harmless
        QVERIFY(grid.winState(0).used);
    }

    void snapshotFromTitleBarAndMenu()
    {
        Grid grid;
        openCamera(grid, QStringLiteral("a"));
        int index = -1;
        grid.GetVideoWidget(&index, QStringLiteral("b"), QStringLiteral("B"), 3);
        grid.OpenVideoWin(index);
        QSignalSpy capture(&grid, &QVideoOnly::CapturePicWinToVWin);

        QTest::mouseClick(grid.videoWin(0)->hand()->snapshotButton(), Qt::LeftButton);
        QCOMPARE(capture.count(), 1);
        QCOMPARE(capture[0][0].toString(), QStringLiteral("a"));
        QCOMPARE(capture[0][1].toInt(), 0);
        QCOMPARE(capture[0][2].toInt(), grid.videoWin(0)->nativeHandle());
        QCOMPARE(grid.current(), 0);

        grid.SelectVideoWin(grid.videoWin(1)->nativeHandle());
        QCOMPARE(grid.current(), 1);
        grid.snapAction()->trigger();
        QCOMPARE(capture.count(), 2);
        QCOMPARE(capture[1][1].toInt(), 3);
        QCOMPARE(capture[1][2].toInt(), grid.videoWin(1)->nativeHandle());

        // The report: one pop-up per window, a new one replaces the old.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("b.bmp"));
        QImage picture(64, 36, QImage::Format_RGB888);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(file, "BMP"));
        const int handle = grid.videoWin(1)->nativeHandle();
        grid.showSnapshotTip(handle, QStringLiteral("Capture"), QStringLiteral("Failed to save image!"));
        QPointer<QTipWidget> first = grid.tipOfWindow(1);
        QVERIFY(first);
        QVERIFY(!first->hasPicture());
        grid.showSnapshotTip(handle, QStringLiteral("Capture"),
                             QStringLiteral("Snapshot OK.It is saved to:") + file, file);
        QVERIFY(!first); // replaced
        QVERIFY(grid.tipOfWindow(1)->hasPicture());
        QCOMPARE(grid.tipOfWindow(1)->title(), QStringLiteral("Capture"));
        QVERIFY(!grid.tipOfWindow(0));

        // An empty window takes no snapshot.
        grid.SelectVideoWin(grid.videoWin(2)->nativeHandle());
        grid.SnapPicture();
        QCOMPARE(capture.count(), 2);
    }

    void recordButtonAndAlarms()
    {
        PromptScript prompts;
        Grid grid;
        grid.setDevInfo(camera("cam", false, 0));
        QCOMPARE(openCamera(grid, QStringLiteral("cam")), 0);
        QVideoHand *hand = grid.videoWin(0)->hand();

        // Without a recorder the button falls back to its resting look.
        QTest::mouseClick(hand->recordButton(), Qt::LeftButton);
        QVERIFY(!grid.isRecording(QStringLiteral("cam")));
        QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Reset);
        QVERIFY(!hand->recording());

        auto log = installRecorder(grid);
        QSignalSpy counts(&grid, &QVideoOnly::sendRecordCount);
        QTest::mouseClick(hand->recordButton(), Qt::LeftButton);
        // While it starts the button waits for the camera and takes no press.
        QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Waiting);
        QVERIFY(!hand->recordButton()->isEnabled());
        QVERIFY(settled(grid));
        QVERIFY(hand->recordButton()->isEnabled());
        QVERIFY(grid.isRecording(QStringLiteral("cam")));
        QCOMPARE(hand->recordButton()->toolTip(), QStringLiteral("Stop recording"));
        QCOMPARE(log->alarmType.load(), 0);

        // An alarm turns the manual recording into an alarm recording.
        grid.RecordAlarmStream(QStringLiteral("cam"), 1);
        QCOMPARE(log->alarmType.load(), 2); // video block: file alarm type 2
        QVERIFY(grid.isAlarmRecording(QStringLiteral("cam")));
        QCOMPARE(hand->recordButton()->toolTip(), QStringLiteral("Alarm recording"));

        // The manual button refuses during an alarm recording.
        QTest::mouseClick(hand->recordButton(), Qt::LeftButton);
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests()[0].text,
                 QStringLiteral("Manual recording can not be executed , as there is an alarm vieo "
                                "recording under going."));
        QVERIFY(grid.isRecording(QStringLiteral("cam")));

        // A disarm ends it.
        grid.RecordAlarmStream(QStringLiteral("cam"), 0);
        QVERIFY(!grid.isRecording(QStringLiteral("cam")));
        QVERIFY(settled(grid));
        QCOMPARE(log->stops.load(), 1);
        QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Reset);
        // A disarm with nothing recording does nothing; an alarm starts one.
        grid.RecordAlarmStream(QStringLiteral("cam"), 0);
        QCOMPARE(log->stops.load(), 1);
        grid.RecordAlarmStream(QStringLiteral("cam"), 2);
        QVERIFY(settled(grid));
        QCOMPARE(log->alarmType.load(), 3); // IO alarm: file alarm type 3
        QVERIFY(grid.isAlarmRecording(QStringLiteral("cam")));
        QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Alarm);
        // Unknown cameras are refused.
        grid.RecordAlarmStream(QStringLiteral("nobody"), 1);
        QVERIFY(!grid.isRecording(QStringLiteral("nobody")));

        QList<int> deltas;
        for (const auto &args : counts)
            deltas << args[0].toInt();
        QCOMPARE(deltas, (QList<int>{1, -1, 1}));

        // Live frames reach the recorder with their NAL type mapped.
        const char idr[] = {0, 0, 0, 1, 0x65, 1, 2};
        const char sps[] = {0, 0, 0, 1, 0x67, 1};
        grid.feedLiveFrame(QStringLiteral("urn:uuid:cam"), idr, sizeof idr, 0, 40);
        QCOMPARE(log->lastType.load(), 101);
        grid.feedLiveFrame(QStringLiteral("cam"), sps, sizeof sps, 0, 40);
        QCOMPARE(log->lastType.load(), 104);
        grid.feedLiveFrame(QStringLiteral("cam"), idr, sizeof idr, 1, 40);
        QCOMPARE(log->lastType.load(), 1);
        grid.feedLiveFrame(QStringLiteral("cam"), idr, 0, 0, 40); // empty: dropped
        QCOMPARE(log->frames.load(), 3);
    }

    void recorderFailureStopsAndReports()
    {
        PromptScript prompts;
        QVideoOnly grid;
        LiveRecorder *made = nullptr;
        auto log = std::make_shared<RecorderLog>();
        grid.setRecorderFactory([&](const DvrListInfo_s &, int) {
            auto r = std::make_unique<NotingRecorder>(log);
            made = r.get();
            return r;
        });
        grid.setDevInfo(camera("cam", true, 0));
        openCamera(grid, QStringLiteral("cam"));
        QVERIFY(grid.beginToRecord(QStringLiteral("cam"), 0));
        QVERIFY(settled(grid));
        // A report as the record thread sends it.
        auto report = [&](const QString &file, int code) {
            std::thread([&] { grid.recvRecord(QStringLiteral("cam"), file, code, made); }).join();
        };

        // The file-created notice from the record thread is no failure.
        report(QStringLiteral("/r/1.mkv"), -1043);
        QCoreApplication::processEvents();
        QVERIFY(grid.isRecording(QStringLiteral("cam")));
        QCOMPARE(prompts.count(), 0);

        // A disk that went away is told, and the recording goes on.
        for (int i = 0; i < 2; ++i) // once per cause and folder
            report(QStringLiteral("/r/1.mkv"), -1050);
        QTRY_COMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests()[0].text,
                 QStringLiteral("The record disk of /r went away. Recording goes on on the next disk."));
        QVERIFY(grid.isRecording(QStringLiteral("cam")));

        // A write failure ends the recording and names what failed, queued to
        // the user-interface thread.
        report(QStringLiteral("/r/1.mkv"), -1027);
        QTRY_VERIFY(!grid.isRecording(QStringLiteral("cam")));
        QTRY_COMPARE(prompts.count(), 2);
        QVERIFY(settled(grid));
        QCOMPARE(prompts.requests()[1].title, QStringLiteral("Recording"));
        QCOMPARE(prompts.requests()[1].text,
                 QStringLiteral("The recording file /r/1.mkv could not be written. Recording stopped."));
        QCOMPARE(log->stops.load(), 1);
        QCOMPARE(grid.videoWin(0)->hand()->recordLook(), QVideoHand::RecordLook::Reset);
        // A late report from a recorder that is no longer known changes nothing.
        NotingRecorder stranger(log);
        grid.recvRecord(QStringLiteral("cam"), QString(), -1027, &stranger);
        QCoreApplication::processEvents();
        QCOMPARE(prompts.count(), 2);

        // Only a full disk says so; an alarm recording that reached its length
        // ends without a box.
        const QList<QPair<int, QString>> causes{
            {-259, QStringLiteral("Disk space is full, can't cover!!!")},
            {-1049, QStringLiteral("The oldest recordings in /r were overwritten, but the disk is still full: another "
                                   "program fills it. Recording stopped.")},
            {-1051, QStringLiteral("The record disk of /r went away and no other record disk is left. Recording "
                                   "stopped.")},
            {-1052, QStringLiteral("The record folder /r cannot be written (read-only or no permission). Recording "
                                   "stopped.")},
            {-1283, QStringLiteral("A recording file could not be created in /r (error -1283). Recording stopped.")},
            {-1044, QString()},
        };
        for (const auto &[code, text] : causes) {
            QVERIFY(grid.beginToRecord(QStringLiteral("cam"), 0));
            QVERIFY(settled(grid));
            const int before = prompts.count();
            report(QStringLiteral("/r"), code);
            QTRY_VERIFY(!grid.isRecording(QStringLiteral("cam")));
            QCoreApplication::processEvents();
            QCOMPARE(prompts.count(), before + (text.isEmpty() ? 0 : 1));
            if (!text.isEmpty())
                QCOMPARE(prompts.requests().last().text, text);
        }
    }

    // The grid goes while the factory still opens the camera's stream: the
    // factory ends (its recorder reports as a record thread would, into the
    // closing grid), its recorder is stopped and nothing runs on freed memory
    // (ASan build).
    void closingWhileARecordingStarts()
    {
        auto grid = std::make_unique<Grid>();
        QVideoOnly *raw = grid.get();
        auto log = std::make_shared<RecorderLog>();
        grid->setRecorderFactory([raw, log](const DvrListInfo_s &, int) {
            const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!raw->recordingController()->closing() && std::chrono::steady_clock::now() < bound)
                std::this_thread::yield();
            auto r = std::make_unique<NotingRecorder>(log);
            raw->recvRecord(QStringLiteral("cam"), QStringLiteral("/r/1.mkv"), -1043, r.get());
            return r;
        });
        grid->setDevInfo(camera("cam", true, 0));
        openCamera(*grid, QStringLiteral("cam"));
        QVERIFY(grid->beginToRecord(QStringLiteral("cam"), 0));
        QVERIFY(grid->isRecordStarting(QStringLiteral("cam")));
        QVERIFY(!grid->videoWin(0)->hand()->recordButton()->isEnabled());
        grid.reset();
        QCOMPARE(log->stops.load(), 1);
    }

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
                QVERIFY2(QColor(shot.pixel(x, y)) == background, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
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
        QVERIFY(QColor(surface->grab().toImage().pixel(80, 2)) == background);
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

    // The grid goes while an ONVIF camera's recording start waits for a camera
    // that never answers (the library's time-out is beyond the test's): the
    // request is given up, the camera sees its connection closed.
    void closingWhileARecordingStartsAtASilentCamera()
    {
        QVERIFY(varno::test::writeOnvifConf(
            {QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 300000")}));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QTcpSocket *peer = nullptr;
        connect(&silent, &QTcpServer::newConnection, this, [&] { peer = silent.nextPendingConnection(); });
        auto grid = std::make_unique<Grid>();
        QVideoOnly *raw = grid.get();
        grid->setRecorderFactory([raw](const DvrListInfo_s &dev, int alarmType) -> std::unique_ptr<LiveRecorder> {
            return varno::record::startCameraRecorder(
                dev, alarmType, [raw](const QString &id, const QString &path, int code, LiveRecorder *recorder) {
                    raw->recvRecord(id, path, code, recorder);
                });
        });
        DvrListInfo_s cam = camera("onvif", false, 0);
        varno::setText(cam.dev.serviceAddr, "http://127.0.0.1:" + QByteArray::number(silent.serverPort()) + "/onvif/device_service");
        grid->setDevInfo(cam);
        openCamera(*grid, QStringLiteral("onvif"));
        QVERIFY(grid->beginToRecord(QStringLiteral("onvif"), 0));
        QTRY_VERIFY_WITH_TIMEOUT(peer, 20000);
        grid.reset();
        QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 20000);
    }


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
};

QTEST_MAIN(TestQVideoOnly)
#include "tst_qvideoonly.moc"
