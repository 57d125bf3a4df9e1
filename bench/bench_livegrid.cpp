// Display cost of the live wall: 16 and 25 video windows in a 1920 x 1080
// grid, each shown a new 1280 x 720 YUV 4:2:0 picture per frame.
//
// Measured per wall frame (every window one new picture):
//   present  - the surfaces take the pictures: scaling and colour conversion
//              to each window's size (libswscale), as the decode threads do;
//   paint    - the grid paints itself with all its surfaces (title bars,
//              frames, pictures), as the user-interface thread does;
// against the baseline of the same run:
//   drawImage - QPainter::drawImage of pictures already scaled to the cell
//              sizes into a 1920 x 1080 image: only putting the pixels there.
//
// Usage: bench_livegrid [seconds per case]        (offscreen is fine)
//        bench_livegrid --show <count> [seconds] [screenshot.png]
//              shows the wall with moving test pictures (for a look under
//              Xvfb); with a file name it saves the grid there and ends.
#include "live/videosurface.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qvideoonly.h"
#include "live/qvideoplay.h"
#include "platform/av/videosink.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

constexpr int kSrcW = 1280;
constexpr int kSrcH = 720;

struct Yuv
{
    std::vector<uint8_t> y, u, v;
};

// BT.601 studio range, 2 x 2 chroma averaging.
Yuv toYuv(const QImage &rgbIn)
{
    const QImage rgb = rgbIn.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width(), h = rgb.height();
    Yuv out;
    out.y.resize(size_t(w) * h);
    out.u.resize(size_t(w / 2) * (h / 2));
    out.v.resize(out.u.size());
    for (int j = 0; j < h; ++j) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(j));
        for (int i = 0; i < w; ++i) {
            const int r = qRed(line[i]), g = qGreen(line[i]), b = qBlue(line[i]);
            out.y[size_t(j) * w + i] = uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
        }
    }
    for (int j = 0; j < h / 2; ++j) {
        for (int i = 0; i < w / 2; ++i) {
            int r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy) {
                const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(2 * j + dy));
                for (int dx = 0; dx < 2; ++dx) {
                    r += qRed(line[2 * i + dx]);
                    g += qGreen(line[2 * i + dx]);
                    b += qBlue(line[2 * i + dx]);
                }
            }
            r /= 4, g /= 4, b /= 4;
            out.u[size_t(j) * (w / 2) + i] = uint8_t(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            out.v[size_t(j) * (w / 2) + i] = uint8_t(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
    }
    return out;
}

// A test picture of camera n at time step t: a sky, a street, a moving car.
QImage scene(int n, int t)
{
    QImage img(kSrcW, kSrcH, QImage::Format_RGB32);
    QPainter p(&img);
    const int hue = (n * 37) % 360;
    QLinearGradient sky(0, 0, 0, kSrcH * 0.6);
    sky.setColorAt(0, QColor::fromHsv(hue, 90, 120));
    sky.setColorAt(1, QColor::fromHsv(hue, 40, 200));
    p.fillRect(0, 0, kSrcW, int(kSrcH * 0.6), sky);
    p.fillRect(0, int(kSrcH * 0.6), kSrcW, kSrcH, QColor(70, 74, 78));
    p.setPen(QPen(QColor(220, 220, 200), 8, Qt::DashLine));
    p.drawLine(0, int(kSrcH * 0.8), kSrcW, int(kSrcH * 0.8));
    for (int b = 0; b < 6; ++b) { // buildings
        const int x = (b * 230 + n * 41) % kSrcW;
        const int h = 120 + (b * 53 + n * 17) % 160;
        p.fillRect(x, int(kSrcH * 0.6) - h, 150, h, QColor::fromHsv((hue + 180) % 360, 30, 60 + b * 12));
    }
    const int carX = (t * 9 + n * 97) % (kSrcW + 200) - 200;
    p.setBrush(QColor::fromHsv((hue + 90) % 360, 200, 220));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(carX, int(kSrcH * 0.68), 200, 70, 14, 14);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(36);
    p.setFont(f);
    p.drawText(24, 52, QStringLiteral("CAM %1").arg(n + 1, 2, 10, QLatin1Char('0')));
    p.drawText(kSrcW - 420, 52, QDateTime(QDate(2024, 5, 14), QTime(9, 30, 0)).addSecs(t / 25).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    return img;
}

void presentTo(int32_t handle, const Yuv &pic)
{
    if (auto sink = varno::av::findVideoSink(handle))
        sink->present(pic.y.data(), kSrcW, pic.u.data(), kSrcW / 2, pic.v.data(), kSrcW / 2, kSrcW, kSrcH);
}

// Opens every window of the page as the live view would and lets the grid
// show video.
void openAll(QVideoOnly &grid, int count)
{
    for (int i = 0; i < count; ++i) {
        int index = -1;
        grid.GetVideoWidget(&index, QStringLiteral("cam%1").arg(i + 1),
                            QStringLiteral("Camera %1").arg(i + 1, 2, 10, QLatin1Char('0')), 0);
        grid.OpenVideoWin(index);
    }
}

struct Figures
{
    double presentMs = 0, paintMs = 0, surfaceMs = 0, baselineMs = 0;
};

Figures measure(int count, double seconds, const std::vector<Yuv> &pictures)
{
    QVideoOnly grid(count);
    grid.resize(1920, 1080);
    grid.show();
    openAll(grid, count);
    QCoreApplication::processEvents();
    QImage target(1920, 1080, QImage::Format_RGB32);

    // Baseline: the same pictures already at cell size, drawn into the wall.
    std::vector<QRect> cells;
    for (int i = 0; i < count; ++i)
        cells.push_back(grid.videoWin(i)->geometry().adjusted(0, qmultivideo::kPlayTop, 0, 0));
    std::vector<QImage> scaled;
    for (size_t i = 0; i < pictures.size(); ++i) {
        QImage rgb(kSrcW, kSrcH, QImage::Format_RGB32);
        rgb = scene(int(i), int(i) * 5); // the same content the YUV came from
        scaled.push_back(rgb.scaled(cells[1].size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    Figures f;
    int frames = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        QPainter p(&target);
        for (int i = 0; i < count; ++i)
            p.drawImage(cells[i].topLeft(), scaled[(i + frames) % scaled.size()]);
        p.end();
        ++frames;
    }
    f.baselineMs = double(clock.nsecsElapsed()) / 1e6 / frames;

    frames = 0;
    qint64 presentNs = 0, paintNs = 0;
    clock.restart();
    QElapsedTimer part;
    while (clock.elapsed() < seconds * 1000) {
        part.start();
        for (int i = 0; i < count; ++i)
            presentTo(grid.videoWin(i)->nativeHandle(), pictures[(i + frames) % pictures.size()]);
        presentNs += part.nsecsElapsed();
        QCoreApplication::processEvents(); // the posted "new picture" notices
        part.start();
        grid.render(&target);
        paintNs += part.nsecsElapsed();
        ++frames;
    }
    f.presentMs = double(presentNs) / 1e6 / frames;
    f.paintMs = double(paintNs) / 1e6 / frames;

    // What a new picture really costs the user-interface thread: each
    // surface repaints only itself (it is opaque), not the whole wall.
    frames = 0;
    clock.restart();
    while (clock.elapsed() < seconds * 1000) {
        for (int i = 0; i < count; ++i) {
            QVideoPlay *play = grid.videoWin(i)->play();
            play->surface()->render(&target, play->mapTo(&grid, QPoint(0, 0)), QRegion(),
                                    QWidget::RenderFlags());
        }
        ++frames;
    }
    f.surfaceMs = double(clock.nsecsElapsed()) / 1e6 / frames;
    return f;
}

int show(int count, double seconds, const QString &shot)
{
    std::vector<std::vector<Yuv>> clips(count);
    const int steps = 8;
    for (int n = 0; n < count; ++n)
        for (int t = 0; t < steps; ++t)
            clips[n].push_back(toYuv(scene(n, t * 12)));
    auto *grid = new QVideoOnly(count);
    grid->setWindowTitle(QStringLiteral("Live"));
    grid->resize(1920, 1080);
    grid->show();
    openAll(*grid, count);
    // Two windows as the live view shows them while waiting or empty.
    if (count > 3) {
        grid->SetVideoPaint(grid->videoWin(2)->nativeHandle(), true);
        grid->RecvCloseVideoFromReal(QStringLiteral("cam%1").arg(count));
    }
    grid->videoWin(0)->hand()->RecvNormalRecord();
    int tick = 0;
    auto *timer = new QTimer(grid);
    QObject::connect(timer, &QTimer::timeout, grid, [&, grid] {
        for (int i = 0; i < count; ++i) {
            if (i == 2)
                continue;
            presentTo(grid->videoWin(i)->nativeHandle(), clips[i][tick % steps]);
        }
        ++tick;
    });
    timer->start(40);
    // A snapshot report, as the live view shows one.
    QTimer::singleShot(500, grid, [grid] {
        grid->showSnapshotTip(grid->videoWin(1)->nativeHandle(), QStringLiteral("Capture"),
                              QStringLiteral("Snapshot OK.It is saved to:")
                                  + QStringLiteral("/home/operator/snapshots/cam2-20240514-093012-1.bmp"));
    });
    QTimer::singleShot(int(seconds * 1000), grid, [&, grid] {
        if (!shot.isEmpty())
            grid->grab().save(shot);
        QApplication::quit();
    });
    const int ret = QApplication::exec();
    delete grid;
    return ret;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--show"))
        return show(args[2].toInt(), args.size() > 3 ? args[3].toDouble() : 5.0,
                    args.size() > 4 ? args[4] : QString());

    const double seconds = args.size() > 1 ? args[1].toDouble() : 3.0;
    std::vector<Yuv> pictures;
    for (int i = 0; i < 4; ++i)
        pictures.push_back(toYuv(scene(i, i * 5)));
    std::printf("live wall, 1920 x 1080 grid, 1280 x 720 pictures, %.1f s per case\n", seconds);
    std::printf("%-7s %11s %11s %13s %11s %13s %9s %9s\n", "windows", "present ms",
                "wall paint", "surface paint", "total ms", "drawImage ms", "ratio", "walls/s");
    for (int count : {16, 25}) {
        const Figures f = measure(count, seconds, pictures);
        const double total = f.presentMs + f.surfaceMs;
        std::printf("%-7d %11.2f %11.2f %13.2f %11.2f %13.2f %9.2f %9.1f\n", count, f.presentMs,
                    f.paintMs, f.surfaceMs, total, f.baselineMs, total / f.baselineMs,
                    1000.0 / total);
    }
    std::printf("present: pictures scaled into the surfaces (decode threads); wall paint: the "
                "whole grid repainted; surface paint: each surface repaints itself (the real "
                "update path)\ntotal = present + surface paint; ratio = total / drawImage of "
                "pre-scaled pictures; walls/s: whole walls (every window a new picture) per "
                "second on one core\n");
    return 0;
}
