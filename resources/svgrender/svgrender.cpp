// Build-time tool: renders one SVG drawing into the PNG or ICO file the
// program loads ("dvr_gray.png.svg" -> "dvr_gray.png"). The picture size is
// the drawing's own width and height, or <size> x <size> when given (the
// desktop icons in their hicolor sizes).
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    // No display is needed: the drawing never reaches a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = argc == 4 ? std::atoi(argv[3]) : 0;
    if ((argc != 3 && argc != 4) || (argc == 4 && (size < 1 || size > 1024))) {
        std::fprintf(stderr, "usage: %s <drawing.svg> <picture.png|picture.ico> [size 1..1024]\n", argv[0]);
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QSvgRenderer renderer(in);
    if (!renderer.isValid() || renderer.defaultSize().isEmpty()) {
        std::fprintf(stderr, "svgrender: %s is not a drawing with a size\n", argv[1]);
        return 1;
    }
    QImage image(size > 0 ? QSize(size, size) : renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    const QByteArray format = out.endsWith(QLatin1String(".ico"), Qt::CaseInsensitive) ? "ico" : "png";
    QImageWriter writer(out, format);
    if (!writer.write(image.convertToFormat(QImage::Format_ARGB32))) {
        std::fprintf(stderr, "svgrender: cannot write %s: %s\n", argv[2],
                     qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
